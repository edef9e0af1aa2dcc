// The filter graph manager's state: run, pause and stop reach every filter downstream first (a
// renderer before what feeds it); a stop from running pauses every filter before stopping any. A
// run from stopped waits, on a worker, for renderers that have not yet cued a sample, unless a live
// source makes waiting pointless. The reference clock is chosen at the first pause or run.
#include <algorithm>
#include <chrono>
#include <functional>
#include <set>

#include "platform/sim/Faults.h"
#include "platform/system/dshow/FilterGraph.h"
#include "platform/system/win/Trace.h"
#include "platform/system/dshow/GraphTrace.h"
#include "platform/system/dshow/GraphInternals.h"

namespace lumacap::dshow {
namespace {

using Clock = std::chrono::steady_clock;

// Stream time starts a moment after the run, so every filter runs before the first sample is due.
constexpr REFERENCE_TIME kStartDelay = 100000;

}  // namespace

// Filters ordered so that each comes after every filter downstream of it.
std::vector<IBaseFilter*> FilterGraph::DownstreamFirst() {
    std::vector<IBaseFilter*> order;
    std::set<IBaseFilter*> visited;
    std::function<void(IBaseFilter*)> visit = [&](IBaseFilter* f) {
        if (!visited.insert(f).second) return;
        auto pins = PinsOf(f);
        for (IPin* p : pins) {
            if (DirectionOf(p) != PINDIR_OUTPUT) continue;
            IPin* peer = nullptr;
            if (FAILED(p->ConnectedTo(&peer)) || !peer) continue;
            IBaseFilter* down = FilterOfPin(peer);
            peer->Release();
            if (!down) continue;
            for (const Entry& e : m_filters)
                if (e.filter == down) visit(e.filter);
            down->Release();
        }
        ReleasePins(pins);
        order.push_back(f);
    };
    for (const Entry& e : m_filters) visit(e.filter);
    return order;
}

// A renderer says so through IAMFilterMiscFlags, or is a filter that seeks but has no outputs.
void FilterGraph::UpdateRendererCount() {
    int count = 0;
    for (const Entry& e : m_filters) {
        IAMFilterMiscFlags* flags = nullptr;
        if (SUCCEEDED(e.filter->QueryInterface(IID_IAMFilterMiscFlags,
                                               reinterpret_cast<void**>(&flags)))) {
            if (flags->GetMiscFlags() & AM_FILTER_MISC_FLAGS_IS_RENDERER) ++count;
            flags->Release();
            continue;
        }
        IUnknown* seeking = nullptr;
        if (FAILED(
                e.filter->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking))) &&
            FAILED(
                e.filter->QueryInterface(IID_IMediaPosition, reinterpret_cast<void**>(&seeking))))
            continue;
        seeking->Release();
        auto pins = PinsOf(e.filter);
        const bool outputs = std::any_of(pins.begin(), pins.end(),
                                         [](IPin* p) { return DirectionOf(p) == PINDIR_OUTPUT; });
        ReleasePins(pins);
        if (!outputs) ++count;
    }
    std::lock_guard<std::mutex> lock(m_eventLock);
    m_renderers = count;
}

// S_FALSE when some filter has not finished pausing; the first failure otherwise (every filter is
// still asked).
HRESULT FilterGraph::PauseFilters(const std::vector<IBaseFilter*>& order) {
    HRESULT result = S_OK;
    for (IBaseFilter* f : order) {
        const HRESULT hr = f->Pause();
        if (result == S_OK && hr != S_OK)
            result = hr;
        else if (FAILED(hr) && SUCCEEDED(result))
            result = hr;
    }
    return result;
}

HRESULT FilterGraph::StopFilters(const std::vector<IBaseFilter*>& order) {
    HRESULT result = S_OK;
    for (IBaseFilter* f : order) {
        const HRESULT hr = f->Stop();
        if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    }
    return result;
}

REFERENCE_TIME FilterGraph::ClockTime() {
    REFERENCE_TIME now = 0;
    if (m_pClock) m_pClock->GetTime(&now);
    return now;
}

