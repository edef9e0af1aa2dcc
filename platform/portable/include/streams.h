// The media framework's base classes for writing filters: reference-counted objects, locks and
// worker threads, media types, samples and allocators, pins, filters, push sources, transforms and
// renderers. Names, virtual methods and behaviour follow the SDK's base-class library, so a filter
// written against it (such as the library's own frame source) reads the same as on Windows.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "dshow.h"
#include "lumacap_export.h"

// ---- objects and reference counting -------------------------------------------------------------

// The non-delegating half of an aggregatable object.
interface INonDelegatingUnknown {
    virtual HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingAddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingRelease() = 0;
};

// Every object of the framework counts itself here (lumacap::sim::LiveObjects reads the count).
class LUMACAP_API CBaseObject {
public:
    explicit CBaseObject(LPCTSTR pName);
    CBaseObject(const CBaseObject&) = delete;
    CBaseObject& operator=(const CBaseObject&) = delete;
    virtual ~CBaseObject();
    static LONG ObjectsActive();

protected:
    LPCTSTR m_pName;
};

class LUMACAP_API CUnknown : public INonDelegatingUnknown, public CBaseObject {
public:
    CUnknown(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr = nullptr);
    virtual ~CUnknown() = default;

    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
    ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

    // The outer object when aggregated, otherwise this object's own identity.
    LPUNKNOWN GetOwner() const {
        return m_pUnknown ? m_pUnknown : const_cast<OwnerUnknown*>(&m_ownUnknown);
    }

protected:
    std::atomic<LONG> m_cRef{0};

private:
    // The object's IUnknown when it is not aggregated: a real IUnknown that forwards to the
    // non-delegating methods (rather than reinterpreting the non-delegating interface).
    struct OwnerUnknown final : public IUnknown {
        explicit OwnerUnknown(CUnknown* self) : m_self(self) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
            return m_self->NonDelegatingQueryInterface(riid, ppv);
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return m_self->NonDelegatingAddRef(); }
        ULONG STDMETHODCALLTYPE Release() override { return m_self->NonDelegatingRelease(); }
        CUnknown* m_self;
    };
    OwnerUnknown m_ownUnknown{this};
    LPUNKNOWN m_pUnknown;  // the outer object, or null
};

// Hands out an interface with a reference.
LUMACAP_API HRESULT GetInterface(LPUNKNOWN pUnk, void** ppv);

// The three IUnknown methods of a CUnknown-derived class, delegating to its owner.
#define DECLARE_IUNKNOWN                                            \
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { \
        return GetOwner()->QueryInterface(riid, ppv);               \
    }                                                               \
    STDMETHODIMP_(ULONG) AddRef() override {                        \
        return GetOwner()->AddRef();                                \
    }                                                               \
    STDMETHODIMP_(ULONG) Release() override {                       \
        return GetOwner()->Release();                               \
    }

#define NAME(x) (x)

// The class-factory side of an object built on CUnknown: constructs T from `args` and an
// HRESULT out-parameter for the constructor's own failures, answers its `riid` interface with one
// reference, and frees it when either step fails. Aggregation is not offered.
template <class T, typename... Args>
HRESULT CreateComInstance(IUnknown* outer, REFIID riid, void** ppv, Args&&... args) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    HRESULT hr = S_OK;
    T* object = new T(std::forward<Args>(args)..., &hr);
    object->NonDelegatingAddRef();
    if (SUCCEEDED(hr)) hr = object->NonDelegatingQueryInterface(riid, ppv);
    object->NonDelegatingRelease();
    return hr;
}

// ---- locks, events, worker threads --------------------------------------------------------------

class LUMACAP_API CCritSec {
public:
    CCritSec() = default;
    CCritSec(const CCritSec&) = delete;
    CCritSec& operator=(const CCritSec&) = delete;
    void Lock() { m_mutex.lock(); }
    void Unlock() { m_mutex.unlock(); }
    // BasicLockable, so a condition variable can wait on it.
    void lock() { m_mutex.lock(); }
    void unlock() { m_mutex.unlock(); }

private:
    std::recursive_mutex m_mutex;
};

