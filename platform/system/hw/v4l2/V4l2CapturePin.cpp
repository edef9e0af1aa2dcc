// The V4L2 camera's capture pin: format negotiation against the device, and the streaming loop
// that dequeues each filled buffer, passes whole frames on in pooled samples and requeues it.
#include <poll.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/sim/Faults.h"
#include "platform/system/win/Trace.h"
#include "platform/system/dshow/VideoFormat.h"
#include "platform/system/hw/v4l2/V4l2Capture.h"

namespace lumacap::hw::v4l2 {
namespace {

// How long one wait for a frame lasts before the thread looks at its requests again.
constexpr int kPollMs = 40;
constexpr uint32_t kBufferCount = 4;
constexpr size_t kDroppedKept = 64;

int64_t MonotonicNow() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 10000000 + now.tv_nsec / 100;
}

}  // namespace

V4l2CapturePin::V4l2CapturePin(HRESULT* phr, V4l2CaptureFilter* filter, DeviceFile& device,
                               std::vector<Capability> caps)
    : CSourceStream(NAME("V4L2 capture pin"), phr, filter, L"Capture"),
      m_owner(filter),
      m_device(device),
      m_caps(std::move(caps)) {}

V4l2CapturePin::~V4l2CapturePin() = default;

STDMETHODIMP V4l2CapturePin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IAMStreamConfig) return GetInterface(static_cast<IAMStreamConfig*>(this), ppv);
    if (riid == IID_IKsPropertySet) return GetInterface(static_cast<IKsPropertySet*>(this), ppv);
    if (riid == IID_IAMDroppedFrames)
        return GetInterface(static_cast<IAMDroppedFrames*>(this), ppv);
    return CSourceStream::NonDelegatingQueryInterface(riid, ppv);
}

// ---- formats ------------------------------------------------------------------------------------

int V4l2CapturePin::FindCapability(const AM_MEDIA_TYPE& mt) const {
    const BITMAPINFOHEADER* header = dshow::VideoHeaderOf(mt);
    if (!header || mt.majortype != MEDIATYPE_Video || mt.formattype != FORMAT_VideoInfo) return -1;
    for (size_t i = 0; i < m_caps.size(); ++i) {
        const Capability& cap = m_caps[i];
        if (cap.subtype == mt.subtype && cap.width == header->biWidth &&
            cap.height == std::abs(header->biHeight))
            return static_cast<int>(i);
    }
    return -1;
}

HRESULT V4l2CapturePin::GetMediaType(int iPosition, CMediaType* pmt) {
    if (!pmt) return E_POINTER;
    if (iPosition < 0) return E_INVALIDARG;
    if (iPosition >= static_cast<int>(m_caps.size())) return VFW_S_NO_MORE_ITEMS;
    const Capability& cap = m_caps[static_cast<size_t>(iPosition)];
    AM_MEDIA_TYPE mt;
    if (!MakeMediaType(cap, cap.minFrameTime, SampleBytes(cap, 0), &mt)) return E_OUTOFMEMORY;
    pmt->Set(mt);
    FreeMediaType(mt);
    return S_OK;
}

