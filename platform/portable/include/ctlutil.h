// Position and seeking requests a filter passes upstream: a renderer or a transform's output pin
// answers IMediaSeeking and IMediaPosition by asking the output pin connected to its input.
#pragma once

#include "amfilter.h"

class LUMACAP_API CPosPassThru : public CUnknown, public IMediaSeeking, public IMediaPosition {
public:
    // `pPin` is the input pin whose upstream peer answers; the object lives inside `pUnk`.
    CPosPassThru(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr, IPin* pPin);

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IMediaSeeking
    STDMETHODIMP GetCapabilities(DWORD* pCapabilities) override;
    STDMETHODIMP CheckCapabilities(DWORD* pCapabilities) override;
    STDMETHODIMP IsFormatSupported(const GUID* pFormat) override;
    STDMETHODIMP QueryPreferredFormat(GUID* pFormat) override;
    STDMETHODIMP GetTimeFormat(GUID* pFormat) override;
    STDMETHODIMP IsUsingTimeFormat(const GUID* pFormat) override;
    STDMETHODIMP SetTimeFormat(const GUID* pFormat) override;
    STDMETHODIMP GetDuration(LONGLONG* pDuration) override;
    STDMETHODIMP GetStopPosition(LONGLONG* pStop) override;
    STDMETHODIMP GetCurrentPosition(LONGLONG* pCurrent) override;
    STDMETHODIMP ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                                   const GUID* pSourceFormat) override;
    STDMETHODIMP SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                              DWORD dwStopFlags) override;
    STDMETHODIMP GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) override;
    STDMETHODIMP GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) override;
    STDMETHODIMP SetRate(double dRate) override;
    STDMETHODIMP GetRate(double* pdRate) override;
    STDMETHODIMP GetPreroll(LONGLONG* pllPreroll) override;

    // IDispatch: no type library stands behind these objects.
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override;
    STDMETHODIMP GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                               DISPID* rgDispId) override;
    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                        struct tagDISPPARAMS* pDispParams, VARIANT* pVarResult,
                        struct tagEXCEPINFO* pExcepInfo, UINT* puArgErr) override;

    // IMediaPosition
    STDMETHODIMP get_Duration(REFTIME* plength) override;
    STDMETHODIMP put_CurrentPosition(REFTIME llTime) override;
    STDMETHODIMP get_CurrentPosition(REFTIME* pllTime) override;
    STDMETHODIMP get_StopTime(REFTIME* pllTime) override;
    STDMETHODIMP put_StopTime(REFTIME llTime) override;
    STDMETHODIMP get_PrerollTime(REFTIME* pllTime) override;
    STDMETHODIMP put_PrerollTime(REFTIME llTime) override;
    STDMETHODIMP put_Rate(double dRate) override;
    STDMETHODIMP get_Rate(double* pdRate) override;
    STDMETHODIMP CanSeekForward(long* pCanSeekForward) override;
    STDMETHODIMP CanSeekBackward(long* pCanSeekBackward) override;

protected:
    // The position of what this object has itself seen, when it knows one (a renderer does).
    virtual HRESULT GetMediaTime(LONGLONG* pStartTime, LONGLONG* pEndTime);
    // The upstream pin's interfaces, with a reference: VFW_E_NOT_CONNECTED or E_NOTIMPL otherwise.
    HRESULT GetPeerSeeking(IMediaSeeking** ppMS);
    HRESULT GetPeer(IMediaPosition** ppMP);

    IPin* m_pPin;  // not counted: it belongs to the same filter
};

// A renderer's pass-through also knows the time of the last sample it received.
class LUMACAP_API CRendererPosPassThru : public CPosPassThru {
public:
    CRendererPosPassThru(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr, IPin* pPin);
    HRESULT RegisterMediaTime(IMediaSample* pMediaSample);
    HRESULT ResetMediaTime();
    // At the end of the stream the position is the stop position upstream, when it can say.
    HRESULT EOS();

protected:
    HRESULT GetMediaTime(LONGLONG* pStartTime, LONGLONG* pEndTime) override;

private:
    CCritSec m_PositionLock;
    LONGLONG m_StartMedia = 0;
    LONGLONG m_EndMedia = 0;
    BOOL m_bReset = TRUE;
};
