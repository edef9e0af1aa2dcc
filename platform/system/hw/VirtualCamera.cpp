// The virtual camera's capture filter: a live source with one capture pin. It streams only while
// the graph runs, paced by the real monotonic clock (kernel waits use real time, and a camera
// does not stop when a test freezes timeGetTime), and reports its own removal and return.
#include <algorithm>
#include <chrono>
#include <cstring>

#include <streams.h>

#include "platform/system/dshow/VideoFormat.h"
#include "platform/system/hw/LiveSource.h"
#include "platform/system/hw/TestPattern.h"
#include "platform/system/hw/VirtualDevices.h"
#include "platform/sim/Faults.h"

namespace lumacap::hw {
namespace {

// {B8A3E0A1-54D7-4E0F-9C1B-6F3A2D7C8E01}: the virtual camera's filter class.
constexpr GUID CLSID_LumacapVirtualCamera = {
    0xB8A3E0A1, 0x54D7, 0x4E0F, {0x9C, 0x1B, 0x6F, 0x3A, 0x2D, 0x7C, 0x8E, 0x01}};
// The property pages of video processing and camera control.
constexpr GUID CLSID_VideoProcAmpPropertyPage = {
    0x71F96464, 0x78F3, 0x11D0, {0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56}};
constexpr GUID CLSID_CameraControlPropertyPage = {
    0x71F96465, 0x78F3, 0x11D0, {0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56}};

using Clock = std::chrono::steady_clock;

class VirtualCameraFilter;

class VirtualCameraPin final : public CSourceStream, public IAMStreamConfig, public IKsPropertySet {
public:
    VirtualCameraPin(HRESULT* phr, VirtualCameraFilter* filter,
                     std::shared_ptr<CameraDevice> device);

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IAMStreamConfig)
            return GetInterface(static_cast<IAMStreamConfig*>(this), ppv);
        if (riid == IID_IKsPropertySet)
            return GetInterface(static_cast<IKsPropertySet*>(this), ppv);
        return CSourceStream::NonDelegatingQueryInterface(riid, ppv);
    }

    // IAMStreamConfig
    STDMETHODIMP SetFormat(AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP GetFormat(AM_MEDIA_TYPE** ppmt) override;
    STDMETHODIMP GetNumberOfCapabilities(int* piCount, int* piSize) override;
    STDMETHODIMP GetStreamCaps(int iIndex, AM_MEDIA_TYPE** ppmt, BYTE* pSCC) override;

    // IKsPropertySet: the pin's category.
    STDMETHODIMP Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Get(REFGUID guidPropSet, DWORD dwPropID, LPVOID, DWORD, LPVOID pPropData,
                     DWORD cbPropData, DWORD* pcbReturned) override {
        if (guidPropSet != AMPROPSETID_Pin || dwPropID != AMPROPERTY_PIN_CATEGORY)
            return E_PROP_ID_UNSUPPORTED;
        if (!pPropData && !pcbReturned) return E_POINTER;
        if (pcbReturned) *pcbReturned = sizeof(GUID);
        if (!pPropData) return S_OK;
        if (cbPropData < sizeof(GUID)) return E_UNEXPECTED;
        *static_cast<GUID*>(pPropData) = PIN_CATEGORY_CAPTURE;
        return S_OK;
    }
    STDMETHODIMP QuerySupported(REFGUID guidPropSet, DWORD dwPropID, DWORD* pTypeSupport) override {
        if (guidPropSet != AMPROPSETID_Pin || dwPropID != AMPROPERTY_PIN_CATEGORY)
            return E_PROP_ID_UNSUPPORTED;
        if (pTypeSupport) *pTypeSupport = KSPROPERTY_SUPPORT_GET;
        return S_OK;
    }

    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pmt) override;
    HRESULT SetMediaType(const CMediaType* pmt) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) override;
    HRESULT FillBuffer(IMediaSample* pSample) override;
    HRESULT OnThreadCreate() override;
    HRESULT DoBufferProcessingLoop() override;
    HRESULT Run(REFERENCE_TIME tStart) override;
    HRESULT Active() override;

    void SetRunning(bool running) { m_running = running; }
    void SetLost() { m_lost = true; }