class CAutoLock {
public:
    explicit CAutoLock(CCritSec* plock) : m_pLock(plock) { m_pLock->Lock(); }
    ~CAutoLock() { m_pLock->Unlock(); }
    CAutoLock(const CAutoLock&) = delete;
    CAutoLock& operator=(const CAutoLock&) = delete;

protected:
    CCritSec* m_pLock;
};

// An event object of the process (not a kernel handle): waits happen per frame on streaming
// threads and must not contend with the kernel's handle table.
class LUMACAP_API CAMEvent {
public:
    explicit CAMEvent(BOOL fManualReset = FALSE, HRESULT* phr = nullptr);
    CAMEvent(const CAMEvent&) = delete;
    CAMEvent& operator=(const CAMEvent&) = delete;
    void Set();
    void Reset();
    // TRUE when signalled within the time-out (milliseconds, INFINITE for no limit).
    BOOL Wait(DWORD dwTimeout = INFINITE);
    BOOL Check() { return Wait(0); }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_bManualReset;
    bool m_bSignalled = false;
};

// A worker thread that takes one request at a time from the thread that owns it.
class LUMACAP_API CAMThread {
public:
    explicit CAMThread(HRESULT* phr = nullptr);
    virtual ~CAMThread();
    CAMThread(const CAMThread&) = delete;
    CAMThread& operator=(const CAMThread&) = delete;

    CCritSec m_AccessLock;  // serialises callers of CallWorker
    CCritSec m_WorkerLock;  // held by the worker while it runs a request

    BOOL Create();
    // Sends a request and waits for the worker's reply.
    DWORD CallWorker(DWORD dwParam);
    // Waits for the thread to end (after it was asked to exit).
    void Close();
    BOOL ThreadExists() const;

    // Worker side.
    DWORD GetRequest();
    BOOL CheckRequest(DWORD* pParam);
    void Reply(DWORD dw);
    // Waits up to `dwTimeout` ms for a request to arrive, without taking it; TRUE if one is there.
    BOOL WaitForRequest(DWORD dwTimeout);

    virtual DWORD ThreadProc() = 0;

private:
    CAMEvent m_EventSend;
    CAMEvent m_EventComplete;
    std::atomic<DWORD> m_dwParam{0};
    std::atomic<DWORD> m_dwReturnVal{0};
    std::mutex m_exitMutex;
    std::atomic<bool> m_bExited{false};
    std::thread m_thread;
};

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

// ---- samples and allocators ---------------------------------------------------------------------

class CBaseAllocator;

class LUMACAP_API CMediaSample : public IMediaSample {
public:
    CMediaSample(LPCTSTR pName, CBaseAllocator* pAllocator, HRESULT* phr, LPBYTE pBuffer = nullptr,
                 LONG length = 0);
    virtual ~CMediaSample();
    CMediaSample(const CMediaSample&) = delete;
    CMediaSample& operator=(const CMediaSample&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    // The last release hands the sample back to its allocator's pool.
    STDMETHODIMP_(ULONG) Release() override;

    HRESULT SetPointer(BYTE* ptr, LONG cBytes);
    STDMETHODIMP GetPointer(BYTE** ppBuffer) override;
    STDMETHODIMP_(long) GetSize() override;
    STDMETHODIMP GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
    STDMETHODIMP SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
    STDMETHODIMP IsSyncPoint() override;
    STDMETHODIMP SetSyncPoint(BOOL bIsSyncPoint) override;
    STDMETHODIMP IsPreroll() override;
    STDMETHODIMP SetPreroll(BOOL bIsPreroll) override;
    STDMETHODIMP_(long) GetActualDataLength() override;
    STDMETHODIMP SetActualDataLength(long length) override;
    STDMETHODIMP GetMediaType(AM_MEDIA_TYPE** ppMediaType) override;
    STDMETHODIMP SetMediaType(AM_MEDIA_TYPE* pMediaType) override;
    STDMETHODIMP IsDiscontinuity() override;
    STDMETHODIMP SetDiscontinuity(BOOL bDiscontinuity) override;
    STDMETHODIMP GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) override;
    STDMETHODIMP SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) override;

