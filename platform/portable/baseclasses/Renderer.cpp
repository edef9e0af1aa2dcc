// The renderer base: the end of a stream. A pause completes when the first sample arrives (the
// renderer shows it and holds the stream, blocking, until the graph runs); a run renders every
// sample as it arrives; a stop or a flush releases a held stream at once.
#include <streams.h>

#include <chrono>
#include <cstring>

CRendererInputPin::CRendererInputPin(CBaseRenderer* pRenderer, HRESULT* phr, LPCWSTR pPinName)
    : CBaseInputPin(NAME("Renderer pin"), pRenderer, &pRenderer->m_InterfaceLock, phr, pPinName),
      m_pRenderer(pRenderer) {}

STDMETHODIMP CRendererInputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (SUCCEEDED(m_pRenderer->InputPinInterface(riid, ppv))) return S_OK;
    return CBaseInputPin::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CRendererInputPin::EndOfStream() {
    CAutoLock lock(&m_pRenderer->m_InterfaceLock);
    // S_FALSE while flushing, VFW_E_WRONG_STATE while stopped.
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;
    return m_pRenderer->EndOfStream();
}

STDMETHODIMP CRendererInputPin::BeginFlush() {
    CAutoLock lock(&m_pRenderer->m_InterfaceLock);
    CBaseInputPin::BeginFlush();
    return m_pRenderer->BeginFlush();
}

STDMETHODIMP CRendererInputPin::EndFlush() {
    CAutoLock lock(&m_pRenderer->m_InterfaceLock);
    const HRESULT hr = m_pRenderer->EndFlush();
    CBaseInputPin::EndFlush();
    return hr;
}

// The renderer judges the sample itself: it must take one while paused, which the base pin's
// check would allow, but answer in its own terms while flushing or after the end of the stream.
STDMETHODIMP CRendererInputPin::Receive(IMediaSample* pSample) {
    if (!pSample) return E_POINTER;
    return m_pRenderer->Receive(pSample);
}

STDMETHODIMP CRendererInputPin::QueryId(LPWSTR* Id) {
    if (!Id) return E_POINTER;
    static const WCHAR kId[] = L"In";
    *Id = static_cast<LPWSTR>(CoTaskMemAlloc(sizeof(kId)));
    if (!*Id) return E_OUTOFMEMORY;
    std::memcpy(*Id, kId, sizeof(kId));
    return S_OK;
}

HRESULT CRendererInputPin::BreakConnect() {
    m_pRenderer->BreakConnect();
    return CBaseInputPin::BreakConnect();
}

HRESULT CRendererInputPin::CompleteConnect(IPin* pReceivePin) {
    const HRESULT hr = m_pRenderer->CompleteConnect(pReceivePin);
    if (FAILED(hr)) return hr;
    return CBaseInputPin::CompleteConnect(pReceivePin);
}

HRESULT CRendererInputPin::SetMediaType(const CMediaType* pmt) {
    const HRESULT hr = CBaseInputPin::SetMediaType(pmt);
    if (FAILED(hr)) return hr;
    return m_pRenderer->SetMediaType(pmt);
}

HRESULT CRendererInputPin::CheckMediaType(const CMediaType* pmt) {
    return m_pRenderer->CheckMediaType(pmt);
}

// A stop decommitted the allocator; a pause after it commits it again, so an upstream filter
// that asks for buffers before its own pin is active still gets them. An allocator nobody sized
// stays as it is: the upstream pin reports that when it commits.
HRESULT CRendererInputPin::Active() {
    if (m_pAllocator) m_pAllocator->Commit();
    return m_pRenderer->OnStartStreaming();
}

HRESULT CRendererInputPin::Inactive() {
    CBaseInputPin::Inactive();
    return m_pRenderer->OnStopStreaming();
}

// ---- CBaseRenderer ------------------------------------------------------------------------------

