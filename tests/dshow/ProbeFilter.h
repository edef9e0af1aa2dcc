// A filter for watching a graph from inside: it records the state changes it is asked for, and
// its output (when it has one) delivers only what the test hands it, from the test's thread.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include <streams.h>

namespace lumacap::test {

constexpr GUID CLSID_Probe = {
    0x6d1d3a10, 0x51a2, 0x4f1e, {0x9b, 0x11, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70}};

// What the probes of one test were asked, in order: "B.Pause", "A.Run"...
struct ProbeLog {
    std::mutex mutex;
    std::vector<std::string> calls;
    void Add(const std::string& call) {
        std::lock_guard<std::mutex> lock(mutex);
        calls.push_back(call);
    }
};

class ProbeFilter final : public CBaseFilter {
public:
    class Input final : public CBaseInputPin {
    public:
        Input(ProbeFilter* f, HRESULT* phr)
            : CBaseInputPin(NAME("probe in"), f, &f->m_lock, phr, L"In") {}
        HRESULT CheckMediaType(const CMediaType* mt) override {
            return mt->majortype == MEDIATYPE_Video ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
        }
    };
    class Output final : public CBaseOutputPin {
    public:
        Output(ProbeFilter* f, HRESULT* phr)
            : CBaseOutputPin(NAME("probe out"), f, &f->m_lock, phr, L"Out") {}
        HRESULT CheckMediaType(const CMediaType* mt) override {
            return mt->majortype == MEDIATYPE_Video ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
        }
        // Uncompressed 32x2 RGB32, so renderers of every kind take it.
        HRESULT GetMediaType(int i, CMediaType* mt) override {
            if (i != 0) return VFW_S_NO_MORE_ITEMS;
            VIDEOINFOHEADER vih{};
            vih.bmiHeader = {sizeof(BITMAPINFOHEADER), 32, 2, 1, 32, BI_RGB, 256, 0, 0, 0, 0};
            mt->SetType(&MEDIATYPE_Video);
            mt->SetSubtype(&MEDIASUBTYPE_RGB32);
            mt->SetFormatType(&FORMAT_VideoInfo);
            mt->SetFormat(reinterpret_cast<BYTE*>(&vih), sizeof(vih));
            mt->SetSampleSize(256);
            return S_OK;
        }
        HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* props) override {
            props->cBuffers = 2;
            props->cbBuffer = 256;
            ALLOCATOR_PROPERTIES actual{};
            return alloc->SetProperties(props, &actual);
        }
        // Delivers one sample, as a source's streaming thread would.
        HRESULT Send() {
            IMediaSample* sample = nullptr;
            HRESULT hr = GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
            if (FAILED(hr)) return hr;
            hr = Deliver(sample);
            sample->Release();
            return hr;
        }
    };

    // A probe named `name` with an input, an output, or both.
    ProbeFilter(const char* name, bool input, bool output, ProbeLog* log, HRESULT* phr)
        : CBaseFilter(NAME("probe"), nullptr, &m_lock, CLSID_Probe, phr), m_name(name), m_log(log) {
        if (input) m_in = std::make_unique<Input>(this, phr);
        if (output) m_out = std::make_unique<Output>(this, phr);
    }
    int GetPinCount() override { return (m_in ? 1 : 0) + (m_out ? 1 : 0); }
    CBasePin* GetPin(int n) override {
        if (n == 0) return m_in ? static_cast<CBasePin*>(m_in.get()) : m_out.get();
        return n == 1 && m_in ? m_out.get() : nullptr;
    }
    STDMETHODIMP Stop() override {
        m_log->Add(m_name + ".Stop");
        return CBaseFilter::Stop();
    }
    STDMETHODIMP Pause() override {
        m_log->Add(m_name + ".Pause");
        return CBaseFilter::Pause();
    }
    STDMETHODIMP Run(REFERENCE_TIME start) override {
        m_log->Add(m_name + ".Run");
        return CBaseFilter::Run(start);
    }
    Output* Out() { return m_out.get(); }

    // A new probe as an IBaseFilter with one reference.
    static IBaseFilter* Make(const char* name, bool input, bool output, ProbeLog* log,
                             ProbeFilter** probe = nullptr) {
        HRESULT hr = S_OK;
        auto* f = new ProbeFilter(name, input, output, log, &hr);
        IBaseFilter* out = nullptr;
        f->NonDelegatingQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&out));
        if (probe) *probe = f;
        return out;
    }

private:
    CCritSec m_lock;
    std::string m_name;
    ProbeLog* m_log;
    std::unique_ptr<Input> m_in;
    std::unique_ptr<Output> m_out;
};

}  // namespace lumacap::test
