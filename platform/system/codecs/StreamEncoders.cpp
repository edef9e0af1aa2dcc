// Encoders behind the compressor category and the file writers: video and audio streams through
// libavcodec, with the resampling and frame sizing the encoders ask for.
#include "platform/system/codecs/StreamEncoders.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/dict.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include "platform/system/win/Trace.h"

namespace lumacap::codecs {
namespace {

// One frame as a fraction of a second. Some codecs (MPEG-4 Part 2) store the denominator in 16
// bits, so the nearest such fraction stands in (1/30 for 333,333 x 100 ns).
AVRational FrameTimeBase(int64_t frameLength) {
    AVRational q{1, 1};
    av_reduce(&q.num, &q.den, frameLength > 0 ? frameLength : 333333, 10000000, 65535);
    return q;
}

}  // namespace

// ---- video --------------------------------------------------------------------------------------

VideoStreamEncoder::~VideoStreamEncoder() {
    av_packet_free(&m_packet);
    av_frame_free(&m_frame);
    avcodec_free_context(&m_context);
}

AVRational VideoStreamEncoder::TimeBase() const {
    return m_context ? m_context->time_base : AVRational{1, 1};
}

int VideoStreamEncoder::Open(AVCodecID codec, int width, int height, int64_t frameLength,
                             int64_t bitRate) {
    VideoEncoderSettings settings;
    settings.codec = codec;
    settings.width = width;
    settings.height = height;
    settings.frameLength = frameLength;
    settings.bitRate = bitRate;
    return Open(settings);
}

int VideoStreamEncoder::Open(const VideoEncoderSettings& settings) {
    InitFfmpeg();
    const AVCodec* encoder = settings.encoderName
                                 ? avcodec_find_encoder_by_name(settings.encoderName)
                                 : avcodec_find_encoder(settings.codec);
    if (!encoder) return AVERROR_ENCODER_NOT_FOUND;
    m_context = avcodec_alloc_context3(encoder);
    if (!m_context) return AVERROR(ENOMEM);
    m_context->width = settings.width;
    m_context->height = settings.height;
    m_context->pix_fmt = settings.format;
    if (settings.format == AV_PIX_FMT_YUVJ420P || settings.format == AV_PIX_FMT_YUVJ422P)
        m_context->color_range = AVCOL_RANGE_JPEG;
    m_context->time_base = FrameTimeBase(settings.frameLength);
    m_context->framerate = av_inv_q(m_context->time_base);
    // A key frame every few seconds keeps the file seekable without costing much.
    const int64_t frameLength = settings.frameLength > 0 ? settings.frameLength : 333333;
    m_context->gop_size =
        settings.keyInterval > 0
            ? settings.keyInterval
            : static_cast<int>(std::clamp<int64_t>(30000000 / frameLength, 1, 300));
    m_context->max_b_frames = 0;
    m_context->thread_count = 1;
    m_holdRate = settings.quality <= 0 && settings.bitRate > 0 && settings.holdBitRate;
    if (settings.quality > 0 || m_holdRate) {
        // A fixed quantiser, or one chosen here for every frame.
        m_context->flags |= AV_CODEC_FLAG_QSCALE;
        m_context->global_quality = FF_QP2LAMBDA * std::max(settings.quality, 2);
        m_context->bit_rate = settings.bitRate;
    } else if (settings.bitRate > 0) {
        m_context->bit_rate = settings.bitRate;
        m_context->qmin = 2;
        m_context->qmax = 31;
    }
    AVDictionary* options = nullptr;
    if (settings.options) av_dict_parse_string(&options, settings.options, "=", ":", 0);
    int ret = avcodec_open2(m_context, encoder, &options);
    av_dict_free(&options);
    LUMACAP_TRACE(kCodecs, "video encoder %s %dx%d %s: %s", encoder->name, settings.width,
                  settings.height, PixelFormatName(settings.format),
                  ret < 0 ? "cannot open" : "opened");
    if (ret < 0) {
        avcodec_free_context(&m_context);
        return ret;
    }
    m_frame = av_frame_alloc();
    m_packet = av_packet_alloc();
    if (!m_frame || !m_packet) return AVERROR(ENOMEM);
    m_frame->format = m_context->pix_fmt;
    m_frame->width = settings.width;
    m_frame->height = settings.height;
    ret = av_frame_get_buffer(m_frame, 0);
    if (ret < 0) return ret;
    if (settings.quality > 0) m_quality = m_context->global_quality;
    if (m_holdRate) m_rate.Reset(settings.bitRate, frameLength, m_context->gop_size);
    return 0;
}

int VideoStreamEncoder::Encode(AVPixelFormat format, int width, int height, bool bottomUp,
                               const uint8_t* data, int64_t pts, const PacketSink& sink) {
    const int ret = Convert(format, width, height, bottomUp, data);
    return ret < 0 ? ret : EncodeConverted(pts, sink);
}

int VideoStreamEncoder::Convert(AVPixelFormat format, int width, int height, bool bottomUp,
                                const uint8_t* data) {
    if (!m_context) return AVERROR(EINVAL);
    int ret = av_frame_make_writable(m_frame);
    if (ret < 0) return ret;
    uint8_t* planes[4];
    int strides[4];
    if (!DescribeBuffer(format, width, height, bottomUp, const_cast<uint8_t*>(data), planes,
                        strides))
        return AVERROR(EINVAL);
    if (!m_scaler.Convert(format, width, height, planes, strides, m_context->pix_fmt,
                          m_context->width, m_context->height, m_frame->data, m_frame->linesize))
        return AVERROR(EINVAL);
    return 0;
}

int VideoStreamEncoder::EncodeConverted(int64_t pts, const PacketSink& sink) {
    if (!m_context) return AVERROR(EINVAL);
    int quantiser = 0;
    if (m_holdRate) {
        quantiser = m_rate.Plan(pts);
        if (quantiser == 0) {
            ++m_framesDropped;
            return 0;
        }
        m_quality = FF_QP2LAMBDA * quantiser;
    }
    m_frame->pts = pts;
    m_frame->quality = m_quality;
    m_frame->pict_type = AV_PICTURE_TYPE_NONE;
    int ret = avcodec_send_frame(m_context, m_frame);
    if (ret < 0) return ret;
    if (!m_holdRate) return Drain(sink);
    // No B-frames: the frame releases its own packet at once.
    int64_t bytes = 0;
    bool key = false;
    ret = Drain([&](AVPacket* packet) {
        bytes += packet->size;
        key = key || (packet->flags & AV_PKT_FLAG_KEY) != 0;
        return sink(packet);
    });
    m_rate.Paid(bytes * 8, key, quantiser);
    return ret;
}

int VideoStreamEncoder::Flush(const PacketSink& sink) {
    if (!m_context) return 0;
    const int ret = avcodec_send_frame(m_context, nullptr);
    if (ret < 0 && ret != AVERROR_EOF) return ret;
    return Drain(sink);
}

int VideoStreamEncoder::Drain(const PacketSink& sink) {
    for (;;) {
        const int ret = avcodec_receive_packet(m_context, m_packet);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return 0;
        if (ret < 0) return ret;
        const bool ok = sink(m_packet);
        av_packet_unref(m_packet);
        if (!ok) return AVERROR(EIO);
    }
}

// ---- rate control -------------------------------------------------------------------------------

void VideoRateControl::Reset(int64_t bitRate, int64_t frameLength, int keyInterval) {
    const double frameSeconds = static_cast<double>(frameLength > 0 ? frameLength : 333333) / 1e7;
    m_share = static_cast<double>(bitRate) * frameSeconds;
    m_framesPerSecond = 1.0 / frameSeconds;
    m_keyInterval = std::max(keyInterval, 1);
    m_balance = 0;
    m_sinceKey = -1;
    m_keyCost = m_deltaCost = 0;
    m_lastQuantiser = 31;
    m_lastPts = INT64_MIN;
}

int VideoRateControl::Plan(int64_t pts) {
    constexpr int kFinest = 2, kCoarsest = 31;
    // A second's worth in hand at most: a long easy scene does not buy a burst later.
    const double second = m_share * m_framesPerSecond;
    if (m_lastPts != INT64_MIN && pts > m_lastPts)
        m_balance = std::min(second, m_balance + static_cast<double>(pts - m_lastPts) * m_share);
    m_lastPts = pts;
    const bool key = m_sinceKey < 0 || m_sinceKey + 1 >= m_keyInterval;
    // A kind not seen yet is judged by the other (the encoder makes key frames of its own where
    // pictures change completely); the very first frame goes out coarse and is learnt from.
    double cost = key ? m_keyCost : m_deltaCost;
    if (cost <= 0) cost = key ? m_deltaCost : m_keyCost;
    if (cost <= 0) return m_lastQuantiser = kCoarsest;
    const double aim = std::max(m_share / 4, m_share + m_balance / m_framesPerSecond);
    // Finer by a quarter at most from one frame to the next: the estimate is rough for detailed
    // pictures at fine quantisers, and overshooting costs frames.
    const int finest = std::max(kFinest, m_lastQuantiser * 3 / 4);
    const int quantiser = std::clamp(static_cast<int>(std::lround(cost / aim)), finest, kCoarsest);
    // A frame that would overdraw the account by more than half a second is left out, unless
    // the account is full (a picture that costs more than that even at the coarsest quantiser
    // goes out whenever the account has filled up again).
    if (m_balance < second && m_balance - cost / quantiser < -second / 2) return 0;
    m_lastQuantiser = quantiser;
    return quantiser;
}

void VideoRateControl::Paid(int64_t bits, bool key, int quantiser) {
    m_balance -= static_cast<double>(bits);
    // The cost of a picture of this kind at quantiser 1: bits fall roughly as the quantiser grows.
    const double cost = static_cast<double>(bits) * std::max(quantiser, 1);
    double& known = key ? m_keyCost : m_deltaCost;
    known = known > 0 ? (known + cost) / 2 : cost;
    m_sinceKey = key ? 0 : m_sinceKey + 1;
}

// ---- audio --------------------------------------------------------------------------------------

AudioStreamEncoder::~AudioStreamEncoder() {
    if (!m_converted.empty()) av_freep(&m_converted[0]);
    av_audio_fifo_free(m_fifo);
    swr_free(&m_resampler);
    av_packet_free(&m_packet);
    av_frame_free(&m_frame);
    avcodec_free_context(&m_context);
}

AVRational AudioStreamEncoder::TimeBase() const {
    return m_context ? m_context->time_base : AVRational{1, 1};
}

int AudioStreamEncoder::Open(AVCodecID codec, int sampleRate, int channels, int64_t bitRate,
                             int inRate, int inChannels, int inBits) {
    InitFfmpeg();
    if (inBits != 8 && inBits != 16) return AVERROR(EINVAL);
    const AVCodec* encoder = avcodec_find_encoder(codec);
    if (!encoder) return AVERROR_ENCODER_NOT_FOUND;
    m_context = avcodec_alloc_context3(encoder);
    if (!m_context) return AVERROR(ENOMEM);
    m_context->sample_fmt = encoder->sample_fmts ? encoder->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
    m_context->sample_rate = sampleRate;
    av_channel_layout_default(&m_context->ch_layout, channels);
    m_context->bit_rate = bitRate;
    m_context->time_base = AVRational{1, sampleRate};
    int ret = avcodec_open2(m_context, encoder, nullptr);
    LUMACAP_TRACE(kCodecs, "audio encoder %s %d Hz %d ch from %d Hz %d ch %d-bit: %s",
                  encoder->name, sampleRate, channels, inRate, inChannels, inBits,
                  ret < 0 ? "cannot open" : "opened");
    if (ret < 0) {
        avcodec_free_context(&m_context);
        return ret;
    }
    m_inFormat = inBits == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
    m_inRate = inRate;
    m_inChannels = inChannels;
    AVChannelLayout inLayout;
    av_channel_layout_default(&inLayout, inChannels);
    ret = swr_alloc_set_opts2(&m_resampler, &m_context->ch_layout, m_context->sample_fmt,
                              sampleRate, &inLayout, m_inFormat, inRate, 0, nullptr);
    av_channel_layout_uninit(&inLayout);
    if (ret < 0) return ret;
    if (inChannels == 1 && channels == 2) {
        // A mono source plays at full level on both sides (not 3 dB down, as a centre channel).
        const double both[2] = {1.0, 1.0};
        ret = swr_set_matrix(m_resampler, both, 1);
        if (ret < 0) return ret;
    }
    ret = swr_init(m_resampler);
    if (ret < 0) return ret;
    m_fifo = av_audio_fifo_alloc(m_context->sample_fmt, channels, 4096);
    m_frame = av_frame_alloc();
    m_packet = av_packet_alloc();
    if (!m_fifo || !m_frame || !m_packet) return AVERROR(ENOMEM);
    const int frameSize = m_context->frame_size > 0 ? m_context->frame_size : 1024;
    m_frame->nb_samples = frameSize;
    m_frame->format = m_context->sample_fmt;
    m_frame->sample_rate = sampleRate;
    ret = av_channel_layout_copy(&m_frame->ch_layout, &m_context->ch_layout);
    if (ret < 0) return ret;
    ret = av_frame_get_buffer(m_frame, 0);
    return ret < 0 ? ret : 0;
}

int AudioStreamEncoder::Encode(const uint8_t* data, int inputSamples, const PacketSink& sink) {
    if (!m_context) return AVERROR(EINVAL);
    if (inputSamples <= 0) return 0;
    const int capacity = swr_get_out_samples(m_resampler, inputSamples);
    if (capacity < 0) return capacity;
    if (capacity > m_convertedCapacity) {
        if (!m_converted.empty()) av_freep(&m_converted[0]);
        m_converted.assign(static_cast<size_t>(m_context->ch_layout.nb_channels), nullptr);
        const int ret =
            av_samples_alloc(m_converted.data(), nullptr, m_context->ch_layout.nb_channels,
                             capacity, m_context->sample_fmt, 0);
        if (ret < 0) {
            m_converted.clear();
            m_convertedCapacity = 0;
            return ret;
        }
        m_convertedCapacity = capacity;
    }
    const uint8_t* in[1] = {data};
    const int converted =
        swr_convert(m_resampler, m_converted.data(), m_convertedCapacity, in, inputSamples);
    if (converted < 0) return converted;
    if (converted > 0 && av_audio_fifo_write(m_fifo, reinterpret_cast<void**>(m_converted.data()),
                                             converted) < converted)
        return AVERROR(ENOMEM);
    return EncodeFrames(false, sink);
}

int AudioStreamEncoder::Flush(const PacketSink& sink) {
    if (!m_context) return 0;
    // What the resampler still holds.
    if (m_convertedCapacity > 0) {
        const int converted =
            swr_convert(m_resampler, m_converted.data(), m_convertedCapacity, nullptr, 0);
        if (converted > 0)
            av_audio_fifo_write(m_fifo, reinterpret_cast<void**>(m_converted.data()), converted);
    }
    int ret = EncodeFrames(true, sink);
    if (ret < 0) return ret;
    ret = avcodec_send_frame(m_context, nullptr);
    if (ret < 0 && ret != AVERROR_EOF) return ret;
    return Drain(sink);
}

int AudioStreamEncoder::EncodeFrames(bool final, const PacketSink& sink) {
    const int frameSize = m_frame->nb_samples;
    while (av_audio_fifo_size(m_fifo) >= frameSize || (final && av_audio_fifo_size(m_fifo) > 0)) {
        int ret = av_frame_make_writable(m_frame);
        if (ret < 0) return ret;
        const int n = std::min(frameSize, av_audio_fifo_size(m_fifo));
        if (av_audio_fifo_read(m_fifo, reinterpret_cast<void**>(m_frame->data), n) < n)
            return AVERROR(EIO);
        if (n < frameSize)
            av_samples_set_silence(m_frame->data, n, frameSize - n,
                                   m_context->ch_layout.nb_channels, m_context->sample_fmt);
        m_frame->pts = m_nextPts;
        m_nextPts += frameSize;
        ret = avcodec_send_frame(m_context, m_frame);
        if (ret < 0) return ret;
        ret = Drain(sink);
        if (ret < 0) return ret;
    }
    return 0;
}

int AudioStreamEncoder::Drain(const PacketSink& sink) {
    for (;;) {
        const int ret = avcodec_receive_packet(m_context, m_packet);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return 0;
        if (ret < 0) return ret;
        const bool ok = sink(m_packet);
        av_packet_unref(m_packet);
        if (!ok) return AVERROR(EIO);
    }
}

}  // namespace lumacap::codecs
