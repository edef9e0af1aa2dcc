// Media samples and the pooled allocator. A pool is cut once from one block at Commit; samples go
// back to the pool when their last reference is released and are handed out again by GetBuffer,
// so streaming allocates nothing per frame.
#include <streams.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/portable/SystemSeam.h"

// ---- CMediaSample -------------------------------------------------------------------------------

CMediaSample::CMediaSample(LPCTSTR, CBaseAllocator* pAllocator, HRESULT* phr, LPBYTE pBuffer,
                           LONG length)
    : m_pBuffer(pBuffer), m_lActual(length), m_cbBuffer(length), m_pAllocator(pAllocator) {
    if (!pAllocator && phr) *phr = E_OUTOFMEMORY;
}

CMediaSample::~CMediaSample() {
    if (m_pMediaType) DeleteMediaType(m_pMediaType);
}

STDMETHODIMP CMediaSample::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IMediaSample || riid == IID_IMediaSample2 || riid == IID_IUnknown)
        return GetInterface(static_cast<IMediaSample2*>(this), ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CMediaSample::AddRef() {
    return static_cast<ULONG>(++m_cRef);
}

STDMETHODIMP_(ULONG) CMediaSample::Release() {
    const LONG ref = --m_cRef;
    if (ref == 0) {
        // Back to the pool: forget this use's properties.
        m_dwFlags = 0;
        if (m_pMediaType) {
            DeleteMediaType(m_pMediaType);
            m_pMediaType = nullptr;
        }
        m_pAllocator->ReleaseBuffer(this);
    }
    return static_cast<ULONG>(ref);
}

HRESULT CMediaSample::SetPointer(BYTE* ptr, LONG cBytes) {
    if (cBytes < 0) return VFW_E_BUFFER_OVERFLOW;
    m_pBuffer = ptr;
    m_cbBuffer = cBytes;
    m_lActual = cBytes;
    return S_OK;
}

STDMETHODIMP CMediaSample::GetPointer(BYTE** ppBuffer) {
    if (!ppBuffer) return E_POINTER;
    *ppBuffer = m_pBuffer;
    return NOERROR;
}

STDMETHODIMP_(long) CMediaSample::GetSize() {
    return m_cbBuffer;
}

STDMETHODIMP CMediaSample::GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) {
    if (!(m_dwFlags & Sample_TimeValid)) return VFW_E_SAMPLE_TIME_NOT_SET;
    if (!pTimeStart || !pTimeEnd) return E_POINTER;
    *pTimeStart = m_Start;
    if (m_dwFlags & Sample_StopValid) {
        *pTimeEnd = m_End;
        return NOERROR;
    }
    *pTimeEnd = m_Start + 1;
    return VFW_S_NO_STOP_TIME;
}

STDMETHODIMP CMediaSample::SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) {
    if (!pTimeStart) {
        m_dwFlags &= ~(Sample_TimeValid | Sample_StopValid);
        return NOERROR;
    }
    m_Start = *pTimeStart;
    m_dwFlags |= Sample_TimeValid;
    if (pTimeEnd) {
        m_End = *pTimeEnd;
        m_dwFlags |= Sample_StopValid;
    } else {
        m_dwFlags &= ~Sample_StopValid;
    }
    return NOERROR;
}

STDMETHODIMP CMediaSample::IsSyncPoint() {
    return (m_dwFlags & Sample_SyncPoint) ? S_OK : S_FALSE;
}

STDMETHODIMP CMediaSample::SetSyncPoint(BOOL b) {
    if (b)
        m_dwFlags |= Sample_SyncPoint;
    else
        m_dwFlags &= ~Sample_SyncPoint;
    return NOERROR;
}

STDMETHODIMP CMediaSample::IsPreroll() {
    return (m_dwFlags & Sample_Preroll) ? S_OK : S_FALSE;
}

STDMETHODIMP CMediaSample::SetPreroll(BOOL b) {
    if (b)
        m_dwFlags |= Sample_Preroll;
    else
        m_dwFlags &= ~Sample_Preroll;
    return NOERROR;
}

STDMETHODIMP_(long) CMediaSample::GetActualDataLength() {
    return m_lActual;
}

STDMETHODIMP CMediaSample::SetActualDataLength(long length) {
    if (length < 0 || length > m_cbBuffer) return VFW_E_BUFFER_OVERFLOW;
    m_lActual = static_cast<LONG>(length);
    return NOERROR;
}

