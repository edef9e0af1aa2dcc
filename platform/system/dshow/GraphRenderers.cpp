// The filter graph manager's renderer controls: IBasicAudio, IBasicVideo2 and IVideoWindow go to
// the first filter of the graph that answers them. Also the graph's site, version and frame
// stepping.
#include "platform/sim/Faults.h"
#include "platform/system/dshow/FilterGraph.h"

namespace lumacap::dshow {

// Calls `call` on the first filter answering `riid`, outside the graph lock (a renderer's window
// may call back into the graph); `absent` when none does.
template <class I, class F>
HRESULT FilterGraph::WithFirst(REFIID riid, HRESULT absent, F&& call) {
    I* target = nullptr;
    {
        std::lock_guard<std::recursive_mutex> lock(m_graphLock);
        for (const Entry& e : m_filters)
            if (SUCCEEDED(e.filter->QueryInterface(riid, reinterpret_cast<void**>(&target))) &&
                target)
                break;
    }
    if (!target) return absent;
    const HRESULT hr = call(target);
    target->Release();
    return hr;
}

#define LUMACAP_FORWARD(Iface, absent, name, params, args)                                      \
    STDMETHODIMP FilterGraph::name params {                                                     \
        return WithFirst<Iface>(IID_##Iface, absent, [&](Iface* t_) { return t_->name args; }); \
    }

// IBasicAudio: a graph without an audio renderer has no volume to set.
LUMACAP_FORWARD(IBasicAudio, E_NOTIMPL, put_Volume, (long v), (v))
LUMACAP_FORWARD(IBasicAudio, E_NOTIMPL, get_Volume, (long* v), (v))
LUMACAP_FORWARD(IBasicAudio, E_NOTIMPL, put_Balance, (long v), (v))
LUMACAP_FORWARD(IBasicAudio, E_NOTIMPL, get_Balance, (long* v), (v))

#define LUMACAP_FORWARD_BV(name, params, args) \
    LUMACAP_FORWARD(IBasicVideo, E_NOINTERFACE, name, params, args)
LUMACAP_FORWARD_BV(get_AvgTimePerFrame, (REFTIME * v), (v))
LUMACAP_FORWARD_BV(get_BitRate, (long* v), (v))
LUMACAP_FORWARD_BV(get_BitErrorRate, (long* v), (v))
LUMACAP_FORWARD_BV(get_VideoWidth, (long* v), (v))
LUMACAP_FORWARD_BV(get_VideoHeight, (long* v), (v))
LUMACAP_FORWARD_BV(put_SourceLeft, (long v), (v))
LUMACAP_FORWARD_BV(get_SourceLeft, (long* v), (v))
LUMACAP_FORWARD_BV(put_SourceWidth, (long v), (v))
LUMACAP_FORWARD_BV(get_SourceWidth, (long* v), (v))
LUMACAP_FORWARD_BV(put_SourceTop, (long v), (v))
LUMACAP_FORWARD_BV(get_SourceTop, (long* v), (v))
LUMACAP_FORWARD_BV(put_SourceHeight, (long v), (v))
LUMACAP_FORWARD_BV(get_SourceHeight, (long* v), (v))
LUMACAP_FORWARD_BV(put_DestinationLeft, (long v), (v))
LUMACAP_FORWARD_BV(get_DestinationLeft, (long* v), (v))
LUMACAP_FORWARD_BV(put_DestinationWidth, (long v), (v))
LUMACAP_FORWARD_BV(get_DestinationWidth, (long* v), (v))
LUMACAP_FORWARD_BV(put_DestinationTop, (long v), (v))
LUMACAP_FORWARD_BV(get_DestinationTop, (long* v), (v))
LUMACAP_FORWARD_BV(put_DestinationHeight, (long v), (v))
LUMACAP_FORWARD_BV(get_DestinationHeight, (long* v), (v))
LUMACAP_FORWARD_BV(SetSourcePosition, (long l, long t, long w, long h), (l, t, w, h))
LUMACAP_FORWARD_BV(GetSourcePosition, (long* l, long* t, long* w, long* h), (l, t, w, h))
LUMACAP_FORWARD_BV(SetDefaultSourcePosition, (), ())
LUMACAP_FORWARD_BV(SetDestinationPosition, (long l, long t, long w, long h), (l, t, w, h))
LUMACAP_FORWARD_BV(GetDestinationPosition, (long* l, long* t, long* w, long* h), (l, t, w, h))
LUMACAP_FORWARD_BV(SetDefaultDestinationPosition, (), ())
LUMACAP_FORWARD_BV(GetVideoSize, (long* w, long* h), (w, h))
LUMACAP_FORWARD_BV(GetVideoPaletteEntries, (long s, long n, long* r, long* p), (s, n, r, p))
LUMACAP_FORWARD_BV(GetCurrentImage, (long* size, long* image), (size, image))
LUMACAP_FORWARD_BV(IsUsingDefaultSource, (), ())
LUMACAP_FORWARD_BV(IsUsingDefaultDestination, (), ())
#undef LUMACAP_FORWARD_BV
LUMACAP_FORWARD(IBasicVideo2, E_NOINTERFACE, GetPreferredAspectRatio, (long* x, long* y), (x, y))
#undef LUMACAP_FORWARD

// IVideoWindow keeps a fault point per method for the simulated platform.
#define LUMACAP_FORWARD_VW(name, params, args)                                           \
    STDMETHODIMP FilterGraph::name params {                                              \
        LUMACAP_FAULT_POINT("IVideoWindow::" #name);                                     \
        return WithFirst<IVideoWindow>(IID_IVideoWindow, E_NOINTERFACE,                  \
                                       [&](IVideoWindow* w_) { return w_->name args; }); \
    }
LUMACAP_FORWARD_VW(put_Caption, (BSTR v), (v))
LUMACAP_FORWARD_VW(get_Caption, (BSTR * v), (v))
LUMACAP_FORWARD_VW(put_WindowStyle, (long v), (v))
LUMACAP_FORWARD_VW(get_WindowStyle, (long* v), (v))
LUMACAP_FORWARD_VW(put_WindowStyleEx, (long v), (v))
LUMACAP_FORWARD_VW(get_WindowStyleEx, (long* v), (v))
LUMACAP_FORWARD_VW(put_AutoShow, (long v), (v))
LUMACAP_FORWARD_VW(get_AutoShow, (long* v), (v))
LUMACAP_FORWARD_VW(put_WindowState, (long v), (v))
LUMACAP_FORWARD_VW(get_WindowState, (long* v), (v))
LUMACAP_FORWARD_VW(put_BackgroundPalette, (long v), (v))
LUMACAP_FORWARD_VW(get_BackgroundPalette, (long* v), (v))
LUMACAP_FORWARD_VW(put_Visible, (long v), (v))
LUMACAP_FORWARD_VW(get_Visible, (long* v), (v))
LUMACAP_FORWARD_VW(put_Left, (long v), (v))
LUMACAP_FORWARD_VW(get_Left, (long* v), (v))
LUMACAP_FORWARD_VW(put_Width, (long v), (v))
LUMACAP_FORWARD_VW(get_Width, (long* v), (v))
LUMACAP_FORWARD_VW(put_Top, (long v), (v))
LUMACAP_FORWARD_VW(get_Top, (long* v), (v))
LUMACAP_FORWARD_VW(put_Height, (long v), (v))
LUMACAP_FORWARD_VW(get_Height, (long* v), (v))
LUMACAP_FORWARD_VW(put_Owner, (OAHWND v), (v))
LUMACAP_FORWARD_VW(get_Owner, (OAHWND * v), (v))
LUMACAP_FORWARD_VW(put_MessageDrain, (OAHWND v), (v))
LUMACAP_FORWARD_VW(get_MessageDrain, (OAHWND * v), (v))
LUMACAP_FORWARD_VW(get_BorderColor, (long* v), (v))
LUMACAP_FORWARD_VW(put_BorderColor, (long v), (v))
LUMACAP_FORWARD_VW(get_FullScreenMode, (long* v), (v))
LUMACAP_FORWARD_VW(put_FullScreenMode, (long v), (v))
LUMACAP_FORWARD_VW(SetWindowForeground, (long v), (v))
LUMACAP_FORWARD_VW(NotifyOwnerMessage, (OAHWND h, long m, LONG_PTR w, LONG_PTR l), (h, m, w, l))
LUMACAP_FORWARD_VW(SetWindowPosition, (long l, long t, long w, long h), (l, t, w, h))
LUMACAP_FORWARD_VW(GetWindowPosition, (long* l, long* t, long* w, long* h), (l, t, w, h))
LUMACAP_FORWARD_VW(GetMinIdealImageSize, (long* w, long* h), (w, h))
LUMACAP_FORWARD_VW(GetMaxIdealImageSize, (long* w, long* h), (w, h))
LUMACAP_FORWARD_VW(GetRestorePosition, (long* l, long* t, long* w, long* h), (l, t, w, h))
LUMACAP_FORWARD_VW(HideCursor, (long v), (v))
LUMACAP_FORWARD_VW(IsCursorHidden, (long* v), (v))
#undef LUMACAP_FORWARD_VW

// ---- site, version, frame stepping --------------------------------------------------------------

STDMETHODIMP FilterGraph::SetSite(IUnknown* pUnkSite) {
    std::lock_guard<std::recursive_mutex> lock(m_graphLock);
    if (pUnkSite) pUnkSite->AddRef();
    if (m_pSite) m_pSite->Release();
    m_pSite = pUnkSite;
    return S_OK;
}

STDMETHODIMP FilterGraph::GetSite(REFIID riid, void** ppvSite) {
    if (!ppvSite) return E_POINTER;
    *ppvSite = nullptr;
    std::lock_guard<std::recursive_mutex> lock(m_graphLock);
    if (!m_pSite) return E_FAIL;
    return m_pSite->QueryInterface(riid, ppvSite);
}

// Changes with every filter added or removed.
STDMETHODIMP FilterGraph::QueryVersion(LONG* pVersion) {
    if (!pVersion) return E_POINTER;
    *pVersion = Version();
    return S_OK;
}

// No renderer here steps frame by frame.
STDMETHODIMP FilterGraph::Step(DWORD, IUnknown*) {
    return E_NOTIMPL;
}
STDMETHODIMP FilterGraph::CanStep(long, IUnknown*) {
    return E_NOTIMPL;
}
STDMETHODIMP FilterGraph::CancelStep() {
    return E_NOTIMPL;
}

}  // namespace lumacap::dshow
