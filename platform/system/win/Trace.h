// The platform's trace: one line per significant event (pins connected and their media type,
// converters inserted, state changes, allocators decided, devices opened and lost, faults hit),
// switched on without rebuilding through LUMACAP_TRACE=dshow,ui,com,hw,codecs,sim (or "all") and
// written to stderr or to the file LUMACAP_TRACE_FILE names. While an area is off, a trace point
// costs one relaxed load.
#pragma once

#include <atomic>
#include <string>

namespace lumacap::trace {

enum Area : unsigned {
    kDshow = 1u << 0,   // filter graphs: connections, converters, states, allocators
    kUi = 1u << 1,      // windows and the display
    kCom = 1u << 2,     // object creation
    kHw = 1u << 3,      // devices opened, lost and back
    kCodecs = 1u << 4,  // encoders, decoders and converters of pixels and sound
    kSim = 1u << 5,     // faults hit and other simulation controls
};

// The areas switched on. Until the environment has been read every bit is set, so the first trace
// point of each area takes the slow path once and reads it.
extern std::atomic<unsigned> g_areas;

inline bool On(Area area) {
    return (g_areas.load(std::memory_order_relaxed) & area) != 0;
}

// Writes one line for `area` if it is on; the text is printf-formatted.
void Line(Area area, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Switches areas from a list such as "dshow,hw" or "all" and sends lines to `file` (null or empty:
// stderr), as LUMACAP_TRACE and LUMACAP_TRACE_FILE would. Unknown names are ignored.
void Configure(const char* areas, const char* file);
// The areas a list names.
unsigned ParseAreas(const char* areas);

// UTF-8 for names the system keeps as wide strings.
std::string Utf8(const wchar_t* text);

}  // namespace lumacap::trace

// A trace point: the arguments are evaluated only while the area is on.
#define LUMACAP_TRACE(area, ...)                                         \
    do {                                                                 \
        if (::lumacap::trace::On(::lumacap::trace::area))                \
            ::lumacap::trace::Line(::lumacap::trace::area, __VA_ARGS__); \
    } while (0)