HRESULT V4l2CapturePin::CheckMediaType(const CMediaType* pmt) {
    if (!pmt) return E_POINTER;
    const int index = FindCapability(*pmt);
    if (index < 0) return VFW_E_TYPE_NOT_ACCEPTED;
    // Once SetFormat chose a format, the pin connects with that one only.
    if (m_setFormat.IsValid() && FindCapability(m_setFormat) != index)
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT V4l2CapturePin::ApplyFormat(const Capability& cap, REFERENCE_TIME frameTime,
                                    v4l2_pix_format* actual) {
    Api& api = *m_device.api;
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    format.fmt.pix.pixelformat = cap.fourcc;
    format.fmt.pix.width = static_cast<uint32_t>(cap.width);
    format.fmt.pix.height = static_cast<uint32_t>(cap.height);
    format.fmt.pix.field = V4L2_FIELD_NONE;
    int r = api.Ioctl(m_device.fd, VIDIOC_S_FMT, &format);
    if (r < 0) return HresultFromErrno(-r);
    // Drivers adjust what they cannot do; a format it listed but will not give is refused.
    if (format.fmt.pix.pixelformat != cap.fourcc ||
        format.fmt.pix.width != static_cast<uint32_t>(cap.width) ||
        format.fmt.pix.height != static_cast<uint32_t>(cap.height))
        return VFW_E_INVALIDMEDIATYPE;
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    parm.parm.capture.timeperframe =
        IntervalOfFrameTime(frameTime > 0 ? frameTime : cap.minFrameTime);
    r = api.Ioctl(m_device.fd, VIDIOC_S_PARM, &parm);
    // A device without frame-rate control runs at its own rate.
    if (r < 0 && r != -ENOTTY && r != -EINVAL) return HresultFromErrno(-r);
    *actual = format.fmt.pix;
    LUMACAP_TRACE(kHw, "V4L2: format %.4s %ux%u, %u bytes a line, %u a frame, %u/%u s a frame",
                  reinterpret_cast<const char*>(&actual->pixelformat), actual->width,
                  actual->height, actual->bytesperline, actual->sizeimage,
                  parm.parm.capture.timeperframe.numerator,
                  parm.parm.capture.timeperframe.denominator);
    return S_OK;
}

STDMETHODIMP V4l2CapturePin::SetFormat(AM_MEDIA_TYPE* pmt) {
    LUMACAP_FAULT_POINT("IAMStreamConfig::SetFormat");
    if (!pmt) return E_POINTER;
    CAutoLock lock(m_pFilter->pStateLock());
    if (!m_pFilter->IsStopped()) return VFW_E_NOT_STOPPED;
    const int index = FindCapability(*pmt);
    if (index < 0) return VFW_E_INVALIDMEDIATYPE;
    const Capability& cap = m_caps[static_cast<size_t>(index)];
    REFERENCE_TIME frameTime = dshow::FrameTimeOf(*pmt);
    if (frameTime < cap.minFrameTime || frameTime > cap.maxFrameTime) frameTime = cap.minFrameTime;
    // Asking the device now tells the caller at once when it is busy, gone or refuses.
    v4l2_pix_format actual{};
    const HRESULT hr = ApplyFormat(cap, frameTime, &actual);
    if (FAILED(hr)) return hr;
    AM_MEDIA_TYPE wanted;
    if (!MakeMediaType(cap, frameTime, SampleBytes(cap, actual.sizeimage), &wanted))
        return E_OUTOFMEMORY;
    CMediaType chosen(wanted);
    FreeMediaType(wanted);
    return ReconnectWithFormat(this, m_pFilter, chosen, &m_setFormat);
}

STDMETHODIMP V4l2CapturePin::GetFormat(AM_MEDIA_TYPE** ppmt) {
    LUMACAP_FAULT_POINT("IAMStreamConfig::GetFormat");
    if (!ppmt) return E_POINTER;
    CAutoLock lock(m_pFilter->pStateLock());
    if (IsConnected()) {
        *ppmt = CreateMediaType(&m_mt);
    } else if (m_setFormat.IsValid()) {
        *ppmt = CreateMediaType(&m_setFormat);
    } else {
        // The format the device is in, when it is one of its capabilities.
        size_t index = 0;
        v4l2_format format{};
        format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (m_device.api->Ioctl(m_device.fd, VIDIOC_G_FMT, &format) == 0)
            for (size_t i = 0; i < m_caps.size(); ++i)
                if (m_caps[i].fourcc == format.fmt.pix.pixelformat &&
                    m_caps[i].width == static_cast<long>(format.fmt.pix.width) &&
                    m_caps[i].height == static_cast<long>(format.fmt.pix.height)) {
                    index = i;
                    break;
                }
        CMediaType mt;
        if (GetMediaType(static_cast<int>(index), &mt) != S_OK) return VFW_E_NO_TYPES;
        *ppmt = CreateMediaType(&mt);
    }
    return *ppmt ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP V4l2CapturePin::GetNumberOfCapabilities(int* piCount, int* piSize) {
    LUMACAP_FAULT_POINT("IAMStreamConfig::GetNumberOfCapabilities");
    if (!piCount || !piSize) return E_POINTER;
    *piCount = static_cast<int>(m_caps.size());
    *piSize = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    return S_OK;
}

STDMETHODIMP V4l2CapturePin::GetStreamCaps(int iIndex, AM_MEDIA_TYPE** ppmt, BYTE* pSCC) {
    LUMACAP_FAULT_POINT("IAMStreamConfig::GetStreamCaps");
    if (!ppmt || !pSCC) return E_POINTER;
    if (iIndex < 0) return E_INVALIDARG;
    if (iIndex >= static_cast<int>(m_caps.size())) return S_FALSE;
    const Capability& cap = m_caps[static_cast<size_t>(iIndex)];
    AM_MEDIA_TYPE mt;
    if (!MakeMediaType(cap, cap.minFrameTime, SampleBytes(cap, 0), &mt)) return E_OUTOFMEMORY;
    *ppmt = CreateMediaType(&mt);
    FreeMediaType(mt);
    if (!*ppmt) return E_OUTOFMEMORY;
    VIDEO_STREAM_CONFIG_CAPS caps;
    FillStreamCaps(cap, SampleBytes(cap, 0), &caps);
    std::memcpy(pSCC, &caps, sizeof(caps));
    return S_OK;
}

STDMETHODIMP V4l2CapturePin::Get(REFGUID guidPropSet, DWORD dwPropID, LPVOID, DWORD,
                                 LPVOID pPropData, DWORD cbPropData, DWORD* pcbReturned) {
    if (guidPropSet != AMPROPSETID_Pin || dwPropID != AMPROPERTY_PIN_CATEGORY)
        return E_PROP_ID_UNSUPPORTED;
    if (!pPropData && !pcbReturned) return E_POINTER;
    if (pcbReturned) *pcbReturned = sizeof(GUID);
    if (!pPropData) return S_OK;
    if (cbPropData < sizeof(GUID)) return E_UNEXPECTED;
    *static_cast<GUID*>(pPropData) = PIN_CATEGORY_CAPTURE;
    return S_OK;
}

STDMETHODIMP V4l2CapturePin::QuerySupported(REFGUID guidPropSet, DWORD dwPropID,
                                            DWORD* pTypeSupport) {
    if (guidPropSet != AMPROPSETID_Pin || dwPropID != AMPROPERTY_PIN_CATEGORY)
        return E_PROP_ID_UNSUPPORTED;
    if (pTypeSupport) *pTypeSupport = KSPROPERTY_SUPPORT_GET;
    return S_OK;
}

// ---- dropped frames -----------------------------------------------------------------------------

STDMETHODIMP V4l2CapturePin::GetNumDropped(long* plDropped) {
    if (!plDropped) return E_POINTER;
    *plDropped = m_dropped.load();
    return S_OK;
}

STDMETHODIMP V4l2CapturePin::GetNumNotDropped(long* plNotDropped) {
    if (!plNotDropped) return E_POINTER;
    *plNotDropped = m_delivered.load();
    return S_OK;
}

STDMETHODIMP V4l2CapturePin::GetDroppedInfo(long lSize, long* plArray, long* plNumCopied) {
    if (!plArray || !plNumCopied) return E_POINTER;
    if (lSize <= 0) return E_INVALIDARG;
    CAutoLock lock(&m_dropLock);
    const size_t n = std::min(static_cast<size_t>(lSize), m_droppedFrames.size());
    std::copy(m_droppedFrames.begin(), m_droppedFrames.begin() + static_cast<ptrdiff_t>(n),
              plArray);
    *plNumCopied = static_cast<long>(n);
    return S_OK;
}

STDMETHODIMP V4l2CapturePin::GetAverageFrameSize(long* plAverageSize) {
    if (!plAverageSize) return E_POINTER;
    const long delivered = m_delivered.load();
    *plAverageSize = delivered ? static_cast<long>(m_bytesDelivered.load() / delivered) : 0;
    return S_OK;
}

void V4l2CapturePin::Drop(uint32_t sequence) {
    LUMACAP_TRACE(kHw, "V4L2: frame %u dropped", sequence);
    ++m_dropped;
    CAutoLock lock(&m_dropLock);
    if (m_droppedFrames.size() < kDroppedKept)
        m_droppedFrames.push_back(static_cast<long>(sequence));
}

// ---- streaming ----------------------------------------------------------------------------------

HRESULT V4l2CapturePin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) {
    if (!pAlloc || !pRequest) return E_POINTER;
    const BITMAPINFOHEADER* header = dshow::VideoHeaderOf(m_mt);
    if (!header) return E_UNEXPECTED;
    ALLOCATOR_PROPERTIES request = *pRequest;
    request.cBuffers = std::max<long>(request.cBuffers, 3);
    request.cbBuffer = std::max<long>(request.cbBuffer, static_cast<long>(header->biSizeImage));
    if (request.cbAlign <= 0) request.cbAlign = 1;
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = pAlloc->SetProperties(&request, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < static_cast<long>(header->biSizeImage) ? E_FAIL : S_OK;
}

HRESULT V4l2CapturePin::OnThreadCreate() {
    m_pausedAt = 0;
    m_dropped = 0;
    m_delivered = 0;
    m_bytesDelivered = 0;
    m_haveSequence = false;
    {
        CAutoLock lock(&m_dropLock);
        m_droppedFrames.clear();
    }
    if (m_device.fd < 0 || m_lost) return HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
    const HRESULT hr = StartDevice();
    if (FAILED(hr)) {
        StopDevice();
        if (DeviceGone(0)) Lost();
    }
    return hr;
}

HRESULT V4l2CapturePin::OnThreadDestroy() {
    StopDevice();
    return NOERROR;
}

HRESULT V4l2CapturePin::StartDevice() {
    const int index = FindCapability(m_mt);
    if (index < 0) return VFW_E_TYPE_NOT_ACCEPTED;
    const Capability& cap = m_caps[static_cast<size_t>(index)];
    v4l2_pix_format actual{};
    HRESULT hr = ApplyFormat(cap, dshow::FrameTimeOf(m_mt), &actual);
    if (FAILED(hr)) return hr;
    m_layout = {actual.pixelformat, actual.width, actual.height, actual.bytesperline};
    m_mjpeg = actual.pixelformat == V4L2_PIX_FMT_MJPEG;
    m_lendable = m_mjpeg || (actual.pixelformat == V4L2_PIX_FMT_YUYV &&
                             actual.bytesperline == actual.width * 2);

    Api& api = *m_device.api;
    const int fd = m_device.fd;
    v4l2_requestbuffers request{};
    request.count = kBufferCount;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    int r = api.Ioctl(fd, VIDIOC_REQBUFS, &request);
    if (r < 0) return HresultFromErrno(-r);
    if (request.count == 0) return E_OUTOFMEMORY;
    // The kernel never grants more than this; a larger count is a broken driver (or a double
    // answering nonsense), not memory to reserve for.
    if (request.count > VIDEO_MAX_FRAME) return E_UNEXPECTED;
    m_buffers = std::make_shared<MappedBuffers>(m_device.api);
    m_returned.clear();
    m_returned.reserve(request.count);
    for (uint32_t i = 0; i < request.count; ++i) {
        v4l2_buffer buffer{};
        buffer.index = i;
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        r = api.Ioctl(fd, VIDIOC_QUERYBUF, &buffer);
        if (r < 0) return HresultFromErrno(-r);
        int error = 0;
        void* address = api.Mmap(fd, buffer.length, buffer.m.offset, &error);
        if (!address) return HresultFromErrno(error);
        if (!m_buffers->Add(address, buffer.length)) return E_OUTOFMEMORY;
        r = api.Ioctl(fd, VIDIOC_QBUF, &buffer);
        if (r < 0) return HresultFromErrno(-r);
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    r = api.Ioctl(fd, VIDIOC_STREAMON, &type);
    LUMACAP_TRACE(kHw, "V4L2: streaming with %u mapped buffers: %d", request.count, r);
    return r < 0 ? HresultFromErrno(-r) : S_OK;
}

void V4l2CapturePin::StopDevice() {
    Api& api = *m_device.api;
    if (m_device.fd >= 0) {
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        api.Ioctl(m_device.fd, VIDIOC_STREAMOFF, &type);
    }
    if (!m_buffers) return;
    // A sample still held downstream keeps the mappings until it is released; the driver frees
    // the buffers once they are unmapped.
    const bool lent = m_buffers->Outstanding();
    m_buffers.reset();
    if (m_device.fd >= 0 && !lent) {
        // Freed, so that another program can use the camera while this filter sits idle.
        v4l2_requestbuffers request{};
        request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        request.memory = V4L2_MEMORY_MMAP;
        api.Ioctl(m_device.fd, VIDIOC_REQBUFS, &request);
    }
}

HRESULT V4l2CapturePin::Run(REFERENCE_TIME tStart) {
    m_runStart = MonotonicNow() - m_pausedAt.load();
    m_running = true;
    return CSourceStream::Run();
}

void V4l2CapturePin::SetRunning(bool running) {
    if (!running && m_running.exchange(false)) m_pausedAt = MonotonicNow() - m_runStart.load();
    if (running) m_running = true;
}

bool V4l2CapturePin::DeviceGone(int error) {
    if (error == -ENODEV || error == -ENXIO) return true;
    v4l2_capability cap{};
    const int r = m_device.api->Ioctl(m_device.fd, VIDIOC_QUERYCAP, &cap);
    return r == -ENODEV || r == -ENXIO;
}

void V4l2CapturePin::Lost() {
    if (m_lost.exchange(true)) return;
    m_owner->StreamLost();
}

HRESULT V4l2CapturePin::DoBufferProcessingLoop() {
    Command com;
    OnThreadStartPlay();
    for (;;) {
        if (CheckRequest(&com)) {
            if (com == CMD_RUN || com == CMD_PAUSE) {
                Reply(NOERROR);
                continue;
            }
            return S_OK;  // stop and exit are answered by the thread procedure
        }
        if (m_lost) {
            WaitForRequest(INFINITE);
            continue;
        }
        short revents = 0;
        const int r = m_device.api->Poll(m_device.fd, POLLIN, &revents, kPollMs);
        if (r == 0) continue;
        if (r < 0 || ((revents & (POLLERR | POLLHUP | POLLNVAL)) && !(revents & POLLIN))) {
            if (DeviceGone(r < 0 ? r : 0)) {
                Lost();
            } else {
                // The stream stopped under us without the device going away.
                m_pFilter->NotifyEvent(EC_ERRORABORT, HRESULT_FROM_WIN32(ERROR_GEN_FAILURE), 0);
                WaitForRequest(INFINITE);
            }
            continue;
        }
        if (!TakeFrame()) Lost();
    }
}

bool V4l2CapturePin::RequeueReturned() {
    m_returned.clear();
    m_buffers->TakeReturned(&m_returned);
    for (uint32_t index : m_returned) {
        v4l2_buffer buffer{};
        buffer.index = index;
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        const int r = m_device.api->Ioctl(m_device.fd, VIDIOC_QBUF, &buffer);
        if (r < 0 && DeviceGone(r)) return false;
    }
    return true;
}

bool V4l2CapturePin::TakeFrame() {
    Api& api = *m_device.api;
    // Buffers lent with earlier frames and released since, by whichever thread held them.
    if (!RequeueReturned()) return false;
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    int r = api.Ioctl(m_device.fd, VIDIOC_DQBUF, &buffer);
    if (r == -EAGAIN || r == -EINTR) return true;
    if (r < 0) return !DeviceGone(r);
    if (buffer.index >= m_buffers->Count()) return true;

    // Frames the driver could not hand over show as gaps in the sequence. A jump of more than a
    // minute of frames is the driver starting its count over (or a broken one), not frames lost:
    // counting each would keep this thread from answering a stop for hours.
    constexpr uint32_t kLargestGap = 60 * 120;
    if (m_haveSequence && buffer.sequence > m_lastSequence + 1 &&
        buffer.sequence - m_lastSequence - 1 <= kLargestGap)
        for (uint32_t s = m_lastSequence + 1; s < buffer.sequence; ++s) Drop(s);
    m_haveSequence = true;
    m_lastSequence = buffer.sequence;

    const uint8_t* data = m_buffers->Address(buffer.index);
    const size_t used = std::min<size_t>(buffer.bytesused, m_buffers->Length(buffer.index));
    const bool whole = !(buffer.flags & V4L2_BUF_FLAG_ERROR) && used > 0 &&
                       (!m_mjpeg || IsWholeJpeg(data, used, m_layout.width, m_layout.height));
    bool lent = false;
    if (m_running) {
        IMediaSample* sample = nullptr;
        long length = -1;
        if (whole && m_lendable) {
            // Passed on in the driver's buffer; it is queued again when the sample comes back.
            const size_t frameBytes =
                m_mjpeg ? used : static_cast<size_t>(m_layout.width) * 2 * m_layout.height;
            if (used >= frameBytes) {
                sample = m_buffers->Lend(buffer.index, static_cast<long>(frameBytes));
                if (sample) {
                    lent = true;
                    length = static_cast<long>(frameBytes);
                }
            }
        }
        if (!lent && whole && SUCCEEDED(GetDeliveryBuffer(&sample, nullptr, nullptr, 0)) &&
            sample) {
            BYTE* out = nullptr;
            sample->GetPointer(&out);
            length = CopyFrame(m_layout, data, used, out, sample->GetSize());
        }
        if (length >= 0) {
            sample->SetActualDataLength(length);
            // The driver's capture time, on the stream's clock since Run.
            int64_t captured = MonotonicNow();
            if ((buffer.flags & V4L2_BUF_FLAG_TIMESTAMP_MASK) == V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC)
                captured = static_cast<int64_t>(buffer.timestamp.tv_sec) * 10000000 +
                           buffer.timestamp.tv_usec * 10;
            REFERENCE_TIME start = std::max<int64_t>(0, captured - m_runStart.load());
            REFERENCE_TIME stop = start + dshow::FrameTimeOf(m_mt);
            sample->SetTime(&start, &stop);
            sample->SetSyncPoint(TRUE);
            const HRESULT hr = Deliver(sample);
            if (hr == S_OK) {
                ++m_delivered;
                m_bytesDelivered += length;
            }
        } else if (sample || !whole) {
            Drop(buffer.sequence);
        }
        if (sample) sample->Release();
    }
    if (lent) return RequeueReturned();
    r = api.Ioctl(m_device.fd, VIDIOC_QBUF, &buffer);
    return r >= 0 || !DeviceGone(r);
}

}  // namespace lumacap::hw::v4l2
