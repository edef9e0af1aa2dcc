// Seeking and position passed upstream: every request goes to the output pin connected to the
// input pin the object watches, so a graph can seek through renderers and transforms to the
// filter that actually knows the stream's positions.
#include <streams.h>

CPosPassThru::CPosPassThru(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr, IPin* pPin)
    : CUnknown(pName, pUnk), m_pPin(pPin) {
    if (!pPin && phr) *phr = E_POINTER;
}

STDMETHODIMP CPosPassThru::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
    if (riid == IID_IMediaPosition) return GetInterface(static_cast<IMediaPosition*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CPosPassThru::GetPeerSeeking(IMediaSeeking** ppMS) {
    *ppMS = nullptr;
    IPin* peer = nullptr;
    if (FAILED(m_pPin->ConnectedTo(&peer)) || !peer) return VFW_E_NOT_CONNECTED;
    const HRESULT hr = peer->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(ppMS));
    peer->Release();
    return FAILED(hr) ? E_NOTIMPL : S_OK;
}

HRESULT CPosPassThru::GetPeer(IMediaPosition** ppMP) {
    *ppMP = nullptr;
    IPin* peer = nullptr;
    if (FAILED(m_pPin->ConnectedTo(&peer)) || !peer) return VFW_E_NOT_CONNECTED;
    const HRESULT hr = peer->QueryInterface(IID_IMediaPosition, reinterpret_cast<void**>(ppMP));
    peer->Release();
    return FAILED(hr) ? E_NOTIMPL : S_OK;
}

HRESULT CPosPassThru::GetMediaTime(LONGLONG*, LONGLONG*) {
    return E_FAIL;
}

#define LUMACAP_PASS_SEEKING(call)              \
    IMediaSeeking* ms = nullptr;                \
    const HRESULT hrPeer = GetPeerSeeking(&ms); \
    if (FAILED(hrPeer)) return hrPeer;          \
    const HRESULT hrCall = ms->call;            \
    ms->Release();                              \
    return hrCall

STDMETHODIMP CPosPassThru::GetCapabilities(DWORD* pCapabilities) {
    if (!pCapabilities) return E_POINTER;
    LUMACAP_PASS_SEEKING(GetCapabilities(pCapabilities));
}
STDMETHODIMP CPosPassThru::CheckCapabilities(DWORD* pCapabilities) {
    if (!pCapabilities) return E_POINTER;
    LUMACAP_PASS_SEEKING(CheckCapabilities(pCapabilities));
}
STDMETHODIMP CPosPassThru::IsFormatSupported(const GUID* pFormat) {
    if (!pFormat) return E_POINTER;
    LUMACAP_PASS_SEEKING(IsFormatSupported(pFormat));
}
STDMETHODIMP CPosPassThru::QueryPreferredFormat(GUID* pFormat) {
    if (!pFormat) return E_POINTER;
    LUMACAP_PASS_SEEKING(QueryPreferredFormat(pFormat));
}
STDMETHODIMP CPosPassThru::GetTimeFormat(GUID* pFormat) {
    if (!pFormat) return E_POINTER;
    LUMACAP_PASS_SEEKING(GetTimeFormat(pFormat));
}
STDMETHODIMP CPosPassThru::IsUsingTimeFormat(const GUID* pFormat) {
    if (!pFormat) return E_POINTER;
    LUMACAP_PASS_SEEKING(IsUsingTimeFormat(pFormat));
}
STDMETHODIMP CPosPassThru::SetTimeFormat(const GUID* pFormat) {
    if (!pFormat) return E_POINTER;
    LUMACAP_PASS_SEEKING(SetTimeFormat(pFormat));
}
STDMETHODIMP CPosPassThru::GetDuration(LONGLONG* pDuration) {
    if (!pDuration) return E_POINTER;
    LUMACAP_PASS_SEEKING(GetDuration(pDuration));
}
STDMETHODIMP CPosPassThru::GetStopPosition(LONGLONG* pStop) {
    if (!pStop) return E_POINTER;
    LUMACAP_PASS_SEEKING(GetStopPosition(pStop));
}
STDMETHODIMP CPosPassThru::ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat,
                                             LONGLONG Source, const GUID* pSourceFormat) {
    if (!pTarget) return E_POINTER;
    LUMACAP_PASS_SEEKING(ConvertTimeFormat(pTarget, pTargetFormat, Source, pSourceFormat));
}
STDMETHODIMP CPosPassThru::SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                                        DWORD dwStopFlags) {
    LUMACAP_PASS_SEEKING(SetPositions(pCurrent, dwCurrentFlags, pStop, dwStopFlags));
}
STDMETHODIMP CPosPassThru::GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) {
    LUMACAP_PASS_SEEKING(GetPositions(pCurrent, pStop));
}
STDMETHODIMP CPosPassThru::GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) {
    LUMACAP_PASS_SEEKING(GetAvailable(pEarliest, pLatest));
}
STDMETHODIMP CPosPassThru::SetRate(double dRate) {
    if (dRate == 0.0) return E_INVALIDARG;
    LUMACAP_PASS_SEEKING(SetRate(dRate));
}
STDMETHODIMP CPosPassThru::GetRate(double* pdRate) {
    if (!pdRate) return E_POINTER;
    LUMACAP_PASS_SEEKING(GetRate(pdRate));
}
STDMETHODIMP CPosPassThru::GetPreroll(LONGLONG* pllPreroll) {
    if (!pllPreroll) return E_POINTER;
    LUMACAP_PASS_SEEKING(GetPreroll(pllPreroll));
}

