// The sample grabber (CLSID_SampleGrabber): an in-place filter that accepts the (possibly partial)
// type it is given, keeps a copy of the latest sample when asked to (lent to readers by reference
// or copied out for them), and calls the application's callback for every sample on the streaming
// thread.
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include <qedit.h>
#include <streams.h>

#include "platform/system/com/ClassRegistry.h"
#include "platform/system/dshow/FilterRegistry.h"
#include "platform/system/dshow/HeldFrame.h"
#include "platform/sim/Faults.h"

namespace lumacap::dshow {
namespace {

class SampleGrabber final : public CTransInPlaceFilter, public ISampleGrabber {
public:
    explicit SampleGrabber(HRESULT* phr)
        : CTransInPlaceFilter(NAME("Sample Grabber"), nullptr, CLSID_SampleGrabber, phr, false) {}

    ~SampleGrabber() override {
        if (m_callback) m_callback->Release();
        // Readers still holding a frame keep it alive on their own reference.
        if (m_current) m_current->Drop();
        for (HeldFrame* frame : m_spare) frame->Drop();
    }

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_ISampleGrabber)
            return GetInterface(static_cast<ISampleGrabber*>(this), ppv);
        return CTransInPlaceFilter::NonDelegatingQueryInterface(riid, ppv);
    }

    HRESULT CheckInputType(const CMediaType* pmt) override {
        if (!pmt) return E_POINTER;
        std::lock_guard<std::mutex> lock(m_mutex);
        // No major type set means no preference at all, whatever else the type names.
        if (m_accept.majortype == GUID_NULL) return S_OK;
        if (pmt->majortype != m_accept.majortype) return VFW_E_TYPE_NOT_ACCEPTED;
        if (m_accept.subtype != GUID_NULL && pmt->subtype != m_accept.subtype)
            return VFW_E_TYPE_NOT_ACCEPTED;
        if (m_accept.formattype != GUID_NULL && pmt->formattype != m_accept.formattype)
            return VFW_E_TYPE_NOT_ACCEPTED;
        return S_OK;
    }

    STDMETHODIMP Pause() override {
        {
            CAutoLock lock(&m_csFilter);
            if (m_State == State_Stopped) m_oneShotDone = false;
        }
        return CTransInPlaceFilter::Pause();
    }

    // One-shot: after the first sample the stream ends here. The end travels downstream, so the
    // renderer reports the completion and the graph passes it on once every stream has ended.
    HRESULT Receive(IMediaSample* pSample) override {
        if (m_oneShot && m_oneShotDone) return S_FALSE;
        const HRESULT hr = CTransInPlaceFilter::Receive(pSample);
        if (m_oneShot && !m_oneShotDone.exchange(true) && m_pOutput->IsConnected())
            m_pOutput->DeliverEndOfStream();
        return hr;
    }

    HRESULT Transform(IMediaSample* pSample) override {
        BYTE* data = nullptr;
        pSample->GetPointer(&data);
        const long length = pSample->GetActualDataLength();
        if (m_bufferSamples) Buffer(pSample, data, length);
        ISampleGrabberCB* callback = nullptr;
        long which = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            callback = m_callback;
            which = m_which;
            if (callback) callback->AddRef();
        }
        if (callback) {
            REFERENCE_TIME start = 0, stop = 0;
            pSample->GetTime(&start, &stop);
            const double seconds = static_cast<double>(start) / 10000000.0;
            if (which == 0)
                callback->SampleCB(seconds, pSample);
            else
                callback->BufferCB(seconds, data, length);
            callback->Release();
        }
        return S_OK;
    }

    // ISampleGrabber
    STDMETHODIMP SetOneShot(BOOL OneShot) override {
        LUMACAP_FAULT_POINT("ISampleGrabber::SetOneShot");
        m_oneShot = OneShot != FALSE;
        m_oneShotDone = false;
        return S_OK;
    }

    STDMETHODIMP SetMediaType(const AM_MEDIA_TYPE* pType) override {
        LUMACAP_FAULT_POINT("ISampleGrabber::SetMediaType");
        if (!pType) return E_POINTER;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_accept = *pType;
        return S_OK;
    }

    STDMETHODIMP GetConnectedMediaType(AM_MEDIA_TYPE* pType) override {
        LUMACAP_FAULT_POINT("ISampleGrabber::GetConnectedMediaType");
        if (!pType) return E_POINTER;
        CAutoLock lock(&m_csFilter);
        GetPin(0);
        if (!m_pInput->IsConnected()) return VFW_E_NOT_CONNECTED;
        return CopyMediaType(pType, &m_pInput->CurrentMediaType());
    }

    STDMETHODIMP SetBufferSamples(BOOL BufferThem) override {
        LUMACAP_FAULT_POINT("ISampleGrabber::SetBufferSamples");
        m_bufferSamples = BufferThem != FALSE;
        return S_OK;
    }

    STDMETHODIMP GetCurrentBuffer(long* pBufferSize, long* pBuffer) override {
        LUMACAP_FAULT_POINT("ISampleGrabber::GetCurrentBuffer");
        if (!pBufferSize) return E_POINTER;
        {
            CAutoLock lock(&m_csFilter);
            GetPin(0);
            if (!m_pInput->IsConnected()) return VFW_E_NOT_CONNECTED;
        }
        if (!m_bufferSamples) return E_INVALIDARG;
        // Nothing buffered yet: the grabber is in the wrong state to answer.
        HeldFrame* frame = Latest();
        if (!frame) return VFW_E_WRONG_STATE;
        const long size = frame->Length();
        HRESULT hr = S_OK;
        if (!pBuffer) {
            *pBufferSize = size;
        } else if (*pBufferSize < size) {
            hr = E_OUTOFMEMORY;
        } else {
            // Copied without the lock: the frame is not refilled while it is held.
            if (size > 0) std::memcpy(pBuffer, frame->Data(), static_cast<size_t>(size));
            *pBufferSize = size;
        }
        frame->Release();
        return hr;
    }

    // The latest frame itself, with a reference for the caller: it stays as it is until released,
    // however many frames pass meanwhile.
    STDMETHODIMP GetCurrentSample(IMediaSample** ppSample) override {
        LUMACAP_FAULT_POINT("ISampleGrabber::GetCurrentSample");
        if (!ppSample) return E_POINTER;
        *ppSample = nullptr;
        {
            CAutoLock lock(&m_csFilter);
            GetPin(0);
            if (!m_pInput->IsConnected()) return VFW_E_NOT_CONNECTED;
        }
        if (!m_bufferSamples) return E_INVALIDARG;
        HeldFrame* frame = Latest();
        if (!frame) return VFW_E_WRONG_STATE;
        m_lent = true;
        *ppSample = frame;
        return S_OK;
    }

    STDMETHODIMP SetCallback(ISampleGrabberCB* pCallback, long WhichMethodToCallback) override {
        LUMACAP_FAULT_POINT("ISampleGrabber::SetCallback");
        if (WhichMethodToCallback != 0 && WhichMethodToCallback != 1) return E_INVALIDARG;
        if (pCallback) pCallback->AddRef();
        ISampleGrabberCB* old = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            old = m_callback;
            m_callback = pCallback;
            m_which = WhichMethodToCallback;
        }
        if (old) old->Release();
        return S_OK;
    }

