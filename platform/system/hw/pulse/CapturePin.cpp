// The sound-server microphone's capture pin.
#include "platform/system/hw/pulse/CapturePin.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include <mmreg.h>

#include "platform/sim/Faults.h"
#include "platform/system/hw/pulse/AudioFormats.h"
#include "platform/system/hw/pulse/Provider.h"

namespace lumacap::hw::pulse {

PulseCapturePin::PulseCapturePin(HRESULT* phr, CSource* filter, std::shared_ptr<SoundServer> server,
                                 SourceInfo source, std::function<void(bool)> presence)
    : CSourceStream(NAME("Sound server capture pin"), phr, filter, L"Capture"),
      m_server(std::move(server)),
      m_source(std::move(source)),
      m_formats(OfferedFormats(m_source.native)),
      m_presence(std::move(presence)) {}

PulseCapturePin::~PulseCapturePin() {
    // A filter released while active (its graph never stopped): the thread and the stream use
    // members that are about to go, so both end here rather than in the base class.
    if (ThreadExists()) {
        Announce(true);
        CallWorker(CMD_STOP);
        CallWorker(CMD_EXIT);
        Close();
    }
    m_stream.reset();
}

STDMETHODIMP PulseCapturePin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IAMStreamConfig) return GetInterface(static_cast<IAMStreamConfig*>(this), ppv);
    if (riid == IID_IAMBufferNegotiation)
        return GetInterface(static_cast<IAMBufferNegotiation*>(this), ppv);
    if (riid == IID_IKsPropertySet) return GetInterface(static_cast<IKsPropertySet*>(this), ppv);
    return CSourceStream::NonDelegatingQueryInterface(riid, ppv);
}

// ---- formats ------------------------------------------------------------------------------------

STDMETHODIMP PulseCapturePin::SetFormat(AM_MEDIA_TYPE* pmt) {
    LUMACAP_FAULT_POINT("IAMStreamConfig::SetFormat");
    if (!pmt) return E_POINTER;
    CAutoLock lock(m_pFilter->pStateLock());
    if (!m_pFilter->IsStopped()) return VFW_E_NOT_STOPPED;
    if (IsConnected()) return VFW_E_ALREADY_CONNECTED;
    StreamFormat format;
    if (!StreamFormatOf(*pmt, &format)) return VFW_E_INVALIDMEDIATYPE;
    std::lock_guard<std::mutex> guard(m_formatMutex);
    m_setFormat = format;
    return S_OK;
}

