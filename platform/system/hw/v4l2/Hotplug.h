// Cameras going away and coming back. While a filter of a V4L2 camera exists, the directory its
// node lives in is watched: the node vanishing means the camera was unplugged; a node appearing
// is probed, and if it is the same camera (driver, card and bus), its filters hear that it is back.
#pragma once

#include <memory>
#include <string>

#include "platform/system/hw/v4l2/V4l2Api.h"

namespace lumacap::hw::v4l2 {

class HotplugListener {
public:
    // Called on the monitor's thread; false when the camera went away, true when it came back.
    virtual void OnCameraPresence(bool present) = 0;

protected:
    ~HotplugListener() = default;
};

// Starts watching `api`'s directory for `listener`, whose camera is `key` at node `node`.
void WatchCamera(const std::shared_ptr<Api>& api, HotplugListener* listener,
                 const std::string& node, const std::string& key);
// No call reaches `listener` once this returns.
void UnwatchCamera(HotplugListener* listener);

}  // namespace lumacap::hw::v4l2