private:
    // The latest frame with a reader's reference, or null before the first.
    HeldFrame* Latest() {
        std::lock_guard<std::mutex> lock(m_bufferMutex);
        if (m_current) m_current->AddRef();
        return m_current;
    }

    // Copies the sample into a kept frame no reader holds, then makes it the latest. Frames are
    // reused, so once every reader has had its frame no allocation is made; only a reader still
    // holding each older frame makes the grabber keep one more.
    //
    // A reader taking frames by reference may still hold one when two more have arrived, and the
    // second then needs a third frame. That third frame is made (and written) as soon as frames
    // are lent, so memory reaches its level when a recording starts rather than the first time a
    // busy machine slows the reader down, possibly hours in.
    static constexpr size_t kLentFrames = 3;
    void Buffer(IMediaSample* pSample, const BYTE* data, long length) {
        HeldFrame* frame = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_bufferMutex);
            for (size_t i = 0; i < m_spare.size(); ++i) {
                if (!m_spare[i]->Unshared()) continue;
                frame = m_spare[i];
                m_spare[i] = m_spare.back();
                m_spare.pop_back();
                break;
            }
        }
        if (!frame) frame = new (std::nothrow) HeldFrame();
        if (!frame) return;
        // Only this thread reaches a frame that is neither the latest nor held by a reader.
        frame->Fill(pSample, data, length);
        bool another = false;
        {
            std::lock_guard<std::mutex> lock(m_bufferMutex);
            if (m_current) m_spare.push_back(m_current);
            m_current = frame;
            another = m_lent && m_spare.size() + 1 < kLentFrames;
        }
        if (!another) return;
        HeldFrame* extra = new (std::nothrow) HeldFrame();
        if (!extra) return;
        extra->Fill(pSample, data, length);
        std::lock_guard<std::mutex> lock(m_bufferMutex);
        m_spare.push_back(extra);
    }

    std::mutex m_mutex;  // accepted type and callback
    CMediaType m_accept{&GUID_NULL};
    ISampleGrabberCB* m_callback = nullptr;
    long m_which = 0;
    std::atomic<bool> m_bufferSamples{false};
    std::atomic<bool> m_oneShot{false};
    std::atomic<bool> m_oneShotDone{false};
    std::atomic<bool> m_lent{false};  // a frame has been lent by reference
    std::mutex m_bufferMutex;         // the two below
    HeldFrame* m_current = nullptr;
    std::vector<HeldFrame*> m_spare;
};

}  // namespace

LUMACAP_REGISTER_CLASS(CLSID_SampleGrabber, "SampleGrabber", CreateComInstance<SampleGrabber>);
// Installed in the legacy filter category, where the mapper finds it.
static const BuiltinFilter s_grabber(CLSID_SampleGrabber, L"SampleGrabber", MERIT_DO_NOT_USE,
                                     {{0, {{GUID_NULL, GUID_NULL}}},
                                      {REG_PINFLAG_B_OUTPUT, {{GUID_NULL, GUID_NULL}}}});

}  // namespace lumacap::dshow