CBaseRenderer::CBaseRenderer(REFCLSID RenderClass, LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr)
    : CBaseFilter(pName, pUnk, &m_InterfaceLock, RenderClass, phr) {}

CBaseRenderer::~CBaseRenderer() {
    delete m_pPosition;
    delete m_pInputPin;
}

STDMETHODIMP CBaseRenderer::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IMediaSeeking || riid == IID_IMediaPosition) {
        GetPin(0);
        if (!m_pPosition) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        return m_pPosition->NonDelegatingQueryInterface(riid, ppv);
    }
    if (riid == IID_IQualityControl) return GetInterface(static_cast<IQualityControl*>(this), ppv);
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

CBasePin* CBaseRenderer::GetPin(int n) {
    CAutoLock lock(&m_InterfaceLock);
    if (!m_pInputPin) {
        HRESULT hr = S_OK;
        m_pInputPin = new CRendererInputPin(this, &hr, m_pInputPinName);
        m_pPosition =
            new CRendererPosPassThru(NAME("Renderer position"), GetOwner(), &hr, m_pInputPin);
    }
    return n == 0 ? m_pInputPin : nullptr;
}

bool CBaseRenderer::PauseCompleteLocked() const {
    return m_bHaveSample || m_bEOS || m_bFlushing || !m_pInputPin || !m_pInputPin->IsConnected();
}

void CBaseRenderer::SendComplete() {
    m_bEOSDelivered = true;
    NotifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
}

STDMETHODIMP CBaseRenderer::Stop() {
    CAutoLock lock(&m_InterfaceLock);
    {
        std::lock_guard<std::mutex> wait(m_waitMutex);
        m_streamState = State_Stopped;
    }
    // Releases a stream held in Receive before the pins decommit the allocator.
    m_waitCv.notify_all();
    const HRESULT hr = CBaseFilter::Stop();
    {
        std::lock_guard<std::mutex> wait(m_waitMutex);
        m_bHaveSample = false;
        m_bEOS = false;
        m_bEOSDelivered = false;
    }
    if (m_pPosition) m_pPosition->ResetMediaTime();
    return hr;
}

// S_FALSE while the pause waits for a sample: from a stop, and also from a run, since a renderer
// that shows each sample as it arrives holds none it could show paused.
STDMETHODIMP CBaseRenderer::Pause() {
    CAutoLock lock(&m_InterfaceLock);
    GetPin(0);
    const HRESULT hr = CBaseFilter::Pause();
    if (FAILED(hr)) return hr;
    std::lock_guard<std::mutex> wait(m_waitMutex);
    m_streamState = State_Paused;
    m_bHaveSample = false;
    return PauseCompleteLocked() ? S_OK : S_FALSE;
}

STDMETHODIMP CBaseRenderer::Run(REFERENCE_TIME StartTime) {
    CAutoLock lock(&m_InterfaceLock);
    if (m_State == State_Running) return S_OK;
    if (m_State == State_Stopped) {
        const HRESULT hr = Pause();
        if (FAILED(hr)) return hr;
    }
    const HRESULT hr = CBaseFilter::Run(StartTime);
    if (FAILED(hr)) return hr;
    bool complete = false;
    {
        std::lock_guard<std::mutex> wait(m_waitMutex);
        m_streamState = State_Running;
        // Nothing will come: the stream is over as soon as it starts. An end that came while
        // paused is told now.
        complete = !m_pInputPin->IsConnected() || (m_bEOS && !m_bEOSDelivered);
    }
    m_waitCv.notify_all();
    if (complete) SendComplete();
    return S_OK;
}

STDMETHODIMP CBaseRenderer::GetState(DWORD dwMSecs, FILTER_STATE* State) {
    if (!State) return E_POINTER;
    std::unique_lock<std::mutex> wait(m_waitMutex);
    *State = m_streamState;
    if (m_streamState != State_Paused || PauseCompleteLocked()) return S_OK;
    const auto ready = [this] { return m_streamState != State_Paused || PauseCompleteLocked(); };
    if (dwMSecs == INFINITE)
        m_waitCv.wait(wait, ready);
    else
        m_waitCv.wait_for(wait, std::chrono::milliseconds(dwMSecs), ready);
    *State = m_streamState;
    return ready() ? S_OK : VFW_S_STATE_INTERMEDIATE;
}

