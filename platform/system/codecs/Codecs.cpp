// FFmpeg glue: subtypes to pixel formats, cached swscale conversions, MJPEG decoding, encoding.
#include "platform/system/codecs/Codecs.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>

#include <uuids.h>
#include <wingdi.h>

#include "platform/system/win/Trace.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

namespace lumacap::codecs {

const int kScaleFlags = SWS_BILINEAR;

void InitFfmpeg() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_ERROR); });
}

AVPixelFormat PixelFormatOfSubtype(const GUID& subtype) {
    if (subtype == MEDIASUBTYPE_YUY2) return AV_PIX_FMT_YUYV422;
    if (subtype == MEDIASUBTYPE_UYVY) return AV_PIX_FMT_UYVY422;
    if (subtype == MEDIASUBTYPE_RGB24) return AV_PIX_FMT_BGR24;
    if (subtype == MEDIASUBTYPE_RGB32 || subtype == MEDIASUBTYPE_ARGB32) return AV_PIX_FMT_BGRA;
    if (subtype == MEDIASUBTYPE_I420 || subtype == MEDIASUBTYPE_IYUV) return AV_PIX_FMT_YUV420P;
    if (subtype == MEDIASUBTYPE_NV12) return AV_PIX_FMT_NV12;
    return AV_PIX_FMT_NONE;
}

const char* PixelFormatName(AVPixelFormat format) {
    const char* name = av_get_pix_fmt_name(format);
    return name ? name : "none";
}

static bool IsRgb(AVPixelFormat f) {
    return f == AV_PIX_FMT_BGR24 || f == AV_PIX_FMT_BGRA;
}

size_t BufferSize(AVPixelFormat format, int width, int height) {
    if (width <= 0 || height <= 0) return 0;
    if (IsRgb(format)) {
        const int bits = format == AV_PIX_FMT_BGR24 ? 24 : 32;
        return static_cast<size_t>(GDI_WIDTHBYTES(width * bits)) * static_cast<size_t>(height);
    }
    const int size = av_image_get_buffer_size(format, width, height, 1);
    return size < 0 ? 0 : static_cast<size_t>(size);
}

bool DescribeBuffer(AVPixelFormat format, int width, int height, bool bottomUp, uint8_t* buffer,
                    uint8_t* planes[4], int strides[4]) {
    for (int i = 0; i < 4; ++i) {
        planes[i] = nullptr;
        strides[i] = 0;
    }
    if (!buffer || width <= 0 || height <= 0) return false;
    if (IsRgb(format)) {
        const int bits = format == AV_PIX_FMT_BGR24 ? 24 : 32;
        const int stride = GDI_WIDTHBYTES(width * bits);
        if (bottomUp) {
            planes[0] = buffer + static_cast<size_t>(stride) * static_cast<size_t>(height - 1);
            strides[0] = -stride;
        } else {
            planes[0] = buffer;
            strides[0] = stride;
        }
        return true;
    }
    return av_image_fill_arrays(planes, strides, buffer, format, width, height, 1) >= 0;
}

Scaler::~Scaler() {
    sws_freeContext(m_context);
    sws_freeContext(m_unpack);
}

namespace {

bool IsPacked422(AVPixelFormat format) {
    return format == AV_PIX_FMT_YUYV422 || format == AV_PIX_FMT_UYVY422;
}

bool IsPackedRgb(AVPixelFormat format) {
    return format == AV_PIX_FMT_BGR24 || format == AV_PIX_FMT_RGB24 || format == AV_PIX_FMT_BGRA ||
           format == AV_PIX_FMT_BGR0;
}

}  // namespace

