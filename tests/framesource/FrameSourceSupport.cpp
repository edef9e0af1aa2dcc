// Frame source test support: a sink filter that records what the pin delivers, and a fake sample.
#include "framesource/FrameSourceSupport.h"

#include <cstring>
#include <fstream>
#include <sstream>

#include <lumacap/sim.h>

#include "log/Log.h"

namespace lumacap::test {

namespace {
// {6F1D2C3B-8A4E-4F10-9E55-3C2B1A0F9D77}
const GUID CLSID_TestSink = {
    0x6f1d2c3b, 0x8a4e, 0x4f10, {0x9e, 0x55, 0x3c, 0x2b, 0x1a, 0x0f, 0x9d, 0x77}};
}  // namespace

class TestSink::InputPin : public CBaseInputPin {
public:
    InputPin(TestSink* pSink, HRESULT* phr)
        : CBaseInputPin(nullptr, pSink, &pSink->m_lock, phr, L"In"), m_pSink(pSink) {}

    HRESULT CheckMediaType(const CMediaType* pmt) override {
        if (pmt->majortype != MEDIATYPE_Video || pmt->formattype != FORMAT_VideoInfo)
            return VFW_E_TYPE_NOT_ACCEPTED;
        if (m_pSink->m_bAcceptOnly && pmt->subtype != m_pSink->m_acceptOnly)
            return VFW_E_TYPE_NOT_ACCEPTED;
        return S_OK;
    }

    STDMETHODIMP Receive(IMediaSample* pSample) override {
        const HRESULT hr = CBaseInputPin::Receive(pSample);
        if (hr != S_OK) return hr;
        REFERENCE_TIME start = -1, stop = -1;
        pSample->GetTime(&start, &stop);
        BYTE* data = nullptr;
        pSample->GetPointer(&data);
        std::lock_guard<std::mutex> lock(m_pSink->m_mutex);
        m_pSink->m_stamps.push_back({start, stop, pSample->IsSyncPoint() == S_OK});
        m_pSink->m_last.assign(data, data + pSample->GetActualDataLength());
        return S_OK;
    }

private:
    TestSink* m_pSink;
};

TestSink::TestSink(const GUID* acceptOnly)
    : CBaseFilter(nullptr, nullptr, &m_lock, CLSID_TestSink),
      m_acceptOnly(acceptOnly ? *acceptOnly : GUID{}),
      m_bAcceptOnly(acceptOnly != nullptr) {
    HRESULT hr = S_OK;
    m_pPin = new InputPin(this, &hr);
}

TestSink::~TestSink() {
    delete m_pPin;
}

CBasePin* TestSink::GetPin(int n) {
    return n == 0 ? m_pPin : nullptr;
}

std::vector<TestSink::Stamp> TestSink::Stamps() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stamps;
}

std::vector<BYTE> TestSink::LastSample() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_last;
}

size_t TestSink::Count() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stamps.size();
}

GUID TestSink::ConnectedSubtype() {
    return m_pPin->CurrentMediaType().subtype;
}

STDMETHODIMP FakeSample::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IMediaSample) {
        *ppv = static_cast<IMediaSample*>(this);
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP FakeSample::GetPointer(BYTE** ppBuffer) {
    if (!ppBuffer) return E_POINTER;
    *ppBuffer = m_buffer.data();
    return S_OK;
}

STDMETHODIMP FakeSample::GetTime(REFERENCE_TIME* pStart, REFERENCE_TIME* pEnd) {
    if (pStart) *pStart = start;
    if (pEnd) *pEnd = stop;
    return start < 0 ? VFW_E_SAMPLE_TIME_NOT_SET : S_OK;
}

STDMETHODIMP FakeSample::SetTime(REFERENCE_TIME* pStart, REFERENCE_TIME* pEnd) {
    if (setTimeResult != S_OK) return setTimeResult;
    start = pStart ? *pStart : -1;
    stop = pEnd ? *pEnd : -1;
    return S_OK;
}

STDMETHODIMP FakeSample::SetSyncPoint(BOOL b) {
    if (setSyncResult != S_OK) return setSyncResult;
    sync = b != FALSE;
    return S_OK;
}

STDMETHODIMP FakeSample::GetMediaType(AM_MEDIA_TYPE** ppType) {
    if (ppType) *ppType = nullptr;
    return S_FALSE;
}

STDMETHODIMP GrantingAllocator::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IMemAllocator) {
        *ppv = static_cast<IMemAllocator*>(this);
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP GrantingAllocator::SetProperties(ALLOCATOR_PROPERTIES* pRequest,
                                              ALLOCATOR_PROPERTIES* pActual) {
    requested = *pRequest;
    if (FAILED(result)) return result;
    *pActual = *pRequest;
    pActual->cbBuffer = m_grant;
    return S_OK;
}

STDMETHODIMP GrantingAllocator::GetProperties(ALLOCATOR_PROPERTIES* pProps) {
    *pProps = requested;
    pProps->cbBuffer = m_grant;
    return S_OK;
}

std::vector<std::string> WarnLines() {
    std::vector<std::string> out;
    const std::string path = sim::HostPath(GetCurrentLogPath());
    if (path.empty()) return out;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t warn = line.find("Warn> ");
        if (warn == std::string::npos) continue;
        // "Warn> module> text": the text follows the module's "> ".
        const size_t text = line.find("> ", warn + 6);
        if (text != std::string::npos) out.push_back(line.substr(text + 2));
    }
    return out;
}

}  // namespace lumacap::test
