// The sample grabber's kept frames: filling one from a passing sample, and reading it as a sample.
#include "platform/system/dshow/HeldFrame.h"

#include <cstring>

namespace lumacap::dshow {

void HeldFrame::Fill(IMediaSample* pSample, const BYTE* data, long length) {
    Unhold();
    // The capacity stays, so after the first frame of a size this copies without allocating.
    m_bytes.resize(length > 0 ? static_cast<size_t>(length) : 0);
    if (length > 0) std::memcpy(m_bytes.data(), data, static_cast<size_t>(length));
    TakeTimes(pSample);
}

void HeldFrame::Hold(IMediaSample* pSample, BYTE* data, long length) {
    pSample->AddRef();
    Unhold();
    m_sample = pSample;
    m_data = data;
    m_length = length > 0 ? length : 0;
    TakeTimes(pSample);
}

void HeldFrame::Unhold() {
    if (!m_sample) return;
    m_sample->Release();
    m_sample = nullptr;
    m_data = nullptr;
    m_length = 0;
}

void HeldFrame::TakeTimes(IMediaSample* pSample) {
    REFERENCE_TIME start = 0, stop = 0;
    const HRESULT hr = pSample ? pSample->GetTime(&start, &stop) : VFW_E_SAMPLE_TIME_NOT_SET;
    m_timeValid = SUCCEEDED(hr);
    m_stopValid = hr == S_OK;
    m_start = start;
    m_stop = stop;
    m_sync = pSample && pSample->IsSyncPoint() == S_OK;
}

ULONG HeldFrame::AddRef() {
    m_readers.fetch_add(1, std::memory_order_relaxed);
    return ComObject::AddRef();
}

ULONG HeldFrame::Release() {
    // The reader's reads happen before the grabber may fill the frame again.
    m_readers.fetch_sub(1, std::memory_order_release);
    return ComObject::Release();
}

HRESULT HeldFrame::GetPointer(BYTE** ppBuffer) {
    if (!ppBuffer) return E_POINTER;
    *ppBuffer = const_cast<BYTE*>(Data());
    return S_OK;
}

HRESULT HeldFrame::GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) {
    if (!pTimeStart || !pTimeEnd) return E_POINTER;
    if (!m_timeValid) return VFW_E_SAMPLE_TIME_NOT_SET;
    *pTimeStart = m_start;
    *pTimeEnd = m_stopValid ? m_stop : m_start + 1;
    return m_stopValid ? S_OK : VFW_S_NO_STOP_TIME;
}

HRESULT HeldFrame::GetMediaType(AM_MEDIA_TYPE** ppMediaType) {
    if (!ppMediaType) return E_POINTER;
    // The type is the grabber's connected type, for every frame it keeps.
    *ppMediaType = nullptr;
    return S_FALSE;
}

}  // namespace lumacap::dshow
