// Transform filters: one input, one output; the output's types follow from the input's. The
// in-place variant passes the sample it received on, sharing the upstream allocator when it can.
#include <streams.h>

#include <cstring>
#include <cwchar>
#include <mutex>

#include "platform/portable/SystemSeam.h"

// ---- CTransformInputPin -------------------------------------------------------------------------

CTransformInputPin::CTransformInputPin(LPCTSTR pObjectName, CTransformFilter* pTransformFilter,
                                       HRESULT* phr, LPCWSTR pName)
    : CBaseInputPin(pObjectName, pTransformFilter, &pTransformFilter->m_csFilter, phr, pName),
      m_pTransformFilter(pTransformFilter) {}

STDMETHODIMP CTransformInputPin::QueryId(LPWSTR* Id) {
    if (!Id) return E_POINTER;
    *Id = static_cast<LPWSTR>(CoTaskMemAlloc(3 * sizeof(WCHAR)));
    if (!*Id) return E_OUTOFMEMORY;
    std::wcscpy(*Id, L"In");
    return S_OK;
}

HRESULT CTransformInputPin::CheckConnect(IPin* pPin) {
    const HRESULT hr = m_pTransformFilter->CheckConnect(PINDIR_INPUT, pPin);
    if (FAILED(hr)) return hr;
    return CBaseInputPin::CheckConnect(pPin);
}

HRESULT CTransformInputPin::BreakConnect() {
    m_pTransformFilter->BreakConnect(PINDIR_INPUT);
    return CBaseInputPin::BreakConnect();
}

HRESULT CTransformInputPin::CompleteConnect(IPin* pReceivePin) {
    const HRESULT hr = m_pTransformFilter->CompleteConnect(PINDIR_INPUT, pReceivePin);
    if (FAILED(hr)) return hr;
    return CBaseInputPin::CompleteConnect(pReceivePin);
}

HRESULT CTransformInputPin::CheckMediaType(const CMediaType* pmt) {
    HRESULT hr = m_pTransformFilter->CheckInputType(pmt);
    if (hr != S_OK) return hr;
    if (m_pTransformFilter->m_pOutput && m_pTransformFilter->m_pOutput->IsConnected())
        return m_pTransformFilter->CheckTransform(
            pmt, &m_pTransformFilter->m_pOutput->CurrentMediaType());
    return hr;
}

HRESULT CTransformInputPin::SetMediaType(const CMediaType* mtIn) {
    const HRESULT hr = CBasePin::SetMediaType(mtIn);
    if (FAILED(hr)) return hr;
    return m_pTransformFilter->SetMediaType(PINDIR_INPUT, mtIn);
}

STDMETHODIMP CTransformInputPin::EndOfStream() {
    CAutoLock lock(&m_pTransformFilter->m_csReceive);
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;
    return m_pTransformFilter->EndOfStream();
}

STDMETHODIMP CTransformInputPin::BeginFlush() {
    CAutoLock lock(&m_pTransformFilter->m_csFilter);
    if (!IsConnected() || !m_pTransformFilter->m_pOutput->IsConnected()) return VFW_E_NOT_CONNECTED;
    const HRESULT hr = CBaseInputPin::BeginFlush();
    if (FAILED(hr)) return hr;
    return m_pTransformFilter->BeginFlush();
}

STDMETHODIMP CTransformInputPin::EndFlush() {
    CAutoLock lock(&m_pTransformFilter->m_csFilter);
    if (!IsConnected() || !m_pTransformFilter->m_pOutput->IsConnected()) return VFW_E_NOT_CONNECTED;
    const HRESULT hr = m_pTransformFilter->EndFlush();
    if (FAILED(hr)) return hr;
    return CBaseInputPin::EndFlush();
}

STDMETHODIMP CTransformInputPin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop,
                                            double dRate) {
    CBasePin::NewSegment(tStart, tStop, dRate);
    return m_pTransformFilter->NewSegment(tStart, tStop, dRate);
}

STDMETHODIMP CTransformInputPin::Receive(IMediaSample* pSample) {
    if (!pSample) return E_POINTER;
    CAutoLock lock(&m_pTransformFilter->m_csReceive);
    HRESULT hr = CBaseInputPin::Receive(pSample);
    if (hr != S_OK) return hr;
    return m_pTransformFilter->Receive(pSample);
}

