// The camera double's controls: what VIDIOC_QUERYCTRL, QUERYMENU, G_CTRL and S_CTRL answer.
#include "platform/system/hw/v4l2/FakeControls.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace lumacap::hw::v4l2 {
namespace {

constexpr ControlName kControlNames[] = {
    {"brightness", V4L2_CID_BRIGHTNESS, V4L2_CTRL_TYPE_INTEGER, "Brightness"},
    {"contrast", V4L2_CID_CONTRAST, V4L2_CTRL_TYPE_INTEGER, "Contrast"},
    {"saturation", V4L2_CID_SATURATION, V4L2_CTRL_TYPE_INTEGER, "Saturation"},
    {"hue", V4L2_CID_HUE, V4L2_CTRL_TYPE_INTEGER, "Hue"},
    {"white_balance_automatic", V4L2_CID_AUTO_WHITE_BALANCE, V4L2_CTRL_TYPE_BOOLEAN,
     "White Balance, Automatic"},
    {"gamma", V4L2_CID_GAMMA, V4L2_CTRL_TYPE_INTEGER, "Gamma"},
    {"gain", V4L2_CID_GAIN, V4L2_CTRL_TYPE_INTEGER, "Gain"},
    {"gain_automatic", V4L2_CID_AUTOGAIN, V4L2_CTRL_TYPE_BOOLEAN, "Gain, Automatic"},
    {"power_line_frequency", V4L2_CID_POWER_LINE_FREQUENCY, V4L2_CTRL_TYPE_MENU,
     "Power Line Frequency"},
    {"hue_automatic", V4L2_CID_HUE_AUTO, V4L2_CTRL_TYPE_BOOLEAN, "Hue, Automatic"},
    {"white_balance_temperature", V4L2_CID_WHITE_BALANCE_TEMPERATURE, V4L2_CTRL_TYPE_INTEGER,
     "White Balance Temperature"},
    {"sharpness", V4L2_CID_SHARPNESS, V4L2_CTRL_TYPE_INTEGER, "Sharpness"},
    {"backlight_compensation", V4L2_CID_BACKLIGHT_COMPENSATION, V4L2_CTRL_TYPE_INTEGER,
     "Backlight Compensation"},
    {"auto_exposure", V4L2_CID_EXPOSURE_AUTO, V4L2_CTRL_TYPE_MENU, "Auto Exposure"},
    {"exposure_time_absolute", V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CTRL_TYPE_INTEGER,
     "Exposure Time, Absolute"},
    {"pan_absolute", V4L2_CID_PAN_ABSOLUTE, V4L2_CTRL_TYPE_INTEGER, "Pan, Absolute"},
    {"tilt_absolute", V4L2_CID_TILT_ABSOLUTE, V4L2_CTRL_TYPE_INTEGER, "Tilt, Absolute"},
    {"focus_absolute", V4L2_CID_FOCUS_ABSOLUTE, V4L2_CTRL_TYPE_INTEGER, "Focus, Absolute"},
    {"focus_automatic_continuous", V4L2_CID_FOCUS_AUTO, V4L2_CTRL_TYPE_BOOLEAN,
     "Focus, Automatic Continuous"},
    {"zoom_absolute", V4L2_CID_ZOOM_ABSOLUTE, V4L2_CTRL_TYPE_INTEGER, "Zoom, Absolute"},
    {"iris_absolute", V4L2_CID_IRIS_ABSOLUTE, V4L2_CTRL_TYPE_INTEGER, "Iris, Absolute"},
};

const char* const kPowerLineItems[] = {"Disabled", "50 Hz", "60 Hz", "Auto"};
const char* const kExposureItems[] = {"Auto Mode", "Manual Mode", "Shutter Priority Mode",
                                      "Aperture Priority Mode"};

// A control that only takes values while another one is in manual mode (uvcvideo refuses such
// writes with EACCES and marks the control inactive).
struct Dependency {
    uint32_t id;
    uint32_t master;
};
constexpr Dependency kDependencies[] = {
    {V4L2_CID_WHITE_BALANCE_TEMPERATURE, V4L2_CID_AUTO_WHITE_BALANCE},
    {V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CID_EXPOSURE_AUTO},
    {V4L2_CID_FOCUS_ABSOLUTE, V4L2_CID_FOCUS_AUTO},
    {V4L2_CID_GAIN, V4L2_CID_AUTOGAIN},
    {V4L2_CID_HUE, V4L2_CID_HUE_AUTO},
};

bool MasterIsManual(uint32_t master, long value) {
    if (master == V4L2_CID_EXPOSURE_AUTO)
        return value == V4L2_EXPOSURE_MANUAL || value == V4L2_EXPOSURE_SHUTTER_PRIORITY;
    return value == 0;
}

void CopyName(uint8_t* dst, size_t size, const char* text) {
    std::memset(dst, 0, size);
    std::strncpy(reinterpret_cast<char*>(dst), text, size - 1);
}

}  // namespace

