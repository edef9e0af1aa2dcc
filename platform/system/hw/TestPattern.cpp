// The virtual camera's pictures: colour bars, a moving square and the frame-number stamp.
#include "platform/system/hw/TestPattern.h"

#include <algorithm>
#include <cstring>
#include <new>

#include <wingdi.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace lumacap::hw {
namespace {

// 75% bars: white, yellow, cyan, green, magenta, red, blue, black.
const uint8_t kBars[8][3] = {  // r, g, b
    {191, 191, 191}, {191, 191, 0}, {0, 191, 191}, {0, 191, 0},
    {191, 0, 191},   {191, 0, 0},   {0, 0, 191},   {0, 0, 0}};
const uint8_t kBackground = 48;

uint8_t Adjust(int v, const PatternAdjust& a) {
    const int neutral = a.neutralContrast > 0 ? static_cast<int>(a.neutralContrast) : 1;
    const int out =
        (v - 128) * static_cast<int>(a.contrast) / neutral + 128 + static_cast<int>(a.brightness);
    return static_cast<uint8_t>(std::clamp(out, 0, 255));
}

}  // namespace

void BarColor(int bar, uint8_t* b, uint8_t* g, uint8_t* r) {
    bar = std::clamp(bar, 0, 7);
    *r = kBars[bar][0];
    *g = kBars[bar][1];
    *b = kBars[bar][2];
}

uint32_t StampCheck(uint32_t n) {
    return (n ^ (n >> 6) ^ (n >> 12) ^ (n >> 18) ^ 0x2A) & 63;
}

bool FrameRenderer::CanDraw(AVPixelFormat format) {
    switch (format) {
        case AV_PIX_FMT_BGR24:
        case AV_PIX_FMT_BGRA:
        case AV_PIX_FMT_YUYV422:
        case AV_PIX_FMT_UYVY422:
        case AV_PIX_FMT_YUV420P:
        case AV_PIX_FMT_NV12:
            return true;
        default:
            return false;
    }
}

bool FrameRenderer::Matches(AVPixelFormat format, bool mjpeg, int width, int height,
                            const PatternAdjust& adjust, bool bottomUp) const {
    return m_mjpeg == mjpeg && (mjpeg || m_format == format) && m_width == width &&
           m_height == height && m_bottomUp == bottomUp && m_adjust == adjust && !m_base.empty();
}

bool FrameRenderer::Configure(AVPixelFormat format, bool mjpeg, int width, int height,
                              const PatternAdjust& adjust, bool bottomUp) {
    // Called on a streaming thread, where an exception would end the process: memory running
    // out is a picture that cannot be drawn, and the stream fails to start.
    try {
        return Build(format, mjpeg, width, height, adjust, bottomUp);
    } catch (const std::bad_alloc&) {
        m_width = m_height = 0;
        std::vector<uint8_t>().swap(m_base);
        return false;
    }
}

bool FrameRenderer::Build(AVPixelFormat format, bool mjpeg, int width, int height,
                          const PatternAdjust& adjust, bool bottomUp) {
    codecs::InitFfmpeg();
    if (width <= 0 || height <= 0) return false;
    if (!mjpeg && !CanDraw(format)) return false;
    const bool sizeChanged = width != m_width || height != m_height || mjpeg != m_mjpeg;
    m_mjpeg = mjpeg;
    m_bottomUp = bottomUp;
    m_format = mjpeg ? AV_PIX_FMT_YUVJ422P : format;
    m_width = width;
    m_height = height;
    m_adjust = adjust;

    // The static picture in RGB, top-down, then converted once to the delivery format.
    const int rgbStride = width * 3;
    // libswscale's vector code reads a little past a row's end, so the picture has room after
    // its last row (64 bytes, FFmpeg's input padding): without it the read can cross into an
    // unmapped page when the picture ends at one.
    std::vector<uint8_t> rgb(static_cast<size_t>(rgbStride) * height + 64);
    const int barsTop = height / 6;
    const int barsBottom = height * 2 / 3;
    const uint8_t bg = Adjust(kBackground, adjust);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = rgb.data() + static_cast<size_t>(y) * rgbStride;
        for (int x = 0; x < width; ++x) {
            uint8_t r = bg, g = bg, b = bg;
            if (y >= barsTop && y < barsBottom) {
                const int bar = x * 8 / width;
                r = Adjust(kBars[bar][0], adjust);
                g = Adjust(kBars[bar][1], adjust);
                b = Adjust(kBars[bar][2], adjust);
            }
            row[x * 3] = b;
            row[x * 3 + 1] = g;
            row[x * 3 + 2] = r;
        }
    }
    m_base.assign(codecs::BufferSize(m_format, width, height), 0);
    uint8_t* dst[4];
    int dstStride[4];
    if (!codecs::DescribeBuffer(m_format, width, height, m_bottomUp, m_base.data(), dst, dstStride))
        return false;
    const uint8_t* src[4] = {rgb.data(), nullptr, nullptr, nullptr};
    const int srcStride[4] = {rgbStride, 0, 0, 0};
    codecs::Scaler scaler;
    if (!scaler.Convert(AV_PIX_FMT_BGR24, width, height, src, srcStride, m_format, width, height,
                        dst, dstStride))
        return false;

    if (mjpeg) {
        m_work.resize(m_base.size());
        if (sizeChanged || !m_encoder) {
            m_encoder = std::make_unique<codecs::VideoEncoder>();
            if (!m_encoder->Open(AV_CODEC_ID_MJPEG, AV_PIX_FMT_YUVJ422P, width, height, 4, 0, 30,
                                 1)) {
                m_encoder.reset();
                return false;
            }
        }
    }
    return true;
}

