// The filter graph manager (CLSID_FilterGraph): filters and connections with intelligent connect,
// state changes that reach every filter downstream-first, the event queue filters notify and the
// application reads (or is told of through its window), and the video window of the renderer.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cwchar>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include <control.h>
#include <qedit.h>
#include <streams.h>

#include "platform/system/com/ComObject.h"
#include "platform/system/com/ClassRegistry.h"
#include "platform/system/com/LiveObjects.h"
#include "platform/system/dshow/GraphInternals.h"
#include "platform/system/dshow/GraphTrace.h"
#include "platform/sim/Faults.h"
#include "platform/system/win/MessagePost.h"
#include "platform/system/win/Trace.h"

#define AM_MEDIAEVENT_NONOTIFY 0x01

namespace lumacap::dshow {
namespace {

using Clock = std::chrono::steady_clock;

// The graph's reference clock: the monotonic clock in 100-ns units.
class SystemClock final : public com::ComObject<IReferenceClock, IID_IReferenceClock> {
public:
    HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* pTime) override {
        if (!pTime) return E_POINTER;
        *pTime =
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
                .count() /
            100;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE AdviseTime(REFERENCE_TIME, REFERENCE_TIME, HEVENT,
                                         DWORD_PTR*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE,
                                             DWORD_PTR*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD_PTR) override { return E_NOTIMPL; }
};

// A snapshot of the graph's filters.
class FilterEnum final : public com::ComObject<IEnumFilters, IID_IEnumFilters> {
public:
    explicit FilterEnum(std::vector<IBaseFilter*> filters) : m_filters(std::move(filters)) {
        for (IBaseFilter* f : m_filters) f->AddRef();
    }
    ~FilterEnum() {
        for (IBaseFilter* f : m_filters) f->Release();
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG c, IBaseFilter** pp, ULONG* fetched) override {
        if (!pp) return E_POINTER;
        if (c != 1 && !fetched) return E_INVALIDARG;
        ULONG n = 0;
        while (n < c && m_pos < m_filters.size()) {
            pp[n] = m_filters[m_pos++];
            pp[n]->AddRef();
            ++n;
        }
        if (fetched) *fetched = n;
        return n == c ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG c) override {
        if (m_pos + c > m_filters.size()) {
            m_pos = m_filters.size();
            return S_FALSE;
        }
        m_pos += c;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        m_pos = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumFilters** pp) override {
        if (!pp) return E_POINTER;
        auto* copy = new FilterEnum(m_filters);
        copy->m_pos = m_pos;
        *pp = copy;
        return S_OK;
    }

private:
    std::vector<IBaseFilter*> m_filters;
    size_t m_pos = 0;
};

struct Event {
    long code;
    LONG_PTR param1;
    LONG_PTR param2;
};

class FilterGraph final : public IGraphBuilder,
                          public IMediaControl,
                          public IMediaEventEx,
                          public IMediaEventSink,
                          public IVideoWindow,
                          public com::LiveObject {
public:
    FilterGraph() : m_clock(new SystemClock()) {}
    ~FilterGraph() { Teardown(); }

    // ---- IUnknown -------------------------------------------------------------------------------
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IMediaControl || riid == IID_IMediaEvent || riid == IID_IMediaEventEx ||
            riid == IID_IVideoWindow)
            LUMACAP_FAULT_POINT("IGraphBuilder::QueryInterface");
        if (riid == IID_IUnknown || riid == IID_IFilterGraph || riid == IID_IGraphBuilder)
            *ppv = static_cast<IGraphBuilder*>(this);
        else if (riid == IID_IMediaControl)
            *ppv = static_cast<IMediaControl*>(this);
        else if (riid == IID_IMediaEvent || riid == IID_IMediaEventEx)
            *ppv = static_cast<IMediaEventEx*>(this);
        else if (riid == IID_IMediaEventSink)
            *ppv = static_cast<IMediaEventSink*>(this);
        else if (riid == IID_IVideoWindow)
            *ppv = static_cast<IVideoWindow*>(this);
        else if (riid == IID_IDispatch)
            *ppv = static_cast<IMediaControl*>(this);
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_ref; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --m_ref;
        if (left == 0) delete this;
        return left;
    }

