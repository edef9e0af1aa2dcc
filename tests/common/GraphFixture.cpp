// Graph test helpers: the message window, device binding, pin lookup and the frame collector.
#include "common/GraphFixture.h"

#include <algorithm>
#include <cstring>

#include <lumacap/sim.h>
#include <windows.h>

namespace lumacap::test {

void GraphTest::SetUp() {
    SimTest::SetUp();
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               graph.Out()),
              S_OK);
    ASSERT_EQ(graph->QueryInterface(IID_IMediaControl, control.Out()), S_OK);
    ASSERT_EQ(graph->QueryInterface(IID_IMediaEventEx, events.Out()), S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ICaptureGraphBuilder2, builder.Out()),
              S_OK);
    ASSERT_EQ(builder->SetFiltergraph(graph), S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ISampleGrabber, grabber.Out()),
              S_OK);
    ASSERT_EQ(grabber->QueryInterface(IID_IBaseFilter, grabberFilter.Out()), S_OK);
    renderer.p = Create(CLSID_NullRenderer);
}

void GraphTest::TearDown() {
    if (grabber) grabber->SetCallback(nullptr, 0);
    if (control) control->Stop();
    renderer.Reset();
    grabberFilter.Reset();
    camera.Reset();
    grabber.Reset();
    builder.Reset();
    events.Reset();
    control.Reset();
    graph.Reset();
    SimTest::TearDown();
}

IBaseFilter* GraphTest::Create(REFCLSID clsid) {
    IBaseFilter* f = nullptr;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               reinterpret_cast<void**>(&f)),
              S_OK);
    return f;
}

int GraphTest::FilterCount() {
    ComPtr<IEnumFilters> e;
    graph->EnumFilters(&e);
    int n = 0;
    ComPtr<IBaseFilter> f;
    while (e->Next(1, &f, nullptr) == S_OK) ++n;
    return n;
}

bool GraphTest::HasFilter(const wchar_t* name) {
    ComPtr<IBaseFilter> f;
    return graph->FindFilterByName(name, &f) == S_OK;
}

HRESULT GraphTest::BuildCameraGraph(int position, const char* subtype, long width, long height) {
    camera.p = BindDevice(CLSID_VideoInputDeviceCategory, position);
    if (!camera || FAILED(graph->AddFilter(camera, L"Video Capture"))) return E_FAIL;
    if (subtype) {
        AM_MEDIA_TYPE* mt = CameraCapability(camera, subtype, width, height);
        ComPtr<IAMStreamConfig> config;
        const HRESULT hr = mt ? builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video,
                                                       camera, IID_IAMStreamConfig, config.Out())
                              : E_FAIL;
        if (SUCCEEDED(hr)) {
            EXPECT_EQ(config->SetFormat(mt), S_OK);
        }
        if (mt) DeleteMediaType(mt);
        if (FAILED(hr)) return hr;
    }
    AM_MEDIA_TYPE rgb{};
    rgb.majortype = MEDIATYPE_Video;
    rgb.subtype = MEDIASUBTYPE_RGB24;
    grabber->SetMediaType(&rgb);
    if (FAILED(graph->AddFilter(grabberFilter, L"Sample Grabber")) ||
        FAILED(graph->AddFilter(renderer, L"VideoRender")))
        return E_FAIL;
    return builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, camera, grabberFilter,
                                 renderer);
}

MessageWindow::MessageWindow() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "LumacapTestNotify";
    RegisterClassA(&wc);  // a second registration fails harmlessly
    m_hwnd = CreateWindowExA(0, "LumacapTestNotify", "notify", 0, 0, 0, 10, 10, nullptr, nullptr,
                             nullptr, nullptr);
}

MessageWindow::~MessageWindow() {
    if (m_hwnd) DestroyWindow(m_hwnd);
}

int MessageWindow::TakePosted(UINT message, LPARAM* lastLParam) {
    MSG msg;
    int count = 0;
    while (PeekMessageA(&msg, m_hwnd, message, message, PM_REMOVE)) {
        ++count;
        if (lastLParam) *lastLParam = msg.lParam;
    }
    return count;
}

