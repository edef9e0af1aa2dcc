// The smart tee (CLSID_SmartTee): splits a capture stream into a capture and a preview stream.
// Both outputs pass on the sample they received (read-only), so the split copies nothing unless a
// downstream pin insists on its own buffers. Preview samples carry no time stamps, so a preview
// renderer shows each picture as it comes instead of waiting for its time. A paused tee cannot cue
// data: it answers VFW_S_CANT_CUE, as the live source before it would.
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include <streams.h>

#include "platform/system/com/ClassRegistry.h"
#include "platform/system/dshow/FilterRegistry.h"

namespace lumacap::dshow {
namespace {

class SmartTee;
class PreviewSamplePool;

// A view of a received sample without its times. The pool keeps the views: a stream reuses them.
class PreviewSample final : public IMediaSample {
public:
    explicit PreviewSample(std::weak_ptr<PreviewSamplePool> pool) : m_pool(std::move(pool)) {}
    void Wrap(IMediaSample* sample) {
        m_sample = sample;
        m_sample->AddRef();
        m_ref = 1;
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IMediaSample) {
            *ppv = static_cast<IMediaSample*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_ref; }
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP GetPointer(BYTE** ppBuffer) override { return m_sample->GetPointer(ppBuffer); }
    STDMETHODIMP_(long) GetSize() override { return m_sample->GetSize(); }
    STDMETHODIMP GetTime(REFERENCE_TIME*, REFERENCE_TIME*) override {
        return VFW_E_SAMPLE_TIME_NOT_SET;
    }
    STDMETHODIMP SetTime(REFERENCE_TIME*, REFERENCE_TIME*) override { return S_OK; }
    STDMETHODIMP IsSyncPoint() override { return m_sample->IsSyncPoint(); }
    STDMETHODIMP SetSyncPoint(BOOL) override { return S_OK; }
    STDMETHODIMP IsPreroll() override { return m_sample->IsPreroll(); }
    STDMETHODIMP SetPreroll(BOOL) override { return S_OK; }
    STDMETHODIMP_(long) GetActualDataLength() override { return m_sample->GetActualDataLength(); }
    STDMETHODIMP SetActualDataLength(long) override { return S_OK; }
    STDMETHODIMP GetMediaType(AM_MEDIA_TYPE** ppMediaType) override {
        return m_sample->GetMediaType(ppMediaType);
    }
    STDMETHODIMP SetMediaType(AM_MEDIA_TYPE*) override { return S_OK; }
    STDMETHODIMP IsDiscontinuity() override { return m_sample->IsDiscontinuity(); }
    STDMETHODIMP SetDiscontinuity(BOOL) override { return S_OK; }
    STDMETHODIMP GetMediaTime(LONGLONG*, LONGLONG*) override { return VFW_E_MEDIA_TIME_NOT_SET; }
    STDMETHODIMP SetMediaTime(LONGLONG*, LONGLONG*) override { return S_OK; }

private:
    std::weak_ptr<PreviewSamplePool> m_pool;
    IMediaSample* m_sample = nullptr;
    std::atomic<ULONG> m_ref{0};
};

// The views not in use. A view released after its pool is gone deletes itself.
class PreviewSamplePool : public std::enable_shared_from_this<PreviewSamplePool> {
public:
    ~PreviewSamplePool() {
        for (PreviewSample* s : m_free) delete s;
    }
    PreviewSample* Take(IMediaSample* sample) {
        PreviewSample* view = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_free.empty()) {
                view = m_free.back();
                m_free.pop_back();
            }
        }
        if (!view) view = new PreviewSample(shared_from_this());
        view->Wrap(sample);
        return view;
    }
    void Give(PreviewSample* view) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_free.push_back(view);
    }

private:
    std::mutex m_mutex;
    std::vector<PreviewSample*> m_free;
};

STDMETHODIMP_(ULONG) PreviewSample::Release() {
    const ULONG left = --m_ref;
    if (left == 0) {
        IMediaSample* sample = m_sample;
        m_sample = nullptr;
        if (auto pool = m_pool.lock())
            pool->Give(this);
        else
            delete this;
        sample->Release();
    }
    return left;
}