HRESULT FilterGraph::StartStreaming() {
    ResetCompletion();
    if (!m_explicitStart) m_streamStart = m_pClock ? ClockTime() + kStartDelay : 0;
    m_explicitStart = false;
    const auto order = DownstreamFirst();
    for (IBaseFilter* f : order) {
        const HRESULT hr = f->Run(m_streamStart);
        if (FAILED(hr)) {
            StopFilters(order);
            m_state = State_Stopped;
            return hr;
        }
    }
    LUMACAP_TRACE(kDshow, "graph %p: running", static_cast<void*>(this));
    return S_OK;
}

HRESULT FilterGraph::RunGraph(const REFERENCE_TIME* start) {
    std::lock_guard<std::recursive_mutex> lock(m_graphLock);
    if (m_state == State_Running) return S_OK;
    const auto order = DownstreamFirst();
    UpdateRendererCount();
    bool wait = false;
    if (m_state == State_Stopped) {
        if (m_defaultClock && !m_pClock) SetDefaultSyncSource();
        const HRESULT hr = PauseFilters(order);
        if (FAILED(hr)) {
            StopFilters(order);
            return hr;
        }
        // A filter that cannot cue data (a live source) will not let the others finish pausing:
        // the run starts at once.
        wait = hr == S_FALSE;
        for (IBaseFilter* f : order) {
            FILTER_STATE s;
            const HRESULT state = f->GetState(0, &s);
            if (state != S_OK && state != VFW_S_STATE_INTERMEDIATE) wait = false;
        }
    }
    m_state = State_Running;
    m_explicitStart = start != nullptr;
    if (start) m_streamStart = *start;
    if (wait) {
        RequestAsyncRun();
        return S_FALSE;
    }
    return StartStreaming();
}

STDMETHODIMP FilterGraph::Run() {
    LUMACAP_FAULT_POINT("IMediaControl::Run");
    return RunGraph(nullptr);
}

STDMETHODIMP FilterGraph::Run(REFERENCE_TIME tStart) {
    return RunGraph(&tStart);
}

HRESULT FilterGraph::PauseGraph() {
    std::lock_guard<std::recursive_mutex> lock(m_graphLock);
    if (m_state == State_Paused) return S_OK;
    const auto order = DownstreamFirst();
    UpdateRendererCount();
    if (m_defaultClock && !m_pClock) SetDefaultSyncSource();
    if (m_state == State_Running) m_position = PositionLocked();
    CancelAsyncRun();
    const HRESULT hr = PauseFilters(order);
    if (FAILED(hr) && m_state == State_Stopped) {
        StopFilters(order);
        return hr;
    }
    m_state = State_Paused;
    LUMACAP_TRACE(kDshow, "graph %p: paused", static_cast<void*>(this));
    return hr;
}

STDMETHODIMP FilterGraph::Pause() {
    LUMACAP_FAULT_POINT("IMediaControl::Pause");
    return PauseGraph();
}

HRESULT FilterGraph::StopGraph() {
    std::lock_guard<std::recursive_mutex> lock(m_graphLock);
    if (m_state == State_Stopped) return S_OK;
    const auto order = DownstreamFirst();
    if (m_state == State_Running) {
        m_position = PositionLocked();
        PauseFilters(order);
    }
    CancelAsyncRun();
    const HRESULT hr = StopFilters(order);
    m_state = State_Stopped;
    LUMACAP_TRACE(kDshow, "graph %p: stopped", static_cast<void*>(this));
    return hr;
}

STDMETHODIMP FilterGraph::Stop() {
    LUMACAP_FAULT_POINT("IMediaControl::Stop");
    return StopGraph();
}