int CountDevices(REFCLSID category) {
    ComPtr<ICreateDevEnum> devEnum;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ICreateDevEnum, devEnum.Out())))
        return -1;
    ComPtr<IEnumMoniker> monikers;
    if (devEnum->CreateClassEnumerator(category, &monikers, 0) != S_OK) return 0;
    int count = 0;
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, &moniker, nullptr) == S_OK) ++count;
    return count;
}

IBaseFilter* BindDevice(REFCLSID category, int position) {
    ComPtr<ICreateDevEnum> devEnum;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ICreateDevEnum, devEnum.Out())))
        return nullptr;
    ComPtr<IEnumMoniker> monikers;
    if (devEnum->CreateClassEnumerator(category, &monikers, 0) != S_OK) return nullptr;
    ComPtr<IMoniker> moniker;
    for (int i = 0; i <= position; ++i)
        if (monikers->Next(1, &moniker, nullptr) != S_OK) return nullptr;
    IBaseFilter* filter = nullptr;
    if (FAILED(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                     reinterpret_cast<void**>(&filter))))
        return nullptr;
    return filter;
}

IPin* FindPinByDirection(IBaseFilter* filter, PIN_DIRECTION dir, int n) {
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(&pins))) return nullptr;
    IPin* pin = nullptr;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_DIRECTION d;
        pin->QueryDirection(&d);
        if (d == dir && n-- == 0) return pin;
        pin->Release();
    }
    return nullptr;
}

AM_MEDIA_TYPE* CameraCapability(IBaseFilter* camera, const char* subtype, long width, long height) {
    ComPtr<IPin> pin(FindPinByDirection(camera, PINDIR_OUTPUT));
    ComPtr<IAMStreamConfig> config;
    if (!pin || FAILED(pin->QueryInterface(IID_IAMStreamConfig, config.Out()))) return nullptr;
    int count = 0, size = 0;
    config->GetNumberOfCapabilities(&count, &size);
    std::vector<BYTE> caps(static_cast<size_t>(size));
    GUID wanted = MEDIASUBTYPE_YUY2;
    if (std::strcmp(subtype, "MJPG") == 0) wanted = MEDIASUBTYPE_MJPG;
    if (std::strcmp(subtype, "RGB24") == 0) wanted = MEDIASUBTYPE_RGB24;
    for (int i = 0; i < count; ++i) {
        AM_MEDIA_TYPE* mt = nullptr;
        if (config->GetStreamCaps(i, &mt, caps.data()) != S_OK) continue;
        const auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat);
        if (mt->subtype == wanted && mt->formattype == FORMAT_VideoInfo &&
            vih->bmiHeader.biWidth == width && vih->bmiHeader.biHeight == height)
            return mt;
        DeleteMediaType(mt);
    }
    return nullptr;
}

STDMETHODIMP FrameCollector::SampleCB(double, IMediaSample* sample) {
    ++active;
    REFERENCE_TIME start, stop;
    if (SUCCEEDED(sample->GetTime(&start, &stop))) ++timed;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (std::find(samplePointers.begin(), samplePointers.end(), sample) == samplePointers.end())
            samplePointers.push_back(sample);
        if (std::find(bufferPointers.begin(), bufferPointers.end(), data) == bufferPointers.end())
            bufferPointers.push_back(data);
    }
    Record(data, sample->GetActualDataLength());
    --active;
    return S_OK;
}

STDMETHODIMP FrameCollector::BufferCB(double, BYTE* buffer, long length) {
    ++active;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (std::find(bufferPointers.begin(), bufferPointers.end(), buffer) == bufferPointers.end())
            bufferPointers.push_back(buffer);
    }
    Record(buffer, length);
    --active;
    return S_OK;
}

void FrameCollector::Record(const BYTE* buffer, long length) {
    const long number =
        (width > 0 && height > 0) ? sim::ReadFrameNumber(buffer, width, height) : -1;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_numbers.push_back(number);
        m_last.assign(buffer, buffer + length);
    }
    m_cv.notify_all();
    if (const int ms = sleepMs.load()) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool FrameCollector::WaitFor(size_t count, int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                         [&] { return m_numbers.size() >= count; });
}

std::vector<long> FrameCollector::FrameNumbers() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_numbers;
}

std::vector<uint8_t> FrameCollector::LastFrame() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_last;
}

size_t FrameCollector::Count() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_numbers.size();
}

}  // namespace lumacap::test