    // ---- IDispatch (shared by the automation interfaces) ----------------------------------------
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override {
        if (!pctinfo) return E_POINTER;
        *pctinfo = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, struct tagDISPPARAMS*, VARIANT*,
                                     struct tagEXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

    // ---- IFilterGraph ---------------------------------------------------------------------------
    HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter* pFilter, LPCWSTR pName) override {
        LUMACAP_FAULT_POINT("IGraphBuilder::AddFilter");
        if (!pFilter) return E_POINTER;
        std::lock_guard<std::recursive_mutex> lock(m_graphLock);
        for (const auto& entry : m_filters)
            if (entry.filter == pFilter) return VFW_E_DUPLICATE_NAME;
        std::wstring name = pName ? pName : L"";
        if (name.empty()) {
            FILTER_INFO info{};
            if (SUCCEEDED(pFilter->QueryFilterInfo(&info))) {
                name = info.achName;
                if (info.pGraph) info.pGraph->Release();
            }
            if (name.empty()) name = L"Filter";
        }
        HRESULT result = S_OK;
        if (FindByName(name)) {
            // Names are unique within a graph: the framework numbers a duplicate.
            for (int n = 1; n < 10000; ++n) {
                wchar_t suffix[8];
                std::swprintf(suffix, 8, L" %04d", n);
                if (!FindByName(name + suffix)) {
                    name += suffix;
                    break;
                }
            }
            result = VFW_S_DUPLICATE_NAME;
        }
        const HRESULT hr =
            pFilter->JoinFilterGraph(static_cast<IGraphBuilder*>(this), name.c_str());
        if (FAILED(hr)) return hr;
        pFilter->AddRef();
        pFilter->SetSyncSource(m_clock);
        m_filters.push_back({pFilter, name});
        LUMACAP_TRACE(kDshow, "graph %p: added %s", static_cast<void*>(this),
                      DescribeFilter(pFilter).c_str());
        return result;
    }

    HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter* pFilter) override {
        LUMACAP_FAULT_POINT("IGraphBuilder::RemoveFilter");
        if (!pFilter) return E_POINTER;
        std::lock_guard<std::recursive_mutex> lock(m_graphLock);
        auto it = std::find_if(m_filters.begin(), m_filters.end(),
                               [&](const Entry& e) { return e.filter == pFilter; });
        if (it == m_filters.end()) return VFW_E_NOT_FOUND;
        if (m_state != State_Stopped) pFilter->Stop();
        LUMACAP_TRACE(kDshow, "graph %p: removed %s", static_cast<void*>(this),
                      DescribeFilter(pFilter).c_str());
        DisconnectAll(pFilter);
        pFilter->SetSyncSource(nullptr);
        pFilter->JoinFilterGraph(nullptr, nullptr);
        m_filters.erase(it);
        pFilter->Release();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE EnumFilters(IEnumFilters** ppEnum) override {
        LUMACAP_FAULT_POINT("IGraphBuilder::EnumFilters");
        if (!ppEnum) return E_POINTER;
        std::lock_guard<std::recursive_mutex> lock(m_graphLock);
        std::vector<IBaseFilter*> filters;
        for (const auto& e : m_filters) filters.push_back(e.filter);
        *ppEnum = new FilterEnum(std::move(filters));
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter) override {
        LUMACAP_FAULT_POINT("IGraphBuilder::FindFilterByName");
        if (!pName || !ppFilter) return E_POINTER;
        std::lock_guard<std::recursive_mutex> lock(m_graphLock);
        *ppFilter = FindByName(pName);
        if (!*ppFilter) return VFW_E_NOT_FOUND;
        (*ppFilter)->AddRef();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE ConnectDirect(IPin* ppinOut, IPin* ppinIn,
                                            const AM_MEDIA_TYPE* pmt) override {
        LUMACAP_FAULT_POINT("IGraphBuilder::ConnectDirect");
        if (!ppinOut || !ppinIn) return E_POINTER;
        std::lock_guard<std::recursive_mutex> lock(m_graphLock);
        if (!InGraph(ppinOut) || !InGraph(ppinIn)) return VFW_E_NOT_IN_GRAPH;
        if (DirectionOf(ppinOut) != PINDIR_OUTPUT || DirectionOf(ppinIn) != PINDIR_INPUT)
            return VFW_E_INVALID_DIRECTION;
        return ppinOut->Connect(ppinIn, pmt);
    }

    HRESULT STDMETHODCALLTYPE Reconnect(IPin* ppin) override {
        if (!ppin) return E_POINTER;
        std::lock_guard<std::recursive_mutex> lock(m_graphLock);
        IPin* peer = nullptr;
        if (FAILED(ppin->ConnectedTo(&peer)) || !peer) return VFW_E_NOT_CONNECTED;
        IPin* out = DirectionOf(ppin) == PINDIR_OUTPUT ? ppin : peer;
        IPin* in = out == ppin ? peer : ppin;
        out->Disconnect();
        in->Disconnect();
        const HRESULT hr = out->Connect(in, nullptr);
        peer->Release();
        return hr;
    }

    HRESULT STDMETHODCALLTYPE Disconnect(IPin* ppin) override {
        if (!ppin) return E_POINTER;
        std::lock_guard<std::recursive_mutex> lock(m_graphLock);
        return ppin->Disconnect();
    }

    HRESULT STDMETHODCALLTYPE SetDefaultSyncSource() override {
        std::lock_guard<std::recursive_mutex> lock(m_graphLock);
        for (const auto& e : m_filters) e.filter->SetSyncSource(m_clock);
        return S_OK;
    }

    // ---- IGraphBuilder --------------------------------------------------------------------------
    HRESULT STDMETHODCALLTYPE Connect(IPin* ppinOut, IPin* ppinIn) override {
        LUMACAP_FAULT_POINT("IGraphBuilder::Connect");
        if (!ppinOut || !ppinIn) return E_POINTER;
        std::lock_guard<std::recursive_mutex> lock(m_graphLock);
        if (DirectionOf(ppinOut) != PINDIR_OUTPUT || DirectionOf(ppinIn) != PINDIR_INPUT)
            return VFW_E_INVALID_DIRECTION;
        IPin* peer = nullptr;
        if (SUCCEEDED(ppinOut->ConnectedTo(&peer)) && peer) {
            peer->Release();
            return VFW_E_ALREADY_CONNECTED;
        }
        if (SUCCEEDED(ppinIn->ConnectedTo(&peer)) && peer) {
            peer->Release();
            return VFW_E_ALREADY_CONNECTED;
        }
        if (!InGraph(ppinOut) || !InGraph(ppinIn)) return VFW_E_NOT_IN_GRAPH;
        if (SUCCEEDED(ppinOut->Connect(ppinIn, nullptr))) return S_OK;
        return ConnectThroughConverters(ppinOut, ppinIn, 2, {});
    }

    HRESULT STDMETHODCALLTYPE Render(IPin* ppinOut) override {
        if (!ppinOut) return E_POINTER;
        std::lock_guard<std::recursive_mutex> lock(m_graphLock);
        const bool video = PinHasMajorType(ppinOut, MEDIATYPE_Video);
        IBaseFilter* renderer = nullptr;
        HRESULT hr = CoCreateInstance(video ? CLSID_VideoRenderer : CLSID_NullRenderer, nullptr,
                                      CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                      reinterpret_cast<void**>(&renderer));
        if (FAILED(hr)) return VFW_E_CANNOT_RENDER;
        hr = AddFilter(renderer, video ? L"Video Renderer" : L"Null Renderer");
        if (SUCCEEDED(hr)) {
            auto pins = PinsOf(renderer);
            hr = pins.empty() ? VFW_E_CANNOT_RENDER : Connect(ppinOut, pins[0]);
            ReleasePins(pins);
            if (FAILED(hr)) RemoveFilter(renderer);
        }
        renderer->Release();
        return SUCCEEDED(hr) ? S_OK : VFW_E_CANNOT_RENDER;
    }

    HRESULT STDMETHODCALLTYPE RenderFile(LPCWSTR, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddSourceFilter(LPCWSTR, LPCWSTR, IBaseFilter**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetLogFile(DWORD_PTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Abort() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ShouldOperationContinue() override { return S_OK; }

    // ---- IMediaControl --------------------------------------------------------------------------
    HRESULT STDMETHODCALLTYPE Run() override {
        LUMACAP_FAULT_POINT("IMediaControl::Run");
        std::lock_guard<std::recursive_mutex> lock(m_graphLock);
        if (m_state == State_Running) return S_OK;
        if (m_state == State_Stopped) {
            const HRESULT hr = PauseAll();
            if (FAILED(hr)) return hr;
        }
        REFERENCE_TIME now = 0;
        m_clock->GetTime(&now);
        // Stream time starts a moment from now, so every filter runs before the first sample is
        // due.
        const REFERENCE_TIME start = now + 100000;
        for (IBaseFilter* f : DownstreamFirst()) {
            const HRESULT hr = f->Run(start);
            if (FAILED(hr)) {
                StopAll();
                return hr;
            }
        }
        m_state = State_Running;
        LUMACAP_TRACE(kDshow, "graph %p: running", static_cast<void*>(this));
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Pause() override {
        LUMACAP_FAULT_POINT("IMediaControl::Pause");
        std::lock_guard<std::recursive_mutex> lock(m_graphLock);
        if (m_state == State_Paused) return S_OK;
        const HRESULT hr = PauseAll();
        if (FAILED(hr)) return hr;
        // S_FALSE: paused, but some filters have not finished the transition yet.
        for (const auto& e : m_filters) {
            FILTER_STATE s;
            if (e.filter->GetState(0, &s) == VFW_S_STATE_INTERMEDIATE) return S_FALSE;
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Stop() override {
        LUMACAP_FAULT_POINT("IMediaControl::Stop");
        std::lock_guard<std::recursive_mutex> lock(m_graphLock);
        return StopAll();
    }

    HRESULT STDMETHODCALLTYPE GetState(LONG msTimeout, OAFilterState* pfs) override {
        LUMACAP_FAULT_POINT("IMediaControl::GetState");
        if (!pfs) return E_POINTER;
        std::vector<IBaseFilter*> filters;
        {
            std::lock_guard<std::recursive_mutex> lock(m_graphLock);
            *pfs = m_state;
            for (const auto& e : m_filters) {
                e.filter->AddRef();
                filters.push_back(e.filter);
            }
        }
        // Polled without the graph lock, so another thread can still stop the graph meanwhile.
        const auto deadline =
            Clock::now() + std::chrono::milliseconds(msTimeout < 0 ? 0 : msTimeout);
        HRESULT result = S_OK;
        for (;;) {
            bool intermediate = false, cantCue = false;
            result = S_OK;
            for (IBaseFilter* f : filters) {
                FILTER_STATE s;
                const HRESULT hr = f->GetState(0, &s);
                if (FAILED(hr)) {
                    result = hr;
                    break;
                }
                if (hr == VFW_S_STATE_INTERMEDIATE) intermediate = true;
                if (hr == VFW_S_CANT_CUE) cantCue = true;
            }
            if (FAILED(result)) break;
            if (cantCue) {
                result = VFW_S_CANT_CUE;
                break;
            }
            if (!intermediate) break;
            if (msTimeout != static_cast<LONG>(INFINITE) && Clock::now() >= deadline) {
                result = VFW_S_STATE_INTERMEDIATE;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        for (IBaseFilter* f : filters) f->Release();
        return result;
    }

    HRESULT STDMETHODCALLTYPE RenderFile(BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddSourceFilter(BSTR, IDispatch**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_FilterCollection(IDispatch**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_RegFilterCollection(IDispatch**) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE StopWhenReady() override {
        LUMACAP_FAULT_POINT("IMediaControl::StopWhenReady");
        {
            std::lock_guard<std::recursive_mutex> lock(m_graphLock);
            if (m_state == State_Stopped) return S_OK;
            if (m_state == State_Running) {
                const HRESULT hr = PauseAll();
                if (FAILED(hr)) return hr;
            }
        }
        // Let the pause complete (filters cue their data; live sources cannot), then stop.
        OAFilterState state;
        GetState(2000, &state);
        std::lock_guard<std::recursive_mutex> lock(m_graphLock);
        return StopAll();
    }

    // ---- IMediaEvent(Ex) ------------------------------------------------------------------------
    HRESULT STDMETHODCALLTYPE GetEventHandle(OAEVENT* hEvent) override {
        if (!hEvent) return E_POINTER;
        std::lock_guard<std::mutex> lock(m_eventLock);
        if (!m_eventHandle) {
            m_eventHandle = CreateEventA(nullptr, TRUE, FALSE, nullptr);
            if (!m_eventHandle) return E_OUTOFMEMORY;
            if (!m_events.empty()) SetEvent(m_eventHandle);
        }
        *hEvent = reinterpret_cast<OAEVENT>(m_eventHandle);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetEvent(long* lEventCode, LONG_PTR* lParam1, LONG_PTR* lParam2,
                                       long msTimeout) override {
        LUMACAP_FAULT_POINT("IMediaEventEx::GetEvent");
        if (!lEventCode || !lParam1 || !lParam2) return E_POINTER;
        std::unique_lock<std::mutex> lock(m_eventLock);
        const auto ready = [this] { return !m_events.empty(); };
        if (msTimeout < 0 || static_cast<DWORD>(msTimeout) == INFINITE)
            m_eventCv.wait(lock, ready);
        else if (!m_eventCv.wait_for(lock, std::chrono::milliseconds(msTimeout), ready)) {
            *lEventCode = 0;
            *lParam1 = *lParam2 = 0;
            return E_ABORT;
        }
        const Event e = m_events.front();
        m_events.pop_front();
        if (m_events.empty() && m_eventHandle) ResetEvent(m_eventHandle);
        *lEventCode = e.code;
        *lParam1 = e.param1;
        *lParam2 = e.param2;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE WaitForCompletion(long msTimeout, long* pEvCode) override {
        if (!pEvCode) return E_POINTER;
        *pEvCode = 0;
        const auto deadline =
            Clock::now() + std::chrono::milliseconds(msTimeout < 0 ? 0 : msTimeout);
        for (;;) {
            long wait = -1;
            if (msTimeout >= 0) {
                wait = static_cast<long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                        .count());
                if (wait < 0) wait = 0;
            }
            long code;
            LONG_PTR p1, p2;
            if (GetEvent(&code, &p1, &p2, wait) != S_OK) return E_ABORT;
            FreeEventParams(code, p1, p2);
            if (code == EC_COMPLETE || code == EC_ERRORABORT || code == EC_USERABORT) {
                *pEvCode = code;
                return S_OK;
            }
        }
    }

    HRESULT STDMETHODCALLTYPE CancelDefaultHandling(long) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RestoreDefaultHandling(long) override { return S_OK; }

    HRESULT STDMETHODCALLTYPE FreeEventParams(long lEvCode, LONG_PTR lParam1,
                                              LONG_PTR lParam2) override {
        LUMACAP_FAULT_POINT("IMediaEventEx::FreeEventParams");
        FreeParams({lEvCode, lParam1, lParam2});
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetNotifyWindow(OAHWND hwnd, long lMsg,
                                              LONG_PTR lInstanceData) override {
        LUMACAP_FAULT_POINT("IMediaEventEx::SetNotifyWindow");
        bool post = false;
        {
            std::lock_guard<std::mutex> lock(m_eventLock);
            m_notifyWindow = reinterpret_cast<HWND>(hwnd);
            m_notifyMessage = static_cast<UINT>(lMsg);
            m_notifyInstance = lInstanceData;
            post = m_notifyWindow && !m_events.empty() && !(m_notifyFlags & AM_MEDIAEVENT_NONOTIFY);
        }
        // Events waiting already: tell the new window once, it drains the queue.
        if (post)
            win::PostWindowMessage(reinterpret_cast<HWND>(hwnd), static_cast<UINT>(lMsg), 0,
                                   lInstanceData);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetNotifyFlags(long lNoNotifyFlags) override {
        if (lNoNotifyFlags != 0 && lNoNotifyFlags != AM_MEDIAEVENT_NONOTIFY) return E_INVALIDARG;
        std::lock_guard<std::mutex> lock(m_eventLock);
        m_notifyFlags = lNoNotifyFlags;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetNotifyFlags(long* lplNoNotifyFlags) override {
        if (!lplNoNotifyFlags) return E_POINTER;
        std::lock_guard<std::mutex> lock(m_eventLock);
        *lplNoNotifyFlags = m_notifyFlags;
        return S_OK;
    }

    // ---- IMediaEventSink ------------------------------------------------------------------------
    HRESULT STDMETHODCALLTYPE Notify(long EventCode, LONG_PTR EventParam1,
                                     LONG_PTR EventParam2) override {
        HWND window = nullptr;
        UINT message = 0;
        LONG_PTR instance = 0;
        {
            std::lock_guard<std::mutex> lock(m_eventLock);
            if (m_notifyFlags & AM_MEDIAEVENT_NONOTIFY) return S_OK;
            // The queue holds its own reference to an interface an event carries.
            if (EventCode == EC_DEVICE_LOST && EventParam1)
                reinterpret_cast<IUnknown*>(EventParam1)->AddRef();
            m_events.push_back({EventCode, EventParam1, EventParam2});
            if (m_eventHandle) SetEvent(m_eventHandle);
            window = m_notifyWindow;
            message = m_notifyMessage;
            instance = m_notifyInstance;
        }
        m_eventCv.notify_all();
        // Posted outside the lock: the window's thread may be reading events right now.
        if (window) win::PostWindowMessage(window, message, 0, instance);
        return S_OK;
    }

    // ---- IVideoWindow: forwarded to the graph's video renderer ----------------------------------
#define LUMACAP_FORWARD_VW(name, params, args)                                             \
    HRESULT STDMETHODCALLTYPE name params override {                                       \
        LUMACAP_FAULT_POINT("IVideoWindow::" #name);                                       \
        return WithVideoWindow([&](IVideoWindow* window_) { return window_->name args; }); \
    }
    LUMACAP_FORWARD_VW(put_Caption, (BSTR v), (v))
    LUMACAP_FORWARD_VW(get_Caption, (BSTR * v), (v))
    LUMACAP_FORWARD_VW(put_WindowStyle, (long v), (v))
    LUMACAP_FORWARD_VW(get_WindowStyle, (long* v), (v))
    LUMACAP_FORWARD_VW(put_WindowStyleEx, (long v), (v))
    LUMACAP_FORWARD_VW(get_WindowStyleEx, (long* v), (v))
    LUMACAP_FORWARD_VW(put_AutoShow, (long v), (v))
    LUMACAP_FORWARD_VW(get_AutoShow, (long* v), (v))
    LUMACAP_FORWARD_VW(put_WindowState, (long v), (v))
    LUMACAP_FORWARD_VW(get_WindowState, (long* v), (v))
    LUMACAP_FORWARD_VW(put_BackgroundPalette, (long v), (v))
    LUMACAP_FORWARD_VW(get_BackgroundPalette, (long* v), (v))
    LUMACAP_FORWARD_VW(put_Visible, (long v), (v))
    LUMACAP_FORWARD_VW(get_Visible, (long* v), (v))
    LUMACAP_FORWARD_VW(put_Left, (long v), (v))
    LUMACAP_FORWARD_VW(get_Left, (long* v), (v))
    LUMACAP_FORWARD_VW(put_Width, (long v), (v))
    LUMACAP_FORWARD_VW(get_Width, (long* v), (v))
    LUMACAP_FORWARD_VW(put_Top, (long v), (v))
    LUMACAP_FORWARD_VW(get_Top, (long* v), (v))
    LUMACAP_FORWARD_VW(put_Height, (long v), (v))
    LUMACAP_FORWARD_VW(get_Height, (long* v), (v))
    LUMACAP_FORWARD_VW(put_Owner, (OAHWND v), (v))
    LUMACAP_FORWARD_VW(get_Owner, (OAHWND * v), (v))
    LUMACAP_FORWARD_VW(put_MessageDrain, (OAHWND v), (v))
    LUMACAP_FORWARD_VW(get_MessageDrain, (OAHWND * v), (v))
    LUMACAP_FORWARD_VW(get_BorderColor, (long* v), (v))
    LUMACAP_FORWARD_VW(put_BorderColor, (long v), (v))
    LUMACAP_FORWARD_VW(get_FullScreenMode, (long* v), (v))
    LUMACAP_FORWARD_VW(put_FullScreenMode, (long v), (v))
    LUMACAP_FORWARD_VW(SetWindowForeground, (long v), (v))
    LUMACAP_FORWARD_VW(NotifyOwnerMessage, (OAHWND h, long m, LONG_PTR w, LONG_PTR l), (h, m, w, l))
    LUMACAP_FORWARD_VW(SetWindowPosition, (long l, long t, long w, long h), (l, t, w, h))
    LUMACAP_FORWARD_VW(GetWindowPosition, (long* l, long* t, long* w, long* h), (l, t, w, h))
    LUMACAP_FORWARD_VW(GetMinIdealImageSize, (long* w, long* h), (w, h))
    LUMACAP_FORWARD_VW(GetMaxIdealImageSize, (long* w, long* h), (w, h))
    LUMACAP_FORWARD_VW(GetRestorePosition, (long* l, long* t, long* w, long* h), (l, t, w, h))
    LUMACAP_FORWARD_VW(HideCursor, (long v), (v))
    LUMACAP_FORWARD_VW(IsCursorHidden, (long* v), (v))
#undef LUMACAP_FORWARD_VW

private:
    struct Entry {
        IBaseFilter* filter;
        std::wstring name;
    };

    IBaseFilter* FindByName(const std::wstring& name) const {
        for (const auto& e : m_filters)
            if (e.name == name) return e.filter;
        return nullptr;
    }

    bool InGraph(IPin* pin) {
        IBaseFilter* f = FilterOfPin(pin);
        if (!f) return false;
        const bool found = std::any_of(m_filters.begin(), m_filters.end(),
                                       [&](const Entry& e) { return e.filter == f; });
        f->Release();
        return found;
    }

    template <class F>
    HRESULT WithVideoWindow(F&& call) {
        IVideoWindow* window = nullptr;
        {
            std::lock_guard<std::recursive_mutex> lock(m_graphLock);
            for (const auto& e : m_filters) {
                if (SUCCEEDED(e.filter->QueryInterface(IID_IVideoWindow,
                                                       reinterpret_cast<void**>(&window))) &&
                    window)
                    break;
                window = nullptr;
            }
        }
        if (!window) return E_NOINTERFACE;
        const HRESULT hr = call(window);
        window->Release();
        return hr;
    }

    // Tries each registered converter between the two pins, up to `depth` of them in a chain.
    HRESULT ConnectThroughConverters(IPin* out, IPin* in, int depth, std::set<std::wstring> used) {
        for (const IntermediateFilter& candidate : IntermediateFilters()) {
            if (used.count(candidate.name)) continue;
            IBaseFilter* filter = nullptr;
            if (FAILED(CoCreateInstance(candidate.clsid, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_IBaseFilter, reinterpret_cast<void**>(&filter))) ||
                !filter)
                continue;
            bool connected = false;
            if (SUCCEEDED(AddFilter(filter, candidate.name.c_str()))) {
                auto pins = PinsOf(filter);
                IPin* converterIn = nullptr;
                for (IPin* p : pins)
                    if (DirectionOf(p) == PINDIR_INPUT) {
                        converterIn = p;
                        break;
                    }
                if (converterIn && SUCCEEDED(out->Connect(converterIn, nullptr))) {
                    for (IPin* p : pins) {
                        if (DirectionOf(p) != PINDIR_OUTPUT) continue;
                        if (SUCCEEDED(p->Connect(in, nullptr))) {
                            connected = true;
                            break;
                        }
                        if (depth > 1) {
                            auto next = used;
                            next.insert(candidate.name);
                            if (SUCCEEDED(ConnectThroughConverters(p, in, depth - 1, next))) {
                                connected = true;
                                break;
                            }
                        }
                    }
                    if (!connected) {
                        out->Disconnect();
                        converterIn->Disconnect();
                    }
                }
                ReleasePins(pins);
                if (!connected) RemoveFilter(filter);
            }
            if (connected)
                LUMACAP_TRACE(kDshow, "graph %p: inserted %s between %s and %s",
                              static_cast<void*>(this), DescribeFilter(filter).c_str(),
                              DescribePin(out).c_str(), DescribePin(in).c_str());
            filter->Release();
            if (connected) return S_OK;
        }
        return VFW_E_CANNOT_CONNECT;
    }

    // Filters ordered so that each comes after every filter downstream of it.
    std::vector<IBaseFilter*> DownstreamFirst() {
        std::vector<IBaseFilter*> order;
        std::set<IBaseFilter*> visited;
        std::function<void(IBaseFilter*)> visit = [&](IBaseFilter* f) {
            if (!visited.insert(f).second) return;
            auto pins = PinsOf(f);
            for (IPin* p : pins) {
                if (DirectionOf(p) != PINDIR_OUTPUT) continue;
                IPin* peer = nullptr;
                if (SUCCEEDED(p->ConnectedTo(&peer)) && peer) {
                    IBaseFilter* down = FilterOfPin(peer);
                    peer->Release();
                    if (down) {
                        for (const auto& e : m_filters)
                            if (e.filter == down) visit(e.filter);
                        down->Release();
                    }
                }
            }
            ReleasePins(pins);
            order.push_back(f);
        };
        for (const auto& e : m_filters) visit(e.filter);
        return order;
    }

    HRESULT PauseAll() {
        for (IBaseFilter* f : DownstreamFirst()) {
            const HRESULT hr = f->Pause();
            if (FAILED(hr)) {
                StopAll();
                return hr;
            }
        }
        m_state = State_Paused;
        LUMACAP_TRACE(kDshow, "graph %p: paused", static_cast<void*>(this));
        return S_OK;
    }

    HRESULT StopAll() {
        HRESULT result = S_OK;
        for (IBaseFilter* f : DownstreamFirst()) {
            const HRESULT hr = f->Stop();
            if (FAILED(hr) && SUCCEEDED(result)) result = hr;
        }
        m_state = State_Stopped;
        LUMACAP_TRACE(kDshow, "graph %p: stopped", static_cast<void*>(this));
        return result;
    }

    void DisconnectAll(IBaseFilter* filter) {
        auto pins = PinsOf(filter);
        for (IPin* p : pins) {
            IPin* peer = nullptr;
            if (SUCCEEDED(p->ConnectedTo(&peer)) && peer) {
                peer->Disconnect();
                peer->Release();
            }
            p->Disconnect();
        }
        ReleasePins(pins);
    }

    void FreeParams(const Event& e) {
        if (e.code == EC_DEVICE_LOST && e.param1) reinterpret_cast<IUnknown*>(e.param1)->Release();
    }

    void Teardown() {
        // Stopping joins every streaming thread; then connections (which hold references between
        // filters) are broken and the filters leave the graph.
        std::vector<Entry> filters;
        {
            std::lock_guard<std::recursive_mutex> lock(m_graphLock);
            if (m_state != State_Stopped) StopAll();
            for (const auto& e : m_filters) DisconnectAll(e.filter);
            filters.swap(m_filters);
        }
        for (auto& e : filters) {
            e.filter->SetSyncSource(nullptr);
            e.filter->JoinFilterGraph(nullptr, nullptr);
            e.filter->Release();
        }
        std::deque<Event> events;
        {
            std::lock_guard<std::mutex> lock(m_eventLock);
            events.swap(m_events);
        }
        for (const Event& e : events) FreeParams(e);
        if (m_eventHandle) CloseHandle(m_eventHandle);
        m_clock->Release();
    }

    std::atomic<ULONG> m_ref{1};
    std::recursive_mutex m_graphLock;
    std::vector<Entry> m_filters;
    FILTER_STATE m_state = State_Stopped;
    IReferenceClock* m_clock;

    std::mutex m_eventLock;
    std::condition_variable m_eventCv;
    std::deque<Event> m_events;
    HANDLE m_eventHandle = nullptr;
    HWND m_notifyWindow = nullptr;
    UINT m_notifyMessage = 0;
    LONG_PTR m_notifyInstance = 0;
    long m_notifyFlags = 0;
};

HRESULT CreateFilterGraph(IUnknown* outer, REFIID riid, void** ppv) {
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* graph = new FilterGraph();
    const HRESULT hr = graph->QueryInterface(riid, ppv);
    graph->Release();
    return hr;
}

}  // namespace

LUMACAP_REGISTER_CLASS(CLSID_FilterGraph, "Filter Graph", CreateFilterGraph);

}  // namespace lumacap::dshow
