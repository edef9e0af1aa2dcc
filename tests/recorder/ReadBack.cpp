// Reading recorded files back with ffprobe and ffmpeg.
#include "recorder/ReadBack.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <windows.h>

namespace lumacap::test {
namespace {

std::string Tool(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    return value && *value ? value : fallback;
}

std::string Quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

}  // namespace

std::string Probe::Get(const std::string& key) const {
    auto it = values.find(key);
    return it == values.end() ? std::string() : it->second;
}

double Probe::Number(const std::string& key) const {
    const std::string v = Get(key);
    // Rates come as fractions ("10/1").
    const size_t slash = v.find('/');
    if (slash != std::string::npos) {
        const double den = std::atof(v.c_str() + slash + 1);
        return den != 0 ? std::atof(v.substr(0, slash).c_str()) / den : 0;
    }
    return std::atof(v.c_str());
}

int Probe::StreamCount() const {
    int n = 0;
    while (values.count("streams.stream." + std::to_string(n) + ".codec_type")) ++n;
    return n;
}

int Probe::StreamOf(const char* type) const {
    for (int i = 0; i < StreamCount(); ++i)
        if (Stream(i, "codec_type") == type) return i;
    return -1;
}

std::string Probe::Stream(int index, const char* field) const {
    return Get("streams.stream." + std::to_string(index) + "." + field);
}

double Probe::StreamNumber(int index, const char* field) const {
    return Number("streams.stream." + std::to_string(index) + "." + field);
}

Probe ProbeFile(const std::string& path) {
    Probe probe;
    const std::string command =
        Tool("LUMACAP_TEST_FFPROBE", "ffprobe") +
        " -v error -count_packets -show_entries format=duration,size,format_name:stream=codec_type,"
        "codec_name,width,height,r_frame_rate,avg_frame_rate,nb_read_packets,sample_rate,"
        "channels,duration -of flat " +
        Quote(path) + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return probe;
    char line[1024];
    while (std::fgets(line, sizeof(line), pipe)) {
        std::string text = line;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        const size_t eq = text.find('=');
        if (eq == std::string::npos) continue;
        std::string value = text.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
        probe.values[text.substr(0, eq)] = value;
    }
    if (pclose(pipe) != 0) probe.values.clear();
    return probe;
}

std::vector<std::vector<uint8_t>> DecodeFrames(const std::string& path, int width, int height) {
    std::vector<std::vector<uint8_t>> frames;
    const size_t stride = static_cast<size_t>(GDI_WIDTHBYTES(width * 24));
    const std::string command =
        Tool("LUMACAP_TEST_FFMPEG", "ffmpeg") + " -v error -i " + Quote(path) +
        " -map 0:v:0 -vf vflip,scale=" + std::to_string(width) + ":" + std::to_string(height) +
        " -f rawvideo -pix_fmt bgr24 - 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return frames;
    const size_t packed = static_cast<size_t>(width) * 3;
    while (true) {
        std::vector<uint8_t> frame(stride * static_cast<size_t>(height), 0);
        bool complete = true;
        for (int y = 0; y < height && complete; ++y)
            complete = std::fread(frame.data() + stride * static_cast<size_t>(y), 1, packed,
                                  pipe) == packed;
        if (!complete) break;
        frames.push_back(std::move(frame));
    }
    pclose(pipe);
    return frames;
}

double VideoStreamBytes(const std::string& path) {
    const std::string command = Tool("LUMACAP_TEST_FFPROBE", "ffprobe") +
                                " -v error -select_streams v:0 -show_entries packet=size -of "
                                "csv=p=0 " +
                                Quote(path) + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    double bytes = 0;
    char line[64];
    while (std::fgets(line, sizeof(line), pipe)) bytes += std::atof(line);
    return pclose(pipe) == 0 ? bytes : -1;
}

double DecodedSoundSeconds(const std::string& path, int rate) {
    const std::string command = Tool("LUMACAP_TEST_FFMPEG", "ffmpeg") + " -v error -i " +
                                Quote(path) + " -map 0:a:0 -ac 1 -ar " + std::to_string(rate) +
                                " -f s16le - 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    char buffer[65536];
    size_t bytes = 0, n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) bytes += n;
    if (pclose(pipe) != 0) return -1;
    return static_cast<double>(bytes) / 2.0 / rate;
}

}  // namespace lumacap::test
