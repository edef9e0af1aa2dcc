// The capture graph builder (CLSID_CaptureGraphBuilder2): finds pins by category and interfaces
// along a stream, and renders a capture or preview stream through an optional intermediate filter
// to a sink. A device without a preview pin gets a smart tee, as on Windows.
#include <functional>
#include <set>

#include <streams.h>

#include "platform/system/com/ComObject.h"
#include "platform/system/com/ClassRegistry.h"
#include "platform/system/com/LiveObjects.h"
#include "platform/system/dshow/GraphInternals.h"
#include "platform/sim/Faults.h"

namespace lumacap::dshow {
namespace {

class CaptureGraphBuilder final
    : public com::ComObject<ICaptureGraphBuilder2, IID_ICaptureGraphBuilder2> {
public:
    ~CaptureGraphBuilder() {
        if (m_graph) m_graph->Release();
    }

    HRESULT STDMETHODCALLTYPE SetFiltergraph(IGraphBuilder* pfg) override {
        LUMACAP_FAULT_POINT("ICaptureGraphBuilder2::SetFiltergraph");
        if (!pfg) return E_POINTER;
        if (m_graph) return E_UNEXPECTED;
        pfg->AddRef();
        m_graph = pfg;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetFiltergraph(IGraphBuilder** ppfg) override {
        if (!ppfg) return E_POINTER;
        const HRESULT hr = EnsureGraph();
        if (FAILED(hr)) return hr;
        *ppfg = m_graph;
        m_graph->AddRef();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetOutputFileName(const GUID*, LPCOLESTR, IBaseFilter**,
                                                IFileSinkFilter**) override {
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE FindInterface(const GUID* pCategory, const GUID* pType,
                                            IBaseFilter* pf, REFIID riid, void** ppint) override {
        LUMACAP_FAULT_POINT("ICaptureGraphBuilder2::FindInterface");
        if (!ppint || !pf) return E_POINTER;
        *ppint = nullptr;
        if (pCategory && *pCategory == LOOK_UPSTREAM_ONLY)
            return SearchFilters(pf, riid, ppint, PINDIR_INPUT, false);
        if (pCategory && *pCategory == LOOK_DOWNSTREAM_ONLY)
            return SearchFilters(pf, riid, ppint, PINDIR_OUTPUT, false);
        if (!pCategory) {
            if (SUCCEEDED(pf->QueryInterface(riid, ppint))) return S_OK;
            if (SUCCEEDED(SearchPins(pf, nullptr, pType, riid, ppint))) return S_OK;
            if (SUCCEEDED(SearchFilters(pf, riid, ppint, PINDIR_OUTPUT, false))) return S_OK;
            return SearchFilters(pf, riid, ppint, PINDIR_INPUT, false);
        }
        // A pin category: the interface on such a pin, or downstream of it.
        return SearchPins(pf, pCategory, pType, riid, ppint);
    }

    HRESULT STDMETHODCALLTYPE RenderStream(const GUID* pCategory, const GUID* pType,
                                           IUnknown* pSource, IBaseFilter* pfCompressor,
                                           IBaseFilter* pfRenderer) override {
        LUMACAP_FAULT_POINT("ICaptureGraphBuilder2::RenderStream");
        if (!pSource) return E_POINTER;
        HRESULT hr = EnsureGraph();
        if (FAILED(hr)) return hr;

        IPin* start = nullptr;
        HRESULT success = S_OK;
        IPin* sourcePin = nullptr;
        IBaseFilter* sourceFilter = nullptr;
        if (SUCCEEDED(pSource->QueryInterface(IID_IPin, reinterpret_cast<void**>(&sourcePin))) &&
            sourcePin) {
            start = sourcePin;
        } else if (SUCCEEDED(pSource->QueryInterface(IID_IBaseFilter,
                                                     reinterpret_cast<void**>(&sourceFilter))) &&
                   sourceFilter) {
            hr = StartPin(sourceFilter, pCategory, pType, &start, &success);
            sourceFilter->Release();
            if (FAILED(hr)) return hr;
        } else {
            return E_INVALIDARG;
        }

        IPin* current = start;
        if (pfCompressor) {
            IPin* in = FirstPin(pfCompressor, PINDIR_INPUT, true);
            if (!in) {
                current->Release();
                return E_FAIL;
            }
            hr = m_graph->Connect(current, in);
            in->Release();
            current->Release();
            if (FAILED(hr)) return hr;
            current = FirstPin(pfCompressor, PINDIR_OUTPUT, true);
            if (!current) return pfRenderer ? E_FAIL : success;
        }
        if (pfRenderer) {
            IPin* in = FirstPin(pfRenderer, PINDIR_INPUT, true);
            if (!in) {
                current->Release();
                return E_FAIL;
            }
            hr = m_graph->Connect(current, in);
            in->Release();
        } else {
            hr = m_graph->Render(current);
        }
        current->Release();
        return FAILED(hr) ? hr : success;
    }

    HRESULT STDMETHODCALLTYPE ControlStream(const GUID*, const GUID*, IBaseFilter*, REFERENCE_TIME*,
                                            REFERENCE_TIME*, WORD, WORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE AllocCapFile(LPCOLESTR, DWORDLONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyCaptureFile(LPOLESTR, LPOLESTR, int,
                                              IAMCopyCaptureFileProgress*) override {
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE FindPin(IUnknown* pSource, PIN_DIRECTION pindir,
                                      const GUID* pCategory, const GUID* pType, BOOL fUnconnected,
                                      int num, IPin** ppPin) override {
        if (!pSource || !ppPin) return E_POINTER;
        *ppPin = nullptr;
        IBaseFilter* filter = nullptr;
        if (FAILED(pSource->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter))) ||
            !filter)
            return E_INVALIDARG;
        auto pins = PinsOf(filter);
        filter->Release();
        int seen = 0;
        for (IPin* p : pins) {
            if (DirectionOf(p) != pindir) continue;
            if (pCategory && CategoryOfPin(p) != *pCategory) continue;
            if (pType && !PinHasMajorType(p, *pType)) continue;
            if (fUnconnected && IsConnected(p)) continue;
            if (seen++ == num) {
                *ppPin = p;
                p->AddRef();
                break;
            }
        }
        ReleasePins(pins);
        return *ppPin ? S_OK : E_FAIL;
    }

private:
    HRESULT EnsureGraph() {
        if (m_graph) return S_OK;
        return CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                reinterpret_cast<void**>(&m_graph));
    }

    static bool IsConnected(IPin* pin) {
        IPin* peer = nullptr;
        if (SUCCEEDED(pin->ConnectedTo(&peer)) && peer) {
            peer->Release();
            return true;
        }
        return false;
    }

    static IPin* FirstPin(IBaseFilter* filter, PIN_DIRECTION dir, bool unconnected) {
        auto pins = PinsOf(filter);
        IPin* found = nullptr;
        for (IPin* p : pins) {
            if (DirectionOf(p) == dir && (!unconnected || !IsConnected(p))) {
                found = p;
                found->AddRef();
                break;
            }
        }
        ReleasePins(pins);
        return found;
    }

    // The output pin of `filter` that carries the stream: one of the category asked for, or, for a
    // preview of a device with only a capture pin, the preview output of a smart tee behind it.
    HRESULT StartPin(IBaseFilter* filter, const GUID* pCategory, const GUID* pType, IPin** ppStart,
                     HRESULT* success) {
        *ppStart = nullptr;
        auto pins = PinsOf(filter);
        IPin* exact = nullptr;
        IPin* capture = nullptr;
        IPin* any = nullptr;
        for (IPin* p : pins) {
            if (DirectionOf(p) != PINDIR_OUTPUT) continue;
            if (pType && !PinHasMajorType(p, *pType)) continue;
            const GUID category = CategoryOfPin(p);
            if (pCategory && category == *pCategory && !exact) exact = p;
            if (category == PIN_CATEGORY_CAPTURE && !capture) capture = p;
            if (!any && !IsConnected(p)) any = p;
        }
        HRESULT hr = S_OK;
        if (!pCategory) {
            if (any) {
                *ppStart = any;
                any->AddRef();
            }
        } else if (exact && !IsConnected(exact)) {
            *ppStart = exact;
            exact->AddRef();
        } else if (*pCategory == PIN_CATEGORY_PREVIEW && capture) {
            hr = TeeOutput(capture, L"Preview", ppStart);
            if (SUCCEEDED(hr)) *success = VFW_S_NOPREVIEWPIN;
        } else if (*pCategory == PIN_CATEGORY_CAPTURE && capture) {
            // The capture pin already feeds a smart tee (a preview was rendered first).
            hr = TeeOutput(capture, L"Capture", ppStart);
        }
        ReleasePins(pins);
        if (FAILED(hr)) return hr;
        return *ppStart ? S_OK : E_FAIL;
    }

    // The named output of the smart tee behind `capture`, inserting the tee if there is none.
    HRESULT TeeOutput(IPin* capture, const wchar_t* outputName, IPin** ppOut) {
        IPin* peer = nullptr;
        IBaseFilter* tee = nullptr;
        if (SUCCEEDED(capture->ConnectedTo(&peer)) && peer) {
            IBaseFilter* downstream = FilterOfPin(peer);
            peer->Release();
            CLSID clsid{};
            IPersist* persist = nullptr;
            if (downstream && SUCCEEDED(downstream->QueryInterface(
                                  IID_IPersist, reinterpret_cast<void**>(&persist)))) {
                persist->GetClassID(&clsid);
                persist->Release();
            }
            if (!downstream || clsid != CLSID_SmartTee) {
                if (downstream) downstream->Release();
                return VFW_E_ALREADY_CONNECTED;
            }
            tee = downstream;
        } else {
            HRESULT hr = CoCreateInstance(CLSID_SmartTee, nullptr, CLSCTX_INPROC_SERVER,
                                          IID_IBaseFilter, reinterpret_cast<void**>(&tee));
            if (FAILED(hr)) return hr;
            hr = m_graph->AddFilter(tee, L"Smart Tee");
            if (SUCCEEDED(hr)) {
                IPin* in = FirstPin(tee, PINDIR_INPUT, true);
                hr = in ? m_graph->Connect(capture, in) : E_FAIL;
                if (in) in->Release();
                if (FAILED(hr)) m_graph->RemoveFilter(tee);
            }
            if (FAILED(hr)) {
                tee->Release();
                return hr;
            }
        }
        const HRESULT hr = tee->FindPin(outputName, ppOut);
        tee->Release();
        if (FAILED(hr)) return hr;
        if (IsConnected(*ppOut)) {
            (*ppOut)->Release();
            *ppOut = nullptr;
            return VFW_E_ALREADY_CONNECTED;
        }
        return S_OK;
    }

    HRESULT SearchPins(IBaseFilter* pf, const GUID* pCategory, const GUID* pType, REFIID riid,
                       void** ppint) {
        auto pins = PinsOf(pf);
        HRESULT hr = E_NOINTERFACE;
        for (IPin* p : pins) {
            if (pCategory && (DirectionOf(p) != PINDIR_OUTPUT || CategoryOfPin(p) != *pCategory))
                continue;
            if (pType && !PinHasMajorType(p, *pType)) continue;
            if (SUCCEEDED(p->QueryInterface(riid, ppint))) {
                hr = S_OK;
                break;
            }
            if (pCategory) {
                // Downstream of the pin of that category.
                IPin* peer = nullptr;
                if (SUCCEEDED(p->ConnectedTo(&peer)) && peer) {
                    IBaseFilter* next = FilterOfPin(peer);
                    peer->Release();
                    if (next) {
                        if (SUCCEEDED(next->QueryInterface(riid, ppint)) ||
                            SUCCEEDED(SearchFilters(next, riid, ppint, PINDIR_OUTPUT, false)))
                            hr = S_OK;
                        next->Release();
                        if (hr == S_OK) break;
                    }
                }
            }
        }
        ReleasePins(pins);
        return hr;
    }

    // Breadth over the filters connected through pins of direction `dir` (downstream for output).
    HRESULT SearchFilters(IBaseFilter* from, REFIID riid, void** ppint, PIN_DIRECTION dir,
                          bool includeSelf) {
        std::set<IBaseFilter*> seen{from};
        std::vector<IBaseFilter*> frontier{from};
        from->AddRef();
        HRESULT hr = E_NOINTERFACE;
        while (!frontier.empty() && hr != S_OK) {
            std::vector<IBaseFilter*> next;
            for (IBaseFilter* f : frontier) {
                if (hr != S_OK && (f != from || includeSelf) &&
                    SUCCEEDED(f->QueryInterface(riid, ppint)))
                    hr = S_OK;
                auto pins = PinsOf(f);
                for (IPin* p : pins) {
                    if (hr == S_OK) break;
                    if (DirectionOf(p) != dir) continue;
                    if (f != from && SUCCEEDED(p->QueryInterface(riid, ppint))) {
                        hr = S_OK;
                        break;
                    }
                    IPin* peer = nullptr;
                    if (SUCCEEDED(p->ConnectedTo(&peer)) && peer) {
                        IBaseFilter* g = FilterOfPin(peer);
                        peer->Release();
                        if (g && seen.insert(g).second)
                            next.push_back(g);
                        else if (g)
                            g->Release();
                    }
                }
                ReleasePins(pins);
                f->Release();
            }
            frontier.swap(next);
        }
        for (IBaseFilter* f : frontier) f->Release();
        return hr;
    }

    IGraphBuilder* m_graph = nullptr;
};

HRESULT CreateCaptureGraphBuilder(IUnknown* outer, REFIID riid, void** ppv) {
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* builder = new CaptureGraphBuilder();
    const HRESULT hr = builder->QueryInterface(riid, ppv);
    builder->Release();
    return hr;
}

}  // namespace

LUMACAP_REGISTER_CLASS(CLSID_CaptureGraphBuilder2, "Capture Graph Builder 2",
                       CreateCaptureGraphBuilder);

}  // namespace lumacap::dshow
