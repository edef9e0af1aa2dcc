// The shared part of capture device filters.
#include "platform/system/hw/LiveSource.h"

#include "platform/system/dshow/GraphTrace.h"
#include "platform/system/win/Trace.h"

namespace lumacap::hw {

STDMETHODIMP LiveSourceFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IAMFilterMiscFlags)
        return GetInterface(static_cast<IAMFilterMiscFlags*>(this), ppv);
    if (riid == IID_IPersistPropertyBag)
        return GetInterface(static_cast<IPersistPropertyBag*>(this), ppv);
    return CSource::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP LiveSourceFilter::GetState(DWORD dwMSecs, FILTER_STATE* State) {
    const HRESULT hr = CSource::GetState(dwMSecs, State);
    if (hr == S_OK && *State == State_Paused) return VFW_S_CANT_CUE;
    return hr;
}

STDMETHODIMP LiveSourceFilter::Pause() {
    CAutoLock lock(&m_cStateLock);
    SetDelivering(false);
    return CSource::Pause();
}

STDMETHODIMP LiveSourceFilter::Stop() {
    CAutoLock lock(&m_cStateLock);
    SetDelivering(false);
    return CSource::Stop();
}

void LiveSourceFilter::NotifyPresence(bool present) {
    LUMACAP_TRACE(kHw, "%s: device %s", dshow::DescribeFilter(this).c_str(),
                  present ? "back" : "lost");
    // The graph holds a reference to the device's filter in the event's first parameter.
    NotifyEvent(EC_DEVICE_LOST,
                reinterpret_cast<LONG_PTR>(static_cast<IUnknown*>(static_cast<IBaseFilter*>(this))),
                present ? 1 : 0);
}

HRESULT ReconnectWithFormat(CBasePin* pin, CBaseFilter* filter, const CMediaType& format,
                            CMediaType* setFormat) {
    if (!pin->IsConnected()) {
        *setFormat = format;
        return S_OK;
    }
    IPin* peer = pin->GetConnected();
    if (peer->QueryAccept(&format) != S_OK) return VFW_E_INVALIDMEDIATYPE;
    peer->AddRef();
    // In force before the new connection, so the pin offers only this format.
    *setFormat = format;
    IFilterGraph* graph = filter->GetFilterGraph();
    HRESULT hr;
    if (graph) {
        graph->Disconnect(peer);
        graph->Disconnect(pin);
        hr = graph->ConnectDirect(pin, peer, &format);
    } else {
        peer->Disconnect();
        pin->Disconnect();
        hr = pin->Connect(peer, &format);
    }
    peer->Release();
    return hr;
}

}  // namespace lumacap::hw
