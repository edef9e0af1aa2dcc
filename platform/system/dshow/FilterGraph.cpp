// The filter graph manager: its identity and interfaces, and the bookkeeping of its filters (names,
// membership, the version enumerators check).
#include "platform/system/dshow/FilterGraph.h"
#include "platform/system/win/Trace.h"
#include "platform/system/dshow/GraphTrace.h"

#include <algorithm>
#include <cwchar>

#include "platform/sim/Faults.h"
#include "platform/system/com/ClassRegistry.h"
#include "platform/system/dshow/FilterEnum.h"
#include "platform/system/dshow/GraphInternals.h"

namespace lumacap::dshow {

FilterGraph::FilterGraph(HRESULT* phr) : CUnknown(NAME("Filter Graph"), nullptr, phr) {}

FilterGraph::~FilterGraph() {
    Teardown();
}

STDMETHODIMP FilterGraph::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IMediaControl || riid == IID_IMediaEvent || riid == IID_IMediaEventEx ||
        riid == IID_IVideoWindow)
        LUMACAP_FAULT_POINT("IGraphBuilder::QueryInterface");
    if (riid == IID_IFilterGraph || riid == IID_IGraphBuilder || riid == IID_IFilterGraph2)
        return GetInterface(static_cast<IFilterGraph2*>(this), ppv);
    if (riid == IID_IMediaControl) return GetInterface(static_cast<IMediaControl*>(this), ppv);
    if (riid == IID_IMediaEvent || riid == IID_IMediaEventEx)
        return GetInterface(static_cast<IMediaEventEx*>(this), ppv);
    if (riid == IID_IMediaEventSink) return GetInterface(static_cast<IMediaEventSink*>(this), ppv);
    if (riid == IID_IMediaFilter || riid == IID_IPersist)
        return GetInterface(static_cast<IMediaFilter*>(this), ppv);
    if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
    if (riid == IID_IMediaPosition) return GetInterface(static_cast<IMediaPosition*>(this), ppv);
    if (riid == IID_IBasicAudio) return GetInterface(static_cast<IBasicAudio*>(this), ppv);
    if (riid == IID_IBasicVideo || riid == IID_IBasicVideo2)
        return GetInterface(static_cast<IBasicVideo2*>(this), ppv);
    if (riid == IID_IVideoWindow) return GetInterface(static_cast<IVideoWindow*>(this), ppv);
    if (riid == IID_IObjectWithSite) return GetInterface(static_cast<IObjectWithSite*>(this), ppv);
    if (riid == IID_IGraphVersion) return GetInterface(static_cast<IGraphVersion*>(this), ppv);
    if (riid == IID_IVideoFrameStep) return GetInterface(static_cast<IVideoFrameStep*>(this), ppv);
    if (riid == IID_IGraphConfig) return GetInterface(&m_config, ppv);
    if (riid == IID_IFilterMapper || riid == IID_IFilterMapper2 || riid == IID_IFilterMapper3) {
        std::lock_guard<std::recursive_mutex> lock(m_graphLock);
        // Made at the first request: only then is the graph's controlling unknown settled.
        if (!m_pMapper && FAILED(CreateFilterMapper(GetOwner(), IID_IUnknown,
                                                    reinterpret_cast<void**>(&m_pMapper))))
            return E_NOINTERFACE;
        return m_pMapper->QueryInterface(riid, ppv);
    }
    // IDispatch belongs to each automation interface, not to the object.
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP FilterGraph::GetTypeInfoCount(UINT* pctinfo) {
    if (!pctinfo) return E_POINTER;
    *pctinfo = 0;
    return S_OK;
}
STDMETHODIMP FilterGraph::GetTypeInfo(UINT, LCID, ITypeInfo**) {
    return E_NOTIMPL;
}
STDMETHODIMP FilterGraph::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
    return E_NOTIMPL;
}
STDMETHODIMP FilterGraph::Invoke(DISPID, REFIID, LCID, WORD, struct tagDISPPARAMS*, VARIANT*,
                                 struct tagEXCEPINFO*, UINT*) {
    return E_NOTIMPL;
}

// ---- filters ------------------------------------------------------------------------------------

IBaseFilter* FilterGraph::FindByName(const std::wstring& name) const {
    for (const Entry& e : m_filters)
        if (e.name == name) return e.filter;
    return nullptr;
}

bool FilterGraph::InGraph(IPin* pin) {
    IBaseFilter* f = FilterOfPin(pin);
    if (!f) return false;
    const bool found = std::any_of(m_filters.begin(), m_filters.end(),
                                   [&](const Entry& e) { return e.filter == f; });
    f->Release();
    return found;
}

// A filter without a name is numbered "0001", "0002"...; a name already taken gets the next
// number appended, and the caller is told with VFW_S_DUPLICATE_NAME.
STDMETHODIMP FilterGraph::AddFilter(IBaseFilter* pFilter, LPCWSTR pName) {
    LUMACAP_FAULT_POINT("IGraphBuilder::AddFilter");
    if (!pFilter) return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(m_graphLock);
    for (const Entry& e : m_filters)
        if (e.filter == pFilter) return VFW_E_DUPLICATE_NAME;
    wchar_t number[16];
    std::wstring base;
    if (pName) {
        base = pName;
    } else {
        std::swprintf(number, 16, L"%04u", m_nameIndex++);
        base = number;
    }
    std::wstring name = base;
    bool duplicate = false;
    while (FindByName(name)) {
        std::swprintf(number, 16, L" %04u", m_nameIndex++);
        name = base + number;
        duplicate = true;
    }
    const HRESULT hr = pFilter->JoinFilterGraph(Self(), name.c_str());
    if (FAILED(hr)) return hr;
    pFilter->AddRef();
    // A graph that has chosen its clock hands it to a filter that joins later.
    if (m_pClock) pFilter->SetSyncSource(m_pClock);
    m_filters.insert(m_filters.begin(), {pFilter, name});
    ++m_version;
    LUMACAP_TRACE(kDshow, "graph %p: added %s", static_cast<void*>(this),
                  DescribeFilter(pFilter).c_str());
    return duplicate ? VFW_S_DUPLICATE_NAME : S_OK;
}

