// The virtual devices behind the video and audio input categories. The simulation controls keep
// them in two lists; filters bound from a device's moniker share the device object, so controls
// set through one filter are seen by the next (as with hardware), and unplugging reaches every
// filter of the device.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include <lumacap/sim_devices.h>
#include <strmif.h>

namespace lumacap::hw {

// A filter bound to a device hears of its removal (false) and return (true).
class DeviceListener {
public:
    virtual void OnDevicePresence(bool present) = 0;

protected:
    ~DeviceListener() = default;
};

class DeviceBase {
public:
    bool Plugged() const { return m_plugged.load(); }
    void SetPlugged(bool plugged);
    void Attach(DeviceListener* listener);
    void Detach(DeviceListener* listener);

protected:
    ~DeviceBase() = default;
    mutable std::mutex m_mutex;
    std::atomic<bool> m_plugged{true};
    std::vector<DeviceListener*> m_listeners;
};

class CameraDevice : public DeviceBase {
public:
    explicit CameraDevice(const sim::VirtualCameraConfig& config);

    sim::VirtualCameraConfig Config() const;
    void SetConfig(const sim::VirtualCameraConfig& config);

    // The device's controls; `camera` selects IAMCameraControl, otherwise IAMVideoProcAmp.
    HRESULT GetRange(bool camera, long property, long* min, long* max, long* step, long* def,
                     long* flags) const;
    HRESULT Set(bool camera, long property, long value, long flags);
    HRESULT Get(bool camera, long property, long* value, long* flags) const;
    // Changes whenever a control changes, so a streaming pin notices cheaply.
    uint32_t ControlsVersion() const { return m_controlsVersion.load(); }

    std::atomic<long> framesDelivered{0};

private:
    struct Value {
        long value;
        long flags;
    };
    void ResetControls();

    sim::VirtualCameraConfig m_config;
    std::map<long, Value> m_procAmp;
    std::map<long, Value> m_cameraControl;
    std::atomic<uint32_t> m_controlsVersion{0};
};

class MicrophoneDevice : public DeviceBase {
public:
    explicit MicrophoneDevice(const sim::VirtualMicrophoneConfig& config) : m_config(config) {}
    sim::VirtualMicrophoneConfig Config() const;
    void SetConfig(const sim::VirtualMicrophoneConfig& config);

private:
    sim::VirtualMicrophoneConfig m_config;
};

// The lists of the simulation (positions as lumacap::sim counts them).
std::mutex& DeviceListMutex();
std::vector<std::shared_ptr<CameraDevice>>& CameraList();
std::vector<std::shared_ptr<MicrophoneDevice>>& MicrophoneList();
void RestoreDefaultDevices();

// New filters for a device, answering `riid`.
HRESULT CreateVirtualCameraFilter(const std::shared_ptr<CameraDevice>& device, REFIID riid,
                                  void** ppv);
HRESULT CreateVirtualMicrophoneFilter(const std::shared_ptr<MicrophoneDevice>& device, REFIID riid,
                                      void** ppv);

// The media type of a camera capability (a VIDEOINFOHEADER or VIDEOINFOHEADER2 block).
bool CapabilityMediaType(const sim::VideoCapability& cap, AM_MEDIA_TYPE* mt);
GUID SubtypeOfName(const std::string& name);

}  // namespace lumacap::hw
