// JPEG pictures (an MJPEG stream's frames) encoded by libjpeg-turbo straight from packed BGR or
// BGRX DIB rows: its SIMD colour conversion and downsampling replace a separate conversion pass,
// and one compressor with its working memory serves a whole stream without touching the heap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace lumacap::codecs {

// The quality of the platform's MJPEG compressor: the fidelity (PSNR against the composed frame)
// libavcodec's MJPEG encoder gave at a fixed quantiser of 3, which the compressor used before, at
// about a third of its CPU time. Its pictures are about a third larger: libavcodec fits Huffman
// tables to each picture, which here (fitTables) costs two thirds more time for a fifth less size.
constexpr int kMjpegCompressorQuality = 88;

class JpegEncoder {
public:
    JpegEncoder();
    ~JpegEncoder();
    JpegEncoder(const JpegEncoder&) = delete;
    JpegEncoder& operator=(const JpegEncoder&) = delete;

    // Pictures of `width` x `height` with 3 (B, G, R) or 4 (B, G, R, x) bytes a pixel, encoded
    // as baseline JFIF, full-range YCbCr 4:2:0, at libjpeg's `quality` (1..100). `fitTables`:
    // Huffman tables fitted to each picture (a second pass over its kept coefficients) instead
    // of the standard ones.
    bool Open(int width, int height, int bytesPerPixel, int quality, bool fitTables = false);
    bool IsOpen() const { return !m_rows.empty(); }

    // Encodes rows of `stride` bytes (the bottom row first when `bottomUp`) into `dst`; the size
    // written, or 0 when the picture does not fit in `capacity` or the library fails.
    size_t Encode(const uint8_t* pixels, int stride, bool bottomUp, uint8_t* dst, size_t capacity);

    struct State;  // the library's objects, reached from its callbacks

private:
    std::unique_ptr<State> m_state;
    std::vector<uint8_t*> m_rows;
    int m_height = 0;
};

}  // namespace lumacap::codecs