HRESULT FilterGraph::DisconnectPins(IBaseFilter* filter) {
    auto pins = PinsOf(filter);
    HRESULT hr = S_OK;
    for (IPin* p : pins) {
        IPin* peer = nullptr;
        if (SUCCEEDED(p->ConnectedTo(&peer)) && peer) {
            hr = peer->Disconnect();
            if (SUCCEEDED(hr)) hr = p->Disconnect();
            peer->Release();
            if (FAILED(hr)) break;
        }
    }
    ReleasePins(pins);
    return FAILED(hr) ? hr : S_OK;
}

// A filter leaves with its connections. The graph does not stop it first, so a running filter's
// pins refuse to disconnect and the filter stays.
STDMETHODIMP FilterGraph::RemoveFilter(IBaseFilter* pFilter) {
    LUMACAP_FAULT_POINT("IGraphBuilder::RemoveFilter");
    if (!pFilter) return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(m_graphLock);
    auto it = std::find_if(m_filters.begin(), m_filters.end(),
                           [&](const Entry& e) { return e.filter == pFilter; });
    if (it == m_filters.end()) return VFW_E_NOT_FOUND;
    const HRESULT hr = DisconnectPins(pFilter);
    if (FAILED(hr)) return hr;
    LUMACAP_TRACE(kDshow, "graph %p: removed %s", static_cast<void*>(this),
                  DescribeFilter(pFilter).c_str());
    // A filter that was the graph's clock takes the clock with it.
    IReferenceClock* own = nullptr;
    if (m_pClock &&
        SUCCEEDED(pFilter->QueryInterface(IID_IReferenceClock, reinterpret_cast<void**>(&own)))) {
        if (own == m_pClock) {
            SetSyncSource(nullptr);
            m_defaultClock = true;
        }
        own->Release();
    }
    pFilter->SetSyncSource(nullptr);
    pFilter->JoinFilterGraph(nullptr, nullptr);
    m_filters.erase(std::find_if(m_filters.begin(), m_filters.end(),
                                 [&](const Entry& e) { return e.filter == pFilter; }));
    ++m_version;
    pFilter->Release();
    return S_OK;
}

STDMETHODIMP FilterGraph::EnumFilters(IEnumFilters** ppEnum) {
    LUMACAP_FAULT_POINT("IGraphBuilder::EnumFilters");
    if (!ppEnum) return E_POINTER;
    HRESULT hr = S_OK;
    auto* e = new FilterEnum(this, GetOwner(), &hr);
    e->NonDelegatingAddRef();
    *ppEnum = e;
    return S_OK;
}

STDMETHODIMP FilterGraph::FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter) {
    LUMACAP_FAULT_POINT("IGraphBuilder::FindFilterByName");
    if (!pName || !ppFilter) return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(m_graphLock);
    *ppFilter = FindByName(pName);
    if (!*ppFilter) return VFW_E_NOT_FOUND;
    (*ppFilter)->AddRef();
    return S_OK;
}

// Stopping joins every streaming thread; the filters then leave with their connections (which hold
// references between filters).
void FilterGraph::Teardown() {
    StopGraph();
    {
        std::lock_guard<std::mutex> lock(m_workerMutex);
        m_workerQuit = true;
    }
    m_workerCv.notify_all();
    if (m_worker.joinable()) m_worker.join();
    {
        std::lock_guard<std::recursive_mutex> lock(m_graphLock);
        for (const Entry& e : m_filters) DisconnectPins(e.filter);
        for (const Entry& e : m_filters) {
            e.filter->SetSyncSource(nullptr);
            e.filter->JoinFilterGraph(nullptr, nullptr);
            e.filter->Release();
        }
        m_filters.clear();
        if (m_pClock) m_pClock->Release();
        m_pClock = nullptr;
        if (m_pSite) m_pSite->Release();
        m_pSite = nullptr;
    }
    // The aggregated mapper answers to us: released as the last of our parts.
    if (m_pMapper) m_pMapper->Release();
    std::deque<Event> events;
    {
        std::lock_guard<std::mutex> lock(m_eventLock);
        events.swap(m_events);
    }
    for (const Event& e : events) FreeParams(e);
    if (m_eventHandle) CloseHandle(m_eventHandle);
}

}  // namespace lumacap::dshow

LUMACAP_REGISTER_CLASS(CLSID_FilterGraph, "Filter Graph",
                       CreateComInstance<lumacap::dshow::FilterGraph>);
// The graph without a thread of its own for window-bound work: here no graph has one.
LUMACAP_REGISTER_CLASS(CLSID_FilterGraphNoThread, "Filter Graph No Thread",
                       CreateComInstance<lumacap::dshow::FilterGraph>);
