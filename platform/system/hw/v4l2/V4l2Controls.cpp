// IAMVideoProcAmp and IAMCameraControl properties over V4L2 controls.
#include "platform/system/hw/v4l2/V4l2Controls.h"

#include <algorithm>
#include <cmath>

#include <strmif.h>

namespace lumacap::hw::v4l2 {
namespace {

// The kernel-streaming property number of power-line frequency, which IAMVideoProcAmp passes on
// to capture drivers unchanged.
constexpr long kPowerLineFrequency = 13;

constexpr double kArcSecondsPerDegree = 3600.0;
constexpr double kExposureUnitsPerSecond = 10000.0;  // V4L2 exposure counts 100 microseconds

long RoundToLong(double v) {
    return static_cast<long>(std::lround(v));
}

}  // namespace

const DeviceControls::Mapping DeviceControls::kMappings[] = {
    {false, VideoProcAmp_Brightness, V4L2_CID_BRIGHTNESS, 0, Scale::kNone},
    {false, VideoProcAmp_Contrast, V4L2_CID_CONTRAST, 0, Scale::kNone},
    {false, VideoProcAmp_Hue, V4L2_CID_HUE, V4L2_CID_HUE_AUTO, Scale::kNone},
    {false, VideoProcAmp_Saturation, V4L2_CID_SATURATION, 0, Scale::kNone},
    {false, VideoProcAmp_Sharpness, V4L2_CID_SHARPNESS, 0, Scale::kNone},
    {false, VideoProcAmp_Gamma, V4L2_CID_GAMMA, 0, Scale::kNone},
    {false, VideoProcAmp_WhiteBalance, V4L2_CID_WHITE_BALANCE_TEMPERATURE,
     V4L2_CID_AUTO_WHITE_BALANCE, Scale::kNone},
    {false, VideoProcAmp_BacklightCompensation, V4L2_CID_BACKLIGHT_COMPENSATION, 0, Scale::kNone},
    {false, VideoProcAmp_Gain, V4L2_CID_GAIN, V4L2_CID_AUTOGAIN, Scale::kNone},
    {false, kPowerLineFrequency, V4L2_CID_POWER_LINE_FREQUENCY, 0, Scale::kNone},
    {true, CameraControl_Pan, V4L2_CID_PAN_ABSOLUTE, 0, Scale::kArcSeconds},
    {true, CameraControl_Tilt, V4L2_CID_TILT_ABSOLUTE, 0, Scale::kArcSeconds},
    {true, CameraControl_Zoom, V4L2_CID_ZOOM_ABSOLUTE, 0, Scale::kNone},
    {true, CameraControl_Exposure, V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CID_EXPOSURE_AUTO,
     Scale::kExposure},
    {true, CameraControl_Iris, V4L2_CID_IRIS_ABSOLUTE, 0, Scale::kNone},
    {true, CameraControl_Focus, V4L2_CID_FOCUS_ABSOLUTE, V4L2_CID_FOCUS_AUTO, Scale::kNone},
};

void DeviceControls::Discover(Api* api, int fd) {
    m_api = api;
    m_fd = fd;
    m_controls.clear();
    auto query = [&](uint32_t id, v4l2_queryctrl* q) {
        *q = v4l2_queryctrl{};
        q->id = id;
        return api->Ioctl(fd, VIDIOC_QUERYCTRL, q) == 0 && q->id == id &&
               !(q->flags & V4L2_CTRL_FLAG_DISABLED);
    };
    auto menuHas = [&](uint32_t id, long item) {
        v4l2_querymenu m{};
        m.id = id;
        m.index = static_cast<uint32_t>(item);
        return api->Ioctl(fd, VIDIOC_QUERYMENU, &m) == 0;
    };
    for (const Mapping& mapping : kMappings) {
        Control c;
        c.mapping = &mapping;
        if (!query(mapping.id, &c.query)) continue;
        v4l2_queryctrl companion;
        if (mapping.autoId && query(mapping.autoId, &companion)) {
            if (companion.type == V4L2_CTRL_TYPE_MENU) {
                // Exposure: manual mode, and aperture priority (what webcams offer) or full auto.
                c.hasManual = menuHas(mapping.autoId, V4L2_EXPOSURE_MANUAL);
                c.manualValue = V4L2_EXPOSURE_MANUAL;
                if (menuHas(mapping.autoId, V4L2_EXPOSURE_APERTURE_PRIORITY)) {
                    c.hasAuto = true;
                    c.autoValue = V4L2_EXPOSURE_APERTURE_PRIORITY;
                } else if (menuHas(mapping.autoId, V4L2_EXPOSURE_AUTO)) {
                    c.hasAuto = true;
                    c.autoValue = V4L2_EXPOSURE_AUTO;
                }
            } else {
                c.hasAuto = true;
                c.autoValue = 1;
                c.manualValue = 0;
            }
        }
        m_controls.push_back(c);
    }
}

const DeviceControls::Control* DeviceControls::Find(bool camera, long property) const {
    for (const Control& c : m_controls)
        if (c.mapping->camera == camera && c.mapping->property == property) return &c;
    return nullptr;
}

bool DeviceControls::HasAny(bool camera) const {
    return std::any_of(m_controls.begin(), m_controls.end(),
                       [camera](const Control& c) { return c.mapping->camera == camera; });
}

long DeviceControls::ToHost(const Control& c, long v) const {
    switch (c.mapping->scale) {
        case Scale::kArcSeconds:
            return RoundToLong(v / kArcSecondsPerDegree);
        case Scale::kExposure:
            return RoundToLong(std::log2(std::max(1L, v) / kExposureUnitsPerSecond));
        default:
            return v;
    }
}

long DeviceControls::ToDevice(const Control& c, long v) const {
    long device;
    switch (c.mapping->scale) {
        case Scale::kArcSeconds:
            device = RoundToLong(v * kArcSecondsPerDegree);
            break;
        case Scale::kExposure:
            device = RoundToLong(std::exp2(static_cast<double>(v)) * kExposureUnitsPerSecond);
            break;
        default:
            return v;
    }
    return std::clamp<long>(device, c.query.minimum, c.query.maximum);
}

void DeviceControls::HostRange(const Control& c, long* min, long* max, long* step,
                               long* def) const {
    const v4l2_queryctrl& q = c.query;
    switch (c.mapping->scale) {
        case Scale::kArcSeconds:
            *min = static_cast<long>(std::ceil(q.minimum / kArcSecondsPerDegree));
            *max = static_cast<long>(std::floor(q.maximum / kArcSecondsPerDegree));
            *step = std::max(1L, RoundToLong(q.step / kArcSecondsPerDegree));
            break;
        case Scale::kExposure:
            *min = static_cast<long>(
                std::ceil(std::log2(std::max(1, q.minimum) / kExposureUnitsPerSecond) - 1e-9));
            *max = static_cast<long>(
                std::floor(std::log2(std::max(1, q.maximum) / kExposureUnitsPerSecond) + 1e-9));
            *step = 1;
            if (*max < *min) *max = *min;
            break;
        default:
            *min = q.minimum;
            *max = q.maximum;
            *step = std::max(1, q.step);
            *def = q.default_value;
            return;
    }
    *def = std::clamp(ToHost(c, q.default_value), *min, *max);
}

HRESULT DeviceControls::GetRange(bool camera, long property, long* min, long* max, long* step,
                                 long* def, long* flags) const {
    if (!min || !max || !step || !def || !flags) return E_POINTER;
    const Control* c = Find(camera, property);
    if (!c) return E_PROP_ID_UNSUPPORTED;
    HostRange(*c, min, max, step, def);
    *flags =
        (c->hasManual ? VideoProcAmp_Flags_Manual : 0) | (c->hasAuto ? VideoProcAmp_Flags_Auto : 0);
    return S_OK;
}

HRESULT DeviceControls::Get(bool camera, long property, long* value, long* flags) const {
    if (!value || !flags) return E_POINTER;
    const Control* c = Find(camera, property);
    if (!c) return E_PROP_ID_UNSUPPORTED;
    v4l2_control control{c->mapping->id, 0};
    int r = m_api->Ioctl(m_fd, VIDIOC_G_CTRL, &control);
    if (r < 0) return HresultFromErrno(-r);
    long mode = VideoProcAmp_Flags_Manual;
    if (c->hasAuto) {
        v4l2_control companion{c->mapping->autoId, 0};
        r = m_api->Ioctl(m_fd, VIDIOC_G_CTRL, &companion);
        if (r < 0) return HresultFromErrno(-r);
        if (companion.value != c->manualValue) mode = VideoProcAmp_Flags_Auto;
    }
    long min, max, step, def;
    HostRange(*c, &min, &max, &step, &def);
    *value = std::clamp(ToHost(*c, control.value), min, max);
    *flags = mode;
    return S_OK;
}

HRESULT DeviceControls::Set(bool camera, long property, long value, long flags) const {
    const Control* c = Find(camera, property);
    if (!c) return E_PROP_ID_UNSUPPORTED;
    if (flags == VideoProcAmp_Flags_Auto) {
        if (!c->hasAuto) return E_INVALIDARG;
        // The device picks the value itself; drivers refuse writes to it meanwhile.
        v4l2_control companion{c->mapping->autoId, static_cast<int32_t>(c->autoValue)};
        const int r = m_api->Ioctl(m_fd, VIDIOC_S_CTRL, &companion);
        return r < 0 ? HresultFromErrno(-r) : S_OK;
    }
    if (flags != VideoProcAmp_Flags_Manual || !c->hasManual) return E_INVALIDARG;
    long min, max, step, def;
    HostRange(*c, &min, &max, &step, &def);
    if (value < min || value > max) return E_INVALIDARG;
    if (c->hasAuto) {
        v4l2_control companion{c->mapping->autoId, 0};
        int r = m_api->Ioctl(m_fd, VIDIOC_G_CTRL, &companion);
        if (r == 0 && companion.value != c->manualValue) {
            companion.value = static_cast<int32_t>(c->manualValue);
            r = m_api->Ioctl(m_fd, VIDIOC_S_CTRL, &companion);
        }
        if (r < 0) return HresultFromErrno(-r);
    }
    v4l2_control control{c->mapping->id, static_cast<int32_t>(ToDevice(*c, value))};
    const int r = m_api->Ioctl(m_fd, VIDIOC_S_CTRL, &control);
    return r < 0 ? HresultFromErrno(-r) : S_OK;
}

}  // namespace lumacap::hw::v4l2
