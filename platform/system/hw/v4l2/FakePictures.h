// Pictures for the V4L2 camera double: the virtual camera's test pattern with its frame number,
// laid out as a V4L2 driver delivers each pixel format (top-down rows, tight strides).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/system/hw/TestPattern.h"

namespace lumacap::hw::v4l2 {

class PictureMaker {
public:
    // False for a format the double cannot draw.
    bool Configure(uint32_t fourcc, int width, int height);
    // Writes frame `number`; answers the bytes written, or -1 when they do not fit.
    long Render(long number, uint8_t* dst, size_t capacity);
    // Render at most this many distinct frames and replay them (0: every frame is new).
    void SetReplay(int frames);

private:
    long Draw(long number, uint8_t* dst, size_t capacity);

    uint32_t m_fourcc = 0;
    int m_width = 0;
    int m_height = 0;
    FrameRenderer m_renderer;
    std::vector<uint8_t> m_bgr;  // the picture before conversion (bottom-up BGR)
    codecs::Scaler m_scaler;
    int m_replay = 0;
    std::vector<std::vector<uint8_t>> m_frames;
};

}  // namespace lumacap::hw::v4l2