private:
    int FindCapability(const AM_MEDIA_TYPE& mt) const;
    bool PrepareRenderer();

    std::shared_ptr<CameraDevice> m_device;
    sim::VirtualCameraConfig m_config;  // as the filter was bound
    CMediaType m_setFormat;             // chosen by SetFormat (invalid: none)
    FrameRenderer m_renderer;
    uint32_t m_controlsVersion = ~0u;
    std::vector<std::vector<uint8_t>> m_replay;
    long m_frameNumber = 0;
    REFERENCE_TIME m_frameTime = 333333;
    Clock::time_point m_nextDue;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_lost{false};
};

// IAMCameraControl has the same method names and signatures as IAMVideoProcAmp, so one class
// cannot implement both: the filter hands out this member for camera control, sharing its identity.
class CameraControl final : public IAMCameraControl {
public:
    CameraControl(IUnknown* owner, CameraDevice* device) : m_owner(owner), m_device(device) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        return m_owner->QueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return m_owner->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return m_owner->Release(); }
    STDMETHODIMP GetRange(long Property, long* pMin, long* pMax, long* pStep, long* pDefault,
                          long* pFlags) override {
        LUMACAP_FAULT_POINT("IAMCameraControl::GetRange");
        return m_device->GetRange(true, Property, pMin, pMax, pStep, pDefault, pFlags);
    }
    STDMETHODIMP Set(long Property, long lValue, long Flags) override {
        LUMACAP_FAULT_POINT("IAMCameraControl::Set");
        return m_device->Set(true, Property, lValue, Flags);
    }
    STDMETHODIMP Get(long Property, long* lValue, long* Flags) override {
        LUMACAP_FAULT_POINT("IAMCameraControl::Get");
        return m_device->Get(true, Property, lValue, Flags);
    }

private:
    IUnknown* m_owner;
    CameraDevice* m_device;
};

class VirtualCameraFilter final : public LiveSourceFilter,
                                  public IAMVideoProcAmp,
                                  public ISpecifyPropertyPages,
                                  public DeviceListener {
public:
    explicit VirtualCameraFilter(std::shared_ptr<CameraDevice> device, HRESULT* phr)
        : LiveSourceFilter(NAME("Virtual camera"), CLSID_LumacapVirtualCamera),
          m_device(std::move(device)),
          m_cameraControl(GetOwner(), m_device.get()),
          m_pin(phr, this, m_device) {
        m_device->Attach(this);
    }
    ~VirtualCameraFilter() override { m_device->Detach(this); }

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IAMVideoProcAmp)
            return GetInterface(static_cast<IAMVideoProcAmp*>(this), ppv);
        if (riid == IID_IAMCameraControl) return GetInterface(&m_cameraControl, ppv);
        if (riid == IID_ISpecifyPropertyPages)
            return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
        return LiveSourceFilter::NonDelegatingQueryInterface(riid, ppv);
    }

    // IAMVideoProcAmp
    STDMETHODIMP GetRange(long Property, long* pMin, long* pMax, long* pSteppingDelta,
                          long* pDefault, long* pCapsFlags) override {
        LUMACAP_FAULT_POINT("IAMVideoProcAmp::GetRange");
        return m_device->GetRange(false, Property, pMin, pMax, pSteppingDelta, pDefault,
                                  pCapsFlags);
    }
    STDMETHODIMP Set(long Property, long lValue, long Flags) override {
        LUMACAP_FAULT_POINT("IAMVideoProcAmp::Set");
        return m_device->Set(false, Property, lValue, Flags);
    }
    STDMETHODIMP Get(long Property, long* lValue, long* Flags) override {
        LUMACAP_FAULT_POINT("IAMVideoProcAmp::Get");
        return m_device->Get(false, Property, lValue, Flags);
    }

    // ISpecifyPropertyPages
    STDMETHODIMP GetPages(CAUUID* pPages) override {
        LUMACAP_FAULT_POINT("ISpecifyPropertyPages::GetPages");
        if (!pPages) return E_POINTER;
        pPages->cElems = 2;
        pPages->pElems = static_cast<GUID*>(CoTaskMemAlloc(2 * sizeof(GUID)));
        if (!pPages->pElems) {
            pPages->cElems = 0;
            return E_OUTOFMEMORY;
        }
        pPages->pElems[0] = CLSID_VideoProcAmpPropertyPage;
        pPages->pElems[1] = CLSID_CameraControlPropertyPage;
        return S_OK;
    }

    void SetDelivering(bool delivering) override { m_pin.SetRunning(delivering); }
    void OnDevicePresence(bool present) override {
        if (!present) m_pin.SetLost();
        NotifyPresence(present);
    }

    CameraDevice& Device() { return *m_device; }

