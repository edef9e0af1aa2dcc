// The capture filter of a V4L2 camera: a live source whose one pin streams the device through
// mmap buffers, with the stream configuration, dropped-frame counts and pin category capture
// drivers offer, the device's controls as IAMVideoProcAmp and IAMCameraControl, its property
// pages, and device-lost events when the camera is unplugged and plugged in again.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include <streams.h>

#include "platform/system/hw/LiveSource.h"
#include "platform/system/hw/v4l2/Hotplug.h"
#include "platform/system/hw/v4l2/MappedBuffers.h"
#include "platform/system/hw/v4l2/V4l2Api.h"
#include "platform/system/hw/v4l2/V4l2Controls.h"
#include "platform/system/hw/v4l2/V4l2Formats.h"
#include "platform/system/hw/v4l2/V4l2Node.h"

namespace lumacap::hw::v4l2 {

class V4l2CaptureFilter;

// The open device file, shared by the filter (controls) and its pin (streaming); closed last.
struct DeviceFile {
    DeviceFile(std::shared_ptr<Api> api, const std::string& name)
        : api(std::move(api)), fd(this->api->Open(name)) {}
    ~DeviceFile() {
        if (fd >= 0) api->Close(fd);
    }
    DeviceFile(const DeviceFile&) = delete;
    DeviceFile& operator=(const DeviceFile&) = delete;
    std::shared_ptr<Api> api;
    int fd;
};

class V4l2CapturePin final : public CSourceStream,
                             public IAMStreamConfig,
                             public IKsPropertySet,
                             public IAMDroppedFrames {
public:
    V4l2CapturePin(HRESULT* phr, V4l2CaptureFilter* filter, DeviceFile& device,
                   std::vector<Capability> caps);
    ~V4l2CapturePin() override;

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IAMStreamConfig
    STDMETHODIMP SetFormat(AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP GetFormat(AM_MEDIA_TYPE** ppmt) override;
    STDMETHODIMP GetNumberOfCapabilities(int* piCount, int* piSize) override;
    STDMETHODIMP GetStreamCaps(int iIndex, AM_MEDIA_TYPE** ppmt, BYTE* pSCC) override;

    // IKsPropertySet: the pin's category.
    STDMETHODIMP Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Get(REFGUID guidPropSet, DWORD dwPropID, LPVOID, DWORD, LPVOID pPropData,
                     DWORD cbPropData, DWORD* pcbReturned) override;
    STDMETHODIMP QuerySupported(REFGUID guidPropSet, DWORD dwPropID, DWORD* pTypeSupport) override;

    // IAMDroppedFrames: frames the driver skipped or that arrived unusable (flagged as errors,
    // empty, cut short, or not a whole picture), and frames delivered, since the stream started.
    STDMETHODIMP GetNumDropped(long* plDropped) override;
    STDMETHODIMP GetNumNotDropped(long* plNotDropped) override;
    STDMETHODIMP GetDroppedInfo(long lSize, long* plArray, long* plNumCopied) override;
    STDMETHODIMP GetAverageFrameSize(long* plAverageSize) override;

    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pmt) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) override;
    HRESULT FillBuffer(IMediaSample*) override { return E_UNEXPECTED; }  // frames are pushed
    HRESULT OnThreadCreate() override;
    HRESULT OnThreadDestroy() override;
    HRESULT DoBufferProcessingLoop() override;
    HRESULT Run(REFERENCE_TIME tStart) override;

    void SetRunning(bool running);

private:
    int FindCapability(const AM_MEDIA_TYPE& mt) const;
    // Sets the device to a capability at a frame time and reads back what it took.
    HRESULT ApplyFormat(const Capability& cap, REFERENCE_TIME frameTime, v4l2_pix_format* actual);
    HRESULT StartDevice();
    void StopDevice();
    // Takes one finished buffer; false when the device has gone.
    bool TakeFrame();
    void Drop(uint32_t sequence);
    bool DeviceGone(int error);
    void Lost();