STDMETHODIMP PulseCapturePin::GetFormat(AM_MEDIA_TYPE** ppmt) {
    LUMACAP_FAULT_POINT("IAMStreamConfig::GetFormat");
    if (!ppmt) return E_POINTER;
    CAutoLock lock(m_pFilter->pStateLock());
    CMediaType current;
    std::lock_guard<std::mutex> guard(m_formatMutex);
    if (IsConnected())
        current = m_mt;
    else
        WaveMediaType(m_setFormat.value_or(m_formats.front()), &current);
    *ppmt = CreateMediaType(&current);
    return *ppmt ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP PulseCapturePin::GetNumberOfCapabilities(int* piCount, int* piSize) {
    LUMACAP_FAULT_POINT("IAMStreamConfig::GetNumberOfCapabilities");
    if (!piCount || !piSize) return E_POINTER;
    *piCount = static_cast<int>(m_formats.size());
    *piSize = sizeof(AUDIO_STREAM_CONFIG_CAPS);
    return S_OK;
}

STDMETHODIMP PulseCapturePin::GetStreamCaps(int iIndex, AM_MEDIA_TYPE** ppmt, BYTE* pSCC) {
    LUMACAP_FAULT_POINT("IAMStreamConfig::GetStreamCaps");
    if (!ppmt || !pSCC) return E_POINTER;
    if (iIndex < 0) return E_INVALIDARG;
    if (iIndex >= static_cast<int>(m_formats.size())) return S_FALSE;
    const StreamFormat& f = m_formats[static_cast<size_t>(iIndex)];
    CMediaType mt;
    WaveMediaType(f, &mt);
    *ppmt = CreateMediaType(&mt);
    if (!*ppmt) return E_OUTOFMEMORY;
    // The server converts to any rate, channel count and sample size; each capability names one
    // point of that range, as the listed types do.
    AUDIO_STREAM_CONFIG_CAPS caps{};
    caps.guid = MEDIATYPE_Audio;
    caps.MinimumChannels = caps.MaximumChannels = f.channels;
    caps.ChannelsGranularity = 1;
    caps.MinimumBitsPerSample = caps.MaximumBitsPerSample = f.sample == SampleFormat::U8 ? 8 : 16;
    caps.BitsPerSampleGranularity = 8;
    caps.MinimumSampleFrequency = caps.MaximumSampleFrequency = f.rate;
    caps.SampleFrequencyGranularity = 1;
    std::memcpy(pSCC, &caps, sizeof(caps));
    return S_OK;
}

HRESULT PulseCapturePin::GetMediaType(int iPosition, CMediaType* pmt) {
    if (!pmt) return E_POINTER;
    if (iPosition < 0) return E_INVALIDARG;
    // Asked while pins of other filters hold their locks: only the pin's own lock is taken.
    std::lock_guard<std::mutex> guard(m_formatMutex);
    // Once a format is set it is the only one the pin connects with.
    if (m_setFormat) {
        if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
        WaveMediaType(*m_setFormat, pmt);
        return S_OK;
    }
    if (iPosition >= static_cast<int>(m_formats.size())) return VFW_S_NO_MORE_ITEMS;
    WaveMediaType(m_formats[static_cast<size_t>(iPosition)], pmt);
    return S_OK;
}

HRESULT PulseCapturePin::CheckMediaType(const CMediaType* pmt) {
    if (!pmt) return E_POINTER;
    StreamFormat format;
    if (!StreamFormatOf(*pmt, &format)) return VFW_E_TYPE_NOT_ACCEPTED;
    std::lock_guard<std::mutex> guard(m_formatMutex);
    return m_setFormat && !(*m_setFormat == format) ? VFW_E_TYPE_NOT_ACCEPTED : S_OK;
}

// ---- buffers ------------------------------------------------------------------------------------

STDMETHODIMP PulseCapturePin::SuggestAllocatorProperties(const ALLOCATOR_PROPERTIES* pprop) {
    LUMACAP_FAULT_POINT("IAMBufferNegotiation::SuggestAllocatorProperties");
    if (!pprop) return E_POINTER;
    CAutoLock lock(m_pFilter->pStateLock());
    if (IsConnected()) return VFW_E_ALREADY_CONNECTED;
    m_suggested = *pprop;
    return S_OK;
}

STDMETHODIMP PulseCapturePin::GetAllocatorProperties(ALLOCATOR_PROPERTIES* pprop) {
    if (!pprop) return E_POINTER;
    CAutoLock lock(m_pFilter->pStateLock());
    if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
    return m_pAllocator->GetProperties(pprop);
}

HRESULT PulseCapturePin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) {
    if (!pAlloc || !pRequest) return E_POINTER;
    StreamFormat format;
    if (!StreamFormatOf(m_mt, &format)) return E_UNEXPECTED;
    const long frame = static_cast<long>(format.BytesPerFrame());
    ALLOCATOR_PROPERTIES request = *pRequest;
    // Half a second per buffer, as capture drivers do, unless the application asked otherwise.
    long buffer = static_cast<long>(format.rate) * frame / 2;
    long count = 4;
    if (m_suggested.cbBuffer > 0) buffer = m_suggested.cbBuffer;
    if (m_suggested.cBuffers > 0) count = m_suggested.cBuffers;
    if (m_suggested.cbAlign > 0) request.cbAlign = m_suggested.cbAlign;
    buffer -= buffer % frame;  // whole sample frames only
    if (buffer <= 0) buffer = frame;
    request.cbBuffer = buffer;
    request.cBuffers = std::max<long>(request.cBuffers, count);
    if (request.cbAlign <= 0) request.cbAlign = 1;
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = pAlloc->SetProperties(&request, &actual);
    if (FAILED(hr)) return hr;
    m_bufferBytes = buffer;
    return actual.cbBuffer < buffer ? E_FAIL : S_OK;
}

STDMETHODIMP PulseCapturePin::Get(REFGUID guidPropSet, DWORD dwPropID, LPVOID, DWORD,
                                  LPVOID pPropData, DWORD cbPropData, DWORD* pcbReturned) {
    if (guidPropSet != AMPROPSETID_Pin || dwPropID != AMPROPERTY_PIN_CATEGORY)
        return E_PROP_ID_UNSUPPORTED;
    if (pcbReturned) *pcbReturned = sizeof(GUID);
    if (!pPropData) return pcbReturned ? S_OK : E_POINTER;
    if (cbPropData < sizeof(GUID)) return E_UNEXPECTED;
    *static_cast<GUID*>(pPropData) = PIN_CATEGORY_CAPTURE;
    return S_OK;
}