long FrameRenderer::MaxSize() const {
    if (m_mjpeg) return static_cast<long>(m_width) * m_height * 2;
    return static_cast<long>(m_base.size());
}

void FrameRenderer::DrawRect(uint8_t* const planes[4], const int strides[4], int x0, int y0, int x1,
                             int y1, bool white) const {
    x0 = std::clamp(x0, 0, m_width);
    x1 = std::clamp(x1, 0, m_width);
    y0 = std::clamp(y0, 0, m_height);
    y1 = std::clamp(y1, 0, m_height);
    if (x0 >= x1 || y0 >= y1) return;
    switch (m_format) {
        case AV_PIX_FMT_BGR24:
        case AV_PIX_FMT_BGRA: {
            const int bytes = m_format == AV_PIX_FMT_BGR24 ? 3 : 4;
            for (int y = y0; y < y1; ++y) {
                uint8_t* p = planes[0] + static_cast<ptrdiff_t>(y) * strides[0] + x0 * bytes;
                std::memset(p, white ? 255 : 0, static_cast<size_t>((x1 - x0) * bytes));
                if (bytes == 4)
                    for (int x = x0; x < x1; ++x) p[(x - x0) * 4 + 3] = 255;
            }
            break;
        }
        case AV_PIX_FMT_YUYV422:
        case AV_PIX_FMT_UYVY422: {
            // Two pixels share one pair of chroma samples: luma at bytes 0 and 2 (YUYV) or 1 and
            // 3 (UYVY).
            const uint8_t luma = white ? 235 : 16;
            const int l = m_format == AV_PIX_FMT_YUYV422 ? 0 : 1;
            const int px0 = x0 & ~1;
            const int px1 = std::min((x1 + 1) & ~1, m_width & ~1);
            for (int y = y0; y < y1; ++y) {
                uint8_t* row = planes[0] + static_cast<ptrdiff_t>(y) * strides[0];
                for (int x = px0; x < px1; x += 2) {
                    uint8_t* p = row + x * 2;
                    p[l] = luma;
                    p[1 - l] = 128;
                    p[l + 2] = luma;
                    p[3 - l] = 128;
                }
            }
            break;
        }
        case AV_PIX_FMT_YUV420P:
        case AV_PIX_FMT_NV12: {
            // Chroma at half resolution both ways: separate planes, or one of U and V pairs.
            const uint8_t luma = white ? 235 : 16;
            for (int y = y0; y < y1; ++y)
                std::memset(planes[0] + static_cast<ptrdiff_t>(y) * strides[0] + x0, luma,
                            static_cast<size_t>(x1 - x0));
            const int cx0 = x0 / 2, cx1 = (x1 + 1) / 2;
            for (int y = y0 / 2; y < (y1 + 1) / 2; ++y) {
                if (m_format == AV_PIX_FMT_NV12) {
                    std::memset(planes[1] + static_cast<ptrdiff_t>(y) * strides[1] + cx0 * 2, 128,
                                static_cast<size_t>((cx1 - cx0) * 2));
                } else {
                    for (int p = 1; p <= 2; ++p)
                        std::memset(planes[p] + static_cast<ptrdiff_t>(y) * strides[p] + cx0, 128,
                                    static_cast<size_t>(cx1 - cx0));
                }
            }
            break;
        }
        case AV_PIX_FMT_YUVJ422P: {
            const uint8_t luma = white ? 255 : 0;
            for (int y = y0; y < y1; ++y) {
                std::memset(planes[0] + static_cast<ptrdiff_t>(y) * strides[0] + x0, luma, x1 - x0);
                std::memset(planes[1] + static_cast<ptrdiff_t>(y) * strides[1] + x0 / 2, 128,
                            (x1 + 1) / 2 - x0 / 2);
                std::memset(planes[2] + static_cast<ptrdiff_t>(y) * strides[2] + x0 / 2, 128,
                            (x1 + 1) / 2 - x0 / 2);
            }
            break;
        }
        default:
            break;
    }
}

