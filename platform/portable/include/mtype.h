// CMediaType: the base classes' owning wrapper of a media type.
#pragma once

#include "combase.h"

// ---- media types --------------------------------------------------------------------------------

class LUMACAP_API CMediaType : public AM_MEDIA_TYPE {
public:
    CMediaType();
    explicit CMediaType(const GUID* majortype);
    CMediaType(const AM_MEDIA_TYPE& mt, HRESULT* phr = nullptr);
    CMediaType(const CMediaType& mt, HRESULT* phr = nullptr);
    ~CMediaType();

    CMediaType& operator=(const CMediaType& mt);
    CMediaType& operator=(const AM_MEDIA_TYPE& mt);
    BOOL operator==(const CMediaType& mt) const;
    BOOL operator!=(const CMediaType& mt) const;

    HRESULT Set(const CMediaType& rt);
    HRESULT Set(const AM_MEDIA_TYPE& rt);
    BOOL IsValid() const;

    const GUID* Type() const { return &majortype; }
    void SetType(const GUID* ptype) { majortype = *ptype; }
    const GUID* Subtype() const { return &subtype; }
    void SetSubtype(const GUID* ptype) { subtype = *ptype; }
    BOOL IsFixedSize() const { return bFixedSizeSamples; }
    BOOL IsTemporalCompressed() const { return bTemporalCompression; }
    ULONG GetSampleSize() const;
    void SetSampleSize(ULONG sz);
    void SetVariableSize();
    void SetTemporalCompression(BOOL bCompressed);

    BYTE* Format() const { return pbFormat; }
    ULONG FormatLength() const { return cbFormat; }
    void SetFormatType(const GUID* pformattype) { formattype = *pformattype; }
    const GUID* FormatType() const { return &formattype; }
    BOOL SetFormat(BYTE* pFormat, ULONG length);
    void ResetFormatBuffer();
    BYTE* AllocFormatBuffer(ULONG length);
    BYTE* ReallocFormatBuffer(ULONG length);
    void InitMediaType();

    // Every field this type specifies (non-null GUIDs) matches `ppartial`'s.
    BOOL MatchesPartial(const CMediaType* ppartial) const;
    BOOL IsPartiallySpecified() const;
};

// The media-type helpers the base classes provide (the platform's strmif.h declares them too).
LUMACAP_API void WINAPI DeleteMediaType(AM_MEDIA_TYPE* pmt);
LUMACAP_API void WINAPI FreeMediaType(AM_MEDIA_TYPE& mt);
LUMACAP_API HRESULT WINAPI CopyMediaType(AM_MEDIA_TYPE* pmtTarget, const AM_MEDIA_TYPE* pmtSource);
LUMACAP_API AM_MEDIA_TYPE* WINAPI CreateMediaType(const AM_MEDIA_TYPE* pSrc);
LUMACAP_API void WINAPI SaferFreeMediaType(AM_MEDIA_TYPE* pmt);
