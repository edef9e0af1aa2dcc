// Media types: the SDK's free functions over AM_MEDIA_TYPE and the CMediaType wrapper. Format
// blocks are task memory, so a type handed out by one component can be freed by any other.
#include <streams.h>

#include <cstring>

void WINAPI FreeMediaType(AM_MEDIA_TYPE& mt) {
    if (mt.cbFormat != 0 || mt.pbFormat) {
        CoTaskMemFree(mt.pbFormat);
        mt.cbFormat = 0;
        mt.pbFormat = nullptr;
    }
    if (mt.pUnk) {
        mt.pUnk->Release();
        mt.pUnk = nullptr;
    }
}

void WINAPI DeleteMediaType(AM_MEDIA_TYPE* pmt) {
    if (!pmt) return;
    FreeMediaType(*pmt);
    CoTaskMemFree(pmt);
}

void WINAPI SaferFreeMediaType(AM_MEDIA_TYPE* pmt) {
    if (pmt) FreeMediaType(*pmt);
}

HRESULT WINAPI CopyMediaType(AM_MEDIA_TYPE* pmtTarget, const AM_MEDIA_TYPE* pmtSource) {
    if (!pmtTarget || !pmtSource) return E_POINTER;
    if (pmtTarget == pmtSource) return S_OK;
    *pmtTarget = *pmtSource;
    if (pmtSource->cbFormat != 0 && pmtSource->pbFormat) {
        pmtTarget->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(pmtSource->cbFormat));
        if (!pmtTarget->pbFormat) {
            pmtTarget->cbFormat = 0;
            return E_OUTOFMEMORY;
        }
        std::memcpy(pmtTarget->pbFormat, pmtSource->pbFormat, pmtSource->cbFormat);
    } else {
        pmtTarget->pbFormat = nullptr;
        pmtTarget->cbFormat = 0;
    }
    if (pmtTarget->pUnk) pmtTarget->pUnk->AddRef();
    return S_OK;
}

AM_MEDIA_TYPE* WINAPI CreateMediaType(const AM_MEDIA_TYPE* pSrc) {
    if (!pSrc) return nullptr;
    auto* pmt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!pmt) return nullptr;
    if (FAILED(CopyMediaType(pmt, pSrc))) {
        CoTaskMemFree(pmt);
        return nullptr;
    }
    return pmt;
}

// ---- CMediaType ---------------------------------------------------------------------------------

CMediaType::CMediaType() {
    InitMediaType();
}

CMediaType::CMediaType(const GUID* type) {
    InitMediaType();
    majortype = *type;
}

CMediaType::CMediaType(const AM_MEDIA_TYPE& rt, HRESULT* phr) {
    InitMediaType();
    const HRESULT hr = CopyMediaType(this, &rt);
    if (phr && FAILED(hr)) *phr = hr;
}

CMediaType::CMediaType(const CMediaType& rt, HRESULT* phr) : AM_MEDIA_TYPE() {
    InitMediaType();
    const HRESULT hr = CopyMediaType(this, &rt);
    if (phr && FAILED(hr)) *phr = hr;
}

CMediaType::~CMediaType() {
    FreeMediaType(*this);
}

CMediaType& CMediaType::operator=(const CMediaType& rt) {
    Set(rt);
    return *this;
}

CMediaType& CMediaType::operator=(const AM_MEDIA_TYPE& rt) {
    Set(rt);
    return *this;
}

BOOL CMediaType::operator==(const CMediaType& rt) const {
    return IsEqualGUID(majortype, rt.majortype) && IsEqualGUID(subtype, rt.subtype) &&
           IsEqualGUID(formattype, rt.formattype) && cbFormat == rt.cbFormat &&
           (cbFormat == 0 || std::memcmp(pbFormat, rt.pbFormat, cbFormat) == 0);
}

BOOL CMediaType::operator!=(const CMediaType& rt) const {
    return !(*this == rt);
}

