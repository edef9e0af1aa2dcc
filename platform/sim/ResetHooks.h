// Subsystems of the platform register what lumacap::sim::Reset must put back to its defaults
// (devices, windows, ...). Hooks run in registration order.
#pragma once

#include <functional>

namespace lumacap::sim::detail {

void AddResetHook(std::function<void()> hook);

// Registers a hook from a static object.
struct ResetHookRegistration {
    explicit ResetHookRegistration(std::function<void()> hook) { AddResetHook(std::move(hook)); }
};

}  // namespace lumacap::sim::detail
