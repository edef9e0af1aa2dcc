// The V4L2 camera's filter: the device file, its controls, property pages and presence.
#include <cstring>

#include "platform/sim/Faults.h"
#include "platform/system/hw/v4l2/V4l2Capture.h"

namespace lumacap::hw::v4l2 {
namespace {

// {B8A3E0A2-54D7-4E0F-9C1B-6F3A2D7C8E02}: the V4L2 camera's filter class.
constexpr GUID CLSID_LumacapV4l2Camera = {
    0xB8A3E0A2, 0x54D7, 0x4E0F, {0x9C, 0x1B, 0x6F, 0x3A, 0x2D, 0x7C, 0x8E, 0x02}};
// The property pages of video processing and camera control.
constexpr GUID CLSID_VideoProcAmpPropertyPage = {
    0x71F96464, 0x78F3, 0x11D0, {0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56}};
constexpr GUID CLSID_CameraControlPropertyPage = {
    0x71F96465, 0x78F3, 0x11D0, {0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56}};

std::vector<Capability> CapabilitiesOf(DeviceFile& device) {
    if (device.fd < 0) return {};
    return DiscoverCapabilities(*device.api, device.fd);
}

}  // namespace

V4l2CaptureFilter::V4l2CaptureFilter(std::shared_ptr<Api> api, const NodeInfo& node, HRESULT* phr)
    : LiveSourceFilter(NAME("V4L2 camera"), CLSID_LumacapV4l2Camera),
      m_device(api, node.name),
      m_node(node),
      m_cameraControl(this),
      m_pin(phr, this, m_device, CapabilitiesOf(m_device)) {
    if (m_device.fd < 0) {
        *phr = HresultFromErrno(-m_device.fd);
        return;
    }
    // Another camera may have taken the node since it was listed.
    if (!SameCamera(*api, m_device.fd, node.Key())) {
        *phr = HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
        return;
    }
    m_controls.Discover(api.get(), m_device.fd);
}

V4l2CaptureFilter::~V4l2CaptureFilter() {
    if (m_watching) UnwatchCamera(this);
}

STDMETHODIMP V4l2CaptureFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IAMVideoProcAmp) return GetInterface(static_cast<IAMVideoProcAmp*>(this), ppv);
    if (riid == IID_IAMCameraControl) return GetInterface(&m_cameraControl, ppv);
    if (riid == IID_ISpecifyPropertyPages)
        return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
    return LiveSourceFilter::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP V4l2CaptureFilter::JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) {
    const HRESULT hr = LiveSourceFilter::JoinFilterGraph(pGraph, pName);
    if (FAILED(hr)) return hr;
    if (pGraph && !m_watching && m_device.fd >= 0) {
        WatchCamera(m_device.api, this, m_node.name, m_node.Key());
        m_watching = true;
    } else if (!pGraph && m_watching) {
        UnwatchCamera(this);
        m_watching = false;
    }
    return hr;
}

void V4l2CaptureFilter::SetPresence(bool present) {
    if (!present) m_lossSeen = true;
    if (m_present.exchange(present) == present) return;
    NotifyPresence(present);
}

void V4l2CaptureFilter::StreamLost() {
    if (m_lossSeen.exchange(true)) return;
    if (m_present.exchange(false)) NotifyPresence(false);
}

STDMETHODIMP V4l2CaptureFilter::GetRange(long Property, long* pMin, long* pMax,
                                         long* pSteppingDelta, long* pDefault, long* pCapsFlags) {
    LUMACAP_FAULT_POINT("IAMVideoProcAmp::GetRange");
    return m_controls.GetRange(false, Property, pMin, pMax, pSteppingDelta, pDefault, pCapsFlags);
}

STDMETHODIMP V4l2CaptureFilter::Set(long Property, long lValue, long Flags) {
    LUMACAP_FAULT_POINT("IAMVideoProcAmp::Set");
    return m_controls.Set(false, Property, lValue, Flags);
}

STDMETHODIMP V4l2CaptureFilter::Get(long Property, long* lValue, long* Flags) {
    LUMACAP_FAULT_POINT("IAMVideoProcAmp::Get");
    return m_controls.Get(false, Property, lValue, Flags);
}

STDMETHODIMP V4l2CaptureFilter::CameraControl::GetRange(long Property, long* pMin, long* pMax,
                                                        long* pStep, long* pDefault, long* pFlags) {
    LUMACAP_FAULT_POINT("IAMCameraControl::GetRange");
    return m_filter->m_controls.GetRange(true, Property, pMin, pMax, pStep, pDefault, pFlags);
}

STDMETHODIMP V4l2CaptureFilter::CameraControl::Set(long Property, long lValue, long Flags) {
    LUMACAP_FAULT_POINT("IAMCameraControl::Set");
    return m_filter->m_controls.Set(true, Property, lValue, Flags);
}

STDMETHODIMP V4l2CaptureFilter::CameraControl::Get(long Property, long* lValue, long* Flags) {
    LUMACAP_FAULT_POINT("IAMCameraControl::Get");
    return m_filter->m_controls.Get(true, Property, lValue, Flags);
}

// The pages of the controls the device has; the property frame draws them from the device.
STDMETHODIMP V4l2CaptureFilter::GetPages(CAUUID* pPages) {
    LUMACAP_FAULT_POINT("ISpecifyPropertyPages::GetPages");
    if (!pPages) return E_POINTER;
    std::vector<GUID> pages;
    if (m_controls.HasAny(false)) pages.push_back(CLSID_VideoProcAmpPropertyPage);
    if (m_controls.HasAny(true)) pages.push_back(CLSID_CameraControlPropertyPage);
    pPages->cElems = static_cast<ULONG>(pages.size());
    pPages->pElems = nullptr;
    if (pages.empty()) return S_OK;
    pPages->pElems = static_cast<GUID*>(CoTaskMemAlloc(pages.size() * sizeof(GUID)));
    if (!pPages->pElems) {
        pPages->cElems = 0;
        return E_OUTOFMEMORY;
    }
    std::memcpy(pPages->pElems, pages.data(), pages.size() * sizeof(GUID));
    return S_OK;
}

HRESULT CreateV4l2CaptureFilter(const std::shared_ptr<Api>& api, const NodeInfo& node, REFIID riid,
                                void** ppv) {
    return CreateComInstance<V4l2CaptureFilter>(nullptr, riid, ppv, api, node);
}

}  // namespace lumacap::hw::v4l2
