// Where a V4L2 test's camera comes from: the in-process double, the double served through FUSE by
// the fakecam program (so requests go through the kernel), or the machine's own camera or vivid.
#pragma once

#include <memory>
#include <string>

#include <lumacap/sim.h>

#include "platform/system/hw/v4l2/V4l2Api.h"

namespace lumacap::test {

class CameraBackend {
public:
    virtual ~CameraBackend() = default;
    // Starts the camera and points the provider at it: 0, or 1 when it cannot exist here (with
    // the reason), or -1 when it failed (with what happened).
    virtual int Start(const sim::V4l2CameraConfig& config, std::string* reason) = 0;
    // The camera's capture node, and the seam its directory is reached through.
    virtual std::string Node() const = 0;
    virtual std::shared_ptr<hw::v4l2::Api> Seam() const = 0;
    // Whether the camera is a double: its frames carry numbers, and it can be unplugged and made
    // to misbehave.
    virtual bool IsDouble() const { return true; }
    virtual bool Unplug() = 0;
    virtual bool Replug() = 0;
    virtual bool SetFaults(const sim::V4l2Faults& faults) = 0;
};

// "in-process", "served" (in `dir`), "real".
std::unique_ptr<CameraBackend> MakeBackend(const std::string& kind, const std::string& dir);

}  // namespace lumacap::test