const ControlName* FindControlName(const std::string& name) {
    for (const ControlName& c : kControlNames)
        if (name == c.name) return &c;
    return nullptr;
}

const ControlName* FindControlName(uint32_t id) {
    for (const ControlName& c : kControlNames)
        if (c.id == id) return &c;
    return nullptr;
}

FakeControls::FakeControls(const std::vector<sim::V4l2ControlSpec>& specs) {
    for (const sim::V4l2ControlSpec& spec : specs) {
        const ControlName* name = FindControlName(spec.name);
        if (!name || FindControl(name->id)) continue;
        m_controls.push_back({name, spec, spec.defaultValue});
    }
    std::sort(m_controls.begin(), m_controls.end(),
              [](const Control& a, const Control& b) { return a.name->id < b.name->id; });
}

FakeControls::Control* FakeControls::FindControl(uint32_t id) {
    for (Control& c : m_controls)
        if (c.name->id == id) return &c;
    return nullptr;
}

const FakeControls::Control* FakeControls::FindControl(uint32_t id) const {
    for (const Control& c : m_controls)
        if (c.name->id == id) return &c;
    return nullptr;
}

bool FakeControls::Value(uint32_t id, long* value) const {
    const Control* c = FindControl(id);
    if (!c) return false;
    *value = c->value;
    return true;
}

bool FakeControls::MenuItemValid(const Control& control, long item) const {
    if (item < control.spec.minimum || item > control.spec.maximum) return false;
    const auto& items = control.spec.menuItems;
    return items.empty() || std::find(items.begin(), items.end(), item) != items.end();
}

int FakeControls::Query(v4l2_queryctrl* query) const {
    const Control* found = nullptr;
    if (query->id & V4L2_CTRL_FLAG_NEXT_CTRL) {
        const uint32_t after =
            query->id & ~(V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND);
        for (const Control& c : m_controls)
            if (c.name->id > after) {
                found = &c;
                break;
            }
    } else {
        found = FindControl(query->id);
    }
    if (!found) return -EINVAL;
    std::memset(query, 0, sizeof(*query));
    query->id = found->name->id;
    query->type = found->name->type;
    CopyName(query->name, sizeof(query->name), found->name->label);
    query->minimum = static_cast<int32_t>(found->spec.minimum);
    query->maximum = static_cast<int32_t>(found->spec.maximum);
    query->step = found->name->type == V4L2_CTRL_TYPE_MENU
                      ? 1
                      : static_cast<int32_t>(std::max(1L, found->spec.step));
    query->default_value = static_cast<int32_t>(found->spec.defaultValue);
    for (const Dependency& d : kDependencies)
        if (d.id == found->name->id)
            if (const Control* master = FindControl(d.master))
                if (!MasterIsManual(d.master, master->value))
                    query->flags |= V4L2_CTRL_FLAG_INACTIVE;
    return 0;
}

int FakeControls::QueryMenu(v4l2_querymenu* menu) const {
    const Control* c = FindControl(menu->id);
    if (!c || c->name->type != V4L2_CTRL_TYPE_MENU) return -EINVAL;
    const long item = static_cast<long>(menu->index);
    if (!MenuItemValid(*c, item)) return -EINVAL;
    const char* label = "Item";
    if (c->name->id == V4L2_CID_POWER_LINE_FREQUENCY && item < 4) label = kPowerLineItems[item];
    if (c->name->id == V4L2_CID_EXPOSURE_AUTO && item < 4) label = kExposureItems[item];
    CopyName(menu->name, sizeof(menu->name), label);
    return 0;
}

int FakeControls::Get(v4l2_control* control) const {
    const Control* c = FindControl(control->id);
    if (!c) return -EINVAL;
    control->value = static_cast<int32_t>(c->value);
    return 0;
}

// Integer values are clamped to the range and rounded to the step, as the kernel does; menus
// refuse items they do not offer.
int FakeControls::Set(v4l2_control* control) {
    Control* c = FindControl(control->id);
    if (!c) return -EINVAL;
    for (const Dependency& d : kDependencies)
        if (d.id == c->name->id)
            if (const Control* master = FindControl(d.master))
                if (!MasterIsManual(d.master, master->value)) return -EACCES;
    long value = control->value;
    switch (c->name->type) {
        case V4L2_CTRL_TYPE_MENU:
            if (value < c->spec.minimum || value > c->spec.maximum) return -ERANGE;
            if (!MenuItemValid(*c, value)) return -EINVAL;
            break;
        case V4L2_CTRL_TYPE_BOOLEAN:
            value = value ? 1 : 0;
            break;
        default: {
            const long step = std::max(1L, c->spec.step);
            value = std::clamp(value, c->spec.minimum, c->spec.maximum);
            value = c->spec.minimum + (value - c->spec.minimum + step / 2) / step * step;
            if (value > c->spec.maximum) value -= step;
        }
    }
    c->value = value;
    control->value = static_cast<int32_t>(value);
    return 0;
}

}  // namespace lumacap::hw::v4l2
