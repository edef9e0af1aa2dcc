// Encoders for a writer that compresses what it is given: pictures of any supported layout and
// size are scaled to the stream's size and encoded; PCM of any rate and channel count is
// resampled to the stream's and encoded in the codec's frame size. Packets are handed to a
// callback with timestamps in the encoder's time base.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

extern "C" {
#include <libavcodec/codec_id.h>
#include <libavutil/pixfmt.h>
#include <libavutil/rational.h>
#include <libavutil/samplefmt.h>
}

#include "platform/system/codecs/Codecs.h"

struct AVAudioFifo;
struct SwrContext;

namespace lumacap::codecs {

// Receives each encoded packet; false stops the encoding with a failure.
using PacketSink = std::function<bool(AVPacket* packet)>;

struct VideoEncoderSettings {
    AVCodecID codec = AV_CODEC_ID_NONE;
    const char* encoderName = nullptr;  // a particular encoder of the codec (e.g. "libx264")
    AVPixelFormat format = AV_PIX_FMT_YUV420P;
    int width = 0;
    int height = 0;
    int64_t frameLength = 333333;  // 100-ns units; timestamps count frames
    int64_t bitRate = 0;           // bits per second, or 0 with `quality`
    // With `bitRate`: hold the stream to it whatever the pictures are (see VideoRateControl),
    // instead of libavcodec's own average, which pictures it cannot compress (noise) overrun.
    bool holdBitRate = false;
    int quality = 0;                // a fixed quantiser (1 best .. 31), or 0
    int keyInterval = 0;            // frames between key frames; 0: about every three seconds
    const char* options = nullptr;  // encoder options, "key=value:key=value"
};

// Holds a stream to its bit rate by choosing each frame's quantiser: an account of bits gains
// one frame's share per frame time and pays what each frame cost; each frame aims at its share
// plus a second's worth of the account's balance, at a quantiser predicted from what the last
// frame of its kind (key or not) cost at its quantiser. Pictures that cost more than the rate even
// at the coarsest quantiser are left out while the account is overdrawn, so noise costs frames
// (the picture before stands in) rather than size.
class VideoRateControl {
public:
    void Reset(int64_t bitRate, int64_t frameLength, int keyInterval);
    // The quantiser for frame `pts` (1 .. 31), or 0 to leave the frame out.
    int Plan(int64_t pts);
    // What the planned frame cost, and whether it was a key frame.
    void Paid(int64_t bits, bool key, int quantiser);

private:
    double m_share = 0;    // bits per frame time
    double m_balance = 0;  // bits in hand (negative: overdrawn)
    double m_framesPerSecond = 10;
    int m_keyInterval = 30;
    int m_sinceKey = -1;     // frames since the last key frame; -1 before the first
    double m_keyCost = 0;    // bits x quantiser of the last key frame (0: none yet)
    double m_deltaCost = 0;  // the same for the last other frame
    int m_lastQuantiser = 31;
    int64_t m_lastPts = INT64_MIN;
};

class VideoStreamEncoder {
public:
    VideoStreamEncoder() = default;
    ~VideoStreamEncoder();
    VideoStreamEncoder(const VideoStreamEncoder&) = delete;
    VideoStreamEncoder& operator=(const VideoStreamEncoder&) = delete;

    // Answers an AVERROR.
    int Open(const VideoEncoderSettings& settings);
    // `frameLength` is one frame in 100-ns units; timestamps count frames.
    int Open(AVCodecID codec, int width, int height, int64_t frameLength, int64_t bitRate);
    const AVCodecContext* Context() const { return m_context; }
    AVRational TimeBase() const;

    // Encodes one picture held in a buffer (bottom-up for RGB with `bottomUp`) as frame `pts`.
    int Encode(AVPixelFormat format, int width, int height, bool bottomUp, const uint8_t* data,
               int64_t pts, const PacketSink& sink);
    // Encode in two steps, for a caller that lets go of the picture's buffer between them: the
    // picture converted into the encoder's own frame, then that frame encoded as frame `pts`.
    int Convert(AVPixelFormat format, int width, int height, bool bottomUp, const uint8_t* data);
    int EncodeConverted(int64_t pts, const PacketSink& sink);
    int Flush(const PacketSink& sink);
    // Frames left out to hold the bit rate.
    int64_t FramesDropped() const { return m_framesDropped; }

private:
    int Drain(const PacketSink& sink);

    AVCodecContext* m_context = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    Scaler m_scaler;
    int m_quality = 0;
    bool m_holdRate = false;
    VideoRateControl m_rate;
    int64_t m_framesDropped = 0;
};

class AudioStreamEncoder {
public:
    AudioStreamEncoder() = default;
    ~AudioStreamEncoder();
    AudioStreamEncoder(const AudioStreamEncoder&) = delete;
    AudioStreamEncoder& operator=(const AudioStreamEncoder&) = delete;

    // Input: interleaved PCM of `inBits` (8 unsigned or 16 signed) at `inRate` with `inChannels`.
    // Answers an AVERROR.
    int Open(AVCodecID codec, int sampleRate, int channels, int64_t bitRate, int inRate,
             int inChannels, int inBits);
    const AVCodecContext* Context() const { return m_context; }
    AVRational TimeBase() const;

    // Timestamps count output samples from here (the position of the first sample fed).
    void SetStart(int64_t outputSamples) { m_nextPts = outputSamples; }
    int Encode(const uint8_t* data, int inputSamples, const PacketSink& sink);
    // Encodes what is left, the last frame padded with silence.
    int Flush(const PacketSink& sink);

private:
    int EncodeFrames(bool final, const PacketSink& sink);
    int Drain(const PacketSink& sink);

    AVCodecContext* m_context = nullptr;
    SwrContext* m_resampler = nullptr;
    AVAudioFifo* m_fifo = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    AVSampleFormat m_inFormat = AV_SAMPLE_FMT_S16;
    int m_inRate = 0;
    int m_inChannels = 0;
    int64_t m_nextPts = 0;
    std::vector<uint8_t*> m_converted;
    int m_convertedCapacity = 0;
};

}  // namespace lumacap::codecs
