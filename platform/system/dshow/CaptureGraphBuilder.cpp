// The capture graph builder (CLSID_CaptureGraphBuilder2): finds pins by category and interfaces
// along a stream, renders a capture or preview stream through an optional intermediate filter to a
// sink, and sets up an AVI file to capture to. A device without a preview pin gets a smart tee,
// whose preview output then stands for it; a capture stream goes through the tee as well.
#include <streams.h>

#include "platform/sim/Faults.h"
#include "platform/system/com/ClassRegistry.h"
#include "platform/system/dshow/GraphInternals.h"

namespace lumacap::dshow {
namespace {

bool IsConnected(IPin* pin) {
    IPin* peer = nullptr;
    if (FAILED(pin->ConnectedTo(&peer)) || !peer) return false;
    peer->Release();
    return true;
}

IPin* FirstPin(IBaseFilter* filter, PIN_DIRECTION dir) {
    auto pins = PinsOf(filter);
    IPin* found = nullptr;
    for (IPin* p : pins) {
        if (DirectionOf(p) == dir && !IsConnected(p)) {
            found = p;
            found->AddRef();
            break;
        }
    }
    ReleasePins(pins);
    return found;
}

bool IsSmartTee(IBaseFilter* filter) {
    CLSID clsid{};
    return SUCCEEDED(filter->GetClassID(&clsid)) && clsid == CLSID_SmartTee;
}

class CaptureGraphBuilder final : public CUnknown, public ICaptureGraphBuilder2 {
public:
    explicit CaptureGraphBuilder(HRESULT* phr)
        : CUnknown(NAME("Capture Graph Builder"), nullptr, phr) {}
    ~CaptureGraphBuilder() override {
        if (m_graph) m_graph->Release();
    }

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_ICaptureGraphBuilder2)
            return GetInterface(static_cast<ICaptureGraphBuilder2*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }

    STDMETHODIMP SetFiltergraph(IGraphBuilder* pfg) override {
        LUMACAP_FAULT_POINT("ICaptureGraphBuilder2::SetFiltergraph");
        if (!pfg) return E_POINTER;
        if (m_graph) return E_UNEXPECTED;
        pfg->AddRef();
        m_graph = pfg;
        return S_OK;
    }

    STDMETHODIMP GetFiltergraph(IGraphBuilder** ppfg) override {
        if (!ppfg) return E_POINTER;
        const HRESULT hr = EnsureGraph();
        if (FAILED(hr)) return hr;
        *ppfg = m_graph;
        m_graph->AddRef();
        return S_OK;
    }

    // An AVI file: an AVI mux writing through a file writer, both added to the graph.
    STDMETHODIMP SetOutputFileName(const GUID* pType, LPCOLESTR lpstrFile, IBaseFilter** ppf,
                                   IFileSinkFilter** ppSink) override {
        if (!pType || !lpstrFile || !ppf) return E_POINTER;
        *ppf = nullptr;
        if (ppSink) *ppSink = nullptr;
        if (*pType != MEDIASUBTYPE_Avi) return E_NOTIMPL;
        HRESULT hr = EnsureGraph();
        if (FAILED(hr)) return hr;
        IBaseFilter* mux = nullptr;
        IBaseFilter* writer = nullptr;
        IFileSinkFilter* sink = nullptr;
        hr = CoCreateInstance(CLSID_AviDest, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                              reinterpret_cast<void**>(&mux));
        if (SUCCEEDED(hr))
            hr = CoCreateInstance(CLSID_FileWriter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                  reinterpret_cast<void**>(&writer));
        if (SUCCEEDED(hr))
            hr = writer->QueryInterface(IID_IFileSinkFilter, reinterpret_cast<void**>(&sink));
        if (SUCCEEDED(hr)) hr = sink->SetFileName(lpstrFile, nullptr);
        if (SUCCEEDED(hr)) hr = m_graph->AddFilter(mux, L"Mux");
        if (SUCCEEDED(hr)) hr = m_graph->AddFilter(writer, L"File Writer");
        if (SUCCEEDED(hr)) {
            IPin* out = FirstPin(mux, PINDIR_OUTPUT);
            IPin* in = FirstPin(writer, PINDIR_INPUT);
            hr = out && in ? m_graph->ConnectDirect(out, in, nullptr) : E_FAIL;
            if (out) out->Release();
            if (in) in->Release();
        }
        if (writer) writer->Release();
        if (FAILED(hr)) {
            if (sink) sink->Release();
            if (mux) mux->Release();
            return hr;
        }
        *ppf = mux;
        if (ppSink)
            *ppSink = sink;
        else
            sink->Release();
        return S_OK;
    }

