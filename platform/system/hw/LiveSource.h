// What every capture device's filter shares: a push source whose pins deliver only while the graph
// runs (a live source cannot cue data while paused, so a paused GetState answers VFW_S_CANT_CUE),
// flagged as a source for the graph, that reports the device going away and coming back as
// EC_DEVICE_LOST with 0 or 1. It takes a property bag as device filters do (the moniker has bound
// the device already, so the bag changes nothing).
#pragma once

#include <ocidl.h>
#include <streams.h>

namespace lumacap::hw {

class LiveSourceFilter : public CSource, public IAMFilterMiscFlags, public IPersistPropertyBag {
public:
    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP GetState(DWORD dwMSecs, FILTER_STATE* State) override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Stop() override;
    STDMETHODIMP_(ULONG) GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_SOURCE; }
    STDMETHODIMP GetClassID(CLSID* pClsID) override { return CSource::GetClassID(pClsID); }
    STDMETHODIMP InitNew() override { return S_OK; }
    STDMETHODIMP Load(IPropertyBag* pPropBag, IErrorLog*) override {
        return pPropBag ? S_OK : E_POINTER;
    }
    STDMETHODIMP Save(IPropertyBag*, BOOL, BOOL) override { return E_NOTIMPL; }

protected:
    LiveSourceFilter(LPCTSTR name, REFCLSID clsid) : CSource(name, nullptr, clsid) {}

    // Tells the pins whether to deliver; called under the filter's state lock when the graph
    // leaves the running state. The pins start delivering themselves when they run.
    virtual void SetDelivering(bool delivering) = 0;
    // Posts EC_DEVICE_LOST for this filter: 0 when the device went away, 1 when it came back.
    void NotifyPresence(bool present);
};

// Takes a format a capture pin's IAMStreamConfig::SetFormat chose: kept in `setFormat` for the next
// connection and, when the pin is connected, the connection made again with it (through the graph
// when there is one, as an application would). Called under the filter's state lock.
HRESULT ReconnectWithFormat(CBasePin* pin, CBaseFilter* filter, const CMediaType& format,
                            CMediaType* setFormat);

}  // namespace lumacap::hw
