// The V4L2 cameras of the video input category: which directory of nodes the platform lists (its
// setting, from LUMACAP_V4L2_DIR and LUMACAP_V4L2_SYSFS at start, changed by the simulation), and
// the provider that turns its capture nodes into device entries ahead of the virtual cameras.
#pragma once

#include <memory>

#include "platform/system/hw/v4l2/V4l2Api.h"

namespace lumacap::hw::v4l2 {

// The seam cameras are listed through; null when V4L2 cameras are off.
std::shared_ptr<Api> CurrentApi();
void UseApi(std::shared_ptr<Api> api);
// The setting the environment gives: LUMACAP_V4L2_DIR (/dev when unset, off when empty).
std::shared_ptr<Api> ApiFromEnvironment();

}  // namespace lumacap::hw::v4l2