STDMETHODIMP CMediaSample::GetMediaType(AM_MEDIA_TYPE** ppMediaType) {
    if (!ppMediaType) return E_POINTER;
    if (!(m_dwFlags & Sample_TypeChanged) || !m_pMediaType) {
        *ppMediaType = nullptr;
        return S_FALSE;
    }
    *ppMediaType = CreateMediaType(m_pMediaType);
    return *ppMediaType ? NOERROR : E_OUTOFMEMORY;
}

STDMETHODIMP CMediaSample::SetMediaType(AM_MEDIA_TYPE* pMediaType) {
    if (m_pMediaType) {
        DeleteMediaType(m_pMediaType);
        m_pMediaType = nullptr;
    }
    if (!pMediaType) {
        m_dwFlags &= ~Sample_TypeChanged;
        return NOERROR;
    }
    m_pMediaType = CreateMediaType(pMediaType);
    if (!m_pMediaType) {
        m_dwFlags &= ~Sample_TypeChanged;
        return E_OUTOFMEMORY;
    }
    m_dwFlags |= Sample_TypeChanged;
    return NOERROR;
}

STDMETHODIMP CMediaSample::IsDiscontinuity() {
    return (m_dwFlags & Sample_Discontinuity) ? S_OK : S_FALSE;
}

STDMETHODIMP CMediaSample::SetDiscontinuity(BOOL b) {
    if (b)
        m_dwFlags |= Sample_Discontinuity;
    else
        m_dwFlags &= ~Sample_Discontinuity;
    return NOERROR;
}

STDMETHODIMP CMediaSample::GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) {
    if (!pTimeStart || !pTimeEnd) return E_POINTER;
    if (!(m_dwFlags & Sample_MediaTimeValid)) return VFW_E_MEDIA_TIME_NOT_SET;
    *pTimeStart = m_MediaStart;
    *pTimeEnd = m_MediaStart + m_MediaEnd;
    return NOERROR;
}

STDMETHODIMP CMediaSample::SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) {
    if (!pTimeStart) {
        m_dwFlags &= ~Sample_MediaTimeValid;
        return NOERROR;
    }
    if (!pTimeEnd) return E_POINTER;
    m_MediaStart = *pTimeStart;
    m_MediaEnd = static_cast<LONG>(*pTimeEnd - *pTimeStart);
    m_dwFlags |= Sample_MediaTimeValid;
    return NOERROR;
}

// The second-generation view of the same properties. The flags are the framework's sample flags,
// less the media-time flag, which IMediaSample2 does not carry.
STDMETHODIMP CMediaSample::GetProperties(DWORD cbProperties, BYTE* pbProperties) {
    if (!cbProperties) return S_OK;
    if (!pbProperties) return E_POINTER;
    AM_SAMPLE2_PROPERTIES props{};
    props.cbData = std::min<DWORD>(cbProperties, sizeof(props));
    props.dwSampleFlags = m_dwFlags & ~static_cast<DWORD>(Sample_MediaTimeValid);
    props.lActual = m_lActual;
    props.tStart = m_Start;
    props.tStop = m_End;
    props.dwStreamId = AM_STREAM_MEDIA;
    props.pMediaType = (m_dwFlags & Sample_TypeChanged) ? m_pMediaType : nullptr;
    props.pbBuffer = m_pBuffer;
    props.cbBuffer = m_cbBuffer;
    std::memcpy(pbProperties, &props, props.cbData);
    return S_OK;
}

STDMETHODIMP CMediaSample::SetProperties(DWORD cbProperties, const BYTE* pbProperties) {
    if (!cbProperties) return S_OK;
    if (!pbProperties) return E_POINTER;
    if (cbProperties < offsetof(AM_SAMPLE2_PROPERTIES, pbBuffer)) return E_INVALIDARG;
    AM_SAMPLE2_PROPERTIES props{};
    std::memcpy(&props, pbProperties, std::min<size_t>(cbProperties, sizeof(props)));
    if (props.dwSampleFlags & AM_SAMPLE_TYPECHANGED) {
        const HRESULT hr = SetMediaType(props.pMediaType);
        if (FAILED(hr)) return hr;
    }
    if (props.lActual < 0 || props.lActual > m_cbBuffer) return VFW_E_BUFFER_OVERFLOW;
    const DWORD kept = m_dwFlags & (Sample_MediaTimeValid | Sample_TypeChanged);
    m_dwFlags =
        (props.dwSampleFlags & ~static_cast<DWORD>(Sample_MediaTimeValid | Sample_TypeChanged)) |
        kept;
    m_lActual = props.lActual;
    m_Start = props.tStart;
    m_End = props.tStop;
    return S_OK;
}