protected:
    friend class CBaseAllocator;
    friend class CMemAllocator;

    enum {
        Sample_SyncPoint = 0x01,
        Sample_Preroll = 0x02,
        Sample_Discontinuity = 0x04,
        Sample_TypeChanged = 0x08,
        Sample_TimeValid = 0x10,
        Sample_MediaTimeValid = 0x20,
        Sample_StopValid = 0x100,
    };

    DWORD m_dwFlags = 0;
    LPBYTE m_pBuffer;
    LONG m_lActual;
    LONG m_cbBuffer;
    CBaseAllocator* m_pAllocator;
    CMediaSample* m_pNext = nullptr;
    REFERENCE_TIME m_Start = 0;
    REFERENCE_TIME m_End = 0;
    LONGLONG m_MediaStart = 0;
    LONG m_MediaEnd = 0;
    AM_MEDIA_TYPE* m_pMediaType = nullptr;
    std::atomic<LONG> m_cRef{0};
};

class LUMACAP_API CBaseAllocator : public CUnknown, public IMemAllocator {
public:
    CBaseAllocator(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr, BOOL bEvent = TRUE,
                   BOOL fEnableReleaseCallback = FALSE);
    virtual ~CBaseAllocator();

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* pRequest,
                               ALLOCATOR_PROPERTIES* pActual) override;
    STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES* pProps) override;
    STDMETHODIMP Commit() override;
    STDMETHODIMP Decommit() override;
    // Blocks until a sample of the pool is free, unless AM_GBF_NOWAIT; VFW_E_NOT_COMMITTED once
    // the allocator is decommitted (which also wakes every waiter).
    STDMETHODIMP GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime,
                           REFERENCE_TIME* pEndTime, DWORD dwFlags) override;
    STDMETHODIMP ReleaseBuffer(IMediaSample* pBuffer) override;

    // Samples ever created by this allocator: a pool reuses them, so this stays at the buffer
    // count.
    LONG SamplesCreated() const { return m_lSamplesCreated.load(); }

protected:
    virtual void Free() = 0;
    virtual HRESULT Alloc();
    // Frees the pool's samples once none is outstanding after a decommit.
    void ReleaseFreeSamples();

    CCritSec m_cs;
    std::condition_variable_any m_cvFree;
    std::vector<CMediaSample*> m_lFree;  // samples in the pool
    LONG m_lAllocated = 0;               // samples that exist (in the pool or outstanding)
    LONG m_lCount = 0;
    LONG m_lSize = 0;
    LONG m_lAlignment = 0;
    LONG m_lPrefix = 0;
    BOOL m_bChanged = FALSE;
    BOOL m_bCommitted = FALSE;
    BOOL m_bDecommitInProgress = FALSE;
    std::atomic<LONG> m_lSamplesCreated{0};
};

// The standard allocator: one block of memory cut into the pool's buffers.
class LUMACAP_API CMemAllocator : public CBaseAllocator {
public:
    CMemAllocator(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr);
    ~CMemAllocator() override;
    STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* pRequest,
                               ALLOCATOR_PROPERTIES* pActual) override;
    static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);

protected:
    void Free() override;
    HRESULT Alloc() override;
    void ReallyFree();

    LPBYTE m_pBuffer = nullptr;
    size_t m_cbBufferAlign = 0;
};

// ---- filters and pins ---------------------------------------------------------------------------

class CBaseFilter;
class CBasePin;

class LUMACAP_API CBasePin : public CUnknown, public IPin, public IQualityControl {
public:
    CBasePin(LPCTSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
             LPCWSTR pName, PIN_DIRECTION dir);
    virtual ~CBasePin();

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    // A pin lives as long as its filter: its references are the filter's.
    STDMETHODIMP_(ULONG) NonDelegatingAddRef() override;
    STDMETHODIMP_(ULONG) NonDelegatingRelease() override;

