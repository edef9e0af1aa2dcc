// The filter graph manager's connections: direct ones, refused when they would close a loop, and
// intelligent connect, which reaches a sink (or renders a stream) through filters already in the
// graph before any the filter mapper offers, best merit first, up to five filters deep.
#include <set>

#include "platform/sim/Faults.h"
#include "platform/system/dshow/FilterGraph.h"
#include "platform/system/win/Trace.h"
#include "platform/system/dshow/GraphTrace.h"
#include "platform/system/dshow/GraphInternals.h"

namespace lumacap::dshow {
namespace {

constexpr int kMaxDepth = 5;

bool IsConnectedPin(IPin* pin) {
    IPin* peer = nullptr;
    if (FAILED(pin->ConnectedTo(&peer)) || !peer) return false;
    peer->Release();
    return true;
}

// The filters a filter delivers to, directly.
std::vector<IBaseFilter*> DownstreamOf(IBaseFilter* filter) {
    std::vector<IBaseFilter*> next;
    auto pins = PinsOf(filter);
    for (IPin* p : pins) {
        if (DirectionOf(p) != PINDIR_OUTPUT) continue;
        IPin* peer = nullptr;
        if (FAILED(p->ConnectedTo(&peer)) || !peer) continue;
        if (IBaseFilter* f = FilterOfPin(peer)) next.push_back(f);
        peer->Release();
    }
    ReleasePins(pins);
    return next;
}

}  // namespace

// Whether connecting `out` to `in` would let a stream come back to where it started.
bool FilterGraph::IsCircular(IPin* out, IPin* in) {
    IBaseFilter* from = FilterOfPin(out);
    IBaseFilter* to = FilterOfPin(in);
    bool circular = from && from == to;
    std::set<IBaseFilter*> seen;
    std::vector<IBaseFilter*> pending;
    if (to && !circular) {
        to->AddRef();
        pending.push_back(to);
    }
    while (!pending.empty()) {
        IBaseFilter* f = pending.back();
        pending.pop_back();
        if (!circular && seen.insert(f).second) {
            if (f == from) circular = true;
            for (IBaseFilter* next : DownstreamOf(f)) pending.push_back(next);
        }
        f->Release();
    }
    if (from) from->Release();
    if (to) to->Release();
    return circular;
}

STDMETHODIMP FilterGraph::ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) {
    LUMACAP_FAULT_POINT("IGraphBuilder::ConnectDirect");
    if (!ppinOut || !ppinIn) return E_POINTER;
    return ConnectPins(ppinOut, ppinIn, pmt);
}

// Connect is asked of the first pin, whichever way round the two are given.
HRESULT FilterGraph::ConnectPins(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) {
    std::lock_guard<std::recursive_mutex> lock(m_graphLock);
    if (!InGraph(ppinOut) || !InGraph(ppinIn)) return VFW_E_NOT_IN_GRAPH;
    const PIN_DIRECTION first = DirectionOf(ppinOut);
    if (first == DirectionOf(ppinIn)) return VFW_E_INVALID_DIRECTION;
    IPin* out = first == PINDIR_OUTPUT ? ppinOut : ppinIn;
    IPin* in = out == ppinOut ? ppinIn : ppinOut;
    if (IsCircular(out, in)) return VFW_E_CIRCULAR_GRAPH;
    return ppinOut->Connect(ppinIn, pmt);
}

STDMETHODIMP FilterGraph::Reconnect(IPin* ppin) {
    return ReconnectEx(ppin, nullptr);
}

STDMETHODIMP FilterGraph::ReconnectEx(IPin* ppin, const AM_MEDIA_TYPE* pmt) {
    if (!ppin) return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(m_graphLock);
    IPin* peer = nullptr;
    if (FAILED(ppin->ConnectedTo(&peer)) || !peer) return VFW_E_NOT_CONNECTED;
    IPin* out = DirectionOf(ppin) == PINDIR_OUTPUT ? ppin : peer;
    IPin* in = out == ppin ? peer : ppin;
    HRESULT hr = out->Disconnect();
    if (SUCCEEDED(hr)) hr = in->Disconnect();
    if (SUCCEEDED(hr)) hr = out->Connect(in, pmt);
    peer->Release();
    return hr;
}

STDMETHODIMP FilterGraph::Disconnect(IPin* ppin) {
    if (!ppin) return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(m_graphLock);
    return ppin->Disconnect();
}