// The graph's state is the state asked for. The answer says whether every filter is there:
// VFW_S_STATE_INTERMEDIATE while one is still on its way, VFW_S_CANT_CUE when a live source cannot
// cue data while paused, E_FAIL when a filter is in another state altogether.
STDMETHODIMP FilterGraph::GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* State) {
    if (!State) return E_POINTER;
    const auto deadline =
        Clock::now() +
        std::chrono::milliseconds(dwMilliSecsTimeout == INFINITE ? 0 : dwMilliSecsTimeout);
    for (;;) {
        std::vector<IBaseFilter*> filters;
        FILTER_STATE graphState;
        {
            std::lock_guard<std::recursive_mutex> lock(m_graphLock);
            graphState = m_state;
            for (const Entry& e : m_filters) {
                e.filter->AddRef();
                filters.push_back(e.filter);
            }
        }
        *State = graphState;
        // Polled without the graph lock, so another thread can still stop the graph meanwhile.
        HRESULT hr = S_OK;
        IBaseFilter* waitFor = nullptr;
        for (IBaseFilter* f : filters) {
            FILTER_STATE fs = State_Stopped;
            const HRESULT fhr = f->GetState(0, &fs);
            if (fhr == VFW_S_STATE_INTERMEDIATE) waitFor = f;
            if (hr == S_OK && fhr == VFW_S_STATE_INTERMEDIATE)
                hr = VFW_S_STATE_INTERMEDIATE;
            else if (fhr != S_OK && fhr != VFW_S_STATE_INTERMEDIATE)
                hr = fhr;
            if (hr == S_OK && fs == State_Paused && graphState != State_Paused) {
                waitFor = f;
                hr = VFW_S_STATE_INTERMEDIATE;
            } else if (fs != graphState && fs != State_Paused) {
                hr = E_FAIL;
            }
        }
        const bool more = hr == VFW_S_STATE_INTERMEDIATE &&
                          (dwMilliSecsTimeout == INFINITE || Clock::now() < deadline);
        if (more) {
            // Let the filter still on its way wait a little on its own terms.
            FILTER_STATE ignored;
            if (waitFor) waitFor->GetState(10, &ignored);
        }
        for (IBaseFilter* f : filters) f->Release();
        if (!more) return hr;
    }
}

STDMETHODIMP FilterGraph::GetState(LONG msTimeout, OAFilterState* pfs) {
    LUMACAP_FAULT_POINT("IMediaControl::GetState");
    if (!pfs) return E_POINTER;
    FILTER_STATE state = State_Stopped;
    const HRESULT hr = GetState(msTimeout < 0 ? INFINITE : static_cast<DWORD>(msTimeout), &state);
    *pfs = state;
    return hr;
}

// Pauses, lets the filters cue what they can, then stops: the graph is stopped when this returns.
STDMETHODIMP FilterGraph::StopWhenReady() {
    LUMACAP_FAULT_POINT("IMediaControl::StopWhenReady");
    {
        std::lock_guard<std::recursive_mutex> lock(m_graphLock);
        if (m_state == State_Stopped) return S_OK;
        if (m_state == State_Running) {
            const HRESULT hr = PauseGraph();
            if (FAILED(hr)) return hr;
        }
    }
    FILTER_STATE state;
    GetState(2000, &state);
    return StopGraph();
}

STDMETHODIMP FilterGraph::RenderFile(BSTR) {
    return E_NOTIMPL;
}
STDMETHODIMP FilterGraph::AddSourceFilter(BSTR, IDispatch**) {
    return E_NOTIMPL;
}
STDMETHODIMP FilterGraph::get_FilterCollection(IDispatch**) {
    return E_NOTIMPL;
}
STDMETHODIMP FilterGraph::get_RegFilterCollection(IDispatch**) {
    return E_NOTIMPL;
}

STDMETHODIMP FilterGraph::GetClassID(CLSID* pClassID) {
    if (!pClassID) return E_POINTER;
    *pClassID = CLSID_FilterGraph;
    return S_OK;
}

// ---- clocks -------------------------------------------------------------------------------------

STDMETHODIMP FilterGraph::SetSyncSource(IReferenceClock* pClock) {
    std::lock_guard<std::recursive_mutex> lock(m_graphLock);
    for (size_t i = 0; i < m_filters.size(); ++i) {
        const HRESULT hr = m_filters[i].filter->SetSyncSource(pClock);
        if (FAILED(hr)) {
            for (size_t j = 0; j < i; ++j) m_filters[j].filter->SetSyncSource(m_pClock);
            return hr;
        }
    }
    if (pClock) pClock->AddRef();
    if (m_pClock) m_pClock->Release();
    m_pClock = pClock;
    // A clock chosen (or refused) by the application stays as chosen.
    m_defaultClock = false;
    return S_OK;
}