    // IPin
    STDMETHODIMP Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP ConnectedTo(IPin** pPin) override;
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP QueryPinInfo(PIN_INFO* pInfo) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* pPinDir) override;
    STDMETHODIMP QueryId(LPWSTR* Id) override;
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
    STDMETHODIMP QueryInternalConnections(IPin** apPin, ULONG* nPin) override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override = 0;
    STDMETHODIMP EndFlush() override = 0;
    STDMETHODIMP NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

    // IQualityControl
    STDMETHODIMP Notify(IBaseFilter* pSender, Quality q) override;
    STDMETHODIMP SetSink(IQualityControl* piqc) override;

    BOOL IsConnected() const { return m_Connected != nullptr; }
    IPin* GetConnected() const { return m_Connected; }
    BOOL IsStopped() const;
    LPWSTR Name() const { return m_pName; }
    const CMediaType& CurrentMediaType() const { return m_mt; }
    virtual LONG GetMediaTypeVersion();
    void IncrementTypeVersion();

    // Overridables of the connection protocol.
    virtual HRESULT Active() { return NOERROR; }
    virtual HRESULT Inactive() { return NOERROR; }
    virtual HRESULT Run(REFERENCE_TIME tStart) { return NOERROR; }
    virtual HRESULT CheckMediaType(const CMediaType* pmt) = 0;
    virtual HRESULT SetMediaType(const CMediaType* pmt);
    virtual HRESULT CheckConnect(IPin* pPin);
    virtual HRESULT BreakConnect();
    virtual HRESULT CompleteConnect(IPin* pReceivePin);
    virtual HRESULT GetMediaType(int iPosition, CMediaType* pMediaType);
    virtual HRESULT DisconnectInternal();

    REFERENCE_TIME CurrentStopTime() const { return m_tStop; }
    REFERENCE_TIME CurrentStartTime() const { return m_tStart; }
    double CurrentRate() const { return m_dRate; }

protected:
    virtual HRESULT AgreeMediaType(IPin* pReceivePin, const CMediaType* pmt);
    virtual HRESULT AttemptConnection(IPin* pReceivePin, const CMediaType* pmt);
    HRESULT TryMediaTypes(IPin* pReceivePin, const CMediaType* pmt, IEnumMediaTypes* pEnum);

    LPWSTR m_pName;
    IPin* m_Connected = nullptr;
    PIN_DIRECTION m_dir;
    CCritSec* m_pLock;
    bool m_bRunTimeError = false;
    bool m_bCanReconnectWhenActive = false;
    bool m_bTryMyTypesFirst = false;
    CBaseFilter* m_pFilter;
    IQualityControl* m_pQSink = nullptr;
    LONG m_TypeVersion = 1;
    CMediaType m_mt;
    REFERENCE_TIME m_tStart = 0;
    REFERENCE_TIME m_tStop = 0x7FFFFFFFFFFFFFFFLL;
    double m_dRate = 1.0;
};

class LUMACAP_API CBaseFilter : public CUnknown, public IBaseFilter {
public:
    CBaseFilter(LPCTSTR pName, LPUNKNOWN pUnk, CCritSec* pLock, REFCLSID clsid,
                HRESULT* phr = nullptr);
    virtual ~CBaseFilter();

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IPersist
    STDMETHODIMP GetClassID(CLSID* pClsID) override;
    // IMediaFilter
    STDMETHODIMP GetState(DWORD dwMSecs, FILTER_STATE* State) override;
    STDMETHODIMP SetSyncSource(IReferenceClock* pClock) override;
    STDMETHODIMP GetSyncSource(IReferenceClock** pClock) override;
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Run(REFERENCE_TIME tStart) override;
    // IBaseFilter
    STDMETHODIMP EnumPins(IEnumPins** ppEnum) override;
    STDMETHODIMP FindPin(LPCWSTR Id, IPin** ppPin) override;
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* pInfo) override;
    STDMETHODIMP JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) override;
    STDMETHODIMP QueryVendorInfo(LPWSTR* pVendorInfo) override;

    virtual int GetPinCount() = 0;
    virtual CBasePin* GetPin(int n) = 0;
    virtual LONG GetPinVersion() { return m_PinVersion; }
    void IncrementPinVersion() { ++m_PinVersion; }

    BOOL IsActive();
    BOOL IsStopped();
    // Sends an event to the graph the filter belongs to (nothing when it belongs to none).
    HRESULT NotifyEvent(long EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2);
    IFilterGraph* GetFilterGraph() { return m_pGraph; }
    HRESULT StreamTime(REFERENCE_TIME& rtStream);