// ---- CTransformOutputPin ------------------------------------------------------------------------

CTransformOutputPin::CTransformOutputPin(LPCTSTR pObjectName, CTransformFilter* pTransformFilter,
                                         HRESULT* phr, LPCWSTR pName)
    : CBaseOutputPin(pObjectName, pTransformFilter, &pTransformFilter->m_csFilter, phr, pName),
      m_pTransformFilter(pTransformFilter) {}

CTransformOutputPin::~CTransformOutputPin() {
    delete m_pPosition;
}

STDMETHODIMP CTransformOutputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IMediaSeeking || riid == IID_IMediaPosition) {
        // Not the filter's lock: a renderer asks for this under its own lock at the end of a
        // stream, the reverse of the order in which the filter connected to it. Creating the
        // object takes no other lock, so one lock shared by every pin is enough.
        static std::mutex creation;
        std::lock_guard<std::mutex> lock(creation);
        if (!m_pPosition) {
            HRESULT hr = S_OK;
            // The pin is the object's outer unknown: the interfaces belong to the pin.
            m_pPosition = new CPosPassThru(NAME("Transform position"), static_cast<IPin*>(this),
                                           &hr, m_pTransformFilter->m_pInput);
        }
        return m_pPosition->NonDelegatingQueryInterface(riid, ppv);
    }
    return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CTransformOutputPin::QueryId(LPWSTR* Id) {
    if (!Id) return E_POINTER;
    *Id = static_cast<LPWSTR>(CoTaskMemAlloc(4 * sizeof(WCHAR)));
    if (!*Id) return E_OUTOFMEMORY;
    std::wcscpy(*Id, L"Out");
    return S_OK;
}

HRESULT CTransformOutputPin::CheckConnect(IPin* pPin) {
    // The output's types come from the input's: connect the input first.
    if (!m_pTransformFilter->m_pInput->IsConnected()) return E_UNEXPECTED;
    const HRESULT hr = m_pTransformFilter->CheckConnect(PINDIR_OUTPUT, pPin);
    if (FAILED(hr)) return hr;
    return CBaseOutputPin::CheckConnect(pPin);
}

HRESULT CTransformOutputPin::BreakConnect() {
    m_pTransformFilter->BreakConnect(PINDIR_OUTPUT);
    return CBaseOutputPin::BreakConnect();
}

HRESULT CTransformOutputPin::CompleteConnect(IPin* pReceivePin) {
    const HRESULT hr = m_pTransformFilter->CompleteConnect(PINDIR_OUTPUT, pReceivePin);
    if (FAILED(hr)) return hr;
    return CBaseOutputPin::CompleteConnect(pReceivePin);
}

HRESULT CTransformOutputPin::DecideBufferSize(IMemAllocator* pAllocator,
                                              ALLOCATOR_PROPERTIES* pProp) {
    return m_pTransformFilter->DecideBufferSize(pAllocator, pProp);
}

HRESULT CTransformOutputPin::CheckMediaType(const CMediaType* pmtOut) {
    if (!m_pTransformFilter->m_pInput->IsConnected()) return E_INVALIDARG;
    return m_pTransformFilter->CheckTransform(&m_pTransformFilter->m_pInput->CurrentMediaType(),
                                              pmtOut);
}

HRESULT CTransformOutputPin::SetMediaType(const CMediaType* pmtOut) {
    const HRESULT hr = CBasePin::SetMediaType(pmtOut);
    if (FAILED(hr)) return hr;
    return m_pTransformFilter->SetMediaType(PINDIR_OUTPUT, pmtOut);
}

HRESULT CTransformOutputPin::GetMediaType(int iPosition, CMediaType* pMediaType) {
    if (m_pTransformFilter->m_pInput->IsConnected())
        return m_pTransformFilter->GetMediaType(iPosition, pMediaType);
    return VFW_S_NO_MORE_ITEMS;
}