bool Scaler::Convert(AVPixelFormat srcFormat, int srcWidth, int srcHeight,
                     const uint8_t* const src[4], const int srcStride[4], AVPixelFormat dstFormat,
                     int dstWidth, int dstHeight, uint8_t* const dst[4], const int dstStride[4]) {
    const Request request{srcFormat, dstFormat, srcWidth, srcHeight, dstWidth, dstHeight};
    if (IsPacked422(srcFormat) && IsPackedRgb(dstFormat) && srcWidth == dstWidth &&
        srcHeight == dstHeight && srcWidth % 2 == 0)
        return ConvertPacked422(request, src, srcStride, dst, dstStride);
    if (!m_context || !(request == m_request)) {
        SwsContext* const previous = m_context;
        m_context =
            sws_getCachedContext(m_context, srcWidth, srcHeight, srcFormat, dstWidth, dstHeight,
                                 dstFormat, kScaleFlags, nullptr, nullptr, nullptr);
        if (m_context != previous)
            LUMACAP_TRACE(kCodecs, "scaler %s %dx%d -> %s %dx%d%s", PixelFormatName(srcFormat),
                          srcWidth, srcHeight, PixelFormatName(dstFormat), dstWidth, dstHeight,
                          m_context ? "" : ": refused");
        m_request = request;
    }
    if (!m_context) return false;
    return sws_scale(m_context, src, srcStride, 0, srcHeight, dst, dstStride) == dstHeight;
}

bool Scaler::ConvertPacked422(const Request& request, const uint8_t* const src[4],
                              const int srcStride[4], uint8_t* const dst[4],
                              const int dstStride[4]) {
    const int width = request.srcWidth, height = request.srcHeight;
    if (!m_context || !m_unpack || !(request == m_request)) {
        m_unpack = sws_getCachedContext(m_unpack, width, height, request.srcFormat, width, height,
                                        AV_PIX_FMT_YUV422P, kScaleFlags, nullptr, nullptr, nullptr);
        m_context =
            sws_getCachedContext(m_context, width, height, AV_PIX_FMT_YUV422P, width, height,
                                 request.dstFormat, kScaleFlags, nullptr, nullptr, nullptr);
        LUMACAP_TRACE(kCodecs, "scaler %s %dx%d -> %s through yuv422p%s",
                      PixelFormatName(request.srcFormat), width, height,
                      PixelFormatName(request.dstFormat), m_unpack && m_context ? "" : ": refused");
        m_request = request;
        // Planar 4:2:2: a full-size luma plane and two half-width chroma planes.
        m_planar.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 2);
    }
    if (!m_context || !m_unpack) return false;
    uint8_t* planes[4] = {m_planar.data(), m_planar.data() + static_cast<size_t>(width) * height,
                          m_planar.data() + static_cast<size_t>(width) * height * 3 / 2, nullptr};
    const int strides[4] = {width, width / 2, width / 2, 0};
    if (sws_scale(m_unpack, src, srcStride, 0, height, planes, strides) != height) return false;
    return sws_scale(m_context, planes, strides, 0, height, dst, dstStride) == height;
}

// ---- MJPEG decoding -----------------------------------------------------------------------------

MjpegDecoder::MjpegDecoder() {
    InitFfmpeg();
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
    if (!codec) return;
    m_context = avcodec_alloc_context3(codec);
    if (!m_context) return;
    // One picture in, one picture out on the streaming thread: no frame threading, no delay.
    m_context->thread_count = 1;
    if (avcodec_open2(m_context, codec, nullptr) < 0) {
        LUMACAP_TRACE(kCodecs, "MJPEG decoder: cannot open");
        avcodec_free_context(&m_context);
        return;
    }
    LUMACAP_TRACE(kCodecs, "MJPEG decoder opened");
    m_frame = av_frame_alloc();
    m_packet = av_packet_alloc();
}

MjpegDecoder::~MjpegDecoder() {
    av_packet_free(&m_packet);
    // Buffers the decoder still holds keep the pool alive until they come back.
    av_buffer_pool_uninit(&m_pool);
    av_frame_free(&m_frame);
    avcodec_free_context(&m_context);
}