protected:
    // Written by the thread changing state, read by streaming threads.
    std::atomic<FILTER_STATE> m_State{State_Stopped};
    IReferenceClock* m_pClock = nullptr;
    REFERENCE_TIME m_tStart = 0;
    CLSID m_clsid;
    CCritSec* m_pLock;
    WCHAR* m_pName = nullptr;
    IFilterGraph* m_pGraph = nullptr;  // not counted: the graph holds the filter
    IMediaEventSink* m_pSink = nullptr;
    LONG m_PinVersion = 1;
};

// Enumerates a filter's pins; fails with VFW_E_ENUM_OUT_OF_SYNC when the filter's pins changed.
class LUMACAP_API CEnumPins : public IEnumPins, public CBaseObject {
public:
    CEnumPins(CBaseFilter* pFilter, CEnumPins* pEnumPins);
    ~CEnumPins() override;
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) override;
    STDMETHODIMP Skip(ULONG cPins) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumPins** ppEnum) override;

private:
    BOOL AreWeOutOfSync();
    int m_Position = 0;
    int m_PinCount = 0;
    CBaseFilter* m_pFilter;
    LONG m_Version = 0;
    std::atomic<LONG> m_cRef{1};
};

// Enumerates a pin's preferred media types (CBasePin::GetMediaType).
class LUMACAP_API CEnumMediaTypes : public IEnumMediaTypes, public CBaseObject {
public:
    CEnumMediaTypes(CBasePin* pPin, CEnumMediaTypes* pEnumMediaTypes);
    ~CEnumMediaTypes() override;
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) override;
    STDMETHODIMP Skip(ULONG cMediaTypes) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumMediaTypes** ppEnum) override;

private:
    BOOL AreWeOutOfSync();
    int m_Position = 0;
    CBasePin* m_pPin;
    LONG m_Version = 0;
    std::atomic<LONG> m_cRef{1};
};

// An output pin that delivers samples through the downstream pin's IMemInputPin.
class LUMACAP_API CBaseOutputPin : public CBasePin {
public:
    CBaseOutputPin(LPCTSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
                   LPCWSTR pName);

    HRESULT CompleteConnect(IPin* pReceivePin) override;
    // Chooses the allocator: the downstream pin's if it offers one, else a CMemAllocator of ours.
    virtual HRESULT DecideAllocator(IMemInputPin* pPin, IMemAllocator** pAlloc);
    virtual HRESULT DecideBufferSize(IMemAllocator* pAlloc,
                                     ALLOCATOR_PROPERTIES* ppropInputRequest) = 0;
    virtual HRESULT InitAllocator(IMemAllocator** ppAlloc);
    virtual HRESULT GetDeliveryBuffer(IMediaSample** ppSample, REFERENCE_TIME* pStartTime,
                                      REFERENCE_TIME* pEndTime, DWORD dwFlags);
    virtual HRESULT Deliver(IMediaSample* pSample);
    virtual HRESULT DeliverEndOfStream();
    virtual HRESULT DeliverBeginFlush();
    virtual HRESULT DeliverEndFlush();
    virtual HRESULT DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate);

    HRESULT CheckConnect(IPin* pPin) override;
    HRESULT BreakConnect() override;
    HRESULT Active() override;
    HRESULT Inactive() override;

    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;

    IMemAllocator* Allocator() const { return m_pAllocator; }

protected:
    IMemAllocator* m_pAllocator = nullptr;
    IMemInputPin* m_pInputPin = nullptr;
};

// An input pin that receives samples; refuses them while its filter is stopped or flushing.
class LUMACAP_API CBaseInputPin : public CBasePin, public IMemInputPin {
public:
    CBaseInputPin(LPCTSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
                  LPCWSTR pName);
    virtual ~CBaseInputPin();

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IMemInputPin
    STDMETHODIMP GetAllocator(IMemAllocator** ppAllocator) override;
    STDMETHODIMP NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) override;
    STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) override;
    STDMETHODIMP Receive(IMediaSample* pSample) override;
    STDMETHODIMP ReceiveMultiple(IMediaSample** pSamples, long nSamples,
                                 long* nSamplesProcessed) override;
    STDMETHODIMP ReceiveCanBlock() override;

    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;

    HRESULT BreakConnect() override;
    HRESULT Inactive() override;
    virtual HRESULT CheckStreaming();

    BOOL IsReadOnly() const { return m_bReadOnly; }
    BOOL IsFlushing() const { return m_bFlushing; }
    IMemAllocator* PeekAllocator() const { return m_pAllocator; }