// What this object saw itself comes first; the upstream pin answers otherwise.
STDMETHODIMP CPosPassThru::GetCurrentPosition(LONGLONG* pCurrent) {
    if (!pCurrent) return E_POINTER;
    LONGLONG start = 0, end = 0;
    if (SUCCEEDED(GetMediaTime(&start, &end))) {
        *pCurrent = start;
        return S_OK;
    }
    LUMACAP_PASS_SEEKING(GetCurrentPosition(pCurrent));
}

#undef LUMACAP_PASS_SEEKING

STDMETHODIMP CPosPassThru::GetTypeInfoCount(UINT* pctinfo) {
    if (!pctinfo) return E_POINTER;
    *pctinfo = 0;
    return S_OK;
}
STDMETHODIMP CPosPassThru::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) {
    if (ppTInfo) *ppTInfo = nullptr;
    return E_NOTIMPL;
}
STDMETHODIMP CPosPassThru::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
    return E_NOTIMPL;
}
STDMETHODIMP CPosPassThru::Invoke(DISPID, REFIID, LCID, WORD, struct tagDISPPARAMS*, VARIANT*,
                                  struct tagEXCEPINFO*, UINT*) {
    return E_NOTIMPL;
}

#define LUMACAP_PASS_POSITION(call)      \
    IMediaPosition* mp = nullptr;        \
    const HRESULT hrPeer = GetPeer(&mp); \
    if (FAILED(hrPeer)) return hrPeer;   \
    const HRESULT hrCall = mp->call;     \
    mp->Release();                       \
    return hrCall

STDMETHODIMP CPosPassThru::get_Duration(REFTIME* plength) {
    if (!plength) return E_POINTER;
    LUMACAP_PASS_POSITION(get_Duration(plength));
}
STDMETHODIMP CPosPassThru::put_CurrentPosition(REFTIME llTime) {
    LUMACAP_PASS_POSITION(put_CurrentPosition(llTime));
}
STDMETHODIMP CPosPassThru::get_CurrentPosition(REFTIME* pllTime) {
    if (!pllTime) return E_POINTER;
    LONGLONG start = 0, end = 0;
    if (SUCCEEDED(GetMediaTime(&start, &end))) {
        *pllTime = static_cast<REFTIME>(start) / 10000000.0;
        return S_OK;
    }
    LUMACAP_PASS_POSITION(get_CurrentPosition(pllTime));
}
STDMETHODIMP CPosPassThru::get_StopTime(REFTIME* pllTime) {
    if (!pllTime) return E_POINTER;
    LUMACAP_PASS_POSITION(get_StopTime(pllTime));
}
STDMETHODIMP CPosPassThru::put_StopTime(REFTIME llTime) {
    LUMACAP_PASS_POSITION(put_StopTime(llTime));
}
STDMETHODIMP CPosPassThru::get_PrerollTime(REFTIME* pllTime) {
    if (!pllTime) return E_POINTER;
    LUMACAP_PASS_POSITION(get_PrerollTime(pllTime));
}
STDMETHODIMP CPosPassThru::put_PrerollTime(REFTIME llTime) {
    LUMACAP_PASS_POSITION(put_PrerollTime(llTime));
}
STDMETHODIMP CPosPassThru::put_Rate(double dRate) {
    if (dRate == 0.0) return E_INVALIDARG;
    LUMACAP_PASS_POSITION(put_Rate(dRate));
}
STDMETHODIMP CPosPassThru::get_Rate(double* pdRate) {
    if (!pdRate) return E_POINTER;
    LUMACAP_PASS_POSITION(get_Rate(pdRate));
}
STDMETHODIMP CPosPassThru::CanSeekForward(long* pCanSeekForward) {
    if (!pCanSeekForward) return E_POINTER;
    LUMACAP_PASS_POSITION(CanSeekForward(pCanSeekForward));
}
STDMETHODIMP CPosPassThru::CanSeekBackward(long* pCanSeekBackward) {
    if (!pCanSeekBackward) return E_POINTER;
    LUMACAP_PASS_POSITION(CanSeekBackward(pCanSeekBackward));
}

#undef LUMACAP_PASS_POSITION

// ---- CRendererPosPassThru -----------------------------------------------------------------------

CRendererPosPassThru::CRendererPosPassThru(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr, IPin* pPin)
    : CPosPassThru(pName, pUnk, phr, pPin) {}

HRESULT CRendererPosPassThru::RegisterMediaTime(IMediaSample* pMediaSample) {
    if (!pMediaSample) return E_POINTER;
    REFERENCE_TIME start = 0, stop = 0;
    if (FAILED(pMediaSample->GetTime(&start, &stop))) return S_FALSE;
    CAutoLock lock(&m_PositionLock);
    m_StartMedia = start;
    m_EndMedia = stop;
    m_bReset = FALSE;
    return S_OK;
}

HRESULT CRendererPosPassThru::ResetMediaTime() {
    CAutoLock lock(&m_PositionLock);
    m_StartMedia = m_EndMedia = 0;
    m_bReset = TRUE;
    return S_OK;
}

HRESULT CRendererPosPassThru::EOS() {
    LONGLONG stop = 0;
    if (FAILED(GetStopPosition(&stop))) return ResetMediaTime();
    CAutoLock lock(&m_PositionLock);
    m_StartMedia = m_EndMedia = stop;
    m_bReset = FALSE;
    return S_OK;
}

HRESULT CRendererPosPassThru::GetMediaTime(LONGLONG* pStartTime, LONGLONG* pEndTime) {
    CAutoLock lock(&m_PositionLock);
    if (m_bReset) return E_FAIL;
    *pStartTime = m_StartMedia;
    if (pEndTime) *pEndTime = m_EndMedia;
    return S_OK;
}