STDMETHODIMP PulseCapturePin::QuerySupported(REFGUID guidPropSet, DWORD dwPropID,
                                             DWORD* pTypeSupport) {
    if (guidPropSet != AMPROPSETID_Pin || dwPropID != AMPROPERTY_PIN_CATEGORY)
        return E_PROP_ID_UNSUPPORTED;
    if (pTypeSupport) *pTypeSupport = KSPROPERTY_SUPPORT_GET;
    return S_OK;
}

// ---- state --------------------------------------------------------------------------------------

HRESULT PulseCapturePin::Active() {
    CAutoLock lock(m_pFilter->pStateLock());
    if (m_pFilter->IsActive() || !IsConnected()) return CSourceStream::Active();
    StreamFormat format;
    if (!StreamFormatOf(m_mt, &format)) return E_UNEXPECTED;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_frameBytes = format.BytesPerFrame();
        m_silence = format.sample == SampleFormat::U8 ? 0x80 : 0;
        m_rate = format.rate;
        // Room for two seconds, and at least eight buffers, before the oldest sound is lost.
        const size_t seconds = static_cast<size_t>(format.rate) * m_frameBytes * 2;
        m_ring.assign(std::max(seconds, static_cast<size_t>(m_bufferBytes) * 8), 0);
        m_head = m_size = 0;
        m_position = 0;
        m_accepting = true;
        m_running = m_flush = m_ended = m_endReported = m_back = false;
        m_discontinuity = true;
        m_endReason.clear();
    }
    std::string error;
    m_stream =
        m_server->Record(m_source.name, format, static_cast<uint32_t>(m_bufferBytes), this, &error);
    if (!m_stream) OnEnded(error);
    return CSourceStream::Active();
}

HRESULT PulseCapturePin::Inactive() {
    CAutoLock lock(m_pFilter->pStateLock());
    Announce(true);
    const HRESULT hr = CSourceStream::Inactive();
    Announce(false);
    m_stream.reset();
    std::lock_guard<std::mutex> guard(m_mutex);
    m_accepting = false;
    m_size = 0;
    return hr;
}

HRESULT PulseCapturePin::Run(REFERENCE_TIME) {
    CAutoLock lock(m_pFilter->pStateLock());
    if (m_stream) m_stream->Cork(false);
    std::lock_guard<std::mutex> guard(m_mutex);
    m_running = true;
    m_wake.notify_all();
    return S_OK;
}

void PulseCapturePin::Hold() {
    CAutoLock lock(m_pFilter->pStateLock());
    // Once the cork is done every byte recorded before it is in the ring, so the flush that
    // follows leaves nothing of the time before the pause behind.
    if (m_stream) m_stream->Cork(true);
    std::unique_lock<std::mutex> guard(m_mutex);
    if (m_running) m_flush = true;
    m_running = false;
    m_wake.notify_all();
    // The graph stops downstream filters first, so a stop that follows at once would refuse the
    // last short buffer: wait (briefly, in case downstream holds every buffer) until it is out.
    if (ThreadExists())
        m_flushed.wait_for(guard, std::chrono::milliseconds(500), [this] { return !m_flush; });
}

void PulseCapturePin::Announce(bool stopping) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_stopping = stopping;
    m_wake.notify_all();
}

void PulseCapturePin::OnPresence(bool present) {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (!present) {
        m_gone = true;
    } else if (m_gone) {
        m_gone = false;
        m_back = true;
    }
    m_wake.notify_all();
}

// ---- what the server delivers -------------------------------------------------------------------

void PulseCapturePin::OnCaptured(const void* data, size_t bytes) {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (!m_accepting || m_ring.empty() || bytes == 0) return;
    const size_t capacity = m_ring.size();
    const auto* in = static_cast<const uint8_t*>(data);
    if (bytes > capacity) {
        // More than the ring holds at once: only the newest part can be kept.
        const size_t skip = bytes - capacity;
        m_position += static_cast<int64_t>((m_size + skip) / m_frameBytes);
        m_head = m_size = 0;
        if (in) in += skip;
        bytes = capacity;
    } else if (m_size + bytes > capacity) {
        // The streaming thread has fallen behind: the oldest sound goes, and the time stamps move
        // on by what was lost, so the sound stays in step with the picture.
        size_t drop = m_size + bytes - capacity;
        drop += (m_frameBytes - drop % m_frameBytes) % m_frameBytes;
        drop = std::min(drop, m_size);
        m_head = (m_head + drop) % capacity;
        m_size -= drop;
        m_position += static_cast<int64_t>(drop / m_frameBytes);
        m_discontinuity = true;
    }
    size_t tail = (m_head + m_size) % capacity;
    size_t left = bytes;
    while (left > 0) {
        const size_t n = std::min(left, capacity - tail);
        if (in) {
            std::memcpy(m_ring.data() + tail, in, n);
            in += n;
        } else {
            std::memset(m_ring.data() + tail, m_silence, n);
        }
        tail = (tail + n) % capacity;
        left -= n;
    }
    m_size += bytes;
    // The streaming thread has nothing to do until a whole buffer is there (or a flush waits).
    if (m_size >= static_cast<size_t>(m_bufferBytes) || m_flush) m_wake.notify_all();
}

