// What the portable code takes from our own system beyond the SDK's names: fault points, the count
// of live component objects, notice of windows that vanish without messages, and trace lines for
// connections and allocators. Windows offers none of these, so a Windows build gets no-ops that
// cost nothing.
#pragma once

#if defined(_WIN32)

#include <atomic>
#include <functional>

#include <windows.h>

#define LUMACAP_FAULT_POINT(point) static_cast<void>(0)
#define LUMACAP_TRACE_CONNECTION(out, in, mt) static_cast<void>(0)
#define LUMACAP_TRACE_ALLOCATOR(out, allocator, whose) static_cast<void>(0)

namespace lumacap::portable {
inline std::atomic<long>& LiveObjectCount() {
    static std::atomic<long> count{0};
    return count;
}
inline void AddWindowGoneObserver(std::function<void(HWND)>) {}
}  // namespace lumacap::portable

#else

#include "platform/sim/Faults.h"
#include "platform/system/com/LiveObjects.h"
#include "platform/system/dshow/GraphTrace.h"
#include "platform/system/ui/User.h"
#include "platform/system/win/Trace.h"

#define LUMACAP_TRACE_CONNECTION(out, in, mt)               \
    do {                                                    \
        if (::lumacap::trace::On(::lumacap::trace::kDshow)) \
            ::lumacap::dshow::TraceConnection(out, in, mt); \
    } while (0)
#define LUMACAP_TRACE_ALLOCATOR(out, allocator, whose)               \
    do {                                                             \
        if (::lumacap::trace::On(::lumacap::trace::kDshow))          \
            ::lumacap::dshow::TraceAllocator(out, allocator, whose); \
    } while (0)

namespace lumacap::portable {
using lumacap::com::LiveObjectCount;
using lumacap::ui::AddWindowGoneObserver;
}  // namespace lumacap::portable

#endif