const AVFrame* MjpegDecoder::Decode(const uint8_t* data, size_t size) {
    if (!m_context || !m_frame || !m_packet || !data || size == 0) return nullptr;
    // The decoder reads a little past the end of its input: give it a padded copy. Pictures of a
    // stream keep to a few sizes, so the pool grows (by half again) only a few times.
    const size_t needed = size + AV_INPUT_BUFFER_PADDING_SIZE;
    if (needed > static_cast<size_t>(INT_MAX)) return nullptr;
    if (!m_pool || needed > m_poolSize) {
        av_buffer_pool_uninit(&m_pool);
        m_poolSize = std::min(needed + needed / 2, static_cast<size_t>(INT_MAX));
        m_pool = av_buffer_pool_init(m_poolSize, nullptr);
        if (!m_pool) return nullptr;
    }
    AVBufferRef* buffer = av_buffer_pool_get(m_pool);
    if (!buffer) return nullptr;
    std::memcpy(buffer->data, data, size);
    std::memset(buffer->data + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    av_packet_unref(m_packet);
    m_packet->buf = buffer;
    m_packet->data = buffer->data;
    m_packet->size = static_cast<int>(size);
    const int sent = avcodec_send_packet(m_context, m_packet);
    av_packet_unref(m_packet);
    if (sent < 0) return nullptr;
    av_frame_unref(m_frame);
    if (avcodec_receive_frame(m_context, m_frame) < 0) return nullptr;
    return m_frame;
}

// ---- encoding -----------------------------------------------------------------------------------

VideoEncoder::~VideoEncoder() {
    av_packet_free(&m_packet);
    av_frame_free(&m_frame);
    avcodec_free_context(&m_context);
}

bool VideoEncoder::Open(int codecId, AVPixelFormat format, int width, int height, int quality,
                        long bitRate, int framesPerSecond, int keyInterval) {
    InitFfmpeg();
    const AVCodec* codec = avcodec_find_encoder(static_cast<AVCodecID>(codecId));
    if (!codec) return false;
    m_context = avcodec_alloc_context3(codec);
    if (!m_context) return false;
    m_context->width = width;
    m_context->height = height;
    m_context->pix_fmt = format;
    m_context->time_base = AVRational{1, framesPerSecond > 0 ? framesPerSecond : 30};
    m_context->framerate = AVRational{framesPerSecond > 0 ? framesPerSecond : 30, 1};
    m_context->gop_size = keyInterval > 0 ? keyInterval : 1;
    m_context->max_b_frames = 0;
    m_context->thread_count = 1;
    if (format == AV_PIX_FMT_YUVJ422P || format == AV_PIX_FMT_YUVJ420P)
        m_context->color_range = AVCOL_RANGE_JPEG;
    if (quality > 0) {
        m_context->flags |= AV_CODEC_FLAG_QSCALE;
        m_context->global_quality = FF_QP2LAMBDA * quality;
    } else if (bitRate > 0) {
        m_context->bit_rate = bitRate;
    }
    const int opened = avcodec_open2(m_context, codec, nullptr);
    LUMACAP_TRACE(kCodecs, "encoder %s %dx%d %s: %s", codec->name, width, height,
                  PixelFormatName(format), opened < 0 ? "cannot open" : "opened");
    if (opened < 0) {
        avcodec_free_context(&m_context);
        return false;
    }
    m_frame = av_frame_alloc();
    m_packet = av_packet_alloc();
    m_format = format;
    if (!m_frame || !m_packet) return false;
    m_frame->format = format;
    m_frame->width = width;
    m_frame->height = height;
    if (quality > 0) m_frame->quality = m_context->global_quality;
    return true;
}

bool VideoEncoder::Encode(const uint8_t* const planes[4], const int strides[4], int64_t pts,
                          std::vector<uint8_t>& out, bool* keyFrame) {
    out.clear();
    if (!m_context) return false;
    for (int i = 0; i < 4; ++i) {
        m_frame->data[i] = const_cast<uint8_t*>(planes[i]);
        m_frame->linesize[i] = strides[i];
    }
    m_frame->pts = pts;
    if (avcodec_send_frame(m_context, m_frame) < 0) return false;
    const int ret = avcodec_receive_packet(m_context, m_packet);
    if (ret == AVERROR(EAGAIN)) return true;
    if (ret < 0) return false;
    out.assign(m_packet->data, m_packet->data + m_packet->size);
    if (keyFrame) *keyFrame = (m_packet->flags & AV_PKT_FLAG_KEY) != 0;
    av_packet_unref(m_packet);
    return true;
}

}  // namespace lumacap::codecs