private:
    std::shared_ptr<CameraDevice> m_device;
    CameraControl m_cameraControl;
    VirtualCameraPin m_pin;
};

VirtualCameraPin::VirtualCameraPin(HRESULT* phr, VirtualCameraFilter* filter,
                                   std::shared_ptr<CameraDevice> device)
    : CSourceStream(NAME("Virtual camera capture pin"), phr, filter, L"Capture"),
      m_device(std::move(device)),
      m_config(m_device->Config()) {}

int VirtualCameraPin::FindCapability(const AM_MEDIA_TYPE& mt) const {
    const BITMAPINFOHEADER* header = dshow::VideoHeaderOf(mt);
    if (!header || mt.majortype != MEDIATYPE_Video) return -1;
    for (size_t i = 0; i < m_config.capabilities.size(); ++i) {
        const sim::VideoCapability& cap = m_config.capabilities[i];
        if (SubtypeOfName(cap.subtype) != mt.subtype) continue;
        if (cap.videoInfo2 != (mt.formattype == FORMAT_VideoInfo2)) continue;
        // For RGB the sign of the height is the row order, part of the format: a top-down
        // capability matches only top-down types. YUV rows are always top-down, whatever sign a
        // type carries.
        const bool rgb = mt.subtype == MEDIASUBTYPE_RGB24 || mt.subtype == MEDIASUBTYPE_RGB32;
        const bool heightMatches = rgb ? header->biHeight == cap.height
                                       : std::abs(header->biHeight) == std::abs(cap.height);
        if (header->biWidth != cap.width || !heightMatches) continue;
        return static_cast<int>(i);
    }
    return -1;
}

HRESULT VirtualCameraPin::GetMediaType(int iPosition, CMediaType* pmt) {
    if (!pmt) return E_POINTER;
    if (iPosition < 0) return E_INVALIDARG;
    if (iPosition >= static_cast<int>(m_config.capabilities.size())) return VFW_S_NO_MORE_ITEMS;
    AM_MEDIA_TYPE mt;
    if (!CapabilityMediaType(m_config.capabilities[static_cast<size_t>(iPosition)], &mt))
        return E_OUTOFMEMORY;
    pmt->Set(mt);
    FreeMediaType(mt);
    return S_OK;
}

