// The graph's filter enumerator: walks the graph's own list, most recently added filter first, and
// fails with VFW_E_ENUM_OUT_OF_SYNC once a filter was added or removed until it is reset.
#pragma once

#include <streams.h>

namespace lumacap::dshow {

class FilterGraph;

class FilterEnum final : public CUnknown, public IEnumFilters {
public:
    // Holds a reference to the graph (through `owner`, its controlling unknown).
    FilterEnum(FilterGraph* graph, IUnknown* owner, HRESULT* phr);
    ~FilterEnum() override;

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP Next(ULONG cFilters, IBaseFilter** ppFilter, ULONG* pcFetched) override;
    STDMETHODIMP Skip(ULONG cFilters) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumFilters** ppEnum) override;

private:
    FilterGraph* m_graph;
    IUnknown* m_owner;
    LONG m_version;
    size_t m_position = 0;
};

}  // namespace lumacap::dshow