HRESULT CMediaType::Set(const CMediaType& rt) {
    return Set(static_cast<const AM_MEDIA_TYPE&>(rt));
}

HRESULT CMediaType::Set(const AM_MEDIA_TYPE& rt) {
    if (&rt == this) return S_OK;
    FreeMediaType(*this);
    const HRESULT hr = CopyMediaType(this, &rt);
    if (FAILED(hr)) InitMediaType();
    return hr;
}

BOOL CMediaType::IsValid() const {
    return !IsEqualGUID(majortype, GUID_NULL);
}

ULONG CMediaType::GetSampleSize() const {
    return IsFixedSize() ? lSampleSize : 0;
}

void CMediaType::SetSampleSize(ULONG sz) {
    if (sz == 0) {
        SetVariableSize();
    } else {
        bFixedSizeSamples = TRUE;
        lSampleSize = sz;
    }
}

void CMediaType::SetVariableSize() {
    bFixedSizeSamples = FALSE;
}

void CMediaType::SetTemporalCompression(BOOL bCompressed) {
    bTemporalCompression = bCompressed;
}

BOOL CMediaType::SetFormat(BYTE* pformat, ULONG cb) {
    if (cb == 0) {
        ResetFormatBuffer();
        return TRUE;
    }
    if (!AllocFormatBuffer(cb)) return FALSE;
    std::memcpy(pbFormat, pformat, cb);
    return TRUE;
}

void CMediaType::ResetFormatBuffer() {
    if (cbFormat || pbFormat) CoTaskMemFree(pbFormat);
    cbFormat = 0;
    pbFormat = nullptr;
}

BYTE* CMediaType::AllocFormatBuffer(ULONG length) {
    if (cbFormat == length && pbFormat) return pbFormat;
    BYTE* pNew = static_cast<BYTE*>(CoTaskMemAlloc(length));
    if (!pNew) {
        if (length <= cbFormat) return pbFormat;  // keep the old, larger block
        return nullptr;
    }
    if (cbFormat || pbFormat) CoTaskMemFree(pbFormat);
    cbFormat = length;
    pbFormat = pNew;
    return pbFormat;
}

BYTE* CMediaType::ReallocFormatBuffer(ULONG length) {
    if (cbFormat == length) return pbFormat;
    BYTE* pNew = static_cast<BYTE*>(CoTaskMemAlloc(length));
    if (!pNew) return length <= cbFormat ? pbFormat : nullptr;
    if (cbFormat && pbFormat) {
        std::memcpy(pNew, pbFormat, cbFormat < length ? cbFormat : length);
        CoTaskMemFree(pbFormat);
    }
    cbFormat = length;
    pbFormat = pNew;
    return pNew;
}

void CMediaType::InitMediaType() {
    std::memset(static_cast<AM_MEDIA_TYPE*>(this), 0, sizeof(AM_MEDIA_TYPE));
    lSampleSize = 1;
    bFixedSizeSamples = TRUE;
}

BOOL CMediaType::IsPartiallySpecified() const {
    return IsEqualGUID(majortype, GUID_NULL) || IsEqualGUID(formattype, GUID_NULL);
}

BOOL CMediaType::MatchesPartial(const CMediaType* ppartial) const {
    if (!IsEqualGUID(ppartial->majortype, GUID_NULL) &&
        !IsEqualGUID(majortype, ppartial->majortype))
        return FALSE;
    if (!IsEqualGUID(ppartial->subtype, GUID_NULL) && !IsEqualGUID(subtype, ppartial->subtype))
        return FALSE;
    if (!IsEqualGUID(ppartial->formattype, GUID_NULL)) {
        if (!IsEqualGUID(formattype, ppartial->formattype)) return FALSE;
        if (cbFormat != ppartial->cbFormat) return FALSE;
        if (cbFormat != 0 && std::memcmp(pbFormat, ppartial->pbFormat, cbFormat) != 0) return FALSE;
    }
    return TRUE;
}