STDMETHODIMP CTransformOutputPin::Notify(IBaseFilter*, Quality q) {
    const HRESULT hr = m_pTransformFilter->AlterQuality(q);
    if (hr != S_FALSE) return hr;
    // Not handled here: pass it upstream.
    IPin* upstream = m_pTransformFilter->m_pInput->GetConnected();
    if (!upstream) return VFW_E_NOT_FOUND;
    IQualityControl* qc = nullptr;
    if (FAILED(upstream->QueryInterface(IID_IQualityControl, reinterpret_cast<void**>(&qc))) || !qc)
        return VFW_E_NOT_FOUND;
    const HRESULT hrUp = qc->Notify(static_cast<IBaseFilter*>(m_pTransformFilter), q);
    qc->Release();
    return hrUp;
}

// ---- CTransformFilter ---------------------------------------------------------------------------

CTransformFilter::CTransformFilter(LPCTSTR pName, LPUNKNOWN pUnk, REFCLSID clsid)
    : CBaseFilter(pName, pUnk, &m_csFilter, clsid) {}

CTransformFilter::~CTransformFilter() {
    delete m_pInput;
    delete m_pOutput;
}

int CTransformFilter::GetPinCount() {
    return 2;
}

CBasePin* CTransformFilter::GetPin(int n) {
    if (!m_pInput) {
        HRESULT hr = S_OK;
        m_pInput = new CTransformInputPin(NAME("Transform input pin"), this, &hr, L"XForm In");
        m_pOutput = new CTransformOutputPin(NAME("Transform output pin"), this, &hr, L"XForm Out");
    }
    if (n == 0) return m_pInput;
    if (n == 1) return m_pOutput;
    return nullptr;
}

STDMETHODIMP CTransformFilter::Stop() {
    CAutoLock lock(&m_csFilter);
    if (m_State == State_Stopped) return NOERROR;
    GetPin(0);
    if (!m_pInput->IsConnected() || !m_pOutput->IsConnected()) {
        m_State = State_Stopped;
        m_bEOSDelivered = FALSE;
        return NOERROR;
    }
    // The input first, so no new sample starts; then wait for the one in progress.
    m_pInput->Inactive();
    CAutoLock lockReceive(&m_csReceive);
    m_pOutput->Inactive();
    const HRESULT hr = StopStreaming();
    if (SUCCEEDED(hr)) {
        m_State = State_Stopped;
        m_bEOSDelivered = FALSE;
    }
    return hr;
}

STDMETHODIMP CTransformFilter::Pause() {
    CAutoLock lock(&m_csFilter);
    GetPin(0);
    HRESULT hr = NOERROR;
    if (m_State == State_Paused) return NOERROR;
    if (!m_pInput->IsConnected()) {
        if (m_pOutput->IsConnected() && !m_bEOSDelivered) {
            m_pOutput->DeliverEndOfStream();
            m_bEOSDelivered = TRUE;
        }
        m_State = State_Paused;
        return NOERROR;
    }
    if (!m_pOutput->IsConnected()) {
        m_State = State_Paused;
        return NOERROR;
    }
    if (m_State == State_Stopped) {
        // Reset only while no sample can be in flight: from running, the streaming thread still
        // owns these.
        CAutoLock lockReceive(&m_csReceive);
        m_bSampleSkipped = FALSE;
        m_bQualityChanged = FALSE;
        hr = StartStreaming();
    }
    if (SUCCEEDED(hr)) hr = CBaseFilter::Pause();
    return hr;
}

HRESULT CTransformFilter::Transform(IMediaSample*, IMediaSample*) {
    return E_UNEXPECTED;
}

HRESULT CTransformFilter::InitializeOutputSample(IMediaSample* pSample,
                                                 IMediaSample** ppOutSample) {
    IMediaSample* pOut = nullptr;
    const HRESULT hr = m_pOutput->GetDeliveryBuffer(&pOut, nullptr, nullptr, 0);
    if (FAILED(hr)) return hr;
    REFERENCE_TIME start = 0, end = 0;
    const HRESULT hrTime = pSample->GetTime(&start, &end);
    if (SUCCEEDED(hrTime)) pOut->SetTime(&start, hrTime == VFW_S_NO_STOP_TIME ? nullptr : &end);
    pOut->SetSyncPoint(pSample->IsSyncPoint() == S_OK);
    pOut->SetPreroll(pSample->IsPreroll() == S_OK);
    pOut->SetDiscontinuity(m_bSampleSkipped || pSample->IsDiscontinuity() == S_OK);
    LONGLONG mStart = 0, mEnd = 0;
    if (pSample->GetMediaTime(&mStart, &mEnd) == S_OK) pOut->SetMediaTime(&mStart, &mEnd);
    *ppOutSample = pOut;
    return S_OK;
}

