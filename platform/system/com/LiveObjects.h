// Counts the component objects the platform has created and not yet freed, so tests can show
// that a sequence of calls leaves no reference behind (lumacap::sim::LiveObjects).
#pragma once

#include <atomic>

namespace lumacap::com {

std::atomic<long>& LiveObjectCount();

// A member or base of every platform component object.
class LiveObject {
public:
    LiveObject() { LiveObjectCount().fetch_add(1, std::memory_order_relaxed); }
    LiveObject(const LiveObject&) { LiveObjectCount().fetch_add(1, std::memory_order_relaxed); }
    LiveObject& operator=(const LiveObject&) = default;
    ~LiveObject() { LiveObjectCount().fetch_sub(1, std::memory_order_relaxed); }
};

}  // namespace lumacap::com
