// The frame source filter and its pin: construction, the link to the recorder, the media types
// offered and accepted, and the buffer negotiation.
#include "framesource/VideoMergeFilter.h"

#include <cstring>

#include <lumacap/DXRecorder.h>

namespace {

// Frames beyond this size in either direction are refused: their byte count would no longer fit
// the 32-bit sizes of the media types.
constexpr LONG kMaxFrameSide = 16384;

DWORD RowBytes(LONG width, int bitCount) {
    return GDI_WIDTHBYTES(static_cast<DWORD>(width) * bitCount);
}

}  // namespace

// ---- CVideoMergeFilter --------------------------------------------------------------------------

CVideoMergeFilter::CVideoMergeFilter(LPUNKNOWN pUnk, HRESULT* phr)
    : CSource(nullptr, pUnk, CLSID_VideoMergeFilter), m_Pin(phr, this) {}

CVideoMergeFilter::~CVideoMergeFilter() = default;

// ---- CVideoMergePin -----------------------------------------------------------------------------

CVideoMergePin::CVideoMergePin(HRESULT* phr, CVideoMergeFilter* pFilter)
    : CSourceStream(nullptr, phr, pFilter, L"Out"),
      m_iFrameNumber(0),
      m_rtFrameLength(1000000),
      m_nCurrentBitDepth(24),
      m_pRecorder(nullptr),
      m_dwStartTime(0),
      m_dwPausedTime(0),
      m_dwLastBegin(0),
      m_rtPreStartTime(0) {}

CVideoMergePin::~CVideoMergePin() = default;

void CVideoMergePin::SetRecorder(CDXRecorder* pRecorder) {
    m_pRecorder = pRecorder;
}

void CVideoMergePin::SetFrameRate(UINT fps) {
    const UINT q = (fps + 5) / 10;
    if (q <= 1)
        m_rtFrameLength = 1000000;
    else if (q == 2)
        m_rtFrameLength = 500000;
    else
        m_rtFrameLength = 333333;
}

void CVideoMergePin::ResetTiming() {
    m_iFrameNumber = 0;
    m_dwPausedTime = 0;
    m_rtPreStartTime = 0;
}

void CVideoMergePin::GetFrameSize(LONG* pWidth, LONG* pHeight) const {
    *pWidth = 0;
    *pHeight = 0;
    if (!m_pRecorder) return;
    *pWidth = m_pRecorder->FrameWidth();
    *pHeight = m_pRecorder->FrameHeight();
}

HRESULT CVideoMergePin::GetMediaType(int iPosition, CMediaType* pMediaType) {
    if (!pMediaType) return E_POINTER;
    CAutoLock lock(m_pFilter->pStateLock());
    if (iPosition < 0) return E_INVALIDARG;
    // Only what CheckMediaType accepts is offered: no palettised type, whose palette nobody
    // downstream would have chosen and whose pixels a recording cannot map well onto.
    if (iPosition > 3) return VFW_S_NO_MORE_ITEMS;

    LONG width = 0, height = 0;
    GetFrameSize(&width, &height);
    // Without a recorder, or with a size no frame can have, there is nothing to offer.
    if (width <= 0 || height <= 0 || width > kMaxFrameSide || height > kMaxFrameSide)
        return VFW_S_NO_MORE_ITEMS;

    auto* pvi = reinterpret_cast<VIDEOINFO*>(pMediaType->AllocFormatBuffer(sizeof(VIDEOINFO)));
    if (!pvi) return E_OUTOFMEMORY;
    std::memset(pvi, 0, sizeof(VIDEOINFO));

    const GUID* pSubtype = &MEDIASUBTYPE_RGB24;
    switch (iPosition) {
        case 0:
            pvi->bmiHeader.biCompression = BI_RGB;
            pvi->bmiHeader.biBitCount = 24;
            break;
        case 1:
            pSubtype = &MEDIASUBTYPE_RGB32;
            pvi->bmiHeader.biCompression = BI_RGB;
            pvi->bmiHeader.biBitCount = 32;
            break;
        case 2:
            pSubtype = &MEDIASUBTYPE_RGB565;
            pvi->bmiHeader.biCompression = BI_BITFIELDS;
            pvi->bmiHeader.biBitCount = 16;
            pvi->TrueColorInfo.dwBitMasks[0] = 0xF800;
            pvi->TrueColorInfo.dwBitMasks[1] = 0x07E0;
            pvi->TrueColorInfo.dwBitMasks[2] = 0x001F;
            break;
        default:
            pSubtype = &MEDIASUBTYPE_RGB555;
            pvi->bmiHeader.biCompression = BI_BITFIELDS;
            pvi->bmiHeader.biBitCount = 16;
            pvi->TrueColorInfo.dwBitMasks[0] = 0x7C00;
            pvi->TrueColorInfo.dwBitMasks[1] = 0x03E0;
            pvi->TrueColorInfo.dwBitMasks[2] = 0x001F;
            break;
    }

    pvi->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    pvi->bmiHeader.biWidth = width;
    pvi->bmiHeader.biHeight = height;  // positive: bottom-up
    pvi->bmiHeader.biPlanes = 1;
    pvi->bmiHeader.biSizeImage = GetBitmapSize(&pvi->bmiHeader);
    pvi->bmiHeader.biClrImportant = 0;

    pMediaType->SetType(&MEDIATYPE_Video);
    pMediaType->SetFormatType(&FORMAT_VideoInfo);
    pMediaType->SetTemporalCompression(FALSE);
    pMediaType->SetSubtype(pSubtype);
    pMediaType->SetSampleSize(pvi->bmiHeader.biSizeImage);
    return S_OK;
}

