// The virtual microphone's capture filter: a live PCM source producing a tone (or silence) in
// real time, with the formats, format choice and buffer negotiation of an audio capture driver.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include <mmreg.h>
#include <streams.h>

#include "platform/system/hw/LiveSource.h"
#include "platform/system/hw/VirtualDevices.h"
#include "platform/sim/Faults.h"

namespace lumacap::hw {
namespace {

// {B8A3E0A2-54D7-4E0F-9C1B-6F3A2D7C8E01}
constexpr GUID CLSID_LumacapVirtualMicrophone = {
    0xB8A3E0A2, 0x54D7, 0x4E0F, {0x9C, 0x1B, 0x6F, 0x3A, 0x2D, 0x7C, 0x8E, 0x01}};

using Clock = std::chrono::steady_clock;

void WaveType(const sim::AudioFormat& f, CMediaType* mt) {
    mt->InitMediaType();
    mt->SetType(&MEDIATYPE_Audio);
    mt->SetSubtype(&MEDIASUBTYPE_PCM);
    mt->SetFormatType(&FORMAT_WaveFormatEx);
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = f.channels;
    wfx.nSamplesPerSec = f.samplesPerSecond;
    wfx.wBitsPerSample = f.bitsPerSample;
    wfx.nBlockAlign = static_cast<WORD>(f.bitsPerSample / 8 * f.channels);
    wfx.nAvgBytesPerSec = wfx.nBlockAlign * f.samplesPerSecond;
    wfx.cbSize = 0;
    mt->SetFormat(reinterpret_cast<BYTE*>(&wfx), sizeof(wfx));
    mt->SetSampleSize(wfx.nBlockAlign);
}

const WAVEFORMATEX* WaveOf(const AM_MEDIA_TYPE& mt) {
    if (mt.formattype != FORMAT_WaveFormatEx || mt.cbFormat < sizeof(WAVEFORMATEX) || !mt.pbFormat)
        return nullptr;
    return reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
}

class VirtualMicrophoneFilter;

class VirtualMicrophonePin final : public CSourceStream,
                                   public IAMStreamConfig,
                                   public IAMBufferNegotiation,
                                   public IKsPropertySet {
public:
    VirtualMicrophonePin(HRESULT* phr, CSource* filter, std::shared_ptr<MicrophoneDevice> device)
        : CSourceStream(NAME("Virtual microphone capture pin"), phr, filter, L"Capture"),
          m_device(std::move(device)),
          m_config(m_device->Config()) {}

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IAMStreamConfig)
            return GetInterface(static_cast<IAMStreamConfig*>(this), ppv);
        if (riid == IID_IAMBufferNegotiation)
            return GetInterface(static_cast<IAMBufferNegotiation*>(this), ppv);
        if (riid == IID_IKsPropertySet)
            return GetInterface(static_cast<IKsPropertySet*>(this), ppv);
        return CSourceStream::NonDelegatingQueryInterface(riid, ppv);
    }