STDMETHODIMP FilterGraph::GetSyncSource(IReferenceClock** pClock) {
    if (!pClock) return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(m_graphLock);
    *pClock = m_pClock;
    if (m_pClock) m_pClock->AddRef();
    return S_OK;
}

// A filter that keeps time (an audio renderer would) is the best clock; otherwise the system clock.
STDMETHODIMP FilterGraph::SetDefaultSyncSource() {
    std::lock_guard<std::recursive_mutex> lock(m_graphLock);
    IReferenceClock* clock = nullptr;
    for (const Entry& e : m_filters)
        if (SUCCEEDED(
                e.filter->QueryInterface(IID_IReferenceClock, reinterpret_cast<void**>(&clock))))
            break;
    if (!clock) {
        const HRESULT hr = CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER,
                                            IID_IReferenceClock, reinterpret_cast<void**>(&clock));
        if (FAILED(hr)) return hr;
    }
    const HRESULT hr = SetSyncSource(clock);
    clock->Release();
    if (SUCCEEDED(hr)) m_defaultClock = true;
    return hr;
}

// ---- the run that waits for the pause -----------------------------------------------------------

void FilterGraph::RequestAsyncRun() {
    m_needsAsyncRun = true;
    {
        std::lock_guard<std::mutex> lock(m_workerMutex);
        m_asyncPending = ++m_asyncGeneration;
        if (!m_worker.joinable()) m_worker = std::thread([this] { AsyncRunWorker(); });
    }
    m_workerCv.notify_all();
}

void FilterGraph::CancelAsyncRun() {
    if (!m_needsAsyncRun) return;
    m_needsAsyncRun = false;
    {
        std::lock_guard<std::mutex> lock(m_workerMutex);
        ++m_asyncGeneration;
    }
    m_workerCv.notify_all();
}

bool FilterGraph::AllFiltersPaused() {
    std::vector<IBaseFilter*> filters;
    {
        std::lock_guard<std::recursive_mutex> lock(m_graphLock);
        for (const Entry& e : m_filters) {
            e.filter->AddRef();
            filters.push_back(e.filter);
        }
    }
    bool paused = true;
    for (IBaseFilter* f : filters) {
        FILTER_STATE s;
        if (paused && f->GetState(0, &s) == VFW_S_STATE_INTERMEDIATE) paused = false;
        f->Release();
    }
    return paused;
}

// Waits, without the graph lock, until every filter has paused, then starts the stream unless a
// pause or stop came first. Cancelling bumps the generation, which ends the wait.
void FilterGraph::AsyncRunWorker() {
    std::unique_lock<std::mutex> lock(m_workerMutex);
    for (;;) {
        m_workerCv.wait(lock, [this] { return m_workerQuit || m_asyncPending != 0; });
        if (m_workerQuit) return;
        const uint64_t request = m_asyncPending;
        m_asyncPending = 0;
        const auto current = [&] { return !m_workerQuit && m_asyncGeneration == request; };
        while (current()) {
            lock.unlock();
            const bool paused = AllFiltersPaused();
            lock.lock();
            if (paused || !current()) break;
            m_workerCv.wait_for(lock, std::chrono::milliseconds(10), [&] { return !current(); });
        }
        if (!current()) continue;
        lock.unlock();
        {
            std::lock_guard<std::recursive_mutex> graphLock(m_graphLock);
            bool still;
            {
                std::lock_guard<std::mutex> workerLock(m_workerMutex);
                still = m_asyncGeneration == request;
            }
            if (still && m_needsAsyncRun) {
                m_needsAsyncRun = false;
                StartStreaming();
            }
        }
        lock.lock();
    }
}

}  // namespace lumacap::dshow