class TeeInput final : public CBaseInputPin {
public:
    TeeInput(SmartTee* tee, CCritSec* lock, HRESULT* phr);
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    STDMETHODIMP Receive(IMediaSample* pSample) override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

private:
    SmartTee* m_tee;
};

// An output carries the input's type. Before the input is connected it has no type to offer.
class TeeOutput final : public CBaseOutputPin {
public:
    TeeOutput(SmartTee* tee, CCritSec* lock, HRESULT* phr, LPCWSTR name, bool preview);

    STDMETHODIMP Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* pmt) override;
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pmt) override;
    HRESULT DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc) override;

protected:
    HRESULT AgreeMediaType(IPin* pReceivePin, const CMediaType* pmt) override;

public:
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) override;
    HRESULT Active() override;
    HRESULT Inactive() override;
    HRESULT DeliverSample(IMediaSample* pSample);

private:
    SmartTee* m_tee;
    bool m_preview;
    bool m_sharesUpstream = false;
    std::shared_ptr<PreviewSamplePool> m_views = std::make_shared<PreviewSamplePool>();
};

class SmartTee final : public CBaseFilter {
public:
    explicit SmartTee(HRESULT* phr)
        : CBaseFilter(NAME("Smart Tee"), nullptr, &m_lock, CLSID_SmartTee, phr),
          m_input(this, &m_lock, phr),
          m_capture(this, &m_lock, phr, L"Capture", false),
          m_preview(this, &m_lock, phr, L"Preview", true) {}

    int GetPinCount() override { return 3; }
    CBasePin* GetPin(int n) override {
        switch (n) {
            case 0:
                return &m_input;
            case 1:
                return &m_capture;
            case 2:
                return &m_preview;
            default:
                return nullptr;
        }
    }

    STDMETHODIMP GetState(DWORD dwMSecs, FILTER_STATE* State) override {
        const HRESULT hr = CBaseFilter::GetState(dwMSecs, State);
        return hr == S_OK && *State == State_Paused ? VFW_S_CANT_CUE : hr;
    }

    TeeInput& Input() { return m_input; }
    TeeOutput& Capture() { return m_capture; }
    TeeOutput& Preview() { return m_preview; }
    CCritSec& ReceiveLock() { return m_receiveLock; }

private:
    CCritSec m_lock;
    CCritSec m_receiveLock;
    TeeInput m_input;
    TeeOutput m_capture;
    TeeOutput m_preview;
};

TeeInput::TeeInput(SmartTee* tee, CCritSec* lock, HRESULT* phr)
    : CBaseInputPin(NAME("Smart Tee input"), tee, lock, phr, L"Input"), m_tee(tee) {}

HRESULT TeeInput::CheckMediaType(const CMediaType* pmt) {
    return pmt->IsValid() ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

STDMETHODIMP TeeInput::Receive(IMediaSample* pSample) {
    CAutoLock lock(&m_tee->ReceiveLock());
    HRESULT hr = CBaseInputPin::Receive(pSample);
    if (hr != S_OK) return hr;
    const HRESULT hrCapture =
        m_tee->Capture().IsConnected() ? m_tee->Capture().DeliverSample(pSample) : S_OK;
    // The preview stream never holds up the capture stream's result.
    if (m_tee->Preview().IsConnected()) m_tee->Preview().DeliverSample(pSample);
    return m_tee->Capture().IsConnected() ? hrCapture : S_OK;
}

STDMETHODIMP TeeInput::EndOfStream() {
    if (m_tee->Capture().IsConnected()) m_tee->Capture().DeliverEndOfStream();
    if (m_tee->Preview().IsConnected()) m_tee->Preview().DeliverEndOfStream();
    return S_OK;
}

STDMETHODIMP TeeInput::BeginFlush() {
    CBaseInputPin::BeginFlush();
    if (m_tee->Capture().IsConnected()) m_tee->Capture().DeliverBeginFlush();
    if (m_tee->Preview().IsConnected()) m_tee->Preview().DeliverBeginFlush();
    return S_OK;
}

STDMETHODIMP TeeInput::EndFlush() {
    if (m_tee->Capture().IsConnected()) m_tee->Capture().DeliverEndFlush();
    if (m_tee->Preview().IsConnected()) m_tee->Preview().DeliverEndFlush();
    return CBaseInputPin::EndFlush();
}

STDMETHODIMP TeeInput::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
    CBasePin::NewSegment(tStart, tStop, dRate);
    if (m_tee->Capture().IsConnected()) m_tee->Capture().DeliverNewSegment(tStart, tStop, dRate);
    if (m_tee->Preview().IsConnected()) m_tee->Preview().DeliverNewSegment(tStart, tStop, dRate);
    return S_OK;
}

