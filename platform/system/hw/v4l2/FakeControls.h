// The camera double's controls, by the names v4l2-ctl gives them: integer, boolean and menu
// controls with their ranges, the menu items a device offers, and the manual values that uvcvideo
// refuses while their automatic mode is on.
#pragma once

#include <linux/videodev2.h>

#include <cstdint>
#include <string>
#include <vector>

#include <lumacap/sim_devices.h>

namespace lumacap::hw::v4l2 {

// A control the double knows by name: its V4L2 id, type and the name VIDIOC_QUERYCTRL gives.
struct ControlName {
    const char* name;
    uint32_t id;
    uint32_t type;  // V4L2_CTRL_TYPE_INTEGER, _BOOLEAN or _MENU
    const char* label;
};
const ControlName* FindControlName(const std::string& name);
const ControlName* FindControlName(uint32_t id);

// Not thread-safe: the device serialises requests.
class FakeControls {
public:
    explicit FakeControls(const std::vector<sim::V4l2ControlSpec>& specs);

    // As the kernel answers: 0 or -errno.
    int Query(v4l2_queryctrl* query) const;
    int QueryMenu(v4l2_querymenu* menu) const;
    int Get(v4l2_control* control) const;
    int Set(v4l2_control* control);
    bool Value(uint32_t id, long* value) const;

private:
    struct Control {
        const ControlName* name;
        sim::V4l2ControlSpec spec;
        long value;
    };
    Control* FindControl(uint32_t id);
    const Control* FindControl(uint32_t id) const;
    bool MenuItemValid(const Control& control, long item) const;

    std::vector<Control> m_controls;  // in id order
};

}  // namespace lumacap::hw::v4l2
