// FFmpeg glue for the media framework: pixel conversion through libswscale (contexts cached and
// reused across frames) and MJPEG through libavcodec (one codec context per stream).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include <guiddef.h>

extern "C" {
#include <libavutil/pixfmt.h>
}

struct SwsContext;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct AVBufferPool;

namespace lumacap::codecs {

// The swscale flags every conversion of the platform uses (benchmarks compare against the same).
extern const int kScaleFlags;

// Quiets FFmpeg's own logging below errors; called once by every user of this header.
void InitFfmpeg();

// The packed or planar layout behind a media subtype, or AV_PIX_FMT_NONE.
AVPixelFormat PixelFormatOfSubtype(const GUID& subtype);
// FFmpeg's name for a pixel format ("none" for none), for the trace.
const char* PixelFormatName(AVPixelFormat format);

// Plane pointers and strides of a picture held in one buffer, as DIBs and capture buffers hold
// them: RGB formats with a positive height are bottom-up (the first row in memory is the bottom
// one), so the planes returned start at the last row with a negative stride.
bool DescribeBuffer(AVPixelFormat format, int width, int height, bool bottomUp, uint8_t* buffer,
                    uint8_t* planes[4], int strides[4]);
// Bytes a picture of this format takes in one buffer (DIB rows padded to 4 bytes for RGB).
size_t BufferSize(AVPixelFormat format, int width, int height);

// A conversion from one picture format and size to another, reusing its swscale context.
class Scaler {
public:
    Scaler() = default;
    ~Scaler();
    Scaler(const Scaler&) = delete;
    Scaler& operator=(const Scaler&) = delete;

    bool Convert(AVPixelFormat srcFormat, int srcWidth, int srcHeight, const uint8_t* const src[4],
                 const int srcStride[4], AVPixelFormat dstFormat, int dstWidth, int dstHeight,
                 uint8_t* const dst[4], const int dstStride[4]);

private:
    // What the context was made for. libswscale's own cache compares against the formats it
    // stores, which are not the ones asked for when those are full-range (JPEG) formats, so it
    // would make the context afresh for every picture; the request is compared here instead.
    struct Request {
        AVPixelFormat srcFormat, dstFormat;
        int srcWidth, srcHeight, dstWidth, dstHeight;
        bool operator==(const Request&) const = default;
    };
    // Packed 4:2:2 (YUYV, UYVY) to RGB of the same size, in two steps: libswscale's one-step
    // path for packed input runs its general scaler (about three times slower at 720p than
    // unpacking to planar 4:2:2 and then taking its fast planar-YUV-to-RGB path).
    bool ConvertPacked422(const Request& request, const uint8_t* const src[4],
                          const int srcStride[4], uint8_t* const dst[4], const int dstStride[4]);

    SwsContext* m_context = nullptr;
    Request m_request{};
    SwsContext* m_unpack = nullptr;  // packed 4:2:2 to planar, for ConvertPacked422
    std::vector<uint8_t> m_planar;
};

// MJPEG pictures in, decoded frames out; the context lives as long as the decoder.
class MjpegDecoder {
public:
    MjpegDecoder();
    ~MjpegDecoder();
    MjpegDecoder(const MjpegDecoder&) = delete;
    MjpegDecoder& operator=(const MjpegDecoder&) = delete;

    // The decoded picture (owned by the decoder, valid until the next call), or null.
    const AVFrame* Decode(const uint8_t* data, size_t size);

private:
    AVCodecContext* m_context = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    // Padded copies of the pictures, handed to the decoder as reference-counted buffers so it
    // keeps them by reference instead of copying each picture again; the pool reuses them.
    AVBufferPool* m_pool = nullptr;
    size_t m_poolSize = 0;
};

// Encodes pictures of one size and format with a libavcodec encoder (MJPEG for cameras and the
// MJPEG compressor; other codecs for the video compressor category).
class VideoEncoder {
public:
    VideoEncoder() = default;
    ~VideoEncoder();
    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;

    // `codecId` is an AVCodecID; `quality` the fixed quantiser (1 best .. 31), or 0 for `bitRate`.
    bool Open(int codecId, AVPixelFormat format, int width, int height, int quality, long bitRate,
              int framesPerSecond, int keyInterval);
    bool IsOpen() const { return m_context != nullptr; }
    // Encodes one picture; `out` receives the packet (empty when the encoder holds it back).
    bool Encode(const uint8_t* const planes[4], const int strides[4], int64_t pts,
                std::vector<uint8_t>& out, bool* keyFrame);
    AVPixelFormat Format() const { return m_format; }

private:
    AVCodecContext* m_context = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    AVPixelFormat m_format = AV_PIX_FMT_NONE;
};

}  // namespace lumacap::codecs
