// The smart tee (CLSID_SmartTee): splits a capture stream into a capture and a preview stream.
// Both outputs pass on the sample they received (read-only), so the split copies nothing unless a
// downstream pin insists on its own buffers.
#include <cstring>
#include <cwchar>

#include <streams.h>

#include "platform/system/com/ClassRegistry.h"

namespace lumacap::dshow {
namespace {

class SmartTee;

class TeeInput final : public CBaseInputPin {
public:
    TeeInput(SmartTee* tee, CCritSec* lock, HRESULT* phr);
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    STDMETHODIMP Receive(IMediaSample* pSample) override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;

private:
    SmartTee* m_tee;
};

class TeeOutput final : public CBaseOutputPin, public IKsPropertySet {
public:
    TeeOutput(SmartTee* tee, CCritSec* lock, HRESULT* phr, LPCWSTR name, const GUID& category);

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IKsPropertySet)
            return GetInterface(static_cast<IKsPropertySet*>(this), ppv);
        return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
    }

    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pmt) override;
    HRESULT DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) override;
    HRESULT Active() override;
    HRESULT Inactive() override;
    HRESULT DeliverSample(IMediaSample* pSample);

    STDMETHODIMP Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD cb,
                     DWORD* returned) override {
        if (set != AMPROPSETID_Pin || id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
        if (returned) *returned = sizeof(GUID);
        if (!data) return returned ? S_OK : E_POINTER;
        if (cb < sizeof(GUID)) return E_UNEXPECTED;
        *static_cast<GUID*>(data) = m_category;
        return S_OK;
    }
    STDMETHODIMP QuerySupported(REFGUID set, DWORD id, DWORD* support) override {
        if (set != AMPROPSETID_Pin || id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
        if (support) *support = KSPROPERTY_SUPPORT_GET;
        return S_OK;
    }

private:
    SmartTee* m_tee;
    GUID m_category;
    bool m_sharesUpstream = false;
};

class SmartTee final : public CBaseFilter {
public:
    explicit SmartTee(HRESULT* phr)
        : CBaseFilter(NAME("Smart Tee"), nullptr, &m_lock, CLSID_SmartTee, phr),
          m_input(this, &m_lock, phr),
          m_capture(this, &m_lock, phr, L"Capture", PIN_CATEGORY_CAPTURE),
          m_preview(this, &m_lock, phr, L"Preview", PIN_CATEGORY_PREVIEW) {}

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

TeeOutput::TeeOutput(SmartTee* tee, CCritSec* lock, HRESULT* phr, LPCWSTR name,
                     const GUID& category)
    : CBaseOutputPin(NAME("Smart Tee output"), tee, lock, phr, name),
      m_tee(tee),
      m_category(category) {}

HRESULT TeeOutput::CheckMediaType(const CMediaType* pmt) {
    if (!m_tee->Input().IsConnected()) return VFW_E_NOT_CONNECTED;
    return m_tee->Input().CurrentMediaType() == *pmt ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT TeeOutput::GetMediaType(int iPosition, CMediaType* pmt) {
    if (iPosition < 0) return E_INVALIDARG;
    if (iPosition > 0 || !m_tee->Input().IsConnected()) return VFW_S_NO_MORE_ITEMS;
    *pmt = m_tee->Input().CurrentMediaType();
    return S_OK;
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
    if (m_sharesUpstream) return Deliver(pSample);
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
    if (SUCCEEDED(pSample->GetTime(&start, &stop))) copy->SetTime(&start, &stop);
    copy->SetSyncPoint(pSample->IsSyncPoint() == S_OK);
    hr = Deliver(copy);
    copy->Release();
    return hr;
}

}  // namespace

LUMACAP_REGISTER_CLASS(CLSID_SmartTee, "Smart Tee", CreateComInstance<SmartTee>);

}  // namespace lumacap::dshow