    // Without a category: the filter, then downstream of it, then upstream. With a category: the
    // filter, then the pin of that category and what lies downstream of it, then upstream.
    STDMETHODIMP FindInterface(const GUID* pCategory, const GUID* pType, IBaseFilter* pf,
                               REFIID riid, void** ppint) override {
        LUMACAP_FAULT_POINT("ICaptureGraphBuilder2::FindInterface");
        if (!ppint || !pf) return E_POINTER;
        *ppint = nullptr;
        if (pCategory && *pCategory == LOOK_UPSTREAM_ONLY)
            return Search(pf, PINDIR_INPUT, riid, ppint) ? S_OK : E_FAIL;
        if (pCategory && *pCategory == LOOK_DOWNSTREAM_ONLY)
            return Search(pf, PINDIR_OUTPUT, riid, ppint) ? S_OK : E_FAIL;
        if (SUCCEEDED(pf->QueryInterface(riid, ppint))) return S_OK;
        if (!pCategory) {
            if (Search(pf, PINDIR_OUTPUT, riid, ppint) || Search(pf, PINDIR_INPUT, riid, ppint))
                return S_OK;
            return E_FAIL;
        }
        IPin* pin = nullptr;
        if (FAILED(FindPin(pf, PINDIR_OUTPUT, pCategory, pType, FALSE, 0, &pin)))
            return E_NOINTERFACE;
        const bool found = Along(pin, PINDIR_OUTPUT, riid, ppint);
        pin->Release();
        if (found || Search(pf, PINDIR_INPUT, riid, ppint)) return S_OK;
        return E_FAIL;
    }

    STDMETHODIMP RenderStream(const GUID* pCategory, const GUID* pType, IUnknown* pSource,
                              IBaseFilter* pfCompressor, IBaseFilter* pfRenderer) override {
        LUMACAP_FAULT_POINT("ICaptureGraphBuilder2::RenderStream");
        if (!pSource) return E_POINTER;
        HRESULT hr = EnsureGraph();
        if (FAILED(hr)) return hr;
        if (pCategory && *pCategory == PIN_CATEGORY_VBI) return E_NOTIMPL;

        IPin* current = nullptr;
        HRESULT success = S_OK;
        if (SUCCEEDED(pSource->QueryInterface(IID_IPin, reinterpret_cast<void**>(&current)))) {
            // A pin is the stream itself.
        } else if (pCategory && *pCategory == PIN_CATEGORY_PREVIEW) {
            if (FAILED(FindPin(pSource, PINDIR_OUTPUT, pCategory, pType, TRUE, 0, &current))) {
                hr = TeeOutput(pSource, pCategory, pType, &current);
                if (FAILED(hr)) return E_INVALIDARG;
                success = hr;
            }
        } else if (pCategory && *pCategory == PIN_CATEGORY_CAPTURE) {
            if (FAILED(TeeOutput(pSource, pCategory, pType, &current))) return E_INVALIDARG;
        } else if (FAILED(FindPin(pSource, PINDIR_OUTPUT, pCategory, pType, TRUE, 0, &current))) {
            return E_INVALIDARG;
        }

        if (pfCompressor) {
            IPin* in = FirstPin(pfCompressor, PINDIR_INPUT);
            hr = in ? m_graph->Connect(current, in) : E_FAIL;
            if (in) in->Release();
            current->Release();
            if (FAILED(hr)) return hr;
            current = FirstPin(pfCompressor, PINDIR_OUTPUT);
            if (!current) return pfRenderer ? E_FAIL : success;
        }
        if (pfRenderer) {
            IPin* in = FirstPin(pfRenderer, PINDIR_INPUT);
            hr = in ? m_graph->Connect(current, in) : E_FAIL;
            if (in) in->Release();
        } else {
            hr = m_graph->Render(current);
        }
        current->Release();
        return FAILED(hr) ? hr : success;
    }

    STDMETHODIMP ControlStream(const GUID*, const GUID*, IBaseFilter*, REFERENCE_TIME*,
                               REFERENCE_TIME*, WORD, WORD) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP AllocCapFile(LPCOLESTR, DWORDLONG) override { return E_NOTIMPL; }
    STDMETHODIMP CopyCaptureFile(LPOLESTR, LPOLESTR, int, IAMCopyCaptureFileProgress*) override {
        return E_NOTIMPL;
    }

