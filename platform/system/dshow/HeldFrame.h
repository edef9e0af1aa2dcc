// A frame the sample grabber keeps, handed to readers with a reference
// (ISampleGrabber::GetCurrentSample) instead of being copied out for them: the passing sample
// itself, kept by reference when it comes from the grabber's own lending pool, or else a copy in
// memory of its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include <strmif.h>

#include "platform/system/com/ComObject.h"

namespace lumacap::dshow {

class HeldFrame final : public com::ComObject<IMediaSample, IID_IMediaSample> {
public:
    HeldFrame() = default;
    ~HeldFrame() override { Unhold(); }

    // Copies a sample's bytes and times in. Only while the grabber alone holds the frame.
    void Fill(IMediaSample* pSample, const BYTE* data, long length);
    // Keeps the sample itself, with a reference, instead of a copy: its producer must not write
    // it again until it is released (a pool sample is only written once handed out afresh).
    void Hold(IMediaSample* pSample, BYTE* data, long length);
    // Gives a kept sample back to its pool. Only while no reader holds the frame.
    void Unhold();
    // True when no reader holds a reference: the frame may then be filled again.
    bool Unshared() const { return m_readers.load(std::memory_order_acquire) == 0; }
    const BYTE* Data() const { return m_sample ? m_data : m_bytes.data(); }
    long Length() const { return m_sample ? m_length : static_cast<long>(m_bytes.size()); }

    // References taken and given back by readers are counted apart from the grabber's own.
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // The grabber's reference.
    void Keep() { ComObject::AddRef(); }
    void Drop() { ComObject::Release(); }

    // IMediaSample: what the held frame was when it arrived. It does not change while a reader
    // holds it, and readers cannot change it.
    HRESULT STDMETHODCALLTYPE GetPointer(BYTE** ppBuffer) override;
    long STDMETHODCALLTYPE GetSize() override { return Length(); }
    HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* pTimeStart,
                                      REFERENCE_TIME* pTimeEnd) override;
    HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME*, REFERENCE_TIME*) override {
        return E_ACCESSDENIED;
    }
    HRESULT STDMETHODCALLTYPE IsSyncPoint() override { return m_sync ? S_OK : S_FALSE; }
    HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL) override { return E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE IsPreroll() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE SetPreroll(BOOL) override { return E_ACCESSDENIED; }
    long STDMETHODCALLTYPE GetActualDataLength() override { return Length(); }
    HRESULT STDMETHODCALLTYPE SetActualDataLength(long) override { return E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE** ppMediaType) override;
    HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE*) override { return E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE IsDiscontinuity() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL) override { return E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG*, LONGLONG*) override {
        return VFW_E_MEDIA_TIME_NOT_SET;
    }
    HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG*, LONGLONG*) override { return E_ACCESSDENIED; }

private:
    void TakeTimes(IMediaSample* pSample);

    std::vector<uint8_t> m_bytes;
    IMediaSample* m_sample = nullptr;  // kept by reference instead of m_bytes
    BYTE* m_data = nullptr;
    long m_length = 0;
    REFERENCE_TIME m_start = 0, m_stop = 0;
    bool m_timeValid = false;
    bool m_stopValid = false;
    bool m_sync = false;
    std::atomic<long> m_readers{0};
};

}  // namespace lumacap::dshow