    V4l2CaptureFilter* m_owner;
    DeviceFile& m_device;
    const std::vector<Capability> m_caps;
    CMediaType m_setFormat;  // chosen by SetFormat (invalid: none)

    // Queues again the buffers whose lent samples came back; false when the device has gone.
    bool RequeueReturned();

    // Streaming state, the streaming thread's own.
    std::shared_ptr<MappedBuffers> m_buffers;
    std::vector<uint32_t> m_returned;
    Layout m_layout;
    bool m_mjpeg = false;
    // Frames already laid out as the media type says (MJPEG, YUYV without row padding) are lent
    // in the driver's buffer instead of copied.
    bool m_lendable = false;
    bool m_haveSequence = false;
    uint32_t m_lastSequence = 0;

    std::atomic<bool> m_running{false};
    std::atomic<bool> m_lost{false};
    // Stream time runs while the graph runs: CLOCK_MONOTONIC (100 ns) when it would have begun,
    // and where it stood when the graph last paused.
    std::atomic<int64_t> m_runStart{0};
    std::atomic<int64_t> m_pausedAt{0};
    std::atomic<long> m_dropped{0};
    std::atomic<long> m_delivered{0};
    std::atomic<int64_t> m_bytesDelivered{0};
    CCritSec m_dropLock;
    std::vector<long> m_droppedFrames;  // the latest dropped frames' sequence numbers
};

class V4l2CaptureFilter final : public LiveSourceFilter,
                                public IAMVideoProcAmp,
                                public ISpecifyPropertyPages,
                                public HotplugListener {
public:
    V4l2CaptureFilter(std::shared_ptr<Api> api, const NodeInfo& node, HRESULT* phr);
    ~V4l2CaptureFilter() override;

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IAMVideoProcAmp
    STDMETHODIMP GetRange(long Property, long* pMin, long* pMax, long* pSteppingDelta,
                          long* pDefault, long* pCapsFlags) override;
    STDMETHODIMP Set(long Property, long lValue, long Flags) override;
    STDMETHODIMP Get(long Property, long* lValue, long* Flags) override;

    // ISpecifyPropertyPages
    STDMETHODIMP GetPages(CAUUID* pPages) override;

    // The camera's presence is watched while the filter is in a graph, where its events go.
    STDMETHODIMP JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) override;

    void SetDelivering(bool delivering) override { m_pin.SetRunning(delivering); }
    void OnCameraPresence(bool present) override { SetPresence(present); }
    // Reports a change of presence once.
    void SetPresence(bool present);
    // The stream found the device gone. Reported only when nothing reported a loss before: the
    // directory may already have told of the loss and of the camera's return, and a stream that
    // notices late must not undo that.
    void StreamLost();

private:
    class CameraControl final : public IAMCameraControl {
    public:
        explicit CameraControl(V4l2CaptureFilter* filter) : m_filter(filter) {}
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
            return m_filter->GetOwner()->QueryInterface(riid, ppv);
        }
        STDMETHODIMP_(ULONG) AddRef() override { return m_filter->GetOwner()->AddRef(); }
        STDMETHODIMP_(ULONG) Release() override { return m_filter->GetOwner()->Release(); }
        STDMETHODIMP GetRange(long Property, long* pMin, long* pMax, long* pStep, long* pDefault,
                              long* pFlags) override;
        STDMETHODIMP Set(long Property, long lValue, long Flags) override;
        STDMETHODIMP Get(long Property, long* lValue, long* Flags) override;

    private:
        V4l2CaptureFilter* m_filter;
    };

    DeviceFile m_device;
    const NodeInfo m_node;
    DeviceControls m_controls;
    CameraControl m_cameraControl;
    std::atomic<bool> m_present{true};
    std::atomic<bool> m_lossSeen{false};
    bool m_watching = false;
    V4l2CapturePin m_pin;  // last: it stops streaming before the device file closes
};

// A new filter for the camera at `node`, answering `riid`.
HRESULT CreateV4l2CaptureFilter(const std::shared_ptr<Api>& api, const NodeInfo& node, REFIID riid,
                                void** ppv);

}  // namespace lumacap::hw::v4l2
