// The filter base: state changes reach the connected pins (Active/Inactive), membership of a
// graph, and events sent to the graph.
#include <streams.h>

#include <cstring>
#include <cwchar>

#include "platform/portable/SystemSeam.h"

CBaseFilter::CBaseFilter(LPCTSTR pName, LPUNKNOWN pUnk, CCritSec* pLock, REFCLSID clsid, HRESULT*)
    : CUnknown(pName, pUnk), m_clsid(clsid), m_pLock(pLock) {}

CBaseFilter::~CBaseFilter() {
    delete[] m_pName;
    if (m_pClock) m_pClock->Release();
}

STDMETHODIMP CBaseFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IBaseFilter) return GetInterface(static_cast<IBaseFilter*>(this), ppv);
    if (riid == IID_IMediaFilter) return GetInterface(static_cast<IMediaFilter*>(this), ppv);
    if (riid == IID_IPersist) return GetInterface(static_cast<IPersist*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CBaseFilter::GetClassID(CLSID* pClsID) {
    if (!pClsID) return E_POINTER;
    *pClsID = m_clsid;
    return NOERROR;
}

STDMETHODIMP CBaseFilter::GetState(DWORD, FILTER_STATE* State) {
    if (!State) return E_POINTER;
    CAutoLock lock(m_pLock);
    *State = m_State;
    return S_OK;
}

STDMETHODIMP CBaseFilter::SetSyncSource(IReferenceClock* pClock) {
    CAutoLock lock(m_pLock);
    if (pClock) pClock->AddRef();
    if (m_pClock) m_pClock->Release();
    m_pClock = pClock;
    return NOERROR;
}

STDMETHODIMP CBaseFilter::GetSyncSource(IReferenceClock** pClock) {
    if (!pClock) return E_POINTER;
    CAutoLock lock(m_pLock);
    *pClock = m_pClock;
    if (m_pClock) m_pClock->AddRef();
    return NOERROR;
}

STDMETHODIMP CBaseFilter::Stop() {
    CAutoLock lock(m_pLock);
    HRESULT hrResult = NOERROR;
    if (m_State != State_Stopped) {
        const int count = GetPinCount();
        for (int i = 0; i < count; ++i) {
            CBasePin* pin = GetPin(i);
            if (pin && pin->IsConnected()) {
                const HRESULT hr = pin->Inactive();
                if (FAILED(hr) && SUCCEEDED(hrResult)) hrResult = hr;
            }
        }
    }
    m_State = State_Stopped;
    return hrResult;
}

STDMETHODIMP CBaseFilter::Pause() {
    CAutoLock lock(m_pLock);
    if (m_State == State_Stopped) {
        const int count = GetPinCount();
        for (int i = 0; i < count; ++i) {
            CBasePin* pin = GetPin(i);
            if (pin && pin->IsConnected()) {
                const HRESULT hr = pin->Active();
                if (FAILED(hr)) return hr;
            }
        }
    }
    m_State = State_Paused;
    return S_OK;
}

STDMETHODIMP CBaseFilter::Run(REFERENCE_TIME tStart) {
    CAutoLock lock(m_pLock);
    m_tStart = tStart;
    if (m_State == State_Stopped) {
        const HRESULT hr = Pause();
        if (FAILED(hr)) return hr;
    }
    if (m_State != State_Running) {
        const int count = GetPinCount();
        for (int i = 0; i < count; ++i) {
            CBasePin* pin = GetPin(i);
            if (pin && pin->IsConnected()) {
                const HRESULT hr = pin->Run(tStart);
                if (FAILED(hr)) return hr;
            }
        }
    }
    m_State = State_Running;
    return S_OK;
}

HRESULT CBaseFilter::StreamTime(REFERENCE_TIME& rtStream) {
    if (!m_pClock) return VFW_E_NO_CLOCK;
    const HRESULT hr = m_pClock->GetTime(&rtStream);
    if (FAILED(hr)) return hr;
    rtStream -= m_tStart;
    return S_OK;
}

STDMETHODIMP CBaseFilter::EnumPins(IEnumPins** ppEnum) {
    LUMACAP_FAULT_POINT("IBaseFilter::EnumPins");
    if (!ppEnum) return E_POINTER;
    auto* e = new CEnumPins(this, nullptr);
    e->AddRef();
    *ppEnum = e;
    return NOERROR;
}

// Pins are found by their identifier (IPin::QueryId), never by their display name.
STDMETHODIMP CBaseFilter::FindPin(LPCWSTR Id, IPin** ppPin) {
    if (!ppPin) return E_POINTER;
    *ppPin = nullptr;
    if (!Id) return E_POINTER;
    CAutoLock lock(m_pLock);
    const int count = GetPinCount();
    for (int i = 0; i < count; ++i) {
        CBasePin* pin = GetPin(i);
        LPWSTR id = nullptr;
        if (!pin || FAILED(pin->QueryId(&id)) || !id) continue;
        const bool match = std::wcscmp(id, Id) == 0;
        CoTaskMemFree(id);
        if (match) {
            *ppPin = pin;
            pin->AddRef();
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

STDMETHODIMP CBaseFilter::QueryFilterInfo(FILTER_INFO* pInfo) {
    if (!pInfo) return E_POINTER;
    std::memset(pInfo->achName, 0, sizeof(pInfo->achName));
    if (m_pName) std::wcsncpy(pInfo->achName, m_pName, MAX_FILTER_NAME - 1);
    pInfo->pGraph = m_pGraph;
    if (m_pGraph) m_pGraph->AddRef();
    return NOERROR;
}

STDMETHODIMP CBaseFilter::JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) {
    CAutoLock lock(m_pLock);
    // The graph holds the filter; the filter's pointers back to the graph are not counted.
    m_pGraph = pGraph;
    m_pSink = nullptr;
    if (pGraph) {
        IMediaEventSink* sink = nullptr;
        if (SUCCEEDED(
                pGraph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink))) &&
            sink) {
            m_pSink = sink;
            sink->Release();
        }
    }
    delete[] m_pName;
    m_pName = nullptr;
    if (pName) {
        const size_t n = std::wcslen(pName) + 1;
        m_pName = new WCHAR[n];
        std::memcpy(m_pName, pName, n * sizeof(WCHAR));
    }
    return NOERROR;
}

STDMETHODIMP CBaseFilter::QueryVendorInfo(LPWSTR*) {
    return E_NOTIMPL;
}

BOOL CBaseFilter::IsActive() {
    CAutoLock lock(m_pLock);
    return m_State == State_Paused || m_State == State_Running;
}

BOOL CBaseFilter::IsStopped() {
    return m_State == State_Stopped;
}

HRESULT CBaseFilter::NotifyEvent(long EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) {
    IMediaEventSink* sink = m_pSink;
    if (!sink) return E_NOTIMPL;
    // A completion names the filter that completed.
    if (EventCode == EC_COMPLETE && EventParam2 == 0)
        EventParam2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this));
    return sink->Notify(EventCode, EventParam1, EventParam2);
}
