// The lending sample pool: samples of their own memory each, made at commit and, while readers
// keep some, one more at a time up to a limit; a change of shape retires the samples still out.
#include "platform/system/dshow/LendingAllocator.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace lumacap::dshow {

class LendingAllocator::PoolSample final : public CMediaSample {
public:
    PoolSample(LendingAllocator* owner, BYTE* block, size_t blockAlign, LONG prefix, LONG size,
               unsigned generation)
        : CMediaSample(NAME("Lending pool sample"), owner, nullptr, block + prefix, size),
          m_block(block),
          m_blockAlign(blockAlign),
          m_generation(generation) {}
    ~PoolSample() override { ::operator delete (m_block, std::align_val_t{m_blockAlign}); }

    // Handed out again: one reference, the whole buffer as its length.
    void Hand() {
        m_cRef = 1;
        m_lActual = m_cbBuffer;
    }
    unsigned Generation() const { return m_generation; }

private:
    BYTE* m_block;
    size_t m_blockAlign;
    unsigned m_generation;
};

LendingAllocator::LendingAllocator(LPCTSTR pName, HRESULT* phr)
    : CBaseAllocator(pName, nullptr, phr) {}

LendingAllocator::~LendingAllocator() {
    Decommit();
    CAutoLock lock(&m_cs);
    DeleteFree();
}

void LendingAllocator::DeleteFree() {
    for (CMediaSample* sample : m_lFree) delete sample;
    m_lAllocated -= static_cast<LONG>(m_lFree.size());
    m_lFree.clear();
}

STDMETHODIMP LendingAllocator::SetProperties(ALLOCATOR_PROPERTIES* pRequest,
                                             ALLOCATOR_PROPERTIES* pActual) {
    if (!pRequest || !pActual) return E_POINTER;
    if (pRequest->cbAlign <= 0 || (pRequest->cbAlign & (pRequest->cbAlign - 1)) != 0)
        return VFW_E_BADALIGN;
    if (pRequest->cBuffers <= 0 || pRequest->cbBuffer <= 0 || pRequest->cbPrefix < 0)
        return E_INVALIDARG;
    CAutoLock lock(&m_cs);
    if (m_bCommitted) return VFW_E_ALREADY_COMMITTED;
    if (pRequest->cbBuffer != m_lSize || pRequest->cbPrefix != m_lPrefix ||
        pRequest->cbAlign != m_lAlignment) {
        // Samples a reader still holds keep their memory until they come back, then go.
        DeleteFree();
        m_lOutstandingOld += m_lAllocated;
        m_lAllocated = 0;
        ++m_generation;
    }
    m_lSize = pRequest->cbBuffer;
    // At least the frame being filled, the latest kept, and two a slow reader holds across two
    // arrivals: made at commit, so memory is at its level from the first frame, not hours in.
    m_lCount = std::max<LONG>(pRequest->cBuffers, kLentSamples);
    m_lAlignment = pRequest->cbAlign;
    m_lPrefix = pRequest->cbPrefix;
    m_bChanged = TRUE;
    *pActual = *pRequest;
    pActual->cBuffers = m_lCount;
    return NOERROR;
}

LendingAllocator::PoolSample* LendingAllocator::MakeSample() {
    const size_t align = m_lAlignment < 16 ? 16 : static_cast<size_t>(m_lAlignment);
    size_t bytes = static_cast<size_t>(m_lPrefix) + static_cast<size_t>(m_lSize);
    bytes = (bytes + align - 1) / align * align;
    auto* block = static_cast<BYTE*>(::operator new (bytes, std::align_val_t{align}, std::nothrow));
    if (!block) return nullptr;
    // Black rather than old heap contents, and resident now rather than faulting in mid-stream.
    std::memset(block, 0, bytes);
    auto* sample =
        new (std::nothrow) PoolSample(this, block, align, m_lPrefix, m_lSize, m_generation);
    if (!sample) {
        ::operator delete (block, std::align_val_t{align});
        return nullptr;
    }
    ++m_lAllocated;
    ++m_lSamplesCreated;
    return sample;
}

HRESULT LendingAllocator::Alloc() {
    const HRESULT hr = CBaseAllocator::Alloc();
    if (FAILED(hr)) return hr;
    while (m_lAllocated < m_lCount) {
        PoolSample* sample = MakeSample();
        if (!sample) return E_OUTOFMEMORY;
        m_lFree.push_back(sample);
    }
    return NOERROR;
}

STDMETHODIMP LendingAllocator::GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME*, REFERENCE_TIME*,
                                         DWORD dwFlags) {
    if (!ppBuffer) return E_POINTER;
    *ppBuffer = nullptr;
    PoolSample* sample = nullptr;
    {
        CAutoLock lock(&m_cs);
        for (;;) {
            if (!m_bCommitted) return VFW_E_NOT_COMMITTED;
            if (!m_lFree.empty()) {
                sample = static_cast<PoolSample*>(m_lFree.back());
                m_lFree.pop_back();
                break;
            }
            // Every sample is out, some held by readers: one more rather than a stalled stream.
            if (m_lAllocated < m_lCount + kExtraSamples && (sample = MakeSample())) break;
            if (dwFlags & AM_GBF_NOWAIT) return VFW_E_TIMEOUT;
            m_cvFree.wait(m_cs);
        }
    }
    AddRef();  // each outstanding sample keeps the pool alive
    sample->Hand();
    *ppBuffer = sample;
    return NOERROR;
}

STDMETHODIMP LendingAllocator::ReleaseBuffer(IMediaSample* pBuffer) {
    if (!pBuffer) return E_POINTER;
    auto* sample = static_cast<PoolSample*>(static_cast<CMediaSample*>(pBuffer));
    bool retired = false;
    {
        CAutoLock lock(&m_cs);
        if (sample->Generation() != m_generation) {
            retired = true;
            --m_lOutstandingOld;
        } else {
            m_lFree.push_back(sample);
            if (m_bDecommitInProgress && m_lAllocated == static_cast<LONG>(m_lFree.size())) {
                m_bDecommitInProgress = FALSE;
                Free();
            }
        }
    }
    if (retired) delete sample;
    m_cvFree.notify_one();
    Release();  // the reference GetBuffer took
    return NOERROR;
}

}  // namespace lumacap::dshow
