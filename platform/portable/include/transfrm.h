// Transform filters: one input, one output, and the in-place variant that passes the sample on.
#pragma once

#include "amfilter.h"
#include "ctlutil.h"

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
    ~CTransformOutputPin() override;

    // Seeking and position requests on the output go to the filter upstream of the input.
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
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
    CPosPassThru* m_pPosition = nullptr;
};

// A filter with one input and one output that turns each input sample into an output sample.
class LUMACAP_API CTransformFilter : public CBaseFilter {
public:
    CTransformFilter(LPCTSTR pName, LPUNKNOWN pUnk, REFCLSID clsid);
    ~CTransformFilter() override;

    int GetPinCount() override;
    CBasePin* GetPin(int n) override;
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
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* pmt) override;
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    // Passes the upstream allocator through, so samples travel without a copy.
    HRESULT DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc) override;

protected:
    // Offers the input's type before anything else the upstream pin could produce.
    HRESULT AgreeMediaType(IPin* pReceivePin, const CMediaType* pmt) override;
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
