// Helpers for tests that build media graphs on the virtual devices.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include <dshow.h>
#include <qedit.h>

#include "common/SimTest.h"

namespace lumacap::test {

// Releases an interface pointer at the end of a scope.
template <class T>
struct ComPtr {
    T* p = nullptr;
    ComPtr() = default;
    explicit ComPtr(T* q) : p(q) {}
    ~ComPtr() { Reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    void Reset() {
        if (p) p->Release();
        p = nullptr;
    }
    T** operator&() {
        Reset();
        return &p;
    }
    T* operator->() const { return p; }
    operator T*() const { return p; }
    void** Out() { return reinterpret_cast<void**>(&*this); }
};

// A test with a filter graph, its control and events, a capture graph builder working on it, and
// a sample grabber and a null renderer not yet in it. BuildCameraGraph adds the graph the library
// builds for a camera; TearDown stops the graph and releases everything in order.
class GraphTest : public SimTest {
protected:
    void SetUp() override;
    void TearDown() override;

    IBaseFilter* Create(REFCLSID clsid);
    int FilterCount();
    bool HasFilter(const wchar_t* name);
    // The camera at `position` (in the capability named, when one is) rendered as a preview
    // through an RGB24 sample grabber to a null renderer by a capture graph builder; answers
    // RenderStream's result.
    HRESULT BuildCameraGraph(int position = 0, const char* subtype = nullptr, long width = 0,
                             long height = 0);

    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEventEx> events;
    ComPtr<ICaptureGraphBuilder2> builder;
    ComPtr<IBaseFilter> camera;
    ComPtr<ISampleGrabber> grabber;
    ComPtr<IBaseFilter> grabberFilter;
    ComPtr<IBaseFilter> renderer;
};

// Members of a device category now (0 when the category answers S_FALSE).
int CountDevices(REFCLSID category);
// The filter of the device at `position` in a category, or null.
IBaseFilter* BindDevice(REFCLSID category, int position);
IPin* FindPinByDirection(IBaseFilter* filter, PIN_DIRECTION dir, int n = 0);
// A media type for a camera capability of the default virtual camera.
AM_MEDIA_TYPE* CameraCapability(IBaseFilter* camera, const char* subtype, long width, long height);

// A hidden window of the test's thread that receives the posts a graph makes to its notify window.
class MessageWindow {
public:
    MessageWindow();
    ~MessageWindow();
    HWND Handle() const { return m_hwnd; }
    // Takes the queued posts of `message`; answers how many there were and the last one's lParam.
    int TakePosted(UINT message, LPARAM* lastLParam = nullptr);

private:
    HWND m_hwnd = nullptr;
};

// Collects what a grabber's buffer callback receives.
class FrameCollector : public ISampleGrabberCB {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_ISampleGrabberCB) {
            *ppv = static_cast<ISampleGrabberCB*>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    STDMETHODIMP SampleCB(double, IMediaSample* sample) override;
    STDMETHODIMP BufferCB(double, BYTE* buffer, long length) override;

    // Waits until `count` frames arrived (false on time-out).
    bool WaitFor(size_t count, int timeoutMs = 5000);
    std::vector<long> FrameNumbers();
    std::vector<uint8_t> LastFrame();
    size_t Count();

    long width = 0;
    long height = 0;
    std::atomic<long> refs{0};
    std::atomic<int> sleepMs{0};
    std::atomic<int> active{0};               // callbacks running right now
    std::atomic<int> timed{0};                // mode 0: samples that carried a time stamp
    std::vector<const void*> samplePointers;  // mode 0: distinct IMediaSample objects seen
    std::vector<const void*> bufferPointers;  // distinct buffers seen, either mode

private:
    void Record(const BYTE* buffer, long length);
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<long> m_numbers;
    std::vector<uint8_t> m_last;
};

}  // namespace lumacap::test
