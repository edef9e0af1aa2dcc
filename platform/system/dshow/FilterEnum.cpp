// The graph's filter enumerator.
#include "platform/system/dshow/FilterEnum.h"

#include "platform/system/dshow/FilterGraph.h"

namespace lumacap::dshow {

FilterEnum::FilterEnum(FilterGraph* graph, IUnknown* owner, HRESULT* phr)
    : CUnknown(NAME("Filter enumerator"), nullptr, phr),
      m_graph(graph),
      m_owner(owner),
      m_version(graph->Version()) {
    m_owner->AddRef();
}

FilterEnum::~FilterEnum() {
    m_owner->Release();
}

STDMETHODIMP FilterEnum::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IEnumFilters) return GetInterface(static_cast<IEnumFilters*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP FilterEnum::Next(ULONG cFilters, IBaseFilter** ppFilter, ULONG* pcFetched) {
    if (!ppFilter) return E_POINTER;
    if (cFilters != 1 && !pcFetched) return E_INVALIDARG;
    return m_graph->WithFilters(m_version, [&](const std::vector<IBaseFilter*>& filters) {
        ULONG fetched = 0;
        while (fetched < cFilters && m_position < filters.size()) {
            ppFilter[fetched] = filters[m_position++];
            ppFilter[fetched++]->AddRef();
        }
        if (pcFetched) *pcFetched = fetched;
        return fetched == cFilters ? S_OK : S_FALSE;
    });
}

// Skipping onto the end is a success; skipping past it is S_FALSE; an enumerator already at the
// end has nothing to skip at all.
STDMETHODIMP FilterEnum::Skip(ULONG cFilters) {
    return m_graph->WithFilters(m_version, [&](const std::vector<IBaseFilter*>& filters) {
        if (m_position >= filters.size()) return E_INVALIDARG;
        const size_t left = filters.size() - m_position;
        if (cFilters > left) {
            m_position = filters.size();
            return S_FALSE;
        }
        m_position += cFilters;
        return S_OK;
    });
}

STDMETHODIMP FilterEnum::Reset() {
    m_version = m_graph->Version();
    m_position = 0;
    return S_OK;
}

STDMETHODIMP FilterEnum::Clone(IEnumFilters** ppEnum) {
    if (!ppEnum) return E_POINTER;
    HRESULT hr = S_OK;
    auto* copy = new FilterEnum(m_graph, m_owner, &hr);
    copy->m_version = m_version;
    copy->m_position = m_position;
    copy->NonDelegatingAddRef();
    *ppEnum = copy;
    return S_OK;
}

}  // namespace lumacap::dshow
