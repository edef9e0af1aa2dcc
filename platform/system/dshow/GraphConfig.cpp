// The filter graph manager's IGraphConfig: a reconfiguration runs the application's callback with
// the graph held, so no state change or connection from elsewhere interleaves with it. Dynamic
// reconnection and the filter cache are not offered.
#include "platform/system/dshow/FilterGraph.h"

namespace lumacap::dshow {

STDMETHODIMP FilterGraph::Config::QueryInterface(REFIID riid, void** ppv) {
    return m_graph->GetOwner()->QueryInterface(riid, ppv);
}
STDMETHODIMP_(ULONG) FilterGraph::Config::AddRef() {
    return m_graph->GetOwner()->AddRef();
}
STDMETHODIMP_(ULONG) FilterGraph::Config::Release() {
    return m_graph->GetOwner()->Release();
}

STDMETHODIMP FilterGraph::Config::Reconfigure(IGraphConfigCallback* pCallback, PVOID pvContext,
                                              DWORD dwFlags, HANDLE) {
    if (!pCallback) return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(m_graph->m_graphLock);
    return pCallback->Reconfigure(pvContext, dwFlags);
}

STDMETHODIMP FilterGraph::Config::Reconnect(IPin*, IPin*, const AM_MEDIA_TYPE*, IBaseFilter*,
                                            HANDLE, DWORD) {
    return E_NOTIMPL;
}
STDMETHODIMP FilterGraph::Config::AddFilterToCache(IBaseFilter*) {
    return E_NOTIMPL;
}
STDMETHODIMP FilterGraph::Config::EnumCacheFilter(IEnumFilters**) {
    return E_NOTIMPL;
}
STDMETHODIMP FilterGraph::Config::RemoveFilterFromCache(IBaseFilter*) {
    return E_NOTIMPL;
}
STDMETHODIMP FilterGraph::Config::GetStartTime(REFERENCE_TIME*) {
    return E_NOTIMPL;
}
STDMETHODIMP FilterGraph::Config::PushThroughData(IPin*, IPinConnection*, HANDLE) {
    return E_NOTIMPL;
}
STDMETHODIMP FilterGraph::Config::SetFilterFlags(IBaseFilter*, DWORD) {
    return E_NOTIMPL;
}
STDMETHODIMP FilterGraph::Config::GetFilterFlags(IBaseFilter*, DWORD*) {
    return E_NOTIMPL;
}
STDMETHODIMP FilterGraph::Config::RemoveFilterEx(IBaseFilter*, DWORD) {
    return E_NOTIMPL;
}

}  // namespace lumacap::dshow