// ---- CBaseAllocator -----------------------------------------------------------------------------

CBaseAllocator::CBaseAllocator(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr, BOOL, BOOL)
    : CUnknown(pName, pUnk) {}

CBaseAllocator::~CBaseAllocator() {}

STDMETHODIMP CBaseAllocator::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IMemAllocator) return GetInterface(static_cast<IMemAllocator*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CBaseAllocator::SetProperties(ALLOCATOR_PROPERTIES* pRequest,
                                           ALLOCATOR_PROPERTIES* pActual) {
    LUMACAP_FAULT_POINT("IMemAllocator::SetProperties");
    if (!pRequest || !pActual) return E_POINTER;
    CAutoLock lock(&m_cs);
    if (m_bCommitted) return VFW_E_ALREADY_COMMITTED;
    if (m_lAllocated != static_cast<LONG>(m_lFree.size())) return VFW_E_BUFFERS_OUTSTANDING;
    *pActual = *pRequest;
    m_lSize = pRequest->cbBuffer;
    m_lCount = pRequest->cBuffers;
    m_lAlignment = pRequest->cbAlign;
    m_lPrefix = pRequest->cbPrefix;
    m_bChanged = TRUE;
    return NOERROR;
}

STDMETHODIMP CBaseAllocator::GetProperties(ALLOCATOR_PROPERTIES* pActual) {
    if (!pActual) return E_POINTER;
    CAutoLock lock(&m_cs);
    pActual->cbBuffer = m_lSize;
    pActual->cBuffers = m_lCount;
    pActual->cbAlign = m_lAlignment;
    pActual->cbPrefix = m_lPrefix;
    return NOERROR;
}

STDMETHODIMP CBaseAllocator::Commit() {
    LUMACAP_FAULT_POINT("IMemAllocator::Commit");
    CAutoLock lock(&m_cs);
    if (m_bCommitted) return NOERROR;
    if (m_lCount <= 0 || m_lSize <= 0) return VFW_E_SIZENOTSET;
    m_bDecommitInProgress = FALSE;
    const HRESULT hr = Alloc();
    if (FAILED(hr)) return hr;
    m_bCommitted = TRUE;
    return NOERROR;
}

STDMETHODIMP CBaseAllocator::Decommit() {
    {
        CAutoLock lock(&m_cs);
        if (!m_bCommitted) return NOERROR;
        m_bCommitted = FALSE;
        m_bDecommitInProgress = TRUE;
        // Memory goes only when every sample is back; the last ReleaseBuffer frees it otherwise.
        if (m_lAllocated == static_cast<LONG>(m_lFree.size())) {
            m_bDecommitInProgress = FALSE;
            Free();
        }
    }
    m_cvFree.notify_all();
    return NOERROR;
}

STDMETHODIMP CBaseAllocator::GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME*, REFERENCE_TIME*,
                                       DWORD dwFlags) {
    if (!ppBuffer) return E_POINTER;
    *ppBuffer = nullptr;
    CMediaSample* pSample = nullptr;
    {
        CAutoLock lock(&m_cs);
        for (;;) {
            if (!m_bCommitted) return VFW_E_NOT_COMMITTED;
            if (!m_lFree.empty()) {
                pSample = m_lFree.back();
                m_lFree.pop_back();
                break;
            }
            if (dwFlags & AM_GBF_NOWAIT) return VFW_E_TIMEOUT;
            m_cvFree.wait(m_cs);
        }
    }
    // Each outstanding sample keeps its allocator alive.
    AddRef();
    pSample->m_cRef = 1;
    pSample->m_lActual = pSample->m_cbBuffer;
    *ppBuffer = pSample;
    return NOERROR;
}