    STDMETHODIMP FindPin(IUnknown* pSource, PIN_DIRECTION pindir, const GUID* pCategory,
                         const GUID* pType, BOOL fUnconnected, int num, IPin** ppPin) override {
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

    static bool Found(IUnknown* object, REFIID riid, void** ppint) {
        return SUCCEEDED(object->QueryInterface(riid, ppint));
    }

    // The pin, the pin it is connected to, that pin's filter, and onward in the same direction.
    static bool Along(IPin* pin, PIN_DIRECTION dir, REFIID riid, void** ppint) {
        if (Found(pin, riid, ppint)) return true;
        IPin* peer = nullptr;
        if (FAILED(pin->ConnectedTo(&peer)) || !peer) return false;
        bool found = Found(peer, riid, ppint);
        if (!found) {
            if (IBaseFilter* next = FilterOfPin(peer)) {
                found = Found(next, riid, ppint) || Search(next, dir, riid, ppint);
                next->Release();
            }
        }
        peer->Release();
        return found;
    }

    // Depth first through the pins of direction `dir` (downstream for outputs), not the filter.
    static bool Search(IBaseFilter* filter, PIN_DIRECTION dir, REFIID riid, void** ppint) {
        auto pins = PinsOf(filter);
        bool found = false;
        for (IPin* p : pins)
            if (!found && DirectionOf(p) == dir) found = Along(p, dir, riid, ppint);
        ReleasePins(pins);
        return found;
    }

    // The smart tee output standing for a device's capture pin: none is needed when the device
    // has a preview pin of its own, and a tee already behind the capture pin is used again.
    // VFW_S_NOPREVIEWPIN when the tee's preview output stands in for a preview pin.
    HRESULT TeeOutput(IUnknown* source, const GUID* pCategory, const GUID* pType, IPin** ppOut) {
        IPin* capture = nullptr;
        if (FAILED(
                FindPin(source, PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, pType, FALSE, 0, &capture)))
            return E_INVALIDARG;
        IPin* preview = nullptr;
        if (SUCCEEDED(
                FindPin(source, PINDIR_OUTPUT, &PIN_CATEGORY_PREVIEW, pType, FALSE, 0, &preview))) {
            IPin* own = *pCategory == PIN_CATEGORY_CAPTURE ? capture : preview;
            const bool free = !IsConnected(own);
            if (free) {
                *ppOut = own;
                own->AddRef();
            }
            preview->Release();
            capture->Release();
            return free ? S_OK : E_INVALIDARG;
        }
        IBaseFilter* tee = nullptr;
        HRESULT hr = S_OK;
        IPin* peer = nullptr;
        if (SUCCEEDED(capture->ConnectedTo(&peer)) && peer) {
            tee = FilterOfPin(peer);
            peer->Release();
            if (tee && !IsSmartTee(tee)) {
                tee->Release();
                tee = nullptr;
            }
            if (!tee) hr = E_INVALIDARG;
        } else {
            hr = CoCreateInstance(CLSID_SmartTee, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                  reinterpret_cast<void**>(&tee));
            if (SUCCEEDED(hr)) hr = m_graph->AddFilter(tee, L"Smart Tee");
            IPin* in = nullptr;
            if (SUCCEEDED(hr)) hr = tee->FindPin(L"Input", &in);
            if (SUCCEEDED(hr)) hr = m_graph->ConnectDirect(capture, in, nullptr);
            if (in) in->Release();
            if (FAILED(hr) && tee) m_graph->RemoveFilter(tee);
        }
        capture->Release();
        if (FAILED(hr)) {
            if (tee) tee->Release();
            return E_INVALIDARG;
        }
        const bool forPreview = *pCategory == PIN_CATEGORY_PREVIEW;
        hr = tee->FindPin(forPreview ? L"Preview" : L"Capture", ppOut);
        tee->Release();
        if (FAILED(hr)) return hr;
        if (IsConnected(*ppOut)) {
            (*ppOut)->Release();
            *ppOut = nullptr;
            return E_INVALIDARG;
        }
        return forPreview ? VFW_S_NOPREVIEWPIN : S_OK;
    }

    IGraphBuilder* m_graph = nullptr;
};

}  // namespace

LUMACAP_REGISTER_CLASS(CLSID_CaptureGraphBuilder2, "Capture Graph Builder 2",
                       CreateComInstance<CaptureGraphBuilder>);

}  // namespace lumacap::dshow
