// JPEG pictures (an MJPEG stream's frames) decoded by libjpeg-turbo straight into packed BGR or
// BGRX rows of a DIB, top-down or bottom-up: its SIMD colour conversion writes the rows a renderer
// takes, so no separate conversion pass over the picture follows the decode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace lumacap::codecs {

class JpegDecoder {
public:
    enum class Result {
        Ok,
        WrongSize,  // a whole picture, but not of the size asked for: nothing written
        Failed,     // not a picture this decoder can read (damaged headers, CMYK): try another
    };

    JpegDecoder();
    ~JpegDecoder();
    JpegDecoder(const JpegDecoder&) = delete;
    JpegDecoder& operator=(const JpegDecoder&) = delete;

    // Decodes one picture of `width` x `height` into `dst`: rows of `stride` bytes, 3 (B, G, R)
    // or 4 (B, G, R, 0xFF) bytes a pixel, the bottom row first when `bottomUp`. Damage after the
    // headers (a picture cut short) still fills every row, as a camera's torn frame would show.
    Result Decode(const uint8_t* data, size_t size, int width, int height, int bytesPerPixel,
                  bool bottomUp, uint8_t* dst, int stride);

    // The decompressor and what it keeps between pictures; named here for libjpeg's callbacks.
    struct State;

private:
    std::unique_ptr<State> m_state;
    std::vector<uint8_t*> m_rows;
};

}  // namespace lumacap::codecs