STDMETHODIMP CBaseAllocator::ReleaseBuffer(IMediaSample* pSample) {
    if (!pSample) return E_POINTER;
    {
        CAutoLock lock(&m_cs);
        m_lFree.push_back(static_cast<CMediaSample*>(pSample));
        if (m_bDecommitInProgress && m_lAllocated == static_cast<LONG>(m_lFree.size())) {
            m_bDecommitInProgress = FALSE;
            Free();
        }
    }
    m_cvFree.notify_one();
    Release();  // the reference GetBuffer took
    return NOERROR;
}

HRESULT CBaseAllocator::Alloc() {
    if (m_lCount <= 0 || m_lSize <= 0) return VFW_E_SIZENOTSET;
    m_bChanged = FALSE;
    return NOERROR;
}

// ---- CMemAllocator ------------------------------------------------------------------------------

CMemAllocator::CMemAllocator(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr)
    : CBaseAllocator(pName, pUnk, phr) {}

CMemAllocator::~CMemAllocator() {
    Decommit();
    ReallyFree();
}

CUnknown* CMemAllocator::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
    return new CMemAllocator(NAME("CMemAllocator"), pUnk, phr);
}

STDMETHODIMP CMemAllocator::SetProperties(ALLOCATOR_PROPERTIES* pRequest,
                                          ALLOCATOR_PROPERTIES* pActual) {
    if (!pRequest || !pActual) return E_POINTER;
    ALLOCATOR_PROPERTIES req = *pRequest;
    // No alignment at all is refused; otherwise the alignment must fit the 64 KiB allocation
    // granularity (an audio block of 6 bytes is fine, 0x20000 is not).
    if (req.cbAlign <= 0 || (0x10000 & (req.cbAlign - 1)) != 0) return VFW_E_BADALIGN;
    if (req.cbPrefix < 0) req.cbPrefix = 0;
    // Round each buffer (with its prefix) up to the alignment.
    LONG size = req.cbBuffer + req.cbPrefix;
    if (const LONG rem = size % req.cbAlign) size += req.cbAlign - rem;
    req.cbBuffer = size - req.cbPrefix;
    return CBaseAllocator::SetProperties(&req, pActual);
}

HRESULT CMemAllocator::Alloc() {
    const bool changed = m_bChanged;
    HRESULT hr = CBaseAllocator::Alloc();
    if (FAILED(hr)) return hr;
    // A pool with the same shape is kept from the previous commit.
    if (!changed && m_pBuffer) return NOERROR;
    if (m_lAllocated != static_cast<LONG>(m_lFree.size())) return VFW_E_BUFFERS_OUTSTANDING;
    ReallyFree();
    const LONG align = m_lAlignment > 0 ? m_lAlignment : 1;
    LONG stride = m_lSize + m_lPrefix;
    if (const LONG rem = stride % align) stride += align - rem;
    const size_t total = static_cast<size_t>(stride) * static_cast<size_t>(m_lCount);
    const size_t blockAlign = align < 16 ? 16 : static_cast<size_t>(align);
    // Aligned operator new rather than aligned_alloc, which the Microsoft C runtime lacks.
    m_pBuffer = static_cast<LPBYTE>(
        ::operator new (total > 0 ? total : 1, std::align_val_t{blockAlign}, std::nothrow));
    if (!m_pBuffer) return E_OUTOFMEMORY;
    m_cbBufferAlign = blockAlign;
    // Samples start black rather than holding whatever the heap held (a source that leaves parts
    // of a sample unwritten would otherwise deliver old memory), and the pages are made resident
    // here, at commit, instead of faulting in while the first frames stream.
    std::memset(m_pBuffer, 0, total);
    for (LONG i = 0; i < m_lCount; ++i) {
        LPBYTE p = m_pBuffer + static_cast<size_t>(stride) * static_cast<size_t>(i) + m_lPrefix;
        HRESULT hrSample = S_OK;
        auto* sample =
            new CMediaSample(NAME("Default memory media sample"), this, &hrSample, p, m_lSize);
        m_lFree.push_back(sample);
        ++m_lAllocated;
        ++m_lSamplesCreated;
    }
    return NOERROR;
}

void CMemAllocator::Free() {
    // Keep the pool for the next commit; ReallyFree drops it when the shape changes or at the end.
}

void CMemAllocator::ReallyFree() {
    for (CMediaSample* sample : m_lFree) delete sample;
    m_lFree.clear();
    m_lAllocated = 0;
    if (m_pBuffer) ::operator delete (m_pBuffer, std::align_val_t{m_cbBufferAlign});
    m_pBuffer = nullptr;
}