// Connects `source` to the input pins of `filter`, then the filter's outputs onward: to `sink`
// (one path suffices), or, rendering, each output to a renderer (all of them, or VFW_S_PARTIAL_
// RENDER for some). Outputs whose names begin with '~' are not meant to be rendered.
HRESULT FilterGraph::AutoplugThrough(IPin* source, IBaseFilter* filter, IPin* sink,
                                     bool renderToExisting, int depth) {
    auto pins = PinsOf(filter);
    HRESULT result = VFW_E_CANNOT_CONNECT;
    for (IPin* middle : pins) {
        if (DirectionOf(middle) != PINDIR_INPUT || IsConnectedPin(middle)) continue;
        if (FAILED(ConnectPins(source, middle, nullptr))) continue;
        bool any = false, all = true, done = false;
        auto outputs = PinsOf(filter);
        for (IPin* next : outputs) {
            PIN_INFO info{};
            if (done || FAILED(next->QueryPinInfo(&info))) continue;
            if (info.pFilter) info.pFilter->Release();
            if (info.dir != PINDIR_OUTPUT || info.achName[0] == L'~') continue;
            const HRESULT hr = Autoplug(next, sink, renderToExisting, depth + 1);
            if (SUCCEEDED(hr) && sink) done = true;
            if (SUCCEEDED(hr))
                any = true;
            else
                all = false;
        }
        ReleasePins(outputs);
        if (done || (!sink && all))
            result = S_OK;
        else if (!sink && any)
            result = VFW_S_PARTIAL_RENDER;
        if (SUCCEEDED(result)) break;
        source->Disconnect();
        middle->Disconnect();
    }
    ReleasePins(pins);
    return result;
}

HRESULT FilterGraph::Autoplug(IPin* source, IPin* sink, bool renderToExisting, int depth) {
    if (depth >= kMaxDepth) return VFW_E_CANNOT_CONNECT;
    if (sink) {
        // A direct connection, when the pins agree; some failures no filter in between can cure.
        const HRESULT hr = ConnectPins(source, sink, nullptr);
        if (SUCCEEDED(hr) || hr == VFW_E_NOT_CONNECTED || hr == VFW_E_NO_AUDIO_HARDWARE) return hr;
    }

    // Filters already in the graph first, as the graph lists them. The list is copied: trying a
    // filter may add and remove others.
    std::vector<IBaseFilter*> present;
    for (const Entry& e : m_filters) {
        e.filter->AddRef();
        present.push_back(e.filter);
    }
    HRESULT hr = VFW_E_CANNOT_CONNECT;
    for (IBaseFilter* f : present) {
        if (FAILED(hr)) hr = AutoplugThrough(source, f, sink, renderToExisting, depth);
        f->Release();
    }
    if (SUCCEEDED(hr)) return hr;

    // Then the registered filters that take one of the source's types, best merit first. To
    // connect (or render to existing renderers) only filters with outputs are of use.
    IFilterMapper2* mapper = nullptr;
    if (FAILED(CreateFilterMapper(nullptr, IID_IFilterMapper2, reinterpret_cast<void**>(&mapper))))
        return VFW_E_CANNOT_CONNECT;
    IEnumMediaTypes* types = nullptr;
    std::set<std::wstring> tried;
    if (SUCCEEDED(source->EnumMediaTypes(&types)) && types) {
        AM_MEDIA_TYPE* mt = nullptr;
        while (FAILED(hr) && types->Next(1, &mt, nullptr) == S_OK && mt) {
            const GUID wanted[2] = {mt->majortype, mt->subtype};
            const bool stream = mt->majortype == MEDIATYPE_Stream;
            DeleteMediaType(mt);
            mt = nullptr;
            if (stream) continue;
            IEnumMoniker* candidates = nullptr;
            if (FAILED(mapper->EnumMatchingFilters(
                    &candidates, 0, FALSE, MERIT_UNLIKELY, TRUE, 1, wanted, nullptr, nullptr, FALSE,
                    sink != nullptr || renderToExisting, 0, nullptr, nullptr, nullptr)) ||
                !candidates)
                continue;
            IMoniker* moniker = nullptr;
            while (FAILED(hr) && candidates->Next(1, &moniker, nullptr) == S_OK && moniker) {
                hr = TryRegisteredFilter(moniker, source, sink, renderToExisting, depth, &tried);
                moniker->Release();
                moniker = nullptr;
            }
            candidates->Release();
        }
        types->Release();
    }
    mapper->Release();
    return SUCCEEDED(hr) ? hr : VFW_E_CANNOT_CONNECT;
}

