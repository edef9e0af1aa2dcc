// The virtual cameras and microphones: their state and controls, and the category providers.
#include "platform/system/hw/VirtualDevices.h"

#include <algorithm>
#include <cstring>

#include <streams.h>

#include "platform/system/com/DeviceRegistry.h"
#include "platform/sim/ResetHooks.h"
#include "platform/system/win/CodePage.h"

namespace lumacap::hw {

// ---- DeviceBase ---------------------------------------------------------------------------------

void DeviceBase::SetPlugged(bool plugged) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_plugged.exchange(plugged) == plugged) return;
    for (DeviceListener* listener : m_listeners) listener->OnDevicePresence(plugged);
}

void DeviceBase::Attach(DeviceListener* listener) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_listeners.push_back(listener);
}

void DeviceBase::Detach(DeviceListener* listener) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_listeners.erase(std::remove(m_listeners.begin(), m_listeners.end(), listener),
                      m_listeners.end());
}

// ---- CameraDevice -------------------------------------------------------------------------------

CameraDevice::CameraDevice(const sim::VirtualCameraConfig& config) : m_config(config) {
    ResetControls();
}

sim::VirtualCameraConfig CameraDevice::Config() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_config;
}

void CameraDevice::SetConfig(const sim::VirtualCameraConfig& config) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_config = config;
    }
    ResetControls();
}

void CameraDevice::ResetControls() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_procAmp.clear();
    m_cameraControl.clear();
    auto fill = [](const std::map<long, sim::ControlRange>& ranges, std::map<long, Value>& values) {
        for (const auto& [property, range] : ranges)
            values[property] = {range.defaultValue,
                                range.canBeAutomatic && range.automaticByDefault ? 1L : 2L};
    };
    fill(m_config.videoProcAmp, m_procAmp);
    fill(m_config.cameraControl, m_cameraControl);
    ++m_controlsVersion;
}

HRESULT CameraDevice::GetRange(bool camera, long property, long* min, long* max, long* step,
                               long* def, long* flags) const {
    if (!min || !max || !step || !def || !flags) return E_POINTER;
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto& ranges = camera ? m_config.cameraControl : m_config.videoProcAmp;
    auto it = ranges.find(property);
    if (it == ranges.end()) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    *min = it->second.minimum;
    *max = it->second.maximum;
    *step = it->second.step;
    *def = it->second.defaultValue;
    *flags = 2 | (it->second.canBeAutomatic ? 1 : 0);
    return S_OK;
}

HRESULT CameraDevice::Set(bool camera, long property, long value, long flags) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto& ranges = camera ? m_config.cameraControl : m_config.videoProcAmp;
        auto it = ranges.find(property);
        if (it == ranges.end()) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        const sim::ControlRange& range = it->second;
        if (flags != 1 && flags != 2) return E_INVALIDARG;
        if (flags == 1 && !range.canBeAutomatic) return E_INVALIDARG;
        if (value < range.minimum || value > range.maximum) return E_INVALIDARG;
        auto& values = camera ? m_cameraControl : m_procAmp;
        values[property] = {value, flags};
    }
    ++m_controlsVersion;
    return S_OK;
}

HRESULT CameraDevice::Get(bool camera, long property, long* value, long* flags) const {
    if (!value || !flags) return E_POINTER;
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto& values = camera ? m_cameraControl : m_procAmp;
    auto it = values.find(property);
    if (it == values.end()) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    *value = it->second.value;
    *flags = it->second.flags;
    return S_OK;
}

sim::VirtualMicrophoneConfig MicrophoneDevice::Config() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_config;
}

void MicrophoneDevice::SetConfig(const sim::VirtualMicrophoneConfig& config) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_config = config;
}

// ---- media types --------------------------------------------------------------------------------

GUID SubtypeOfName(const std::string& name) {
    if (name == "RGB24") return MEDIASUBTYPE_RGB24;
    if (name == "RGB32") return MEDIASUBTYPE_RGB32;
    // A four-character code: the FOURCC subtype family.
    GUID g = MEDIASUBTYPE_YUY2;
    uint32_t fourcc = 0;
    for (size_t i = 0; i < 4; ++i)
        fourcc |= static_cast<uint32_t>(i < name.size() ? static_cast<uint8_t>(name[i]) : ' ')
                  << (8 * i);
    g.Data1 = fourcc;
    return g;
}

