// The AVI mux's settings interfaces.
#include "platform/system/dshow/MuxConfig.h"

namespace lumacap::dshow {

HRESULT MuxConfig::Answer(REFIID riid, void** ppv) {
    if (riid == IID_IConfigAviMux) return GetInterface(static_cast<IConfigAviMux*>(this), ppv);
    if (riid == IID_IConfigInterleaving)
        return GetInterface(static_cast<IConfigInterleaving*>(this), ppv);
    if (riid == IID_ISpecifyPropertyPages)
        return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
    return E_NOINTERFACE;
}

STDMETHODIMP MuxConfig::QueryInterface(REFIID riid, void** ppv) {
    return m_owner->GetOwner()->QueryInterface(riid, ppv);
}
STDMETHODIMP_(ULONG) MuxConfig::AddRef() {
    return m_owner->GetOwner()->AddRef();
}
STDMETHODIMP_(ULONG) MuxConfig::Release() {
    return m_owner->GetOwner()->Release();
}

STDMETHODIMP MuxConfig::SetMasterStream(LONG iStream) {
    if (iStream < -1) return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_master = iStream;
    return S_OK;
}

STDMETHODIMP MuxConfig::GetMasterStream(LONG* pStream) {
    if (!pStream) return E_POINTER;
    std::lock_guard<std::mutex> lock(m_mutex);
    *pStream = m_master;
    return S_OK;
}

STDMETHODIMP MuxConfig::SetOutputCompatibilityIndex(BOOL fOldIndex) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_oldIndex = fOldIndex;
    return S_OK;
}

STDMETHODIMP MuxConfig::GetOutputCompatibilityIndex(BOOL* pfOldIndex) {
    if (!pfOldIndex) return E_POINTER;
    std::lock_guard<std::mutex> lock(m_mutex);
    *pfOldIndex = m_oldIndex;
    return S_OK;
}

STDMETHODIMP MuxConfig::put_Mode(InterleavingMode mode) {
    if (mode < INTERLEAVE_NONE || mode > INTERLEAVE_NONE_BUFFERED) return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_mode = mode;
    return S_OK;
}

STDMETHODIMP MuxConfig::get_Mode(InterleavingMode* pMode) {
    if (!pMode) return E_POINTER;
    std::lock_guard<std::mutex> lock(m_mutex);
    *pMode = m_mode;
    return S_OK;
}

STDMETHODIMP MuxConfig::put_Interleaving(const REFERENCE_TIME* prtInterleave,
                                         const REFERENCE_TIME* prtPreroll) {
    if (!prtInterleave || !prtPreroll) return E_POINTER;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_interleave = *prtInterleave;
    m_preroll = *prtPreroll;
    return S_OK;
}

STDMETHODIMP MuxConfig::get_Interleaving(REFERENCE_TIME* prtInterleave,
                                         REFERENCE_TIME* prtPreroll) {
    if (!prtInterleave || !prtPreroll) return E_POINTER;
    std::lock_guard<std::mutex> lock(m_mutex);
    *prtInterleave = m_interleave;
    *prtPreroll = m_preroll;
    return S_OK;
}

STDMETHODIMP MuxConfig::GetPages(CAUUID* pPages) {
    if (!pPages) return E_POINTER;
    pPages->cElems = 0;
    pPages->pElems = nullptr;
    return S_OK;
}

}  // namespace lumacap::dshow
