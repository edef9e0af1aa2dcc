// The muxer under the file writers: libavformat writing to a file or to a writer's own output.
#include "platform/system/codecs/Muxer.h"

#include <cerrno>
#include <cstring>

#include <winerror.h>

#include "platform/system/codecs/Codecs.h"
#include "platform/system/win/Drives.h"
#include "platform/system/win/Trace.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace lumacap::codecs {
namespace {

// Small writes (chunk headers) collect here; frames bigger than this go straight to the sink.
constexpr int kIoBufferSize = 64 * 1024;

// libavformat 61 made the write callback's buffer const.
#if defined(FF_API_AVIO_WRITE_NONCONST) && !FF_API_AVIO_WRITE_NONCONST
int WriteToSink(void* opaque, const uint8_t* buf, int size) {
    return static_cast<ByteSink*>(opaque)->Write(buf, size);
}
#else
int WriteToSink(void* opaque, uint8_t* buf, int size) {
    return static_cast<ByteSink*>(opaque)->Write(buf, size);
}
#endif

int64_t SeekSink(void* opaque, int64_t offset, int whence) {
    return static_cast<ByteSink*>(opaque)->Seek(offset, whence);
}

}  // namespace

unsigned long AvErrorToWin32(int error) {
    if (error == AVERROR(ENOMEM)) return ERROR_NOT_ENOUGH_MEMORY;
    if (error == AVERROR(EINVAL) || error == AVERROR_INVALIDDATA) return ERROR_INVALID_DATA;
    if (error == AVERROR_ENCODER_NOT_FOUND || error == AVERROR_MUXER_NOT_FOUND ||
        error == AVERROR_PATCHWELCOME)
        return ERROR_NOT_SUPPORTED;
    // Other codes of libavformat's I/O are negated errno values.
    if (error < 0 && error > -4096) return win::ErrnoToWin32(-error);
    return ERROR_GEN_FAILURE;
}

Muxer::~Muxer() {
    Close();
    av_packet_free(&m_packet);
}

void Muxer::Close() {
    if (!m_context) return;
    if (m_ownFile) {
        avio_closep(&m_context->pb);
    } else if (m_context->pb) {
        av_freep(&m_context->pb->buffer);
        avio_context_free(&m_context->pb);
    }
    avformat_free_context(m_context);
    m_context = nullptr;
}

bool Muxer::Fail(int error) {
    if (m_error == 0) m_error = error;
    return false;
}

std::string Muxer::ErrorText() const {
    if (m_error == 0) return {};
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(m_error, text, sizeof(text));
    return text;
}

bool Muxer::Open(const char* format, ByteSink* sink) {
    InitFfmpeg();
    Close();
    m_error = 0;
    m_headerWritten = m_finished = false;
    m_timeBases.clear();
    int ret = avformat_alloc_output_context2(&m_context, nullptr, format, nullptr);
    if (ret < 0 || !m_context) return Fail(ret < 0 ? ret : AVERROR_MUXER_NOT_FOUND);
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
    if (!buffer) return Fail(AVERROR(ENOMEM));
    m_context->pb =
        avio_alloc_context(buffer, kIoBufferSize, 1, sink, nullptr, WriteToSink, SeekSink);
    if (!m_context->pb) {
        av_free(buffer);
        return Fail(AVERROR(ENOMEM));
    }
    m_context->pb->direct = 1;
    m_ownFile = false;
    return true;
}

bool Muxer::OpenFile(const char* format, const std::string& path) {
    InitFfmpeg();
    Close();
    m_error = 0;
    m_headerWritten = m_finished = false;
    m_timeBases.clear();
    int ret = avformat_alloc_output_context2(&m_context, nullptr, format, nullptr);
    if (ret < 0 || !m_context) return Fail(ret < 0 ? ret : AVERROR_MUXER_NOT_FOUND);
    // The "file:" prefix keeps a colon inside the path from reading as a protocol name.
    ret = avio_open(&m_context->pb, ("file:" + path).c_str(), AVIO_FLAG_WRITE);
    if (ret < 0) {
        avformat_free_context(m_context);
        m_context = nullptr;
        return Fail(ret);
    }
    m_ownFile = true;
    return true;
}