// One registered filter: made, added under its friendly name, tried, and removed if it led nowhere.
HRESULT FilterGraph::TryRegisteredFilter(IMoniker* moniker, IPin* source, IPin* sink,
                                         bool renderToExisting, int depth,
                                         std::set<std::wstring>* tried) {
    LPOLESTR display = nullptr;
    if (SUCCEEDED(moniker->GetDisplayName(nullptr, nullptr, &display)) && display) {
        const bool again = !tried->insert(display).second;
        CoTaskMemFree(display);
        if (again) return VFW_E_CANNOT_CONNECT;
    }
    std::wstring name;
    IPropertyBag* bag = nullptr;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                      reinterpret_cast<void**>(&bag))) ||
        !bag)
        return VFW_E_CANNOT_CONNECT;
    VARIANT var{};
    var.vt = VT_BSTR;
    var.bstrVal = nullptr;
    const HRESULT read = bag->Read(L"FriendlyName", &var, nullptr);
    bag->Release();
    if (FAILED(read)) return VFW_E_CANNOT_CONNECT;
    name = var.bstrVal ? var.bstrVal : L"";
    SysFreeString(var.bstrVal);

    IBaseFilter* filter = nullptr;
    if (FAILED(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                     reinterpret_cast<void**>(&filter))) ||
        !filter)
        return VFW_E_CANNOT_CONNECT;
    HRESULT hr = AddFilter(filter, name.c_str());
    if (SUCCEEDED(hr)) {
        hr = AutoplugThrough(source, filter, sink, renderToExisting, depth);
        if (FAILED(hr))
            RemoveFilter(filter);
        else
            LUMACAP_TRACE(kDshow, "graph %p: inserted %s between %s and %s",
                          static_cast<void*>(this), DescribeFilter(filter).c_str(),
                          DescribePin(source).c_str(),
                          sink ? DescribePin(sink).c_str() : "a renderer");
    }
    filter->Release();
    return hr;
}

STDMETHODIMP FilterGraph::Connect(IPin* ppinOut, IPin* ppinIn) {
    LUMACAP_FAULT_POINT("IGraphBuilder::Connect");
    if (!ppinOut || !ppinIn) return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(m_graphLock);
    // Either pin may come first.
    if (DirectionOf(ppinOut) == PINDIR_INPUT) std::swap(ppinOut, ppinIn);
    if (DirectionOf(ppinOut) != PINDIR_OUTPUT || DirectionOf(ppinIn) != PINDIR_INPUT)
        return VFW_E_INVALID_DIRECTION;
    if (IsConnectedPin(ppinOut) || IsConnectedPin(ppinIn)) return VFW_E_ALREADY_CONNECTED;
    if (!InGraph(ppinOut) || !InGraph(ppinIn)) return VFW_E_NOT_IN_GRAPH;
    return Autoplug(ppinOut, ppinIn, true, 0);
}

STDMETHODIMP FilterGraph::Render(IPin* ppinOut) {
    return RenderEx(ppinOut, 0, nullptr);
}

STDMETHODIMP FilterGraph::RenderEx(IPin* pPinOut, DWORD dwFlags, DWORD*) {
    if (!pPinOut) return E_POINTER;
    if (dwFlags & ~static_cast<DWORD>(AM_RENDEREX_RENDERTOEXISTINGRENDERERS)) return E_INVALIDARG;
    std::lock_guard<std::recursive_mutex> lock(m_graphLock);
    const HRESULT hr =
        Autoplug(pPinOut, nullptr, (dwFlags & AM_RENDEREX_RENDERTOEXISTINGRENDERERS) != 0, 0);
    return hr == VFW_E_CANNOT_CONNECT ? VFW_E_CANNOT_RENDER : hr;
}

// Files are not played here: no source filters for files are installed.
STDMETHODIMP FilterGraph::RenderFile(LPCWSTR, LPCWSTR) {
    return E_NOTIMPL;
}
STDMETHODIMP FilterGraph::AddSourceFilter(LPCWSTR, LPCWSTR, IBaseFilter**) {
    return E_NOTIMPL;
}
STDMETHODIMP FilterGraph::SetLogFile(DWORD_PTR) {
    return S_OK;
}
STDMETHODIMP FilterGraph::Abort() {
    return S_OK;
}
STDMETHODIMP FilterGraph::ShouldOperationContinue() {
    return S_OK;
}

STDMETHODIMP FilterGraph::AddSourceFilterForMoniker(IMoniker* pMoniker, IBindCtx* pCtx,
                                                    LPCWSTR lpcwstrFilterName,
                                                    IBaseFilter** ppFilter) {
    if (!pMoniker || !ppFilter) return E_POINTER;
    *ppFilter = nullptr;
    IBaseFilter* filter = nullptr;
    HRESULT hr =
        pMoniker->BindToObject(pCtx, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter));
    if (FAILED(hr)) return hr;
    hr = AddFilter(filter, lpcwstrFilterName);
    if (FAILED(hr)) {
        filter->Release();
        return hr;
    }
    *ppFilter = filter;
    return S_OK;
}

}  // namespace lumacap::dshow
