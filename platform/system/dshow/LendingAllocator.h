// A sample pool for frames that readers keep for a while (the sample grabber's latest frame, the
// preview's picture): instead of making the producer wait once every sample is out, it adds one,
// up to a limit, so a frame can be lent by reference rather than copied for each reader.
#pragma once

#include <streams.h>

namespace lumacap::dshow {

class LendingAllocator final : public CBaseAllocator {
public:
    // Samples beyond the requested count that may be made while readers hold frames.
    static constexpr LONG kExtraSamples = 6;
    // Samples made at commit whatever the producer asks for.
    static constexpr LONG kLentSamples = 4;

    LendingAllocator(LPCTSTR pName, HRESULT* phr);
    ~LendingAllocator() override;

    STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* pRequest,
                               ALLOCATOR_PROPERTIES* pActual) override;
    STDMETHODIMP GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime,
                           REFERENCE_TIME* pEndTime, DWORD dwFlags) override;
    STDMETHODIMP ReleaseBuffer(IMediaSample* pBuffer) override;

protected:
    HRESULT Alloc() override;
    void Free() override {}  // the pool stays for the next commit

private:
    class PoolSample;
    // A sample of the current shape, or null when memory is short. Called with m_cs held.
    PoolSample* MakeSample();
    void DeleteFree();

    // Raised when the shape changes: samples of an older shape are deleted as they come back.
    unsigned m_generation = 0;
    LONG m_lOutstandingOld = 0;
};

}  // namespace lumacap::dshow
