// The renderer base: the end of a stream, with the pause, end-of-stream and flush rules of a
// renderer.
#pragma once

#include <condition_variable>
#include <mutex>

#include "amfilter.h"
#include "ctlutil.h"

// ---- renderers ----------------------------------------------------------------------------------

class CBaseRenderer;

class LUMACAP_API CRendererInputPin : public CBaseInputPin {
public:
    CRendererInputPin(CBaseRenderer* pRenderer, HRESULT* phr, LPCWSTR Name);
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP Receive(IMediaSample* pMediaSample) override;
    STDMETHODIMP QueryId(LPWSTR* Id) override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin* pReceivePin) override;
    HRESULT SetMediaType(const CMediaType* pmt) override;
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT Active() override;
    HRESULT Inactive() override;

protected:
    CBaseRenderer* m_pRenderer;
};

// The end of a stream. A pause completes when the first sample arrives: the renderer shows it and
// holds the stream there until the graph runs, stops or flushes. Running, it renders every sample
// as it arrives (capture streams are live: they are shown when they arrive). It tells the graph
// EC_COMPLETE when the stream ends while it runs (an end that came while paused is told at the
// run), and at every run when nothing is connected. Seeking and position requests pass to the
// filter upstream; quality messages go to the sink set, else upstream.
class LUMACAP_API CBaseRenderer : public CBaseFilter, public IQualityControl {
public:
    CBaseRenderer(REFCLSID RenderClass, LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr);
    ~CBaseRenderer() override;

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override;
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Run(REFERENCE_TIME StartTime) override;
    STDMETHODIMP GetState(DWORD dwMSecs, FILTER_STATE* State) override;

    // IQualityControl
    STDMETHODIMP Notify(IBaseFilter* pSelf, Quality q) override;
    STDMETHODIMP SetSink(IQualityControl* piqc) override;

    virtual HRESULT CheckMediaType(const CMediaType*) = 0;
    virtual HRESULT DoRenderSample(IMediaSample* pMediaSample) = 0;
    virtual HRESULT SetMediaType(const CMediaType* pmt) { return NOERROR; }
    virtual HRESULT BreakConnect() { return NOERROR; }
    virtual HRESULT CompleteConnect(IPin* pReceivePin) { return NOERROR; }
    virtual HRESULT OnStartStreaming() { return NOERROR; }
    // Interfaces a derived renderer adds to its input pin (an overlay, say).
    virtual HRESULT InputPinInterface(REFIID riid, void** ppv) { return E_NOINTERFACE; }
    virtual HRESULT OnStopStreaming() { return NOERROR; }
    virtual HRESULT Receive(IMediaSample* pMediaSample);
    virtual HRESULT EndOfStream();
    virtual HRESULT BeginFlush();
    virtual HRESULT EndFlush();

    CRendererInputPin* InputPin() { return m_pInputPin; }
    LONG SamplesRendered() const { return m_lRendered.load(); }

protected:
    friend class CRendererInputPin;
    // Whether the pause is complete: a sample is held, the stream ended, or nothing can come.
    bool PauseCompleteLocked() const;
    HRESULT RenderNow(IMediaSample* pSample);
    void SendComplete();

    CCritSec m_InterfaceLock;
    CCritSec m_RendererLock;
    CRendererInputPin* m_pInputPin = nullptr;
    CRendererPosPassThru* m_pPosition = nullptr;
    IQualityControl* m_pQSink = nullptr;  // not counted, as the quality protocol has it
    // The input pin's name; a derived renderer may choose another before the pin is made.
    LPCWSTR m_pInputPinName = L"In";
    std::mutex m_waitMutex;
    std::condition_variable m_waitCv;
    FILTER_STATE m_streamState = State_Stopped;  // the state as the streaming thread sees it
    bool m_bHaveSample = false;                  // a sample arrived since the pause began (cued)
    bool m_bFlushing = false;
    bool m_bEOS = false;           // the stream ended; no sample is taken until a stop or flush
    bool m_bEOSDelivered = false;  // EC_COMPLETE for that end was sent
    std::atomic<LONG> m_lRendered{0};
};