STDMETHODIMP CBaseRenderer::Notify(IBaseFilter*, Quality q) {
    if (m_pQSink) return m_pQSink->Notify(this, q);
    // Without a sink the message goes to whoever delivers to us.
    IPin* peer = m_pInputPin ? m_pInputPin->GetConnected() : nullptr;
    if (!peer) return VFW_E_NOT_FOUND;
    IQualityControl* qc = nullptr;
    if (FAILED(peer->QueryInterface(IID_IQualityControl, reinterpret_cast<void**>(&qc))))
        return VFW_E_NOT_FOUND;
    const HRESULT hr = qc->Notify(this, q);
    qc->Release();
    return hr;
}

STDMETHODIMP CBaseRenderer::SetSink(IQualityControl* piqc) {
    m_pQSink = piqc;
    return S_OK;
}

HRESULT CBaseRenderer::RenderNow(IMediaSample* pSample) {
    CAutoLock lock(&m_RendererLock);
    const HRESULT hr = DoRenderSample(pSample);
    ++m_lRendered;
    return hr;
}

HRESULT CBaseRenderer::Receive(IMediaSample* pSample) {
    FILTER_STATE state;
    {
        std::lock_guard<std::mutex> wait(m_waitMutex);
        if (m_bFlushing) return S_FALSE;
        if (m_streamState == State_Stopped) return VFW_E_WRONG_STATE;
        if (m_bEOS) return VFW_E_SAMPLE_REJECTED_EOS;
        state = m_streamState;
    }
    AM_MEDIA_TYPE* pmt = nullptr;
    if (pSample->GetMediaType(&pmt) == S_OK && pmt) {
        const HRESULT accepted = CheckMediaType(static_cast<CMediaType*>(pmt));
        DeleteMediaType(pmt);
        if (FAILED(accepted)) return VFW_E_TYPE_NOT_ACCEPTED;
    }
    if (m_pPosition) m_pPosition->RegisterMediaTime(pSample);
    if (state == State_Running) return RenderNow(pSample);

    // Paused: show the sample now (the picture a paused graph displays), complete the pause and
    // hold the stream until the graph runs, stops or flushes. The sample was shown, so a run does
    // not show it again.
    const HRESULT hr = RenderNow(pSample);
    std::unique_lock<std::mutex> wait(m_waitMutex);
    m_bHaveSample = true;
    m_waitCv.notify_all();
    m_waitCv.wait(wait, [this] { return m_streamState != State_Paused || m_bFlushing; });
    return hr;
}

HRESULT CBaseRenderer::EndOfStream() {
    bool running;
    {
        std::lock_guard<std::mutex> wait(m_waitMutex);
        m_bEOS = true;
        running = m_streamState == State_Running;
    }
    m_waitCv.notify_all();
    if (m_pPosition) m_pPosition->EOS();
    if (running) SendComplete();
    return S_OK;
}

HRESULT CBaseRenderer::BeginFlush() {
    {
        std::lock_guard<std::mutex> wait(m_waitMutex);
        m_bFlushing = true;
    }
    m_waitCv.notify_all();
    return S_OK;
}

// After a flush the stream starts over: a paused renderer waits for a new sample again.
HRESULT CBaseRenderer::EndFlush() {
    {
        std::lock_guard<std::mutex> wait(m_waitMutex);
        m_bFlushing = false;
        m_bEOS = false;
        m_bEOSDelivered = false;
        m_bHaveSample = false;
    }
    if (m_pPosition) m_pPosition->ResetMediaTime();
    return S_OK;
}
