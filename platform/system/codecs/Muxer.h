// Container writing through libavformat: AVI (with its OpenDML extension past 1 GiB) and ASF.
// The bytes go either to a byte sink the caller provides (the AVI Mux hands them to the File
// Writer's stream) or straight to a file (the ASF writer owns its file).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/codec_id.h>
#include <libavutil/pixfmt.h>
#include <libavutil/rational.h>
}

struct AVFormatContext;
struct AVIOContext;
struct AVCodecContext;
struct AVPacket;

namespace lumacap::codecs {

// Where a container's bytes go. Write and Seek answer a negative AVERROR code on failure.
class ByteSink {
public:
    virtual int Write(const uint8_t* data, int size) = 0;
    // `whence` is SEEK_SET, SEEK_CUR, SEEK_END or AVSEEK_SIZE (answer the size, do not move).
    virtual int64_t Seek(int64_t offset, int whence) = 0;

protected:
    ~ByteSink() = default;
};

struct StreamSpec {
    bool video = true;
    AVCodecID codec = AV_CODEC_ID_NONE;
    uint32_t codecTag = 0;  // the FourCC or format tag to write (0: the container's default)
    // Video
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
    AVPixelFormat pixelFormat = AV_PIX_FMT_NONE;  // uncompressed video only
    // Audio
    int sampleRate = 0;
    int channels = 0;
    int blockAlign = 0;
    int bitsPerSample = 0;
    int64_t bitRate = 0;
    // Timestamps of this stream's packets count in this unit (a frame, or a sample).
    AVRational timeBase{1, 1};
    std::vector<uint8_t> extradata;
};

class Muxer {
public:
    Muxer() = default;
    ~Muxer();
    Muxer(const Muxer&) = delete;
    Muxer& operator=(const Muxer&) = delete;

    // `format` is a libavformat muxer name ("avi", "asf"). Raw RGB is stored bottom-up.
    bool Open(const char* format, ByteSink* sink);
    // Creates (or truncates) the file; errno of the failure in ErrorNumber().
    bool OpenFile(const char* format, const std::string& path);

    // Streams are added before the header is written; each answers its index.
    int AddStream(const StreamSpec& spec);
    // A stream described by an opened encoder (codec parameters and extradata taken from it).
    int AddStream(const AVCodecContext* encoder, AVRational timeBase);
    bool WriteHeader();
    bool HeaderWritten() const { return m_headerWritten; }

    // One packet with timestamps in the stream's own time base; an empty packet marks a dropped
    // frame where the container has one. `interleave` lets the library order packets of the
    // streams by time (small compressed packets), otherwise they go out as they come.
    bool WritePacket(int stream, const uint8_t* data, int size, int64_t pts, int64_t dts,
                     int64_t duration, bool key, bool interleave);
    bool WritePacket(int stream, AVPacket* packet, AVRational packetTimeBase, bool interleave);
    // Writes the trailer (index, final header sizes) and closes a file of its own.
    bool Finish();
    bool IsOpen() const { return m_context != nullptr; }

    // The libavformat error of the first failure (0 when none) and its text.
    int Error() const { return m_error; }
    std::string ErrorText() const;

private:
    bool Fail(int error);
    void Close();

    AVFormatContext* m_context = nullptr;
    bool m_ownFile = false;
    bool m_headerWritten = false;
    bool m_finished = false;
    int m_error = 0;
    std::vector<AVRational> m_timeBases;
    AVPacket* m_packet = nullptr;
};

// A libavformat error code as a Windows error (ERROR_ACCESS_DENIED, ERROR_DISK_FULL, ...).
unsigned long AvErrorToWin32(int error);

}  // namespace lumacap::codecs