TeeOutput::TeeOutput(SmartTee* tee, CCritSec* lock, HRESULT* phr, LPCWSTR name, bool preview)
    : CBaseOutputPin(NAME("Smart Tee output"), tee, lock, phr, name),
      m_tee(tee),
      m_preview(preview) {}

STDMETHODIMP TeeOutput::Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) {
    if (!m_tee->Input().IsConnected()) return VFW_E_NOT_CONNECTED;
    return CBaseOutputPin::Connect(pReceivePin, pmt);
}

STDMETHODIMP TeeOutput::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    if (!m_tee->Input().IsConnected()) return VFW_E_NOT_CONNECTED;
    return CBaseOutputPin::EnumMediaTypes(ppEnum);
}

// The input's own type, or any the source before the tee says it could produce.
STDMETHODIMP TeeOutput::QueryAccept(const AM_MEDIA_TYPE* pmt) {
    if (!pmt) return E_POINTER;
    TeeInput& input = m_tee->Input();
    IPin* upstream = input.GetConnected();
    if (!upstream) return S_FALSE;
    const CMediaType& in = input.CurrentMediaType();
    if (pmt->majortype == in.majortype && pmt->subtype == in.subtype &&
        pmt->formattype == in.formattype && pmt->cbFormat == in.cbFormat &&
        (!pmt->cbFormat || !std::memcmp(pmt->pbFormat, in.pbFormat, pmt->cbFormat)))
        return S_OK;
    return upstream->QueryAccept(pmt);
}

// A connection carries exactly the input's type: samples pass through unchanged.
HRESULT TeeOutput::CheckMediaType(const CMediaType* pmt) {
    if (!m_tee->Input().IsConnected()) return VFW_E_NOT_CONNECTED;
    return m_tee->Input().CurrentMediaType() == *pmt ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

// Only the input's type can connect, so it is the only one tried: enumerating the upstream pin's
// types here would take its filter's lock under ours, the reverse of its connection to our input.
HRESULT TeeOutput::AgreeMediaType(IPin* pReceivePin, const CMediaType* pmt) {
    const CMediaType& in = m_tee->Input().CurrentMediaType();
    if (pmt && !in.MatchesPartial(pmt)) return VFW_E_NO_ACCEPTABLE_TYPES;
    return AttemptConnection(pReceivePin, &in);
}

// The input's type first, then the upstream pin's preferred types.
HRESULT TeeOutput::GetMediaType(int iPosition, CMediaType* pmt) {
    if (iPosition < 0) return E_INVALIDARG;
    TeeInput& input = m_tee->Input();
    IPin* upstream = input.GetConnected();
    if (!upstream) return VFW_S_NO_MORE_ITEMS;
    if (iPosition == 0) {
        *pmt = input.CurrentMediaType();
        return S_OK;
    }
    IEnumMediaTypes* types = nullptr;
    if (FAILED(upstream->EnumMediaTypes(&types)) || !types) return VFW_S_NO_MORE_ITEMS;
    HRESULT hr = VFW_S_NO_MORE_ITEMS;
    AM_MEDIA_TYPE* mt = nullptr;
    if (types->Skip(static_cast<ULONG>(iPosition - 1)) == S_OK &&
        types->Next(1, &mt, nullptr) == S_OK && mt) {
        *pmt = *mt;
        DeleteMediaType(mt);
        hr = S_OK;
    }
    types->Release();
    return hr;
}

HRESULT TeeOutput::DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc) {
    *ppAlloc = nullptr;
    IMemAllocator* upstream = m_tee->Input().PeekAllocator();
    if (upstream && SUCCEEDED(pPin->NotifyAllocator(upstream, TRUE))) {
        upstream->AddRef();
        *ppAlloc = upstream;
        m_sharesUpstream = true;
        return S_OK;
    }
    m_sharesUpstream = false;
    return CBaseOutputPin::DecideAllocator(pPin, ppAlloc);
}

