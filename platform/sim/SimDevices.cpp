// The simulation controls of the virtual devices (lumacap/sim_devices.h).
#include <lumacap/sim.h>

#include <algorithm>

#include "platform/system/hw/TestPattern.h"
#include "platform/system/hw/VirtualDevices.h"

namespace lumacap::sim {

using hw::CameraDevice;
using hw::CameraList;
using hw::DeviceListMutex;
using hw::MicrophoneDevice;
using hw::MicrophoneList;

VirtualCameraConfig DefaultCameraConfig() {
    VirtualCameraConfig c;
    c.friendlyName = "Lumacap Virtual Camera";
    c.displayName =
        "@device:pnp:\\\\?\\usb#vid_1d6b&pid_0102&mi_00#7&2a5c1e3f&0&0000#{65e8773d-8f56-11d0-a3b9-"
        "00a0c9223196}\\global";
    // The capture formats of a typical USB webcam: uncompressed YUY2 (slower at large sizes),
    // MJPEG at full rate, and RGB24 at the small sizes.
    c.capabilities = {
        {"YUY2", 640, 480, 30.0, false},   {"YUY2", 320, 240, 30.0, false},
        {"YUY2", 352, 288, 30.0, false},   {"YUY2", 800, 600, 20.0, false},
        {"YUY2", 1280, 720, 10.0, false},  {"YUY2", 1920, 1080, 5.0, false},
        {"MJPG", 640, 480, 30.0, false},   {"MJPG", 320, 240, 30.0, false},
        {"MJPG", 800, 600, 30.0, false},   {"MJPG", 1280, 720, 30.0, false},
        {"MJPG", 1920, 1080, 30.0, false}, {"RGB24", 640, 480, 30.0, false},
        {"RGB24", 320, 240, 30.0, false},
    };
    c.capabilityRecordSize = 128;
    c.defaultCapability = 0;
    c.videoProcAmp = {
        {0, {-64, 64, 1, 0, false, false}},       // brightness
        {1, {0, 95, 1, 32, false, false}},        // contrast
        {2, {-40, 40, 1, 0, false, false}},       // hue
        {3, {0, 100, 1, 64, false, false}},       // saturation
        {4, {0, 7, 1, 2, false, false}},          // sharpness
        {5, {72, 500, 1, 100, false, false}},     // gamma
        {7, {2800, 6500, 10, 4600, true, true}},  // white balance
        {8, {0, 2, 1, 1, false, false}},          // backlight compensation
        {9, {0, 100, 1, 0, false, false}},        // gain
    };
    c.cameraControl = {
        {4, {-13, -1, 1, -6, true, true}},  // exposure (log2 seconds)
        {6, {0, 250, 5, 0, true, true}},    // focus
    };
    return c;
}

VirtualMicrophoneConfig DefaultMicrophoneConfig() {
    VirtualMicrophoneConfig m;
    m.friendlyName = "Lumacap Virtual Microphone";
    m.displayName =
        "@device:cm:{33D9A762-90C8-11D0-BD43-00A0C911CE86}\\wave:{7C3D1A52-0B8E-4C1F-9E5A-"
        "2F6B8D4C1A90}";
    m.formats = {{44100, 16, 2}, {44100, 16, 1}, {22050, 16, 2}, {22050, 16, 1},
                 {11025, 16, 2}, {11025, 16, 1}, {11025, 8, 1},  {8000, 16, 1}};
    m.defaultFormat = 0;
    m.toneFrequency = 440.0;
    m.amplitude = 0.5;
    m.silence = false;
    return m;
}

namespace {

template <class List>
bool ValidPosition(const List& list, int position) {
    return position >= 0 && position < static_cast<int>(list.size());
}

template <class List, class Device>
int Insert(List& list, std::shared_ptr<Device> device, int position) {
    if (position < 0 || position > static_cast<int>(list.size()))
        position = static_cast<int>(list.size());
    list.insert(list.begin() + position, std::move(device));
    return position;
}

template <class List>
bool Move(List& list, int from, int to) {
    if (!ValidPosition(list, from) || !ValidPosition(list, to)) return false;
    auto device = list[static_cast<size_t>(from)];
    list.erase(list.begin() + from);
    list.insert(list.begin() + to, device);
    return true;
}

template <class Device>
std::shared_ptr<Device> At(std::vector<std::shared_ptr<Device>>& list, int position) {
    std::lock_guard<std::mutex> lock(DeviceListMutex());
    return ValidPosition(list, position) ? list[static_cast<size_t>(position)] : nullptr;
}

}  // namespace

int CameraCount() {
    std::lock_guard<std::mutex> lock(DeviceListMutex());
    return static_cast<int>(CameraList().size());
}

int AddCamera(const VirtualCameraConfig& config, int position) {
    auto device = std::make_shared<CameraDevice>(config);
    std::lock_guard<std::mutex> lock(DeviceListMutex());
    return Insert(CameraList(), std::move(device), position);
}

bool RemoveCamera(int position) {
    std::shared_ptr<CameraDevice> removed;
    {
        std::lock_guard<std::mutex> lock(DeviceListMutex());
        if (!ValidPosition(CameraList(), position)) return false;
        removed = CameraList()[static_cast<size_t>(position)];
        CameraList().erase(CameraList().begin() + position);
    }
    // Filters still bound to it see it go, as with an unplug.
    removed->SetPlugged(false);
    return true;
}

void RemoveAllCameras() {
    std::vector<std::shared_ptr<CameraDevice>> removed;
    {
        std::lock_guard<std::mutex> lock(DeviceListMutex());
        removed.swap(CameraList());
    }
    for (auto& device : removed) device->SetPlugged(false);
}

bool MoveCamera(int from, int to) {
    std::lock_guard<std::mutex> lock(DeviceListMutex());
    return Move(CameraList(), from, to);
}

bool ConfigureCamera(int position, const VirtualCameraConfig& config) {
    auto device = At(CameraList(), position);
    if (!device) return false;
    device->SetConfig(config);
    return true;
}

VirtualCameraConfig GetCameraConfig(int position) {
    auto device = At(CameraList(), position);
    return device ? device->Config() : VirtualCameraConfig{};
}

bool UnplugCamera(int position) {
    auto device = At(CameraList(), position);
    if (!device) return false;
    device->SetPlugged(false);
    return true;
}

bool ReplugCamera(int position) {
    auto device = At(CameraList(), position);
    if (!device) return false;
    device->SetPlugged(true);
    return true;
}

bool GetCameraControl(int position, bool cameraControl, long property, long* value, long* flags) {
    auto device = At(CameraList(), position);
    return device && SUCCEEDED(device->Get(cameraControl, property, value, flags));
}

long CameraFramesDelivered(int position) {
    auto device = At(CameraList(), position);
    return device ? device->framesDelivered.load() : 0;
}

int MicrophoneCount() {
    std::lock_guard<std::mutex> lock(DeviceListMutex());
    return static_cast<int>(MicrophoneList().size());
}

int AddMicrophone(const VirtualMicrophoneConfig& config, int position) {
    auto device = std::make_shared<MicrophoneDevice>(config);
    std::lock_guard<std::mutex> lock(DeviceListMutex());
    return Insert(MicrophoneList(), std::move(device), position);
}

bool RemoveMicrophone(int position) {
    std::shared_ptr<MicrophoneDevice> removed;
    {
        std::lock_guard<std::mutex> lock(DeviceListMutex());
        if (!ValidPosition(MicrophoneList(), position)) return false;
        removed = MicrophoneList()[static_cast<size_t>(position)];
        MicrophoneList().erase(MicrophoneList().begin() + position);
    }
    removed->SetPlugged(false);
    return true;
}

void RemoveAllMicrophones() {
    std::vector<std::shared_ptr<MicrophoneDevice>> removed;
    {
        std::lock_guard<std::mutex> lock(DeviceListMutex());
        removed.swap(MicrophoneList());
    }
    for (auto& device : removed) device->SetPlugged(false);
}

bool MoveMicrophone(int from, int to) {
    std::lock_guard<std::mutex> lock(DeviceListMutex());
    return Move(MicrophoneList(), from, to);
}

bool ConfigureMicrophone(int position, const VirtualMicrophoneConfig& config) {
    auto device = At(MicrophoneList(), position);
    if (!device) return false;
    device->SetConfig(config);
    return true;
}

VirtualMicrophoneConfig GetMicrophoneConfig(int position) {
    auto device = At(MicrophoneList(), position);
    return device ? device->Config() : VirtualMicrophoneConfig{};
}

bool UnplugMicrophone(int position) {
    auto device = At(MicrophoneList(), position);
    if (!device) return false;
    device->SetPlugged(false);
    return true;
}

bool ReplugMicrophone(int position) {
    auto device = At(MicrophoneList(), position);
    if (!device) return false;
    device->SetPlugged(true);
    return true;
}

long ReadFrameNumber(const unsigned char* bgrBottomUp, long width, long height) {
    return hw::ReadStamp(bgrBottomUp, width, height);
}

bool TestPatternBarColor(int bar, unsigned char* blue, unsigned char* green, unsigned char* red) {
    if (bar < 0 || bar > 7 || !blue || !green || !red) return false;
    hw::BarColor(bar, blue, green, red);
    return true;
}

}  // namespace lumacap::sim
