// The pin and media-type enumerators filters and pins hand out. Each holds a reference to what it
// enumerates and notices when that changed underneath it.
#include <streams.h>

#include "platform/portable/SystemSeam.h"

// ---- CEnumPins ----------------------------------------------------------------------------------

CEnumPins::CEnumPins(CBaseFilter* pFilter, CEnumPins* pEnumPins)
    : CUnknown(NAME("Pin Enumerator"), nullptr), m_pFilter(pFilter) {
    m_pFilter->AddRef();
    if (pEnumPins) {
        m_Position = pEnumPins->m_Position;
        m_Version = pEnumPins->m_Version;
    } else {
        m_Version = m_pFilter->GetPinVersion();
    }
}

CEnumPins::~CEnumPins() {
    m_pFilter->Release();
}

STDMETHODIMP CEnumPins::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IEnumPins) return GetInterface(static_cast<IEnumPins*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

BOOL CEnumPins::AreWeOutOfSync() {
    return m_pFilter->GetPinVersion() != m_Version;
}

STDMETHODIMP CEnumPins::Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) {
    LUMACAP_FAULT_POINT("IEnumPins::Next");
    if (!ppPins) return E_POINTER;
    if (cPins > 1 && !pcFetched) return E_INVALIDARG;
    if (pcFetched) *pcFetched = 0;
    if (AreWeOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    ULONG fetched = 0;
    while (fetched < cPins) {
        // Filters such as a multiplexer grow new pins as they connect.
        if (m_Position >= m_pFilter->GetPinCount()) break;
        CBasePin* pin = m_pFilter->GetPin(m_Position++);
        if (!pin) break;
        ppPins[fetched] = pin;
        pin->AddRef();
        ++fetched;
    }
    if (pcFetched) *pcFetched = fetched;
    return fetched == cPins ? S_OK : S_FALSE;
}

// Skipping past the end moves nothing.
STDMETHODIMP CEnumPins::Skip(ULONG cPins) {
    if (AreWeOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    const int count = m_pFilter->GetPinCount();
    if (static_cast<ULONG>(count - m_Position) < cPins) return S_FALSE;
    m_Position += static_cast<int>(cPins);
    return S_OK;
}

STDMETHODIMP CEnumPins::Reset() {
    LUMACAP_FAULT_POINT("IEnumPins::Reset");
    m_Version = m_pFilter->GetPinVersion();
    m_Position = 0;
    return S_OK;
}

STDMETHODIMP CEnumPins::Clone(IEnumPins** ppEnum) {
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    if (AreWeOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    auto* clone = new CEnumPins(m_pFilter, this);
    clone->AddRef();
    *ppEnum = clone;
    return S_OK;
}

// ---- CEnumMediaTypes ----------------------------------------------------------------------------

CEnumMediaTypes::CEnumMediaTypes(CBasePin* pPin, CEnumMediaTypes* pEnum)
    : CUnknown(NAME("Media Type Enumerator"), nullptr), m_pPin(pPin) {
    m_pPin->AddRef();
    if (pEnum) {
        m_Position = pEnum->m_Position;
        m_Version = pEnum->m_Version;
    } else {
        m_Version = m_pPin->GetMediaTypeVersion();
    }
}

CEnumMediaTypes::~CEnumMediaTypes() {
    m_pPin->Release();
}

STDMETHODIMP CEnumMediaTypes::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IEnumMediaTypes) return GetInterface(static_cast<IEnumMediaTypes*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

BOOL CEnumMediaTypes::AreWeOutOfSync() {
    return m_pPin->GetMediaTypeVersion() != m_Version;
}

STDMETHODIMP CEnumMediaTypes::Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes,
                                   ULONG* pcFetched) {
    LUMACAP_FAULT_POINT("IEnumMediaTypes::Next");
    if (!ppMediaTypes) return E_POINTER;
    if (cMediaTypes > 1 && !pcFetched) return E_INVALIDARG;
    if (pcFetched) *pcFetched = 0;
    if (AreWeOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    ULONG fetched = 0;
    while (fetched < cMediaTypes) {
        CMediaType mt;
        if (m_pPin->GetMediaType(m_Position, &mt) != S_OK) break;
        AM_MEDIA_TYPE* copy = CreateMediaType(&mt);
        if (!copy) break;
        ++m_Position;
        ppMediaTypes[fetched++] = copy;
    }
    if (pcFetched) *pcFetched = fetched;
    return fetched == cMediaTypes ? S_OK : S_FALSE;
}

// Unlike the pin enumerator, a skip past the end stops at the end.
STDMETHODIMP CEnumMediaTypes::Skip(ULONG cMediaTypes) {
    if (AreWeOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    while (cMediaTypes--) {
        CMediaType mt;
        if (m_pPin->GetMediaType(m_Position, &mt) != S_OK) return S_FALSE;
        ++m_Position;
    }
    return S_OK;
}

STDMETHODIMP CEnumMediaTypes::Reset() {
    m_Position = 0;
    m_Version = m_pPin->GetMediaTypeVersion();
    return S_OK;
}

STDMETHODIMP CEnumMediaTypes::Clone(IEnumMediaTypes** ppEnum) {
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    if (AreWeOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    auto* clone = new CEnumMediaTypes(m_pPin, this);
    clone->AddRef();
    *ppEnum = clone;
    return S_OK;
}
