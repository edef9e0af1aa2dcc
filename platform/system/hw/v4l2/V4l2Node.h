// A V4L2 node as the provider sees it: whether it is a camera's capture node, what it is called,
// and the identity that recognises the same camera when it comes back (possibly under another
// node name).
#pragma once

#include <string>

#include "platform/system/hw/v4l2/V4l2Api.h"

namespace lumacap::hw::v4l2 {

struct NodeInfo {
    std::string name;  // "video0"
    std::string driver;
    std::string card;
    std::string busInfo;
    std::string friendlyName;  // UTF-8
    // The moniker's display name: USB cameras get "vid_XXXX&pid_YYYY" from sysfs, as on the
    // platform whose device IDs the library reads.
    std::string displayName;
    // Listed although it cannot be opened (permission denied): binding it fails with that error.
    bool inaccessible = false;

    std::string Key() const { return driver + '\n' + card + '\n' + busInfo; }
};

// 0 when `name` is a video capture node that streams (filled into `info`); -errno when it cannot
// be opened; -ENOTTY when it is no V4L2 device; -ENODEV when it is not a capture node (a
// metadata node, an output or a codec).
int ProbeNode(Api& api, const std::string& name, NodeInfo* info);

// Whether the node that answers the open file `fd` is still the camera `key` names.
bool SameCamera(Api& api, int fd, const std::string& key);

}  // namespace lumacap::hw::v4l2
