// The platform's trace: reading LUMACAP_TRACE and LUMACAP_TRACE_FILE, and writing whole lines.
#include "platform/system/win/Trace.h"

#include <chrono>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace lumacap::trace {

std::atomic<unsigned> g_areas{~0u};

namespace {

constexpr struct {
    const char* name;
    Area area;
} kAreas[] = {{"dshow", kDshow}, {"ui", kUi},         {"com", kCom},
              {"hw", kHw},       {"codecs", kCodecs}, {"sim", kSim}};

struct Sink {
    std::mutex mutex;
    FILE* file = nullptr;  // null: stderr
    std::once_flag fromEnvironment;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};

Sink& TheSink() {
    static Sink* sink = new Sink();  // outlives every static object that might still trace
    return *sink;
}

const char* NameOf(Area area) {
    for (const auto& a : kAreas)
        if (a.area == area) return a.name;
    return "?";
}

// Small numbers for threads, in the order they first trace: easier to follow than system IDs.
int ThreadNumber() {
    static std::atomic<int> next{1};
    thread_local const int number = next.fetch_add(1, std::memory_order_relaxed);
    return number;
}

void Open(Sink& sink, unsigned areas, const char* file) {
    std::lock_guard<std::mutex> lock(sink.mutex);
    if (sink.file) std::fclose(sink.file);
    sink.file = nullptr;
    if (areas != 0 && file && *file) {
        sink.file = std::fopen(file, "a");
        if (!sink.file)
            std::fprintf(stderr, "lumacap trace: cannot open %s (%s); tracing to stderr\n", file,
                         std::strerror(errno));
    }
    g_areas.store(areas, std::memory_order_relaxed);
}

}  // namespace

unsigned ParseAreas(const char* areas) {
    unsigned mask = 0;
    if (!areas) return 0;
    std::string list(areas);
    size_t pos = 0;
    while (pos <= list.size()) {
        size_t end = list.find(',', pos);
        if (end == std::string::npos) end = list.size();
        std::string name = list.substr(pos, end - pos);
        name.erase(0, name.find_first_not_of(" \t"));
        name.erase(name.find_last_not_of(" \t") + 1);
        if (name == "all" || name == "1") mask |= kDshow | kUi | kCom | kHw | kCodecs | kSim;
        for (const auto& a : kAreas)
            if (name == a.name) mask |= a.area;
        pos = end + 1;
    }
    return mask;
}

std::string Utf8(const wchar_t* text) {
    std::string out;
    for (; text && *text; ++text) {
        const auto c = static_cast<uint32_t>(*text);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

void Configure(const char* areas, const char* file) {
    Sink& sink = TheSink();
    // A later first trace point must not read the environment over this choice.
    std::call_once(sink.fromEnvironment, [] {});
    Open(sink, ParseAreas(areas), file);
}

void Line(Area area, const char* format, ...) {
    Sink& sink = TheSink();
    std::call_once(sink.fromEnvironment, [&sink] {
        Open(sink, ParseAreas(std::getenv("LUMACAP_TRACE")), std::getenv("LUMACAP_TRACE_FILE"));
    });
    if (!On(area)) return;

    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - sink.start).count();
    // One write per line, so lines from several threads never interleave.
    std::lock_guard<std::mutex> lock(sink.mutex);
    FILE* out = sink.file ? sink.file : stderr;
    std::fprintf(out, "lumacap %9.6f t%-2d %-6s %s\n", seconds, ThreadNumber(), NameOf(area), text);
    std::fflush(out);
}

}  // namespace lumacap::trace
