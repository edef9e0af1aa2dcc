// The output pin of a sound-server microphone: a record stream of the source in the pin's format,
// buffered as it arrives and pushed downstream in samples of the negotiated size on the pin's
// streaming thread, stamped by the count of samples recorded.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <streams.h>

#include "platform/system/hw/pulse/SoundServer.h"

namespace lumacap::hw::pulse {

class PulseCapturePin final : public CSourceStream,
                              public IAMStreamConfig,
                              public IAMBufferNegotiation,
                              public IKsPropertySet,
                              private RecordSink {
public:
    // `presence` reports the source going (false) or coming back (true) to the graph; it is called
    // on the streaming thread.
    PulseCapturePin(HRESULT* phr, CSource* filter, std::shared_ptr<SoundServer> server,
                    SourceInfo source, std::function<void(bool)> presence);
    ~PulseCapturePin() override;

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IAMStreamConfig: any PCM format can be set; the offered ones are listed.
    STDMETHODIMP SetFormat(AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP GetFormat(AM_MEDIA_TYPE** ppmt) override;
    STDMETHODIMP GetNumberOfCapabilities(int* piCount, int* piSize) override;
    STDMETHODIMP GetStreamCaps(int iIndex, AM_MEDIA_TYPE** ppmt, BYTE* pSCC) override;

    // IAMBufferNegotiation: the suggested buffer size becomes the stream's fragment size.
    STDMETHODIMP SuggestAllocatorProperties(const ALLOCATOR_PROPERTIES* pprop) override;
    STDMETHODIMP GetAllocatorProperties(ALLOCATOR_PROPERTIES* pprop) override;

    // IKsPropertySet: the pin category (capture).
    STDMETHODIMP Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Get(REFGUID guidPropSet, DWORD dwPropID, LPVOID, DWORD, LPVOID pPropData,
                     DWORD cbPropData, DWORD* pcbReturned) override;
    STDMETHODIMP QuerySupported(REFGUID guidPropSet, DWORD dwPropID, DWORD* pTypeSupport) override;

    HRESULT GetMediaType(int iPosition, CMediaType* pmt) override;
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) override;

    HRESULT Active() override;
    HRESULT Inactive() override;
    HRESULT Run(REFERENCE_TIME tStart) override;
    using CSourceStream::Run;

    // The filter leaves the running state: recording is held, and what was recorded up to here
    // goes downstream, the last buffer short if need be.
    void Hold();
    // The server's news of the pin's source (on the server's thread).
    void OnPresence(bool present);

protected:
    HRESULT FillBuffer(IMediaSample* pSample) override;
    HRESULT DoBufferProcessingLoop() override;

private:
    enum class Work { None, Buffer, Partial, End, Back, Stopping };

    void OnCaptured(const void* data, size_t bytes) override;
    void OnEnded(const std::string& why) override;
    // With m_mutex held: what the streaming thread does next, or a short wait for news.
    Work NextWork(std::unique_lock<std::mutex>& lock);
    // Takes one buffer from the pool and delivers it; false when downstream refuses.
    bool Push();
    void ReportEnd();
    // Tells the streaming thread that a stop request is on its way (or has been dealt with).
    void Announce(bool stopping);

    std::shared_ptr<SoundServer> m_server;
    const SourceInfo m_source;
    const std::vector<StreamFormat> m_formats;
    const std::function<void(bool)> m_presence;

    // The format IAMStreamConfig::SetFormat chose, if any.
    std::mutex m_formatMutex;
    std::optional<StreamFormat> m_setFormat;
    // Touched under the filter's state lock only.
    ALLOCATOR_PROPERTIES m_suggested{0, 0, 0, 0};
    long m_bufferBytes = 0;
    std::unique_ptr<RecordStream> m_stream;

    // What the server delivered and the streaming thread has not pushed yet: a ring of bytes.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_flushed;
    std::vector<uint8_t> m_ring;
    size_t m_head = 0;
    size_t m_size = 0;
    uint32_t m_frameBytes = 1;
    uint8_t m_silence = 0;
    uint32_t m_rate = 1;
    // Sample frames of the stream's timeline already pushed (or lost to an overflow).
    int64_t m_position = 0;
    bool m_accepting = false;
    bool m_running = false;
    bool m_flush = false;
    bool m_discontinuity = true;
    bool m_ended = false;
    bool m_endReported = false;
    bool m_gone = false;
    bool m_back = false;
    bool m_stopping = false;
    std::string m_endReason;
};

}  // namespace lumacap::hw::pulse