HRESULT CVideoMergePin::CheckMediaType(const CMediaType* pMediaType) {
    if (!pMediaType) return E_POINTER;
    if (*pMediaType->Type() != MEDIATYPE_Video) return E_INVALIDARG;
    if (!pMediaType->IsFixedSize()) return E_INVALIDARG;
    const GUID subtype = *pMediaType->Subtype();
    if (subtype != MEDIASUBTYPE_RGB8 && subtype != MEDIASUBTYPE_RGB565 &&
        subtype != MEDIASUBTYPE_RGB555 && subtype != MEDIASUBTYPE_RGB24 &&
        subtype != MEDIASUBTYPE_RGB32)
        return E_INVALIDARG;
    // The block is read as a VIDEOINFOHEADER whatever its format type says, so it must be one.
    if (!pMediaType->Format() || pMediaType->FormatLength() < sizeof(VIDEOINFOHEADER))
        return E_INVALIDARG;
    const auto* pvi = reinterpret_cast<const VIDEOINFOHEADER*>(pMediaType->Format());
    LONG width = 0, height = 0;
    GetFrameSize(&width, &height);
    if (pvi->bmiHeader.biWidth != width) return E_INVALIDARG;
    // Top-down pictures are refused before any magnitude is taken (the most negative height has
    // none).
    if (pvi->bmiHeader.biHeight < 0) return E_INVALIDARG;
    if (pvi->bmiHeader.biHeight != height) return E_INVALIDARG;
    // Frames are composed as 24-bit pixels and converted for 32- and 16-bit connections. A
    // palettised connection cannot carry them: mapping pictures onto another filter's palette is
    // not worth having in a recording (and GetMediaType does not offer one).
    if (pvi->bmiHeader.biBitCount == 8 || subtype == MEDIASUBTYPE_RGB8) return E_INVALIDARG;
    return S_OK;
}

HRESULT CVideoMergePin::SetMediaType(const CMediaType* pMediaType) {
    CAutoLock lock(m_pFilter->pStateLock());
    HRESULT hr = CSourceStream::SetMediaType(pMediaType);
    if (FAILED(hr)) return hr;
    const CMediaType& mt = CurrentMediaType();
    if (!mt.Format() || mt.FormatLength() < sizeof(VIDEOINFOHEADER)) return E_UNEXPECTED;
    const auto* pvi = reinterpret_cast<const VIDEOINFOHEADER*>(mt.Format());
    switch (pvi->bmiHeader.biBitCount) {
        case 8:
        case 16:
        case 24:
        case 32:
            m_MediaType = mt;
            m_nCurrentBitDepth = pvi->bmiHeader.biBitCount;
            return S_OK;
        default:
            return E_INVALIDARG;
    }
}

HRESULT CVideoMergePin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) {
    if (!pAlloc || !pRequest) return E_POINTER;
    CAutoLock lock(m_pFilter->pStateLock());
    const CMediaType& mt = CurrentMediaType();
    if (!mt.Format() || mt.FormatLength() < sizeof(VIDEOINFOHEADER)) return E_UNEXPECTED;
    const auto* pvi = reinterpret_cast<const VIDEOINFOHEADER*>(mt.Format());
    // biSizeImage may legitimately be 0 for uncompressed types; a buffer is never smaller than
    // the picture it must hold.
    const LONG height =
        pvi->bmiHeader.biHeight < 0 ? -pvi->bmiHeader.biHeight : pvi->bmiHeader.biHeight;
    const DWORD picture =
        RowBytes(pvi->bmiHeader.biWidth, pvi->bmiHeader.biBitCount) * static_cast<DWORD>(height);
    const DWORD size = pvi->bmiHeader.biSizeImage > picture ? pvi->bmiHeader.biSizeImage : picture;
    pRequest->cBuffers = 1;
    pRequest->cbBuffer = static_cast<long>(size);

    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = pAlloc->SetProperties(pRequest, &actual);
    if (FAILED(hr)) return hr;
    if (actual.cbBuffer < pRequest->cbBuffer) return E_FAIL;
    return S_OK;
}

STDMETHODIMP CVideoMergePin::Notify(IBaseFilter*, Quality) {
    return E_FAIL;
}