int Muxer::AddStream(const StreamSpec& spec) {
    if (!m_context || m_headerWritten) return -1;
    AVStream* st = avformat_new_stream(m_context, nullptr);
    if (!st) return -1;
    AVCodecParameters* par = st->codecpar;
    par->codec_id = spec.codec;
    par->codec_tag = spec.codecTag;
    if (spec.video) {
        par->codec_type = AVMEDIA_TYPE_VIDEO;
        par->width = spec.width;
        par->height = spec.height;
        par->bits_per_coded_sample = spec.bitsPerPixel;
        if (spec.pixelFormat != AV_PIX_FMT_NONE) par->format = spec.pixelFormat;
        st->avg_frame_rate = av_inv_q(spec.timeBase);
    } else {
        par->codec_type = AVMEDIA_TYPE_AUDIO;
        par->sample_rate = spec.sampleRate;
        av_channel_layout_default(&par->ch_layout, spec.channels);
        par->block_align = spec.blockAlign;
        par->bits_per_coded_sample = spec.bitsPerSample;
        par->bit_rate = spec.bitRate;
    }
    if (!spec.extradata.empty()) {
        par->extradata =
            static_cast<uint8_t*>(av_mallocz(spec.extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!par->extradata) return -1;
        std::memcpy(par->extradata, spec.extradata.data(), spec.extradata.size());
        par->extradata_size = static_cast<int>(spec.extradata.size());
    }
    st->time_base = spec.timeBase;
    m_timeBases.push_back(spec.timeBase);
    return st->index;
}

int Muxer::AddStream(const AVCodecContext* encoder, AVRational timeBase) {
    if (!m_context || m_headerWritten || !encoder) return -1;
    AVStream* st = avformat_new_stream(m_context, nullptr);
    if (!st) return -1;
    if (avcodec_parameters_from_context(st->codecpar, encoder) < 0) return -1;
    st->time_base = timeBase;
    if (encoder->codec_type == AVMEDIA_TYPE_VIDEO) st->avg_frame_rate = av_inv_q(timeBase);
    m_timeBases.push_back(timeBase);
    return st->index;
}

bool Muxer::WriteHeader() {
    if (!m_context) return Fail(AVERROR(EINVAL));
    if (m_headerWritten) return true;
    AVDictionary* options = nullptr;
    // Uncompressed frames arrive as Windows bitmaps, bottom row first; store them that way.
    if (std::strcmp(m_context->oformat->name, "avi") == 0)
        av_dict_set(&options, "flipped_raw_rgb", "1", 0);
    const int ret = avformat_write_header(m_context, &options);
    av_dict_free(&options);
    LUMACAP_TRACE(kCodecs, "muxer %s: %u streams, header %s", m_context->oformat->name,
                  m_context->nb_streams, ret < 0 ? "refused" : "written");
    if (ret < 0) return Fail(ret);
    m_headerWritten = true;
    return true;
}

bool Muxer::WritePacket(int stream, const uint8_t* data, int size, int64_t pts, int64_t dts,
                        int64_t duration, bool key, bool interleave) {
    if (!m_packet) m_packet = av_packet_alloc();
    if (!m_packet) return Fail(AVERROR(ENOMEM));
    av_packet_unref(m_packet);
    // An empty packet (a dropped frame) still points somewhere: libavformat gives a packet
    // without data a buffer of its own, an allocation for every frame a late recording drops.
    static const uint8_t kNothing[AV_INPUT_BUFFER_PADDING_SIZE] = {};
    m_packet->data = const_cast<uint8_t*>(data ? data : kNothing);
    m_packet->size = data ? size : 0;
    m_packet->pts = pts;
    m_packet->dts = dts;
    m_packet->duration = duration;
    m_packet->flags = key ? AV_PKT_FLAG_KEY : 0;
    if (stream < 0 || stream >= static_cast<int>(m_timeBases.size())) return Fail(AVERROR(EINVAL));
    const bool ok =
        WritePacket(stream, m_packet, m_timeBases[static_cast<size_t>(stream)], interleave);
    m_packet->data = nullptr;
    m_packet->size = 0;
    return ok;
}

bool Muxer::WritePacket(int stream, AVPacket* packet, AVRational packetTimeBase, bool interleave) {
    if (m_error) return false;
    if (!m_context || m_finished) return Fail(AVERROR(EINVAL));
    if (!m_headerWritten && !WriteHeader()) return false;
    if (stream < 0 || stream >= static_cast<int>(m_context->nb_streams))
        return Fail(AVERROR(EINVAL));
    packet->stream_index = stream;
    av_packet_rescale_ts(packet, packetTimeBase, m_context->streams[stream]->time_base);
    const int ret = interleave ? av_interleaved_write_frame(m_context, packet)
                               : av_write_frame(m_context, packet);
    if (ret < 0) return Fail(ret);
    return true;
}

bool Muxer::Finish() {
    if (!m_context) return m_finished && m_error == 0;
    bool ok = m_error == 0;
    if (ok && !m_headerWritten) ok = WriteHeader();
    if (ok) {
        const int ret = av_write_trailer(m_context);
        if (ret < 0) ok = Fail(ret);
        if (ok && m_context->pb) {
            avio_flush(m_context->pb);
            if (m_context->pb->error < 0) ok = Fail(m_context->pb->error);
        }
    }
    m_finished = true;
    Close();
    return ok;
}

}  // namespace lumacap::codecs