HRESULT CTransformFilter::Receive(IMediaSample* pSample) {
    IMediaSample* pOut = nullptr;
    HRESULT hr = InitializeOutputSample(pSample, &pOut);
    if (FAILED(hr)) return hr;
    hr = Transform(pSample, pOut);
    if (FAILED(hr)) {
        pOut->Release();
        return hr;
    }
    if (hr == NOERROR) {
        hr = m_pOutput->Deliver(pOut);
        m_bSampleSkipped = FALSE;
    } else {
        // S_FALSE: the transform dropped this sample.
        m_bSampleSkipped = TRUE;
        hr = NOERROR;
    }
    pOut->Release();
    return hr;
}

HRESULT CTransformFilter::EndOfStream() {
    if (!m_pOutput) return NOERROR;
    return m_pOutput->DeliverEndOfStream();
}

HRESULT CTransformFilter::BeginFlush() {
    return m_pOutput ? m_pOutput->DeliverBeginFlush() : NOERROR;
}
HRESULT CTransformFilter::EndFlush() {
    return m_pOutput ? m_pOutput->DeliverEndFlush() : NOERROR;
}
HRESULT CTransformFilter::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
    if (m_pOutput && m_pOutput->IsConnected())
        return m_pOutput->DeliverNewSegment(tStart, tStop, dRate);
    return S_OK;
}

// ---- in place -----------------------------------------------------------------------------------

CTransInPlaceInputPin::CTransInPlaceInputPin(LPCTSTR pObjectName, CTransInPlaceFilter* pFilter,
                                             HRESULT* phr, LPCWSTR pName)
    : CTransformInputPin(pObjectName, pFilter, phr, pName), m_pTIPFilter(pFilter) {}

STDMETHODIMP CTransInPlaceInputPin::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
    if (!ppEnum) return E_POINTER;
    // An in-place filter has no types of its own: it offers what the downstream pin takes.
    IPin* downstream = m_pTIPFilter->m_pOutput ? m_pTIPFilter->m_pOutput->GetConnected() : nullptr;
    if (!downstream) {
        *ppEnum = nullptr;
        return VFW_E_NOT_CONNECTED;
    }
    return downstream->EnumMediaTypes(ppEnum);
}

HRESULT CTransInPlaceInputPin::CheckMediaType(const CMediaType* pmt) {
    HRESULT hr = m_pTIPFilter->CheckInputType(pmt);
    if (hr != S_OK) return hr;
    IPin* downstream = m_pTIPFilter->m_pOutput ? m_pTIPFilter->m_pOutput->GetConnected() : nullptr;
    if (downstream) return downstream->QueryAccept(pmt) == S_OK ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

STDMETHODIMP CTransInPlaceInputPin::GetAllocator(IMemAllocator** ppAllocator) {
    return CBaseInputPin::GetAllocator(ppAllocator);
}

STDMETHODIMP CTransInPlaceInputPin::NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) {
    return CBaseInputPin::NotifyAllocator(pAllocator, bReadOnly);
}

STDMETHODIMP CTransInPlaceInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) {
    if (!pProps) return E_POINTER;
    // Pass the downstream pin's needs up, since its allocator will usually be shared.
    IPin* downstream = m_pTIPFilter->m_pOutput ? m_pTIPFilter->m_pOutput->GetConnected() : nullptr;
    if (!downstream) return E_NOTIMPL;
    IMemInputPin* mem = nullptr;
    if (FAILED(downstream->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&mem))) ||
        !mem)
        return E_NOTIMPL;
    const HRESULT hr = mem->GetAllocatorRequirements(pProps);
    mem->Release();
    return hr;
}