HRESULT VirtualCameraPin::CheckMediaType(const CMediaType* pmt) {
    if (!pmt) return E_POINTER;
    const int index = FindCapability(*pmt);
    if (index < 0) return VFW_E_TYPE_NOT_ACCEPTED;
    // Once SetFormat chose a format, the pin connects with that one only.
    if (m_setFormat.IsValid() && FindCapability(m_setFormat) != index)
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT VirtualCameraPin::SetMediaType(const CMediaType* pmt) {
    const HRESULT hr = CSourceStream::SetMediaType(pmt);
    if (FAILED(hr)) return hr;
    REFERENCE_TIME frameTime = dshow::FrameTimeOf(*pmt);
    if (frameTime <= 0) frameTime = 333333;
    m_frameTime = frameTime;
    return S_OK;
}

HRESULT VirtualCameraPin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) {
    if (!pAlloc || !pRequest) return E_POINTER;
    const BITMAPINFOHEADER* header = dshow::VideoHeaderOf(m_mt);
    if (!header) return E_UNEXPECTED;
    ALLOCATOR_PROPERTIES request = *pRequest;
    // A few buffers in flight, as a capture driver queues them.
    request.cBuffers = std::max<long>(request.cBuffers, 4);
    request.cbBuffer = std::max<long>(request.cbBuffer, static_cast<long>(header->biSizeImage));
    if (request.cbAlign <= 0) request.cbAlign = 1;
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = pAlloc->SetProperties(&request, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < static_cast<long>(header->biSizeImage) ? E_FAIL : S_OK;
}

bool VirtualCameraPin::PrepareRenderer() {
    const BITMAPINFOHEADER* header = dshow::VideoHeaderOf(m_mt);
    if (!header) return false;
    const bool mjpeg = m_mt.subtype == MEDIASUBTYPE_MJPG;
    const AVPixelFormat format = codecs::PixelFormatOfSubtype(m_mt.subtype);
    if (!mjpeg && !FrameRenderer::CanDraw(format)) return false;
    PatternAdjust adjust;
    long flags = 0;
    long value = 0;
    if (SUCCEEDED(m_device->Get(false, VideoProcAmp_Brightness, &value, &flags)))
        adjust.brightness = value;
    long min, max, step, def, caps;
    if (SUCCEEDED(m_device->Get(false, VideoProcAmp_Contrast, &value, &flags)) &&
        SUCCEEDED(
            m_device->GetRange(false, VideoProcAmp_Contrast, &min, &max, &step, &def, &caps))) {
        adjust.contrast = value;
        adjust.neutralContrast = def;
    }
    m_controlsVersion = m_device->ControlsVersion();
    const int width = header->biWidth;
    const int height = std::abs(header->biHeight);
    // RGB rows run bottom-up unless the height is negative.
    const bool bottomUp = header->biHeight > 0;
    if (m_renderer.Matches(format, mjpeg, width, height, adjust, bottomUp)) return true;
    m_replay.clear();
    return m_renderer.Configure(format, mjpeg, width, height, adjust, bottomUp);
}

HRESULT VirtualCameraPin::OnThreadCreate() {
    m_frameNumber = 0;
    return PrepareRenderer() ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT VirtualCameraPin::Active() {
    m_lost = !m_device->Plugged();
    return CSourceStream::Active();
}

HRESULT VirtualCameraPin::Run(REFERENCE_TIME tStart) {
    m_running = true;
    m_nextDue = Clock::now();
    return CSourceStream::Run();
}

HRESULT VirtualCameraPin::FillBuffer(IMediaSample* pSample) {
    if (m_device->ControlsVersion() != m_controlsVersion && !PrepareRenderer()) return E_FAIL;
    BYTE* data = nullptr;
    pSample->GetPointer(&data);
    const long capacity = pSample->GetSize();
    long written = -1;
    if (m_config.frameSource) {
        written = m_config.frameSource(m_frameNumber, data, capacity);
        if (written < 0) return S_FALSE;  // nothing to deliver yet
        written = std::min(written, capacity);
    } else if (m_config.pictures && !m_config.pictures->empty()) {
        const auto& pictures = *m_config.pictures;
        const auto& picture = pictures[static_cast<size_t>(m_frameNumber) % pictures.size()];
        if (static_cast<long>(picture.size()) > capacity) return E_FAIL;
        std::memcpy(data, picture.data(), picture.size());
        written = static_cast<long>(picture.size());
    } else if (m_config.prerenderedFrames > 0) {
        const size_t slot = static_cast<size_t>(m_frameNumber % m_config.prerenderedFrames);
        if (m_replay.size() <= slot) {
            std::vector<uint8_t> frame(static_cast<size_t>(m_renderer.MaxSize()));
            const long n = m_renderer.Render(static_cast<long>(slot), frame.data(),
                                             static_cast<long>(frame.size()));
            if (n < 0) return E_FAIL;
            frame.resize(static_cast<size_t>(n));
            m_replay.resize(slot + 1);
            m_replay[slot] = std::move(frame);
        }
        const auto& frame = m_replay[slot];
        if (static_cast<long>(frame.size()) > capacity) return E_FAIL;
        std::memcpy(data, frame.data(), frame.size());
        written = static_cast<long>(frame.size());
    } else {
        written = m_renderer.Render(m_frameNumber, data, capacity);
    }
    if (written < 0) return E_FAIL;
    pSample->SetActualDataLength(written);
    REFERENCE_TIME start = m_frameNumber * m_frameTime;
    REFERENCE_TIME stop = start + m_frameTime;
    pSample->SetTime(&start, &stop);
    pSample->SetSyncPoint(TRUE);
    return S_OK;
}

HRESULT VirtualCameraPin::DoBufferProcessingLoop() {
    Command com;
    OnThreadStartPlay();
    const double rate =
        m_config.frameRate > 0 ? m_config.frameRate : 10000000.0 / static_cast<double>(m_frameTime);
    const auto period =
        std::chrono::nanoseconds(static_cast<int64_t>(1e9 / (rate > 0 ? rate : 30.0)));
    for (;;) {
        if (CheckRequest(&com)) {
            if (com == CMD_RUN || com == CMD_PAUSE) {
                Reply(NOERROR);
                continue;
            }
            return S_OK;  // stop and exit are answered by the thread procedure
        }
        // Paused, or the device is gone: nothing to capture until the next request.
        if (!m_running || m_lost) {
            WaitForRequest(50);
            continue;
        }
        if (m_config.paced) {
            const auto now = Clock::now();
            if (now < m_nextDue) {
                const auto wait =
                    std::chrono::duration_cast<std::chrono::milliseconds>(m_nextDue - now).count() +
                    1;
                WaitForRequest(static_cast<DWORD>(wait));
                continue;
            }
            m_nextDue += period;
            // Far behind (a slow consumer): drop the backlog instead of bursting.
            if (m_nextDue + period < now) m_nextDue = now + period;
        }
        IMediaSample* pSample = nullptr;
        HRESULT hr = GetDeliveryBuffer(&pSample, nullptr, nullptr, 0);
        if (FAILED(hr) || !pSample) {
            WaitForRequest(10);
            continue;
        }
        hr = FillBuffer(pSample);
        if (hr == S_FALSE) {
            pSample->Release();
            WaitForRequest(1);
            continue;
        }
        if (hr != S_OK) {
            pSample->Release();
            m_pFilter->NotifyEvent(EC_ERRORABORT, hr, 0);
            WaitForRequest(INFINITE);
            continue;
        }
        hr = Deliver(pSample);
        pSample->Release();
        if (hr != S_OK) return S_OK;  // downstream stopped taking samples
        ++m_frameNumber;
        ++m_device->framesDelivered;
    }
}

STDMETHODIMP VirtualCameraPin::SetFormat(AM_MEDIA_TYPE* pmt) {
    LUMACAP_FAULT_POINT("IAMStreamConfig::SetFormat");
    if (!pmt) return E_POINTER;
    CAutoLock lock(m_pFilter->pStateLock());
    if (!m_pFilter->IsStopped()) return VFW_E_NOT_STOPPED;
    if (FindCapability(*pmt) < 0) return VFW_E_INVALIDMEDIATYPE;
    return ReconnectWithFormat(this, m_pFilter, CMediaType(*pmt), &m_setFormat);
}

STDMETHODIMP VirtualCameraPin::GetFormat(AM_MEDIA_TYPE** ppmt) {
    LUMACAP_FAULT_POINT("IAMStreamConfig::GetFormat");
    if (!ppmt) return E_POINTER;
    CAutoLock lock(m_pFilter->pStateLock());
    if (IsConnected()) {
        *ppmt = CreateMediaType(&m_mt);
    } else if (m_setFormat.IsValid()) {
        *ppmt = CreateMediaType(&m_setFormat);
    } else {
        CMediaType mt;
        const int index =
            std::clamp(m_config.defaultCapability, 0,
                       std::max(0, static_cast<int>(m_config.capabilities.size()) - 1));
        if (GetMediaType(index, &mt) != S_OK) return VFW_E_NO_TYPES;
        *ppmt = CreateMediaType(&mt);
    }
    return *ppmt ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP VirtualCameraPin::GetNumberOfCapabilities(int* piCount, int* piSize) {
    LUMACAP_FAULT_POINT("IAMStreamConfig::GetNumberOfCapabilities");
    if (!piCount || !piSize) return E_POINTER;
    *piCount = static_cast<int>(m_config.capabilities.size());
    *piSize = m_config.capabilityRecordSize;
    return S_OK;
}

STDMETHODIMP VirtualCameraPin::GetStreamCaps(int iIndex, AM_MEDIA_TYPE** ppmt, BYTE* pSCC) {
    LUMACAP_FAULT_POINT("IAMStreamConfig::GetStreamCaps");
    if (!ppmt || !pSCC) return E_POINTER;
    if (iIndex < 0) return E_INVALIDARG;
    if (iIndex >= static_cast<int>(m_config.capabilities.size())) return S_FALSE;
    const sim::VideoCapability& cap = m_config.capabilities[static_cast<size_t>(iIndex)];
    AM_MEDIA_TYPE mt;
    if (!CapabilityMediaType(cap, &mt)) return E_OUTOFMEMORY;
    *ppmt = CreateMediaType(&mt);
    FreeMediaType(mt);
    if (!*ppmt) return E_OUTOFMEMORY;
    VIDEO_STREAM_CONFIG_CAPS caps{};
    caps.guid = cap.videoInfo2 ? FORMAT_VideoInfo2 : FORMAT_VideoInfo;
    caps.InputSize = {static_cast<LONG>(cap.width), static_cast<LONG>(std::abs(cap.height))};
    caps.MinCroppingSize = caps.InputSize;
    caps.MaxCroppingSize = caps.InputSize;
    caps.CropGranularityX = caps.CropGranularityY = 1;
    caps.CropAlignX = caps.CropAlignY = 1;
    caps.MinOutputSize = caps.InputSize;
    caps.MaxOutputSize = caps.InputSize;
    caps.OutputGranularityX = caps.OutputGranularityY = 1;
    const double fps = cap.framesPerSecond > 0 ? cap.framesPerSecond : 30.0;
    caps.MinFrameInterval = static_cast<LONGLONG>(10000000.0 / fps);
    caps.MaxFrameInterval = 10000000LL;  // down to one frame a second
    const BITMAPINFOHEADER* header = dshow::VideoHeaderOf(**ppmt);
    const double frameBits = header ? header->biSizeImage * 8.0 : 0.0;
    caps.MinBitsPerSecond = static_cast<LONG>(frameBits);
    caps.MaxBitsPerSecond = static_cast<LONG>(std::min(frameBits * fps, 2147483647.0));
    // The caller's record has the size GetNumberOfCapabilities reported.
    const size_t size = static_cast<size_t>(std::max(0, m_config.capabilityRecordSize));
    std::memset(pSCC, 0, size);
    std::memcpy(pSCC, &caps, std::min(size, sizeof(caps)));
    return S_OK;
}

}  // namespace

HRESULT CreateVirtualCameraFilter(const std::shared_ptr<CameraDevice>& device, REFIID riid,
                                  void** ppv) {
    return CreateComInstance<VirtualCameraFilter>(nullptr, riid, ppv, device);
}

}  // namespace lumacap::hw
