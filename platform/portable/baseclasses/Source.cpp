// Push sources: CSource keeps the pins; each CSourceStream runs a streaming thread that takes an
// empty sample from the allocator, has FillBuffer fill it and delivers it, until it is told to
// stop. Stopping the filter joins the thread before Stop returns.
#include <streams.h>

#include <new>

CSource::CSource(LPCTSTR pName, LPUNKNOWN lpunk, CLSID clsid, HRESULT* phr)
    : CBaseFilter(pName, lpunk, &m_cStateLock, clsid, phr) {}

CSource::CSource(LPCTSTR pName, LPUNKNOWN lpunk, CLSID clsid)
    : CBaseFilter(pName, lpunk, &m_cStateLock, clsid) {}

CSource::~CSource() {
    // Pins that are not members of the derived filter are owned here.
    while (m_iPins != 0) delete m_paStreams[m_iPins - 1];
    delete[] m_paStreams;
}

HRESULT CSource::AddPin(CSourceStream* pStream) {
    CAutoLock lock(&m_cStateLock);
    auto** grown = new (std::nothrow) CSourceStream*[m_iPins + 1];
    if (!grown) return E_OUTOFMEMORY;
    for (int i = 0; i < m_iPins; ++i) grown[i] = m_paStreams[i];
    grown[m_iPins] = pStream;
    delete[] m_paStreams;
    m_paStreams = grown;
    ++m_iPins;
    IncrementPinVersion();
    return S_OK;
}

HRESULT CSource::RemovePin(CSourceStream* pStream) {
    CAutoLock lock(&m_cStateLock);
    for (int i = 0; i < m_iPins; ++i) {
        if (m_paStreams[i] == pStream) {
            for (int j = i; j + 1 < m_iPins; ++j) m_paStreams[j] = m_paStreams[j + 1];
            --m_iPins;
            if (m_iPins == 0) {
                delete[] m_paStreams;
                m_paStreams = nullptr;
            }
            IncrementPinVersion();
            return S_OK;
        }
    }
    return S_FALSE;
}

int CSource::GetPinCount() {
    CAutoLock lock(&m_cStateLock);
    return m_iPins;
}

CBasePin* CSource::GetPin(int n) {
    CAutoLock lock(&m_cStateLock);
    if (n >= 0 && n < m_iPins) return m_paStreams[n];
    return nullptr;
}

int CSource::FindPinNumber(IPin* iPin) {
    for (int i = 0; i < m_iPins; ++i)
        if (static_cast<IPin*>(m_paStreams[i]) == iPin) return i;
    return -1;
}

// ---- CSourceStream ------------------------------------------------------------------------------

CSourceStream::CSourceStream(LPCTSTR pObjectName, HRESULT* phr, CSource* ps, LPCWSTR pPinName)
    : CAMThread(phr),
      CBaseOutputPin(pObjectName, ps, ps->pStateLock(), phr, pPinName),
      m_pFilter(ps) {
    const HRESULT hr = m_pFilter->AddPin(this);
    if (phr) *phr = hr;
}

CSourceStream::~CSourceStream() {
    // A filter destroyed while active (its graph released without a stop) ends the thread here.
    if (ThreadExists()) {
        CallWorker(CMD_STOP);
        CallWorker(CMD_EXIT);
        Close();
    }
    m_pFilter->RemovePin(this);
}

HRESULT CSourceStream::Active() {
    CAutoLock lock(m_pFilter->pStateLock());
    if (m_pFilter->IsActive()) return S_FALSE;
    if (!IsConnected()) return NOERROR;
    HRESULT hr = CBaseOutputPin::Active();
    if (FAILED(hr)) return hr;
    if (!Create()) return E_FAIL;
    hr = Init();
    if (FAILED(hr)) {
        // The thread ended after refusing to start: collect it.
        Close();
        CBaseOutputPin::Inactive();
        return hr;
    }
    return Pause();
}

HRESULT CSourceStream::Inactive() {
    CAutoLock lock(m_pFilter->pStateLock());
    if (!IsConnected()) return NOERROR;
    // Decommit first: a thread waiting for a free sample wakes with VFW_E_NOT_COMMITTED.
    HRESULT hr = CBaseOutputPin::Inactive();
    if (FAILED(hr)) return hr;
    if (ThreadExists()) {
        hr = Stop();
        if (FAILED(hr)) return hr;
        hr = Exit();
        if (FAILED(hr)) return hr;
        Close();
    }
    return NOERROR;
}

BOOL CSourceStream::CheckRequest(Command* pCom) {
    DWORD param = 0;
    const BOOL pending = CAMThread::CheckRequest(&param);
    if (pending && pCom) *pCom = static_cast<Command>(param);
    return pending;
}

DWORD CSourceStream::ThreadProc() {
    Command com;
    do {
        com = GetRequest();
        if (com != CMD_INIT) Reply(static_cast<DWORD>(E_UNEXPECTED));
    } while (com != CMD_INIT);

    HRESULT hr = OnThreadCreate();
    if (FAILED(hr)) {
        OnThreadDestroy();
        Reply(static_cast<DWORD>(hr));
        return 1;
    }
    Reply(NOERROR);

    Command cmd;
    do {
        cmd = GetRequest();
        switch (cmd) {
            case CMD_EXIT:
                Reply(NOERROR);
                break;
            case CMD_RUN:
            case CMD_PAUSE:
                Reply(NOERROR);
                DoBufferProcessingLoop();
                break;
            case CMD_STOP:
                Reply(NOERROR);
                break;
            default:
                Reply(static_cast<DWORD>(E_NOTIMPL));
                break;
        }
    } while (cmd != CMD_EXIT);

    hr = OnThreadDestroy();
    return FAILED(hr) ? 1 : 0;
}

HRESULT CSourceStream::DoBufferProcessingLoop() {
    Command com;
    OnThreadStartPlay();
    do {
        while (!CheckRequest(&com)) {
            IMediaSample* pSample = nullptr;
            HRESULT hr = GetDeliveryBuffer(&pSample, nullptr, nullptr, 0);
            if (FAILED(hr)) {
                // Decommitted while stopping: wait for the stop request.
                if (WaitForRequest(10)) continue;
                continue;
            }
            hr = FillBuffer(pSample);
            if (hr == S_OK) {
                hr = Deliver(pSample);
                pSample->Release();
                // Downstream refused the sample (stopped, flushing, error): stop pushing and wait
                // for the next command.
                if (hr != S_OK) return S_OK;
            } else if (hr == S_FALSE) {
                pSample->Release();
                DeliverEndOfStream();
                return S_OK;
            } else {
                pSample->Release();
                DeliverEndOfStream();
                m_pFilter->NotifyEvent(EC_ERRORABORT, hr, 0);
                return hr;
            }
        }
        // A request arrived: run and pause keep the loop going, anything else ends it.
        if (com == CMD_RUN || com == CMD_PAUSE)
            Reply(NOERROR);
        else if (com != CMD_STOP)
            Reply(static_cast<DWORD>(E_UNEXPECTED));
    } while (com != CMD_STOP);
    return S_FALSE;
}

HRESULT CSourceStream::CheckMediaType(const CMediaType* pMediaType) {
    CAutoLock lock(m_pFilter->pStateLock());
    CMediaType mt;
    GetMediaType(&mt);
    return mt == *pMediaType ? NOERROR : E_FAIL;
}

HRESULT CSourceStream::GetMediaType(int iPosition, CMediaType* pMediaType) {
    CAutoLock lock(m_pFilter->pStateLock());
    if (iPosition < 0) return E_INVALIDARG;
    if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
    return GetMediaType(pMediaType);
}
