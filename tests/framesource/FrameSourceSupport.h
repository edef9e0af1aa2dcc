// Test doubles around the frame source: a sink filter that never blocks and records what it is
// given, a media sample whose stamping can be made to fail, an allocator that grants a chosen
// size, and a reader for the warnings the pacing writes to the log.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include <streams.h>

#include "framesource/VideoMergeFilter.h"

struct CVideoMergePinTestAccess {
    static int& FrameNumber(CVideoMergePin& p) { return p.m_iFrameNumber; }
    // Read while the pin streams: under the lock it fills frames with.
    static int FrameNumberNow(CVideoMergePin& p) {
        CAutoLock lock(&p.m_cSharedState);
        return p.m_iFrameNumber;
    }
    static REFERENCE_TIME FrameLength(CVideoMergePin& p) { return p.m_rtFrameLength; }
    static int BitDepth(CVideoMergePin& p) { return p.m_nCurrentBitDepth; }
    static DWORD PausedTime(CVideoMergePin& p) { return p.m_dwPausedTime; }
    static REFERENCE_TIME PreStartTime(CVideoMergePin& p) { return p.m_rtPreStartTime; }
};

namespace lumacap::test {

// A renderer-like filter with one input pin that accepts uncompressed video of the chosen subtype
// (any RGB type when none is chosen), stores every sample's times and the last sample's bytes,
// and never holds a sample back, whatever its state.
class TestSink : public CBaseFilter {
public:
    explicit TestSink(const GUID* acceptOnly = nullptr);
    ~TestSink() override;
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override;

    struct Stamp {
        REFERENCE_TIME start, stop;
        bool sync;
    };
    std::vector<Stamp> Stamps();
    std::vector<BYTE> LastSample();
    size_t Count();
    GUID ConnectedSubtype();

private:
    class InputPin;
    friend class InputPin;
    CCritSec m_lock;
    InputPin* m_pPin;
    GUID m_acceptOnly;
    bool m_bAcceptOnly;
    std::mutex m_mutex;
    std::vector<Stamp> m_stamps;
    std::vector<BYTE> m_last;
};

// A sample over a buffer of the test's, with SetTime and SetSyncPoint answers of the test's choice.
class FakeSample : public IMediaSample {
public:
    explicit FakeSample(size_t size) : m_buffer(size, 0) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetPointer(BYTE** ppBuffer) override;
    STDMETHODIMP_(long) GetSize() override { return static_cast<long>(m_buffer.size()); }
    STDMETHODIMP GetTime(REFERENCE_TIME* pStart, REFERENCE_TIME* pEnd) override;
    STDMETHODIMP SetTime(REFERENCE_TIME* pStart, REFERENCE_TIME* pEnd) override;
    STDMETHODIMP IsSyncPoint() override { return sync ? S_OK : S_FALSE; }
    STDMETHODIMP SetSyncPoint(BOOL b) override;
    STDMETHODIMP IsPreroll() override { return S_FALSE; }
    STDMETHODIMP SetPreroll(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP_(long) GetActualDataLength() override {
        return static_cast<long>(m_buffer.size());
    }
    STDMETHODIMP SetActualDataLength(long) override { return E_NOTIMPL; }
    STDMETHODIMP GetMediaType(AM_MEDIA_TYPE** ppType) override;
    STDMETHODIMP SetMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    STDMETHODIMP IsDiscontinuity() override { return S_FALSE; }
    STDMETHODIMP SetDiscontinuity(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP GetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
    STDMETHODIMP SetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }

    std::vector<BYTE> m_buffer;
    REFERENCE_TIME start = -1, stop = -1;
    bool sync = false;
    HRESULT setTimeResult = S_OK;
    HRESULT setSyncResult = S_OK;
};

// An allocator that grants buffers of a fixed size whatever is asked.
class GrantingAllocator : public IMemAllocator {
public:
    explicit GrantingAllocator(long grant) : m_grant(grant) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* pRequest,
                               ALLOCATOR_PROPERTIES* pActual) override;
    STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES* pProps) override;
    STDMETHODIMP Commit() override { return S_OK; }
    STDMETHODIMP Decommit() override { return S_OK; }
    STDMETHODIMP GetBuffer(IMediaSample**, REFERENCE_TIME*, REFERENCE_TIME*, DWORD) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP ReleaseBuffer(IMediaSample*) override { return S_OK; }

    ALLOCATOR_PROPERTIES requested{};
    HRESULT result = S_OK;

private:
    long m_grant;
};

// The texts of the Warn lines of the current log file, in order.
std::vector<std::string> WarnLines();

}  // namespace lumacap::test