protected:
    IMemAllocator* m_pAllocator = nullptr;
    BOOL m_bReadOnly = FALSE;
    std::atomic<BOOL> m_bFlushing{FALSE};
};

// ---- push sources -------------------------------------------------------------------------------

class CSourceStream;

// A filter made of output pins that push samples on their own threads.
class LUMACAP_API CSource : public CBaseFilter {
public:
    CSource(LPCTSTR pName, LPUNKNOWN lpunk, CLSID clsid, HRESULT* phr);
    CSource(LPCTSTR pName, LPUNKNOWN lpunk, CLSID clsid);
    ~CSource() override;

    int GetPinCount() override;
    CBasePin* GetPin(int n) override;
    CCritSec* pStateLock() { return &m_cStateLock; }

    HRESULT AddPin(CSourceStream* pStream);
    HRESULT RemovePin(CSourceStream* pStream);
    STDMETHODIMP FindPin(LPCWSTR Id, IPin** ppPin) override;
    int FindPinNumber(IPin* iPin);

protected:
    int m_iPins = 0;
    CSourceStream** m_paStreams = nullptr;
    CCritSec m_cStateLock;
};

// An output pin with a streaming thread: while the filter is active the thread asks FillBuffer to
// fill each sample taken from the allocator and delivers it downstream.
class LUMACAP_API CSourceStream : public CAMThread, public CBaseOutputPin {
public:
    CSourceStream(LPCTSTR pObjectName, HRESULT* phr, CSource* pms, LPCWSTR pName);
    ~CSourceStream() override;

protected:
    CSource* m_pFilter;

    // S_OK delivers the sample; S_FALSE ends the stream (end-of-stream is sent downstream).
    virtual HRESULT FillBuffer(IMediaSample* pSample) = 0;
    virtual HRESULT OnThreadCreate() { return NOERROR; }
    virtual HRESULT OnThreadDestroy() { return NOERROR; }
    virtual HRESULT OnThreadStartPlay() { return NOERROR; }

    HRESULT Active() override;
    HRESULT Inactive() override;

public:
    enum Command { CMD_INIT, CMD_PAUSE, CMD_RUN, CMD_STOP, CMD_EXIT };
    HRESULT Init() { return static_cast<HRESULT>(CallWorker(CMD_INIT)); }
    HRESULT Exit() { return static_cast<HRESULT>(CallWorker(CMD_EXIT)); }
    HRESULT Run() { return static_cast<HRESULT>(CallWorker(CMD_RUN)); }
    HRESULT Pause() { return static_cast<HRESULT>(CallWorker(CMD_PAUSE)); }
    HRESULT Stop() { return static_cast<HRESULT>(CallWorker(CMD_STOP)); }
    using CBasePin::Run;

protected:
    Command GetRequest() { return static_cast<Command>(CAMThread::GetRequest()); }
    BOOL CheckRequest(Command* pCom);
    DWORD ThreadProc() override;
    virtual HRESULT DoBufferProcessingLoop();

    HRESULT CheckMediaType(const CMediaType* pMediaType) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    virtual HRESULT GetMediaType(CMediaType* pMediaType) { return E_UNEXPECTED; }

    STDMETHODIMP QueryId(LPWSTR* Id) override;
};

// ---- transforms ---------------------------------------------------------------------------------

class CTransformFilter;

class LUMACAP_API CTransformInputPin : public CBaseInputPin {
public:
    CTransformInputPin(LPCTSTR pObjectName, CTransformFilter* pTransformFilter, HRESULT* phr,
                       LPCWSTR pName);