    // IAMStreamConfig
    STDMETHODIMP SetFormat(AM_MEDIA_TYPE* pmt) override {
        LUMACAP_FAULT_POINT("IAMStreamConfig::SetFormat");
        if (!pmt) return E_POINTER;
        CAutoLock lock(m_pFilter->pStateLock());
        if (!m_pFilter->IsStopped()) return VFW_E_NOT_STOPPED;
        if (IsConnected()) return VFW_E_ALREADY_CONNECTED;
        if (FindFormat(*pmt) < 0) return VFW_E_INVALIDMEDIATYPE;
        m_setFormat = *pmt;
        return S_OK;
    }
    STDMETHODIMP GetFormat(AM_MEDIA_TYPE** ppmt) override {
        LUMACAP_FAULT_POINT("IAMStreamConfig::GetFormat");
        if (!ppmt) return E_POINTER;
        CAutoLock lock(m_pFilter->pStateLock());
        CMediaType current;
        if (IsConnected())
            current = m_mt;
        else if (m_setFormat.IsValid())
            current = m_setFormat;
        else if (GetMediaType(
                     std::clamp(m_config.defaultFormat, 0,
                                std::max(0, static_cast<int>(m_config.formats.size()) - 1)),
                     &current) != S_OK)
            return VFW_E_NO_TYPES;
        *ppmt = CreateMediaType(&current);
        return *ppmt ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP GetNumberOfCapabilities(int* piCount, int* piSize) override {
        LUMACAP_FAULT_POINT("IAMStreamConfig::GetNumberOfCapabilities");
        if (!piCount || !piSize) return E_POINTER;
        *piCount = static_cast<int>(m_config.formats.size());
        *piSize = sizeof(AUDIO_STREAM_CONFIG_CAPS);
        return S_OK;
    }
    STDMETHODIMP GetStreamCaps(int iIndex, AM_MEDIA_TYPE** ppmt, BYTE* pSCC) override {
        LUMACAP_FAULT_POINT("IAMStreamConfig::GetStreamCaps");
        if (!ppmt || !pSCC) return E_POINTER;
        if (iIndex < 0) return E_INVALIDARG;
        if (iIndex >= static_cast<int>(m_config.formats.size())) return S_FALSE;
        const sim::AudioFormat& f = m_config.formats[static_cast<size_t>(iIndex)];
        CMediaType mt;
        WaveType(f, &mt);
        *ppmt = CreateMediaType(&mt);
        if (!*ppmt) return E_OUTOFMEMORY;
        AUDIO_STREAM_CONFIG_CAPS caps{};
        caps.guid = MEDIATYPE_Audio;
        caps.MinimumChannels = caps.MaximumChannels = f.channels;
        caps.ChannelsGranularity = 1;
        caps.MinimumBitsPerSample = caps.MaximumBitsPerSample = f.bitsPerSample;
        caps.BitsPerSampleGranularity = 8;
        caps.MinimumSampleFrequency = caps.MaximumSampleFrequency = f.samplesPerSecond;
        caps.SampleFrequencyGranularity = 1;
        std::memcpy(pSCC, &caps, sizeof(caps));
        return S_OK;
    }

    // IAMBufferNegotiation: honoured at the next connection.
    STDMETHODIMP SuggestAllocatorProperties(const ALLOCATOR_PROPERTIES* pprop) override {
        LUMACAP_FAULT_POINT("IAMBufferNegotiation::SuggestAllocatorProperties");
        if (!pprop) return E_POINTER;
        CAutoLock lock(m_pFilter->pStateLock());
        if (IsConnected()) return VFW_E_ALREADY_CONNECTED;
        m_suggested = *pprop;
        return S_OK;
    }
    STDMETHODIMP GetAllocatorProperties(ALLOCATOR_PROPERTIES* pprop) override {
        if (!pprop) return E_POINTER;
        CAutoLock lock(m_pFilter->pStateLock());
        if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
        return m_pAllocator->GetProperties(pprop);
    }

    // IKsPropertySet
    STDMETHODIMP Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Get(REFGUID guidPropSet, DWORD dwPropID, LPVOID, DWORD, LPVOID pPropData,
                     DWORD cbPropData, DWORD* pcbReturned) override {
        if (guidPropSet != AMPROPSETID_Pin || dwPropID != AMPROPERTY_PIN_CATEGORY)
            return E_PROP_ID_UNSUPPORTED;
        if (pcbReturned) *pcbReturned = sizeof(GUID);
        if (!pPropData) return pcbReturned ? S_OK : E_POINTER;
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

    HRESULT GetMediaType(int iPosition, CMediaType* pmt) override {
        if (!pmt) return E_POINTER;
        if (iPosition < 0) return E_INVALIDARG;
        if (iPosition >= static_cast<int>(m_config.formats.size())) return VFW_S_NO_MORE_ITEMS;
        WaveType(m_config.formats[static_cast<size_t>(iPosition)], pmt);
        return S_OK;
    }
    HRESULT CheckMediaType(const CMediaType* pmt) override {
        if (!pmt) return E_POINTER;
        const int index = FindFormat(*pmt);
        if (index < 0) return VFW_E_TYPE_NOT_ACCEPTED;
        if (m_setFormat.IsValid() && FindFormat(m_setFormat) != index)
            return VFW_E_TYPE_NOT_ACCEPTED;
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) override {
        if (!pAlloc || !pRequest) return E_POINTER;
        const WAVEFORMATEX* wfx = WaveOf(m_mt);
        if (!wfx) return E_UNEXPECTED;
        ALLOCATOR_PROPERTIES request = *pRequest;
        // Half a second per buffer, as capture drivers do, unless the application asked otherwise.
        long buffer = static_cast<long>(wfx->nAvgBytesPerSec / 2);
        long count = 4;
        if (m_suggested.cbBuffer > 0) buffer = m_suggested.cbBuffer;
        if (m_suggested.cBuffers > 0) count = m_suggested.cBuffers;
        if (m_suggested.cbAlign > 0) request.cbAlign = m_suggested.cbAlign;
        // Whole sample frames only.
        if (wfx->nBlockAlign > 0) buffer -= buffer % wfx->nBlockAlign;
        if (buffer <= 0) buffer = wfx->nBlockAlign;
        request.cbBuffer = buffer;
        request.cBuffers = std::max<long>(request.cBuffers, count);
        if (request.cbAlign <= 0) request.cbAlign = 1;
        ALLOCATOR_PROPERTIES actual{};
        const HRESULT hr = pAlloc->SetProperties(&request, &actual);
        if (FAILED(hr)) return hr;
        m_bufferBytes = buffer;
        return actual.cbBuffer < buffer ? E_FAIL : S_OK;
    }

    HRESULT OnThreadCreate() override {
        m_samplesDelivered = 0;
        m_phase = 0;
        m_started = false;
        return WaveOf(m_mt) ? S_OK : E_UNEXPECTED;
    }
    HRESULT Run(REFERENCE_TIME) override {
        // The streaming thread picks the new start up itself, so its counts stay its own.
        m_resumedAt = Clock::now().time_since_epoch().count();
        m_resumePending = true;
        m_running = true;
        return CSourceStream::Run();
    }
    HRESULT Active() override {
        m_lost = !m_device->Plugged();
        return CSourceStream::Active();
    }

    HRESULT FillBuffer(IMediaSample* pSample) override {
        const WAVEFORMATEX* wfx = WaveOf(m_mt);
        BYTE* data = nullptr;
        pSample->GetPointer(&data);
        const long frames = m_bufferBytes / wfx->nBlockAlign;
        const double step = 2.0 * M_PI * m_config.toneFrequency / wfx->nSamplesPerSec;
        const double amplitude = m_config.silence ? 0.0 : std::clamp(m_config.amplitude, 0.0, 1.0);
        for (long i = 0; i < frames; ++i) {
            const double v = amplitude * std::sin(m_phase);
            m_phase += step;
            if (m_phase > 2.0 * M_PI) m_phase -= 2.0 * M_PI;
            for (int c = 0; c < wfx->nChannels; ++c) {
                BYTE* p = data + i * wfx->nBlockAlign + c * (wfx->wBitsPerSample / 8);
                if (wfx->wBitsPerSample == 16) {
                    const int16_t s = static_cast<int16_t>(std::lround(v * 32767.0));
                    std::memcpy(p, &s, 2);
                } else {
                    *p = static_cast<BYTE>(std::lround(128.0 + v * 127.0));
                }
            }
        }
        pSample->SetActualDataLength(frames * wfx->nBlockAlign);
        REFERENCE_TIME start = m_samplesDelivered * 10000000LL / wfx->nSamplesPerSec;
        REFERENCE_TIME stop = (m_samplesDelivered + frames) * 10000000LL / wfx->nSamplesPerSec;
        pSample->SetTime(&start, &stop);
        pSample->SetSyncPoint(TRUE);
        m_samplesDelivered += frames;
        return S_OK;
    }

    HRESULT DoBufferProcessingLoop() override {
        Command com;
        const WAVEFORMATEX* wfx = WaveOf(m_mt);
        for (;;) {
            if (CheckRequest(&com)) {
                if (com == CMD_RUN || com == CMD_PAUSE) {
                    Reply(NOERROR);
                    continue;
                }
                return S_OK;
            }
            if (!m_running || m_lost) {
                WaitForRequest(50);
                continue;
            }
            const long frames = m_bufferBytes / wfx->nBlockAlign;
            if (m_resumePending.exchange(false)) Resume(frames, wfx->nSamplesPerSec);
            // A buffer is ready when the clock has reached its last sample.
            const int64_t due =
                (m_samplesDelivered - m_samplesAtStart + frames) * 1000000LL / wfx->nSamplesPerSec;
            const auto dueAt = m_start + std::chrono::microseconds(due);
            const auto now = Clock::now();
            if (now < dueAt) {
                WaitForRequest(static_cast<DWORD>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(dueAt - now).count() +
                    1));
                continue;
            }
            IMediaSample* pSample = nullptr;
            HRESULT hr = GetDeliveryBuffer(&pSample, nullptr, nullptr, 0);
            if (FAILED(hr) || !pSample) {
                WaitForRequest(10);
                continue;
            }
            FillBuffer(pSample);
            hr = Deliver(pSample);
            pSample->Release();
            if (hr != S_OK) return S_OK;
        }
    }

    void SetRunning(bool running) {
        if (!running && m_running) m_pausedAt = Clock::now().time_since_epoch().count();
        m_running = running;
    }
    void SetLost() { m_lost = true; }

private:
    // Starts counting time again after a pause (or for the first time). The buffer that was
    // filling when the graph paused keeps what it had captured, as a driver's buffer does, and
    // fills up from there: a pause drops no sound, so sound stays level with a picture that is
    // paused for exactly as long.
    void Resume(long frames, DWORD rate) {
        const Clock::time_point resumedAt{Clock::duration(m_resumedAt.load())};
        int64_t partial = 0;
        if (m_started) {
            const Clock::time_point pausedAt{Clock::duration(m_pausedAt.load())};
            const int64_t captured =
                std::chrono::duration_cast<std::chrono::microseconds>(pausedAt - m_start).count() *
                rate / 1000000;
            partial = std::clamp<int64_t>(captured - (m_samplesDelivered - m_samplesAtStart), 0,
                                          std::max<long>(frames - 1, 0));
        }
        m_start = resumedAt;
        m_samplesAtStart = m_samplesDelivered + partial;
        m_started = true;
    }

    int FindFormat(const AM_MEDIA_TYPE& mt) const {
        const WAVEFORMATEX* wfx = WaveOf(mt);
        if (!wfx || mt.majortype != MEDIATYPE_Audio || wfx->wFormatTag != WAVE_FORMAT_PCM)
            return -1;
        for (size_t i = 0; i < m_config.formats.size(); ++i) {
            const sim::AudioFormat& f = m_config.formats[i];
            if (f.samplesPerSecond == wfx->nSamplesPerSec &&
                f.bitsPerSample == wfx->wBitsPerSample && f.channels == wfx->nChannels &&
                wfx->nBlockAlign == f.bitsPerSample / 8 * f.channels)
                return static_cast<int>(i);
        }
        return -1;
    }

    std::shared_ptr<MicrophoneDevice> m_device;
    sim::VirtualMicrophoneConfig m_config;
    CMediaType m_setFormat;
    ALLOCATOR_PROPERTIES m_suggested{0, 0, 0, 0};
    long m_bufferBytes = 0;
    int64_t m_samplesDelivered = 0;
    int64_t m_samplesAtStart = 0;
    double m_phase = 0;
    // Streaming thread only: when counting started, and whether it has since the thread began.
    Clock::time_point m_start;
    bool m_started = false;
    // Set by the graph's thread when it pauses and runs the filter (clock counts).
    std::atomic<Clock::rep> m_pausedAt{0};
    std::atomic<Clock::rep> m_resumedAt{0};
    std::atomic<bool> m_resumePending{false};
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_lost{false};
};

class VirtualMicrophoneFilter final : public LiveSourceFilter, public DeviceListener {
public:
    VirtualMicrophoneFilter(std::shared_ptr<MicrophoneDevice> device, HRESULT* phr)
        : LiveSourceFilter(NAME("Virtual microphone"), CLSID_LumacapVirtualMicrophone),
          m_device(std::move(device)),
          m_pin(phr, this, m_device) {
        m_device->Attach(this);
    }
    ~VirtualMicrophoneFilter() override { m_device->Detach(this); }

    void SetDelivering(bool delivering) override { m_pin.SetRunning(delivering); }
    void OnDevicePresence(bool present) override {
        if (!present) m_pin.SetLost();
        NotifyPresence(present);
    }

private:
    std::shared_ptr<MicrophoneDevice> m_device;
    VirtualMicrophonePin m_pin;
};

}  // namespace

HRESULT CreateVirtualMicrophoneFilter(const std::shared_ptr<MicrophoneDevice>& device, REFIID riid,
                                      void** ppv) {
    return CreateComInstance<VirtualMicrophoneFilter>(nullptr, riid, ppv, device);
}

}  // namespace lumacap::hw
