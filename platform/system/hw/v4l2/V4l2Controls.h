// A V4L2 camera's controls as IAMVideoProcAmp and IAMCameraControl number and scale them: the
// property numbers map to V4L2 control ids, pan and tilt go from arc-seconds to degrees, exposure
// from 100-microsecond units to log2 seconds, and each auto mode to its companion control.
#pragma once

#include <linux/videodev2.h>

#include <cstdint>
#include <mutex>
#include <vector>

#include <winerror.h>

#include "platform/system/hw/v4l2/V4l2Api.h"

namespace lumacap::hw::v4l2 {

class DeviceControls {
public:
    // Reads which of the mapped controls the device has and their ranges; the device's fd stays
    // its owner's.
    void Discover(Api* api, int fd);

    // `camera` selects IAMCameraControl's numbering, otherwise IAMVideoProcAmp's. Unknown
    // properties answer E_PROP_ID_UNSUPPORTED; values outside the range or modes the control does
    // not have answer E_INVALIDARG (the kernel would clamp; the media framework refuses).
    HRESULT GetRange(bool camera, long property, long* min, long* max, long* step, long* def,
                     long* flags) const;
    HRESULT Get(bool camera, long property, long* value, long* flags) const;
    HRESULT Set(bool camera, long property, long value, long flags) const;
    bool HasAny(bool camera) const;

private:
    enum class Scale { kNone, kArcSeconds, kExposure };
    struct Mapping {
        bool camera;
        long property;
        uint32_t id;
        uint32_t autoId;  // 0: no auto mode
        Scale scale;
    };
    struct Control {
        const Mapping* mapping;
        v4l2_queryctrl query;
        bool hasAuto = false;
        bool hasManual = true;
        long autoValue = 1;    // what the companion is set to for auto
        long manualValue = 0;  // and for manual
    };

    const Control* Find(bool camera, long property) const;
    long ToHost(const Control& c, long deviceValue) const;
    long ToDevice(const Control& c, long hostValue) const;
    void HostRange(const Control& c, long* min, long* max, long* step, long* def) const;

    static const Mapping kMappings[];
    Api* m_api = nullptr;
    int m_fd = -1;
    std::vector<Control> m_controls;
};

}  // namespace lumacap::hw::v4l2