    STDMETHODIMP QueryId(LPWSTR* Id) override;
    HRESULT CheckConnect(IPin* pPin) override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin* pReceivePin) override;
    HRESULT CheckMediaType(const CMediaType* mtIn) override;
    HRESULT SetMediaType(const CMediaType* mt) override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;
    STDMETHODIMP Receive(IMediaSample* pSample) override;

    CMediaType& CurrentMediaType() { return m_mt; }

protected:
    CTransformFilter* m_pTransformFilter;
};

class LUMACAP_API CTransformOutputPin : public CBaseOutputPin {
public:
    CTransformOutputPin(LPCTSTR pObjectName, CTransformFilter* pTransformFilter, HRESULT* phr,
                        LPCWSTR pName);

    STDMETHODIMP QueryId(LPWSTR* Id) override;
    HRESULT CheckConnect(IPin* pPin) override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin* pReceivePin) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) override;
    HRESULT CheckMediaType(const CMediaType* mtOut) override;
    HRESULT SetMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    STDMETHODIMP Notify(IBaseFilter* pSender, Quality q) override;

    CMediaType& CurrentMediaType() { return m_mt; }

protected:
    CTransformFilter* m_pTransformFilter;
};

// A filter with one input and one output that turns each input sample into an output sample.
class LUMACAP_API CTransformFilter : public CBaseFilter {
public:
    CTransformFilter(LPCTSTR pName, LPUNKNOWN pUnk, REFCLSID clsid);
    ~CTransformFilter() override;

    int GetPinCount() override;
    CBasePin* GetPin(int n) override;
    STDMETHODIMP FindPin(LPCWSTR Id, IPin** ppPin) override;
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;

    // What a transform must say.
    virtual HRESULT Transform(IMediaSample* pIn, IMediaSample* pOut);
    virtual HRESULT CheckInputType(const CMediaType* mtIn) = 0;
    virtual HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) = 0;
    virtual HRESULT DecideBufferSize(IMemAllocator* pAllocator, ALLOCATOR_PROPERTIES* pprop) = 0;
    virtual HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) = 0;

    // What it may refine.
    virtual HRESULT StartStreaming() { return NOERROR; }
    virtual HRESULT StopStreaming() { return NOERROR; }
    virtual HRESULT AlterQuality(Quality q) { return S_FALSE; }
    virtual HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) { return NOERROR; }
    virtual HRESULT CheckConnect(PIN_DIRECTION dir, IPin* pPin) { return NOERROR; }
    virtual HRESULT BreakConnect(PIN_DIRECTION dir) { return NOERROR; }
    virtual HRESULT CompleteConnect(PIN_DIRECTION direction, IPin* pReceivePin) { return NOERROR; }
    virtual HRESULT Receive(IMediaSample* pSample);
    virtual HRESULT InitializeOutputSample(IMediaSample* pSample, IMediaSample** ppOutSample);
    virtual HRESULT EndOfStream();
    virtual HRESULT BeginFlush();
    virtual HRESULT EndFlush();
    virtual HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate);

    CTransformInputPin* InputPin() { return m_pInput; }
    CTransformOutputPin* OutputPin() { return m_pOutput; }

protected:
    friend class CTransformInputPin;
    friend class CTransformOutputPin;

    BOOL m_bEOSDelivered = FALSE;
    BOOL m_bSampleSkipped = FALSE;
    BOOL m_bQualityChanged = FALSE;
    CCritSec m_csFilter;   // filter state
    CCritSec m_csReceive;  // the streaming path
    CTransformInputPin* m_pInput = nullptr;
    CTransformOutputPin* m_pOutput = nullptr;
};

class CTransInPlaceFilter;

class LUMACAP_API CTransInPlaceInputPin : public CTransformInputPin {
public:
    CTransInPlaceInputPin(LPCTSTR pObjectName, CTransInPlaceFilter* pFilter, HRESULT* phr,
                          LPCWSTR pName);
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    STDMETHODIMP GetAllocator(IMemAllocator** ppAllocator) override;
    STDMETHODIMP NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) override;
    STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) override;

protected:
    CTransInPlaceFilter* m_pTIPFilter;
};