void PulseCapturePin::OnEnded(const std::string& why) {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_ended) return;
    m_ended = true;
    m_endReason = why;
    m_wake.notify_all();
}

// ---- the streaming thread -----------------------------------------------------------------------

PulseCapturePin::Work PulseCapturePin::NextWork(std::unique_lock<std::mutex>& lock) {
    const size_t buffer = static_cast<size_t>(m_bufferBytes);
    if (m_size >= buffer && (m_running || m_flush || m_ended)) return Work::Buffer;
    if (m_flush || m_ended) {
        if (m_size >= m_frameBytes) return Work::Partial;
        m_flush = false;
        m_flushed.notify_all();
    }
    if (m_ended && !m_endReported) return Work::End;
    if (m_back) {
        m_back = false;
        return Work::Back;
    }
    // The thread's commands come through its own event, which this wait does not see; the only
    // one that arrives while it streams is the stop, announced by m_stopping.
    if (m_stopping) return Work::Stopping;
    m_wake.wait_for(lock, std::chrono::seconds(1));
    return Work::None;
}

HRESULT PulseCapturePin::DoBufferProcessingLoop() {
    Command com;
    OnThreadStartPlay();
    for (;;) {
        if (CheckRequest(&com)) {
            if (com == CMD_RUN || com == CMD_PAUSE) {
                Reply(NOERROR);
                continue;
            }
            return S_OK;  // stop or exit: the thread's own loop answers it
        }
        Work work;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            work = NextWork(lock);
        }
        switch (work) {
            case Work::Buffer:
            case Work::Partial:
                // Downstream refused (stopping, or failed): wait for the next command.
                if (!Push()) return S_OK;
                break;
            case Work::End:
                ReportEnd();
                break;
            case Work::Back:
                m_presence(true);
                break;
            case Work::Stopping:
                WaitForRequest(INFINITE);
                break;
            case Work::None:
                break;
        }
    }
}

bool PulseCapturePin::Push() {
    IMediaSample* sample = nullptr;
    if (FAILED(GetDeliveryBuffer(&sample, nullptr, nullptr, 0)) || !sample) {
        // Decommitted while stopping: the stop request follows.
        WaitForRequest(10);
        return true;
    }
    if (FillBuffer(sample) != S_OK) {
        sample->Release();
        return true;
    }
    const HRESULT hr = Deliver(sample);
    sample->Release();
    return hr == S_OK;
}

HRESULT PulseCapturePin::FillBuffer(IMediaSample* pSample) {
    BYTE* out = nullptr;
    if (!pSample || FAILED(pSample->GetPointer(&out)) || !out) return E_POINTER;
    std::lock_guard<std::mutex> guard(m_mutex);
    size_t n = std::min<size_t>(m_size, static_cast<size_t>(pSample->GetSize()));
    n -= n % m_frameBytes;
    if (n == 0) return S_FALSE;
    const size_t capacity = m_ring.size();
    const size_t first = std::min(n, capacity - m_head);
    std::memcpy(out, m_ring.data() + m_head, first);
    std::memcpy(out + first, m_ring.data(), n - first);
    m_head = (m_head + n) % capacity;
    m_size -= n;
    // The stream's own clock: the count of sample frames recorded, which pauses with the graph.
    LONGLONG frameStart = m_position;
    LONGLONG frameStop = m_position + static_cast<LONGLONG>(n / m_frameBytes);
    m_position = frameStop;
    REFERENCE_TIME start = frameStart * 10000000LL / m_rate;
    REFERENCE_TIME stop = frameStop * 10000000LL / m_rate;
    pSample->SetActualDataLength(static_cast<long>(n));
    pSample->SetTime(&start, &stop);
    pSample->SetMediaTime(&frameStart, &frameStop);
    pSample->SetSyncPoint(TRUE);
    pSample->SetDiscontinuity(m_discontinuity ? TRUE : FALSE);
    m_discontinuity = false;
    return S_OK;
}

void PulseCapturePin::ReportEnd() {
    std::string why;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_endReported = true;
        m_gone = true;
        why = m_endReason;
    }
    Trace("microphone \"" + m_source.description + "\" (" + m_source.name + ") stopped: " + why +
          "; the rest of the recording has no sound from it");
    DeliverEndOfStream();
    m_presence(false);
}

}  // namespace lumacap::hw::pulse