CTransInPlaceOutputPin::CTransInPlaceOutputPin(LPCTSTR pObjectName, CTransInPlaceFilter* pFilter,
                                               HRESULT* phr, LPCWSTR pName)
    : CTransformOutputPin(pObjectName, pFilter, phr, pName), m_pTIPFilter(pFilter) {}

STDMETHODIMP CTransInPlaceOutputPin::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
    if (!ppEnum) return E_POINTER;
    IPin* upstream = m_pTIPFilter->m_pInput ? m_pTIPFilter->m_pInput->GetConnected() : nullptr;
    if (!upstream) {
        *ppEnum = nullptr;
        return VFW_E_NOT_CONNECTED;
    }
    return upstream->EnumMediaTypes(ppEnum);
}

// Samples pass through unchanged: a connection carries exactly the input's type.
HRESULT CTransInPlaceOutputPin::CheckMediaType(const CMediaType* pmt) {
    CTransformInputPin* input = m_pTIPFilter->m_pInput;
    if (!input || !input->IsConnected()) return VFW_E_NOT_CONNECTED;
    return input->CurrentMediaType() == *pmt ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

// Asked outside a connection, the output accepts what the filter takes on its input and the
// upstream pin could produce (after a reconnection of the input). The upstream pin is asked with
// no lock of ours held: its filter's lock comes before ours when it connects to our input.
STDMETHODIMP CTransInPlaceOutputPin::QueryAccept(const AM_MEDIA_TYPE* pmt) {
    if (!pmt) return E_POINTER;
    CTransformInputPin* input = m_pTIPFilter->m_pInput;
    IPin* upstream = input ? input->GetConnected() : nullptr;
    if (!upstream) return S_FALSE;
    const CMediaType mt(*pmt);
    if (input->CurrentMediaType() == mt) return S_OK;
    if (m_pTIPFilter->CheckInputType(&mt) != S_OK) return S_FALSE;
    return upstream->QueryAccept(pmt) == S_OK ? S_OK : S_FALSE;
}

// Only the input's type can connect (CheckMediaType), so it is the only one tried. The base class
// would go on to enumerate this pin's types, which asks the upstream pin and takes its filter's
// lock while ours is held: the reverse of the order in which it connected to our input.
HRESULT CTransInPlaceOutputPin::AgreeMediaType(IPin* pReceivePin, const CMediaType* pmt) {
    if (pmt && !pmt->IsPartiallySpecified()) return AttemptConnection(pReceivePin, pmt);
    CTransformInputPin* input = m_pTIPFilter->m_pInput;
    if (!input || !input->IsConnected()) return VFW_E_NOT_CONNECTED;
    const CMediaType& current = input->CurrentMediaType();
    if (pmt && !current.MatchesPartial(pmt)) return VFW_E_NO_ACCEPTABLE_TYPES;
    const HRESULT hr = AttemptConnection(pReceivePin, &current);
    if (SUCCEEDED(hr)) return hr;
    return hr == E_FAIL || hr == E_INVALIDARG || hr == VFW_E_TYPE_NOT_ACCEPTED
               ? VFW_E_NO_ACCEPTABLE_TYPES
               : hr;
}

HRESULT CTransInPlaceOutputPin::DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc) {
    *ppAlloc = nullptr;
    IMemAllocator* upstreamAlloc =
        m_pTIPFilter->m_pInput ? m_pTIPFilter->m_pInput->PeekAllocator() : nullptr;
    if (upstreamAlloc) {
        const HRESULT hr =
            pPin->NotifyAllocator(upstreamAlloc, m_pTIPFilter->m_pInput->IsReadOnly());
        if (SUCCEEDED(hr)) {
            upstreamAlloc->AddRef();
            *ppAlloc = upstreamAlloc;
            LUMACAP_TRACE_ALLOCATOR(this, upstreamAlloc, "passed through from upstream");
            return S_OK;
        }
    }
    // The downstream pin insists on its own buffers: samples will be copied across.
    return CBaseOutputPin::DecideAllocator(pPin, ppAlloc);
}

