// The virtual camera's pictures: colour bars and a moving square, with the frame number stamped as
// a row of large black and white cells that survive colour conversion, scaling by a whole factor
// and lossy compression (lumacap::sim::ReadFrameNumber reads them back).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/system/codecs/Codecs.h"

namespace lumacap::hw {

// Picture adjustments the camera's controls make (brightness and contrast act on the pattern, not
// on the stamp, so the frame number stays readable at any setting).
struct PatternAdjust {
    long brightness = 0;  // added to every level
    long contrast = 32;   // levels spread around mid-grey by contrast / neutralContrast
    long neutralContrast = 32;
    bool operator==(const PatternAdjust&) const = default;
};

constexpr int kStampCells = 32;
constexpr int kStampBits = 24;

// The eight bar colours (blue, green, red).
void BarColor(int bar, uint8_t* b, uint8_t* g, uint8_t* r);

class FrameRenderer {
public:
    // Whether pictures can be drawn in `format` (a delivery format other than MJPEG).
    static bool CanDraw(AVPixelFormat format);
    // `format` is the device's delivery format (one CanDraw accepts), or AV_PIX_FMT_NONE with
    // `mjpeg` for compressed pictures. `bottomUp` orders RGB rows as DIBs do; YUV rows always run
    // from the top.
    bool Configure(AVPixelFormat format, bool mjpeg, int width, int height,
                   const PatternAdjust& adjust, bool bottomUp = true);
    bool Matches(AVPixelFormat format, bool mjpeg, int width, int height,
                 const PatternAdjust& adjust, bool bottomUp = true) const;
    // Writes frame `frameNumber` into `dst`; answers the bytes written, or -1.
    long Render(long frameNumber, uint8_t* dst, long capacity);
    // The largest picture Render can write.
    long MaxSize() const;

private:
    bool Build(AVPixelFormat format, bool mjpeg, int width, int height, const PatternAdjust& adjust,
               bool bottomUp);
    void DrawRect(uint8_t* const planes[4], const int strides[4], int x0, int y0, int x1, int y1,
                  bool white) const;
    void Stamp(uint8_t* const planes[4], const int strides[4], long frameNumber) const;

    AVPixelFormat m_format = AV_PIX_FMT_NONE;  // the format drawn into (YUVJ422P for MJPEG)
    bool m_mjpeg = false;
    bool m_bottomUp = true;
    int m_width = 0;
    int m_height = 0;
    PatternAdjust m_adjust;
    std::vector<uint8_t> m_base;     // the static picture in m_format
    std::vector<uint8_t> m_work;     // MJPEG: the picture being encoded
    std::vector<uint8_t> m_encoded;  // MJPEG: the last encoded picture
    std::unique_ptr<codecs::VideoEncoder> m_encoder;
};

uint32_t StampCheck(uint32_t number);
long ReadStamp(const uint8_t* bgrBottomUp, long width, long height);

}  // namespace lumacap::hw
