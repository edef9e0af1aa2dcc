// The renderer base: the end of a stream. A pause completes when the first sample arrives (the
// renderer holds it, blocking the stream, until the graph runs); a run renders every sample as it
// arrives; a stop or a flush releases a held stream at once.
#include <streams.h>

#include <chrono>
#include <cstring>
#include <cwchar>

CRendererInputPin::CRendererInputPin(CBaseRenderer* pRenderer, HRESULT* phr, LPCWSTR pPinName)
    : CBaseInputPin(NAME("Renderer pin"), pRenderer, &pRenderer->m_InterfaceLock, phr, pPinName),
      m_pRenderer(pRenderer) {}

STDMETHODIMP CRendererInputPin::EndOfStream() {
    CAutoLock lock(&m_pRenderer->m_RendererLock);
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;
    return m_pRenderer->EndOfStream();
}

STDMETHODIMP CRendererInputPin::BeginFlush() {
    CBaseInputPin::BeginFlush();
    return m_pRenderer->BeginFlush();
}

STDMETHODIMP CRendererInputPin::EndFlush() {
    const HRESULT hr = m_pRenderer->EndFlush();
    CBaseInputPin::EndFlush();
    return hr;
}

STDMETHODIMP CRendererInputPin::Receive(IMediaSample* pSample) {
    if (!pSample) return E_POINTER;
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;
    return m_pRenderer->Receive(pSample);
}

STDMETHODIMP CRendererInputPin::QueryId(LPWSTR* Id) {
    if (!Id) return E_POINTER;
    *Id = static_cast<LPWSTR>(CoTaskMemAlloc(3 * sizeof(WCHAR)));
    if (!*Id) return E_OUTOFMEMORY;
    std::wcscpy(*Id, L"In");
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

HRESULT CRendererInputPin::Active() {
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
    delete m_pInputPin;
}

CBasePin* CBaseRenderer::GetPin(int n) {
    CAutoLock lock(&m_InterfaceLock);
    if (!m_pInputPin) {
        HRESULT hr = S_OK;
        m_pInputPin = new CRendererInputPin(this, &hr, L"In");
    }
    return n == 0 ? m_pInputPin : nullptr;
}

STDMETHODIMP CBaseRenderer::FindPin(LPCWSTR Id, IPin** ppPin) {
    if (!ppPin || !Id) return E_POINTER;
    if (std::wcscmp(Id, L"In") == 0) {
        *ppPin = GetPin(0);
        (*ppPin)->AddRef();
        return S_OK;
    }
    *ppPin = nullptr;
    return VFW_E_NOT_FOUND;
}

void CBaseRenderer::ReleaseHeldSample() {
    m_waitCv.notify_all();
}

STDMETHODIMP CBaseRenderer::Stop() {
    CAutoLock lock(&m_InterfaceLock);
    {
        std::lock_guard<std::mutex> wait(m_waitMutex);
        m_streamState = State_Stopped;
        m_bAbort = true;
    }
    ReleaseHeldSample();
    const HRESULT hr = CBaseFilter::Stop();
    {
        std::lock_guard<std::mutex> wait(m_waitMutex);
        m_bHaveSample = false;
        m_bEOS = false;
        m_bEOSDelivered = false;
    }
    return hr;
}

STDMETHODIMP CBaseRenderer::Pause() {
    CAutoLock lock(&m_InterfaceLock);
    const FILTER_STATE old = m_State;
    if (old == State_Stopped) {
        std::lock_guard<std::mutex> wait(m_waitMutex);
        m_bHaveSample = false;
        m_bAbort = false;
        m_bEOS = false;
        m_bEOSDelivered = false;
    }
    const HRESULT hr = CBaseFilter::Pause();
    if (FAILED(hr)) return hr;
    {
        std::lock_guard<std::mutex> wait(m_waitMutex);
        m_streamState = State_Paused;
        // From running, the stream has data in flight already; unconnected, there is nothing to
        // wait for.
        if (old == State_Running || !m_pInputPin || !m_pInputPin->IsConnected())
            m_bHaveSample = true;
    }
    return hr;
}

STDMETHODIMP CBaseRenderer::Run(REFERENCE_TIME StartTime) {
    CAutoLock lock(&m_InterfaceLock);
    if (m_State == State_Running) return NOERROR;
    HRESULT hr = NOERROR;
    if (m_State == State_Stopped) {
        hr = Pause();
        if (FAILED(hr)) return hr;
    }
    hr = CBaseFilter::Run(StartTime);
    bool complete = false;
    {
        std::lock_guard<std::mutex> wait(m_waitMutex);
        m_streamState = State_Running;
        complete = m_bEOS && !m_bEOSDelivered;
        if (complete) m_bEOSDelivered = true;
    }
    ReleaseHeldSample();
    if (complete) NotifyEvent(EC_COMPLETE, S_OK, 0);
    return hr;
}

STDMETHODIMP CBaseRenderer::GetState(DWORD dwMSecs, FILTER_STATE* State) {
    if (!State) return E_POINTER;
    std::unique_lock<std::mutex> wait(m_waitMutex);
    if (m_streamState == State_Paused && !m_bHaveSample && !m_bEOS) {
        const auto ready = [this] {
            return m_bHaveSample || m_bEOS || m_streamState != State_Paused;
        };
        if (dwMSecs == INFINITE)
            m_waitCv.wait(wait, ready);
        else
            m_waitCv.wait_for(wait, std::chrono::milliseconds(dwMSecs), ready);
        if (m_streamState == State_Paused && !m_bHaveSample && !m_bEOS) {
            *State = State_Paused;
            return VFW_S_STATE_INTERMEDIATE;
        }
    }
    *State = m_streamState;
    return S_OK;
}

HRESULT CBaseRenderer::Receive(IMediaSample* pSample) {
    {
        std::unique_lock<std::mutex> wait(m_waitMutex);
        if (m_bAbort && m_streamState != State_Running) return VFW_E_WRONG_STATE;
        m_bHaveSample = true;
        m_waitCv.notify_all();
        // Paused: hold the stream here until the graph runs, stops or flushes.
        m_waitCv.wait(wait, [this] { return m_streamState != State_Paused || m_bAbort; });
        if (m_streamState != State_Running) return VFW_E_WRONG_STATE;
    }
    CAutoLock lock(&m_RendererLock);
    const HRESULT hr = DoRenderSample(pSample);
    ++m_lRendered;
    return hr;
}

HRESULT CBaseRenderer::EndOfStream() {
    bool complete = false;
    {
        std::lock_guard<std::mutex> wait(m_waitMutex);
        m_bEOS = true;
        // Not running yet: Run reports it.
        complete = m_streamState == State_Running && !m_bEOSDelivered;
        if (complete) m_bEOSDelivered = true;
    }
    m_waitCv.notify_all();
    if (complete) NotifyEvent(EC_COMPLETE, S_OK, 0);
    return S_OK;
}

HRESULT CBaseRenderer::BeginFlush() {
    {
        std::lock_guard<std::mutex> wait(m_waitMutex);
        m_bAbort = true;
    }
    ReleaseHeldSample();
    return S_OK;
}

HRESULT CBaseRenderer::EndFlush() {
    std::lock_guard<std::mutex> wait(m_waitMutex);
    m_bAbort = false;
    m_bEOS = false;
    m_bEOSDelivered = false;
    return S_OK;
}