CTransInPlaceFilter::CTransInPlaceFilter(LPCTSTR pName, LPUNKNOWN pUnk, REFCLSID clsid, HRESULT*,
                                         bool bModifiesData)
    : CTransformFilter(pName, pUnk, clsid), m_bModifiesData(bModifiesData) {}

CBasePin* CTransInPlaceFilter::GetPin(int n) {
    if (!m_pInput) {
        HRESULT hr = S_OK;
        m_pInput = new CTransInPlaceInputPin(NAME("TransInPlace input pin"), this, &hr, L"Input");
        m_pOutput =
            new CTransInPlaceOutputPin(NAME("TransInPlace output pin"), this, &hr, L"Output");
    }
    if (n == 0) return m_pInput;
    if (n == 1) return m_pOutput;
    return nullptr;
}

HRESULT CTransInPlaceFilter::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) {
    ALLOCATOR_PROPERTIES request = *pProp;
    IMemAllocator* upstream = m_pInput ? m_pInput->PeekAllocator() : nullptr;
    if (upstream) {
        ALLOCATOR_PROPERTIES in{};
        if (SUCCEEDED(upstream->GetProperties(&in))) {
            if (request.cBuffers < in.cBuffers) request.cBuffers = in.cBuffers;
            if (request.cbBuffer < in.cbBuffer) request.cbBuffer = in.cbBuffer;
        }
    }
    if (request.cBuffers < 1) request.cBuffers = 1;
    if (request.cbBuffer < 1 && m_pInput)
        request.cbBuffer = static_cast<long>(m_pInput->CurrentMediaType().GetSampleSize());
    if (request.cbBuffer < 1) request.cbBuffer = 1;
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = pAlloc->SetProperties(&request, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < request.cbBuffer ? E_FAIL : S_OK;
}

HRESULT CTransInPlaceFilter::CompleteConnect(PIN_DIRECTION, IPin*) {
    return S_OK;
}

bool CTransInPlaceFilter::UsingDifferentAllocators() const {
    return m_pInput->PeekAllocator() != m_pOutput->Allocator();
}

IMediaSample* CTransInPlaceFilter::Copy(IMediaSample* pSource) {
    IMediaSample* pDest = nullptr;
    if (FAILED(m_pOutput->GetDeliveryBuffer(&pDest, nullptr, nullptr, 0)) || !pDest) return nullptr;
    BYTE* src = nullptr;
    BYTE* dst = nullptr;
    pSource->GetPointer(&src);
    pDest->GetPointer(&dst);
    long length = pSource->GetActualDataLength();
    if (length > pDest->GetSize()) length = pDest->GetSize();
    if (src && dst && length > 0) std::memcpy(dst, src, static_cast<size_t>(length));
    pDest->SetActualDataLength(length);
    REFERENCE_TIME start = 0, end = 0;
    const HRESULT hrTime = pSource->GetTime(&start, &end);
    if (SUCCEEDED(hrTime)) pDest->SetTime(&start, hrTime == VFW_S_NO_STOP_TIME ? nullptr : &end);
    pDest->SetSyncPoint(pSource->IsSyncPoint() == S_OK);
    pDest->SetPreroll(pSource->IsPreroll() == S_OK);
    pDest->SetDiscontinuity(pSource->IsDiscontinuity() == S_OK);
    return pDest;
}

HRESULT CTransInPlaceFilter::Receive(IMediaSample* pSample) {
    IMediaSample* pWork = nullptr;
    const bool outputConnected = m_pOutput->IsConnected();
    if (outputConnected &&
        (UsingDifferentAllocators() || (m_bModifiesData && m_pInput->IsReadOnly()))) {
        pWork = Copy(pSample);
        if (!pWork) return E_UNEXPECTED;
    } else {
        pWork = pSample;
        pWork->AddRef();
    }
    HRESULT hr = Transform(pWork);
    if (hr == NOERROR) {
        hr = outputConnected ? m_pOutput->Deliver(pWork) : S_OK;
        m_bSampleSkipped = FALSE;
    } else if (hr == S_FALSE) {
        m_bSampleSkipped = TRUE;
        hr = NOERROR;
    }
    pWork->Release();
    return hr;
}