class LUMACAP_API CTransInPlaceOutputPin : public CTransformOutputPin {
public:
    CTransInPlaceOutputPin(LPCTSTR pObjectName, CTransInPlaceFilter* pFilter, HRESULT* phr,
                           LPCWSTR pName);
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    // Passes the upstream allocator through, so samples travel without a copy.
    HRESULT DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc) override;

protected:
    CTransInPlaceFilter* m_pTIPFilter;
};

// A transform that works on the sample it receives and passes that same sample on.
class LUMACAP_API CTransInPlaceFilter : public CTransformFilter {
public:
    CTransInPlaceFilter(LPCTSTR pName, LPUNKNOWN pUnk, REFCLSID clsid, HRESULT* phr,
                        bool bModifiesData = true);

    CBasePin* GetPin(int n) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override { return E_UNEXPECTED; }
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) override;
    HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) override {
        return S_OK;
    }
    HRESULT CompleteConnect(PIN_DIRECTION dir, IPin* pReceivePin) override;
    HRESULT Receive(IMediaSample* pSample) override;

    virtual HRESULT Transform(IMediaSample* pSample) = 0;

protected:
    friend class CTransInPlaceInputPin;
    friend class CTransInPlaceOutputPin;
    IMediaSample* Copy(IMediaSample* pSource);
    bool UsingDifferentAllocators() const;
    bool m_bModifiesData;
};

// ---- renderers ----------------------------------------------------------------------------------

class CBaseRenderer;

class LUMACAP_API CRendererInputPin : public CBaseInputPin {
public:
    CRendererInputPin(CBaseRenderer* pRenderer, HRESULT* phr, LPCWSTR Name);
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP Receive(IMediaSample* pMediaSample) override;
    STDMETHODIMP QueryId(LPWSTR* Id) override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin* pReceivePin) override;
    HRESULT SetMediaType(const CMediaType* pmt) override;
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT Active() override;
    HRESULT Inactive() override;

protected:
    CBaseRenderer* m_pRenderer;
};

// The end of a stream. While paused it holds the first sample it gets (the graph's pause is then
// complete) and blocks the stream until it runs; while running it renders every sample at once
// (capture streams are live: they are shown when they arrive).
class LUMACAP_API CBaseRenderer : public CBaseFilter {
public:
    CBaseRenderer(REFCLSID RenderClass, LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr);
    ~CBaseRenderer() override;

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override;
    STDMETHODIMP FindPin(LPCWSTR Id, IPin** ppPin) override;
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Run(REFERENCE_TIME StartTime) override;
    STDMETHODIMP GetState(DWORD dwMSecs, FILTER_STATE* State) override;

    virtual HRESULT CheckMediaType(const CMediaType*) = 0;
    virtual HRESULT DoRenderSample(IMediaSample* pMediaSample) = 0;
    virtual HRESULT SetMediaType(const CMediaType* pmt) { return NOERROR; }
    virtual HRESULT BreakConnect() { return NOERROR; }
    virtual HRESULT CompleteConnect(IPin* pReceivePin) { return NOERROR; }
    virtual HRESULT OnStartStreaming() { return NOERROR; }
    virtual HRESULT OnStopStreaming() { return NOERROR; }
    virtual HRESULT Receive(IMediaSample* pMediaSample);
    virtual HRESULT EndOfStream();
    virtual HRESULT BeginFlush();
    virtual HRESULT EndFlush();

    CRendererInputPin* InputPin() { return m_pInputPin; }
    LONG SamplesRendered() const { return m_lRendered.load(); }

protected:
    friend class CRendererInputPin;
    // Wakes a stream held in a pause (run, stop, flush).
    void ReleaseHeldSample();

    CCritSec m_InterfaceLock;
    CCritSec m_RendererLock;
    CRendererInputPin* m_pInputPin = nullptr;
    std::mutex m_waitMutex;
    std::condition_variable m_waitCv;
    FILTER_STATE m_streamState = State_Stopped;  // the state as the streaming thread sees it
    bool m_bHaveSample = false;                  // a sample arrived since the pause began (cued)
    bool m_bAbort = false;                       // stop or flush: release a held stream
    bool m_bEOS = false;
    std::atomic<LONG> m_lRendered{0};
};