void FrameRenderer::Stamp(uint8_t* const planes[4], const int strides[4], long frameNumber) const {
    const uint32_t n = static_cast<uint32_t>(frameNumber) & ((1u << kStampBits) - 1);
    const uint32_t check = StampCheck(n);
    const int stripBottom = m_height / 6;
    for (int c = 0; c < kStampCells; ++c) {
        bool white;
        if (c == 0)
            white = true;
        else if (c == kStampCells - 1)
            white = false;
        else if (c <= kStampBits)
            white = (n >> (kStampBits - c)) & 1;
        else
            white = (check >> (kStampCells - 2 - c)) & 1;
        DrawRect(planes, strides, c * m_width / kStampCells, 0, (c + 1) * m_width / kStampCells,
                 stripBottom, white);
    }
    // The moving square in the lower third.
    const int side = std::max(4, m_height / 8);
    const int top = m_height * 2 / 3 + (m_height - m_height * 2 / 3 - side) / 2;
    const int travel = std::max(1, m_width - side);
    const int left = static_cast<int>((static_cast<int64_t>(frameNumber) * 8) % travel);
    DrawRect(planes, strides, left, top, left + side, top + side, true);
}

long FrameRenderer::Render(long frameNumber, uint8_t* dst, long capacity) {
    if (m_base.empty() || !dst) return -1;
    if (!m_mjpeg) {
        if (capacity < static_cast<long>(m_base.size())) return -1;
        std::memcpy(dst, m_base.data(), m_base.size());
        uint8_t* planes[4];
        int strides[4];
        codecs::DescribeBuffer(m_format, m_width, m_height, m_bottomUp, dst, planes, strides);
        Stamp(planes, strides, frameNumber);
        return static_cast<long>(m_base.size());
    }
    std::memcpy(m_work.data(), m_base.data(), m_base.size());
    uint8_t* planes[4];
    int strides[4];
    codecs::DescribeBuffer(m_format, m_width, m_height, true, m_work.data(), planes, strides);
    Stamp(planes, strides, frameNumber);
    const uint8_t* const cplanes[4] = {planes[0], planes[1], planes[2], planes[3]};
    if (!m_encoder || !m_encoder->Encode(cplanes, strides, frameNumber, m_encoded, nullptr) ||
        m_encoded.empty())
        return -1;
    if (static_cast<long>(m_encoded.size()) > capacity) return -1;
    std::memcpy(dst, m_encoded.data(), m_encoded.size());
    return static_cast<long>(m_encoded.size());
}

long ReadStamp(const uint8_t* bgr, long width, long height) {
    if (!bgr || width < kStampCells || height < 12) return -1;
    const long stride = GDI_WIDTHBYTES(width * 24);
    const long y0 = height / 24;
    const long y1 = std::max(y0 + 1, height / 8);
    uint32_t bits[kStampCells];
    for (int c = 0; c < kStampCells; ++c) {
        const long cx0 = c * width / kStampCells;
        const long cx1 = (c + 1) * width / kStampCells;
        long x0 = cx0 + (cx1 - cx0) / 4;
        long x1 = cx1 - (cx1 - cx0) / 4;
        if (x1 <= x0) x1 = x0 + 1;
        long sum = 0, count = 0;
        for (long y = y0; y < y1; ++y) {
            const uint8_t* row = bgr + (height - 1 - y) * stride;  // bottom-up rows
            for (long x = x0; x < x1; ++x) {
                const uint8_t* p = row + x * 3;
                sum += (p[0] * 29 + p[1] * 150 + p[2] * 77) >> 8;
                ++count;
            }
        }
        bits[c] = (count && sum / count >= 128) ? 1 : 0;
    }
    if (bits[0] != 1 || bits[kStampCells - 1] != 0) return -1;
    uint32_t n = 0;
    for (int c = 1; c <= kStampBits; ++c) n = (n << 1) | bits[c];
    uint32_t check = 0;
    for (int c = kStampBits + 1; c < kStampCells - 1; ++c) check = (check << 1) | bits[c];
    return check == StampCheck(n) ? static_cast<long>(n) : -1;
}

}  // namespace lumacap::hw
