// Reading recorded files back with FFmpeg's own tools, which none of us wrote.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace lumacap::test {

// ffprobe's view of a file (format and streams, packets counted) as flat key=value pairs, such as
// "format.duration" or "streams.stream.0.codec_name"; empty when ffprobe cannot read it.
struct Probe {
    std::map<std::string, std::string> values;
    bool Ok() const { return !values.empty(); }
    std::string Get(const std::string& key) const;
    double Number(const std::string& key) const;
    int StreamCount() const;
    // The index of the first stream of a type ("video", "audio"), or -1.
    int StreamOf(const char* type) const;
    std::string Stream(int index, const char* field) const;
    double StreamNumber(int index, const char* field) const;
};
Probe ProbeFile(const std::string& path);

// Every video frame of the file decoded by ffmpeg as 24-bit bottom-up BGR at the given size,
// rows padded to 4 bytes (the library's own layout).
std::vector<std::vector<uint8_t>> DecodeFrames(const std::string& path, int width, int height);

// The bytes of the file's first video stream (its packets' sizes added up; -1 when unreadable).
double VideoStreamBytes(const std::string& path);

// The length in seconds of the file's first sound stream, decoded by ffmpeg to 16-bit samples at
// `rate` samples a second (-1 when it cannot be decoded).
double DecodedSoundSeconds(const std::string& path, int rate);

}  // namespace lumacap::test