bool CapabilityMediaType(const sim::VideoCapability& cap, AM_MEDIA_TYPE* mt) {
    std::memset(mt, 0, sizeof(*mt));
    const GUID subtype = SubtypeOfName(cap.subtype);
    BITMAPINFOHEADER bih{};
    bih.biSize = sizeof(BITMAPINFOHEADER);
    bih.biWidth = static_cast<LONG>(cap.width);
    bih.biHeight = static_cast<LONG>(cap.height);
    bih.biPlanes = 1;
    if (subtype == MEDIASUBTYPE_RGB24) {
        bih.biBitCount = 24;
        bih.biCompression = BI_RGB;
    } else if (subtype == MEDIASUBTYPE_RGB32) {
        bih.biBitCount = 32;
        bih.biCompression = BI_RGB;
    } else {
        // 4:2:0 formats carry 12 bits a pixel, packed 4:2:2 ones 16.
        const bool yuv420 = subtype == MEDIASUBTYPE_NV12 || subtype == MEDIASUBTYPE_I420 ||
                            subtype == MEDIASUBTYPE_IYUV;
        bih.biBitCount = subtype == MEDIASUBTYPE_MJPG ? 24 : yuv420 ? 12 : 16;
        bih.biCompression = subtype.Data1;
    }
    if (subtype == MEDIASUBTYPE_MJPG)
        bih.biSizeImage = static_cast<DWORD>(cap.width * cap.height * 2);
    else
        bih.biSizeImage = GetBitmapSize(&bih);
    const REFERENCE_TIME frameTime =
        cap.framesPerSecond > 0 ? static_cast<REFERENCE_TIME>(10000000.0 / cap.framesPerSecond)
                                : 333333;
    const DWORD bitRate = static_cast<DWORD>(static_cast<double>(bih.biSizeImage) * 8.0 *
                                             (cap.framesPerSecond > 0 ? cap.framesPerSecond : 30));

    mt->majortype = MEDIATYPE_Video;
    mt->subtype = subtype;
    mt->bFixedSizeSamples = subtype == MEDIASUBTYPE_MJPG ? FALSE : TRUE;
    mt->bTemporalCompression = FALSE;
    mt->lSampleSize = bih.biSizeImage;
    if (cap.videoInfo2) {
        auto* vih2 = static_cast<VIDEOINFOHEADER2*>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER2)));
        if (!vih2) return false;
        std::memset(vih2, 0, sizeof(*vih2));
        vih2->AvgTimePerFrame = frameTime;
        vih2->dwBitRate = bitRate;
        vih2->dwPictAspectRatioX = static_cast<DWORD>(cap.width);
        vih2->dwPictAspectRatioY = static_cast<DWORD>(cap.height);
        vih2->bmiHeader = bih;
        mt->formattype = FORMAT_VideoInfo2;
        mt->cbFormat = sizeof(VIDEOINFOHEADER2);
        mt->pbFormat = reinterpret_cast<BYTE*>(vih2);
    } else {
        auto* vih = static_cast<VIDEOINFOHEADER*>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
        if (!vih) return false;
        std::memset(vih, 0, sizeof(*vih));
        vih->AvgTimePerFrame = frameTime;
        vih->dwBitRate = bitRate;
        vih->bmiHeader = bih;
        mt->formattype = FORMAT_VideoInfo;
        mt->cbFormat = sizeof(VIDEOINFOHEADER);
        mt->pbFormat = reinterpret_cast<BYTE*>(vih);
    }
    return true;
}

// ---- the lists and their category providers -----------------------------------------------------

std::mutex& DeviceListMutex() {
    static std::mutex m;
    return m;
}
std::vector<std::shared_ptr<CameraDevice>>& CameraList() {
    static std::vector<std::shared_ptr<CameraDevice>> list;
    return list;
}
std::vector<std::shared_ptr<MicrophoneDevice>>& MicrophoneList() {
    static std::vector<std::shared_ptr<MicrophoneDevice>> list;
    return list;
}

void RestoreDefaultDevices() {
    std::vector<std::shared_ptr<CameraDevice>> oldCameras;
    std::vector<std::shared_ptr<MicrophoneDevice>> oldMicrophones;
    {
        std::lock_guard<std::mutex> lock(DeviceListMutex());
        oldCameras.swap(CameraList());
        oldMicrophones.swap(MicrophoneList());
        CameraList().push_back(std::make_shared<CameraDevice>(sim::DefaultCameraConfig()));
        MicrophoneList().push_back(
            std::make_shared<MicrophoneDevice>(sim::DefaultMicrophoneConfig()));
    }
}

namespace {

std::wstring Wide(const std::string& gbk) {
    return win::ToWide(gbk, 0);
}

void ProvideCameras(std::vector<com::DeviceEntry>& out) {
    std::lock_guard<std::mutex> lock(DeviceListMutex());
    for (const auto& device : CameraList()) {
        if (!device->Plugged()) continue;
        const sim::VirtualCameraConfig config = device->Config();
        com::DeviceEntry entry;
        entry.displayName = Wide(config.displayName);
        entry.properties = {{L"FriendlyName", Wide(config.friendlyName)},
                            {L"DevicePath", Wide(config.displayName)},
                            {L"Description", L"Lumacap virtual camera"}};
        std::weak_ptr<CameraDevice> weak = device;
        entry.bind = [weak](REFIID riid, void** ppv) -> HRESULT {
            auto device = weak.lock();
            if (!device || !device->Plugged())
                return HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
            return CreateVirtualCameraFilter(device, riid, ppv);
        };
        out.push_back(std::move(entry));
    }
}

void ProvideMicrophones(std::vector<com::DeviceEntry>& out) {
    std::lock_guard<std::mutex> lock(DeviceListMutex());
    for (const auto& device : MicrophoneList()) {
        if (!device->Plugged()) continue;
        const sim::VirtualMicrophoneConfig config = device->Config();
        com::DeviceEntry entry;
        entry.displayName = Wide(config.displayName);
        entry.properties = {{L"FriendlyName", Wide(config.friendlyName)},
                            {L"Description", L"Lumacap virtual microphone"}};
        std::weak_ptr<MicrophoneDevice> weak = device;
        entry.bind = [weak](REFIID riid, void** ppv) -> HRESULT {
            auto device = weak.lock();
            if (!device || !device->Plugged())
                return HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
            return CreateVirtualMicrophoneFilter(device, riid, ppv);
        };
        out.push_back(std::move(entry));
    }
}

// Real devices (V4L2, ALSA) will register with a lower order, so the virtual ones come last.
const com::DeviceProviderRegistration s_cameras(CLSID_VideoInputDeviceCategory, 100,
                                                ProvideCameras);
const com::DeviceProviderRegistration s_microphones(CLSID_AudioInputDeviceCategory, 100,
                                                    ProvideMicrophones);
const sim::detail::ResetHookRegistration s_reset(RestoreDefaultDevices);

// The lists start with the defaults, as a machine starts with its devices plugged in.
const bool s_initialised = [] {
    RestoreDefaultDevices();
    return true;
}();

}  // namespace
}  // namespace lumacap::hw
