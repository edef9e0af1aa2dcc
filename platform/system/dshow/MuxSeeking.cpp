// A multiplexer's seeking interface: positions it has written, nothing it can seek to.
#include "platform/system/dshow/MuxSeeking.h"

namespace lumacap::dshow {
namespace {

constexpr DWORD kCapabilities = AM_SEEKING_CanGetCurrentPos | AM_SEEKING_CanGetDuration;

}  // namespace

void MuxSeeking::Written(REFERENCE_TIME end) {
    REFERENCE_TIME seen = m_written.load();
    while (end > seen && !m_written.compare_exchange_weak(seen, end)) {
    }
}

STDMETHODIMP MuxSeeking::QueryInterface(REFIID riid, void** ppv) {
    return m_owner->GetOwner()->QueryInterface(riid, ppv);
}
STDMETHODIMP_(ULONG) MuxSeeking::AddRef() {
    return m_owner->GetOwner()->AddRef();
}
STDMETHODIMP_(ULONG) MuxSeeking::Release() {
    return m_owner->GetOwner()->Release();
}

STDMETHODIMP MuxSeeking::GetCapabilities(DWORD* pCapabilities) {
    if (!pCapabilities) return E_POINTER;
    *pCapabilities = kCapabilities;
    return S_OK;
}

STDMETHODIMP MuxSeeking::CheckCapabilities(DWORD* pCapabilities) {
    if (!pCapabilities) return E_POINTER;
    const DWORD asked = *pCapabilities;
    *pCapabilities &= kCapabilities;
    if (*pCapabilities == asked) return S_OK;
    return *pCapabilities ? S_FALSE : E_FAIL;
}

STDMETHODIMP MuxSeeking::IsFormatSupported(const GUID* pFormat) {
    if (!pFormat) return E_POINTER;
    return *pFormat == TIME_FORMAT_MEDIA_TIME || *pFormat == TIME_FORMAT_BYTE ? S_OK : S_FALSE;
}

STDMETHODIMP MuxSeeking::QueryPreferredFormat(GUID* pFormat) {
    if (!pFormat) return E_POINTER;
    *pFormat = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}

STDMETHODIMP MuxSeeking::GetTimeFormat(GUID* pFormat) {
    return QueryPreferredFormat(pFormat);
}

STDMETHODIMP MuxSeeking::IsUsingTimeFormat(const GUID* pFormat) {
    if (!pFormat) return E_POINTER;
    return *pFormat == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

STDMETHODIMP MuxSeeking::SetTimeFormat(const GUID* pFormat) {
    if (!pFormat) return E_POINTER;
    return *pFormat == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
}

STDMETHODIMP MuxSeeking::GetDuration(LONGLONG* pDuration) {
    if (!pDuration) return E_POINTER;
    *pDuration = m_written.load();
    return S_OK;
}

STDMETHODIMP MuxSeeking::GetCurrentPosition(LONGLONG* pCurrent) {
    return GetDuration(pCurrent);
}

STDMETHODIMP MuxSeeking::GetStopPosition(LONGLONG*) {
    return E_NOTIMPL;
}
STDMETHODIMP MuxSeeking::ConvertTimeFormat(LONGLONG*, const GUID*, LONGLONG, const GUID*) {
    return E_NOTIMPL;
}
STDMETHODIMP MuxSeeking::SetPositions(LONGLONG*, DWORD, LONGLONG*, DWORD) {
    return E_NOTIMPL;
}
STDMETHODIMP MuxSeeking::GetPositions(LONGLONG*, LONGLONG*) {
    return E_NOTIMPL;
}
STDMETHODIMP MuxSeeking::GetAvailable(LONGLONG*, LONGLONG*) {
    return E_NOTIMPL;
}
STDMETHODIMP MuxSeeking::SetRate(double) {
    return E_NOTIMPL;
}
STDMETHODIMP MuxSeeking::GetRate(double* pdRate) {
    if (!pdRate) return E_POINTER;
    *pdRate = 1.0;
    return S_OK;
}
STDMETHODIMP MuxSeeking::GetPreroll(LONGLONG*) {
    return E_NOTIMPL;
}

}  // namespace lumacap::dshow
