// What every capture device's filter shares: a push source whose pins deliver only while the graph
// runs (a live source cannot cue data while paused, so a paused GetState answers VFW_S_CANT_CUE),
// flagged as a source for the graph, that reports the device going away and coming back as
// EC_DEVICE_LOST with 0 or 1.
#pragma once

#include <streams.h>

namespace lumacap::hw {

class LiveSourceFilter : public CSource, public IAMFilterMiscFlags {
public:
    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP GetState(DWORD dwMSecs, FILTER_STATE* State) override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Stop() override;
    STDMETHODIMP_(ULONG) GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_SOURCE; }

protected:
    LiveSourceFilter(LPCTSTR name, REFCLSID clsid) : CSource(name, nullptr, clsid) {}

    // Tells the pins whether to deliver; called under the filter's state lock when the graph
    // leaves the running state. The pins start delivering themselves when they run.
    virtual void SetDelivering(bool delivering) = 0;
    // Posts EC_DEVICE_LOST for this filter: 0 when the device went away, 1 when it came back.
    void NotifyPresence(bool present);
};

}  // namespace lumacap::hw