HRESULT TeeOutput::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) {
    ALLOCATOR_PROPERTIES request = *pProp;
    if (request.cBuffers < 2) request.cBuffers = 2;
    const long size = static_cast<long>(m_tee->Input().CurrentMediaType().GetSampleSize());
    if (request.cbBuffer < size) request.cbBuffer = size;
    IMemAllocator* upstream = m_tee->Input().PeekAllocator();
    ALLOCATOR_PROPERTIES in{};
    if (upstream && SUCCEEDED(upstream->GetProperties(&in)) && request.cbBuffer < in.cbBuffer)
        request.cbBuffer = in.cbBuffer;
    if (request.cbBuffer < 1) request.cbBuffer = 1;
    if (request.cbAlign < 1) request.cbAlign = 1;
    ALLOCATOR_PROPERTIES actual{};
    return pAlloc->SetProperties(&request, &actual);
}

// A shared allocator is the upstream pin's to commit and decommit.
HRESULT TeeOutput::Active() {
    return m_sharesUpstream ? S_OK : CBaseOutputPin::Active();
}
HRESULT TeeOutput::Inactive() {
    return m_sharesUpstream ? S_OK : CBaseOutputPin::Inactive();
}

HRESULT TeeOutput::DeliverSample(IMediaSample* pSample) {
    if (m_sharesUpstream) {
        if (!m_preview) return Deliver(pSample);
        PreviewSample* view = m_views->Take(pSample);
        const HRESULT hr = Deliver(view);
        view->Release();
        return hr;
    }
    IMediaSample* copy = nullptr;
    HRESULT hr = GetDeliveryBuffer(&copy, nullptr, nullptr, 0);
    if (FAILED(hr)) return hr;
    BYTE* src = nullptr;
    BYTE* dst = nullptr;
    pSample->GetPointer(&src);
    copy->GetPointer(&dst);
    long length = pSample->GetActualDataLength();
    if (length > copy->GetSize()) length = copy->GetSize();
    std::memcpy(dst, src, static_cast<size_t>(length));
    copy->SetActualDataLength(length);
    REFERENCE_TIME start = 0, stop = 0;
    if (!m_preview && SUCCEEDED(pSample->GetTime(&start, &stop))) copy->SetTime(&start, &stop);
    if (m_preview) copy->SetTime(nullptr, nullptr);
    copy->SetSyncPoint(pSample->IsSyncPoint() == S_OK);
    hr = Deliver(copy);
    copy->Release();
    return hr;
}

}  // namespace

LUMACAP_REGISTER_CLASS(CLSID_SmartTee, "Smart Tee", CreateComInstance<SmartTee>);
// Installed in the legacy filter category, where the mapper finds it.
static const BuiltinFilter s_tee(CLSID_SmartTee, L"Smart Tee", MERIT_DO_NOT_USE,
                                 {{0, {{GUID_NULL, GUID_NULL}}},
                                  {REG_PINFLAG_B_OUTPUT, {{GUID_NULL, GUID_NULL}}},
                                  {REG_PINFLAG_B_OUTPUT, {{GUID_NULL, GUID_NULL}}}});

}  // namespace lumacap::dshow
