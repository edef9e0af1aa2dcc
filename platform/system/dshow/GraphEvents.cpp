// The filter graph manager's events: filters notify, the application reads the queue (or is told
// through its window or event handle). By default the graph gathers the renderers' EC_COMPLETE and
// passes one on, with no filter named, once every renderer has finished; it drops EC_REPAINT and
// EC_CLOCK_CHANGED, which it handles itself.
#include <chrono>

#include "platform/sim/Faults.h"
#include "platform/system/dshow/FilterGraph.h"
#include "platform/system/win/MessagePost.h"

namespace lumacap::dshow {

void FilterGraph::FreeParams(const Event& e) {
    if (e.code == EC_DEVICE_LOST && e.param1) reinterpret_cast<IUnknown*>(e.param1)->Release();
}

void FilterGraph::ResetCompletion() {
    std::lock_guard<std::mutex> lock(m_eventLock);
    m_completed = 0;
    m_atEnd = false;
}

STDMETHODIMP FilterGraph::Notify(long EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) {
    HWND window = nullptr;
    UINT message = 0;
    LONG_PTR instance = 0;
    {
        std::lock_guard<std::mutex> lock(m_eventLock);
        if (EventCode == EC_COMPLETE && m_handleComplete) {
            if (++m_completed != m_renderers) return S_OK;
            m_atEnd = true;
            EventParam1 = S_OK;
            EventParam2 = 0;
        } else if ((EventCode == EC_REPAINT && m_handleRepaint) ||
                   (EventCode == EC_CLOCK_CHANGED && m_handleClockChanged)) {
            return S_OK;
        }
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

STDMETHODIMP FilterGraph::GetEventHandle(OAEVENT* hEvent) {
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

STDMETHODIMP FilterGraph::GetEvent(long* lEventCode, LONG_PTR* lParam1, LONG_PTR* lParam2,
                                   long msTimeout) {
    LUMACAP_FAULT_POINT("IMediaEventEx::GetEvent");
    if (!lEventCode || !lParam1 || !lParam2) return E_POINTER;
    std::unique_lock<std::mutex> lock(m_eventLock);
    const auto ready = [this] { return !m_events.empty(); };
    if (msTimeout < 0 || static_cast<DWORD>(msTimeout) == INFINITE) {
        m_eventCv.wait(lock, ready);
    } else if (!m_eventCv.wait_for(lock, std::chrono::milliseconds(msTimeout), ready)) {
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

// Reads events until the stream completes or aborts, discarding the others on the way.
STDMETHODIMP FilterGraph::WaitForCompletion(long msTimeout, long* pEvCode) {
    if (!pEvCode) return E_POINTER;
    *pEvCode = 0;
    {
        std::lock_guard<std::recursive_mutex> lock(m_graphLock);
        if (m_state != State_Running) return VFW_E_WRONG_STATE;
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(msTimeout < 0 ? 0 : msTimeout);
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

// Only the events the graph handles itself can be passed through instead.
STDMETHODIMP FilterGraph::CancelDefaultHandling(long lEvCode) {
    std::lock_guard<std::mutex> lock(m_eventLock);
    if (lEvCode == EC_COMPLETE)
        m_handleComplete = false;
    else if (lEvCode == EC_REPAINT)
        m_handleRepaint = false;
    else if (lEvCode == EC_CLOCK_CHANGED)
        m_handleClockChanged = false;
    else
        return S_FALSE;
    return S_OK;
}

STDMETHODIMP FilterGraph::RestoreDefaultHandling(long lEvCode) {
    std::lock_guard<std::mutex> lock(m_eventLock);
    if (lEvCode == EC_COMPLETE)
        m_handleComplete = true;
    else if (lEvCode == EC_REPAINT)
        m_handleRepaint = true;
    else if (lEvCode == EC_CLOCK_CHANGED)
        m_handleClockChanged = true;
    else
        return S_FALSE;
    return S_OK;
}

STDMETHODIMP FilterGraph::FreeEventParams(long lEvCode, LONG_PTR lParam1, LONG_PTR lParam2) {
    LUMACAP_FAULT_POINT("IMediaEventEx::FreeEventParams");
    FreeParams({lEvCode, lParam1, lParam2});
    return S_OK;
}

STDMETHODIMP FilterGraph::SetNotifyWindow(OAHWND hwnd, long lMsg, LONG_PTR lInstanceData) {
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

// With no notification the queue is emptied and stays empty.
STDMETHODIMP FilterGraph::SetNotifyFlags(long lNoNotifyFlags) {
    if (lNoNotifyFlags != 0 && lNoNotifyFlags != AM_MEDIAEVENT_NONOTIFY) return E_INVALIDARG;
    std::deque<Event> dropped;
    {
        std::lock_guard<std::mutex> lock(m_eventLock);
        m_notifyFlags = lNoNotifyFlags;
        if (lNoNotifyFlags) {
            dropped.swap(m_events);
            if (m_eventHandle) ResetEvent(m_eventHandle);
        }
    }
    for (const Event& e : dropped) FreeParams(e);
    return S_OK;
}

STDMETHODIMP FilterGraph::GetNotifyFlags(long* lplNoNotifyFlags) {
    if (!lplNoNotifyFlags) return E_POINTER;
    std::lock_guard<std::mutex> lock(m_eventLock);
    *lplNoNotifyFlags = m_notifyFlags;
    return S_OK;
}

}  // namespace lumacap::dshow
