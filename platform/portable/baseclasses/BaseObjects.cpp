// Reference-counted objects, events and worker threads of the filter base classes.
#include <streams.h>

#include <chrono>

#include "platform/portable/SystemSeam.h"

CBaseObject::CBaseObject(LPCTSTR pName) : m_pName(pName) {
    lumacap::portable::LiveObjectCount().fetch_add(1, std::memory_order_relaxed);
}

CBaseObject::~CBaseObject() {
    lumacap::portable::LiveObjectCount().fetch_sub(1, std::memory_order_relaxed);
}

LONG CBaseObject::ObjectsActive() {
    return static_cast<LONG>(lumacap::portable::LiveObjectCount().load());
}

CUnknown::CUnknown(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT*)
    : CBaseObject(pName), m_pUnknown(pUnk) {}

HRESULT STDMETHODCALLTYPE CUnknown::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown) return GetInterface(&m_ownUnknown, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingAddRef() {
    return static_cast<ULONG>(++m_cRef);
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingRelease() {
    const LONG left = --m_cRef;
    if (left == 0) {
        // Guard against a re-entrant release from the destructor.
        m_cRef = 1;
        delete this;
        return 0;
    }
    return static_cast<ULONG>(left);
}

HRESULT GetInterface(LPUNKNOWN pUnk, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = pUnk;
    pUnk->AddRef();
    return NOERROR;
}

// ---- CAggregationScope --------------------------------------------------------------------------

namespace {
thread_local LPUNKNOWN t_pendingOuter = nullptr;
}

CAggregationScope::CAggregationScope(LPUNKNOWN outer) : m_previous(t_pendingOuter) {
    t_pendingOuter = outer;
}

CAggregationScope::~CAggregationScope() {
    t_pendingOuter = m_previous;
}

LPUNKNOWN CAggregationScope::Take() {
    LPUNKNOWN outer = t_pendingOuter;
    t_pendingOuter = nullptr;
    return outer;
}

// ---- CAMEvent -----------------------------------------------------------------------------------

CAMEvent::CAMEvent(BOOL fManualReset, HRESULT* phr) : m_bManualReset(fManualReset != FALSE) {
    if (phr && SUCCEEDED(*phr)) *phr = S_OK;
}

void CAMEvent::Set() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bSignalled = true;
    }
    if (m_bManualReset)
        m_cv.notify_all();
    else
        m_cv.notify_one();
}

void CAMEvent::Reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bSignalled = false;
}

BOOL CAMEvent::Wait(DWORD dwTimeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    auto ready = [this] { return m_bSignalled; };
    if (dwTimeout == INFINITE) {
        m_cv.wait(lock, ready);
    } else if (!m_cv.wait_for(lock, std::chrono::milliseconds(dwTimeout), ready)) {
        return FALSE;
    }
    if (!m_bManualReset) m_bSignalled = false;
    return TRUE;
}

// ---- CAMThread ----------------------------------------------------------------------------------

CAMThread::CAMThread(HRESULT*) : m_EventSend(TRUE), m_EventComplete(FALSE) {}

CAMThread::~CAMThread() {
    Close();
}

BOOL CAMThread::Create() {
    CAutoLock lock(&m_AccessLock);
    if (ThreadExists()) return FALSE;
    m_bExited = false;
    // A previous thread's last signal must not answer the new thread's first request.
    m_EventComplete.Reset();
    m_EventSend.Reset();
    try {
        m_thread = std::thread([this] {
            ThreadProc();
            // A request the thread ended without answering is answered here, so no caller waits
            // for a thread that has gone; later requests fail at once.
            std::lock_guard<std::mutex> exitLock(m_exitMutex);
            m_bExited = true;
            if (m_EventSend.Check()) {
                m_dwReturnVal = static_cast<DWORD>(E_FAIL);
                m_EventSend.Reset();
                m_EventComplete.Set();
            }
        });
    } catch (...) {
        return FALSE;
    }
    return TRUE;
}

DWORD CAMThread::CallWorker(DWORD dwParam) {
    CAutoLock lock(&m_AccessLock);
    {
        std::lock_guard<std::mutex> exitLock(m_exitMutex);
        if (!ThreadExists() || m_bExited) return static_cast<DWORD>(E_FAIL);
        m_dwParam = dwParam;
        m_EventSend.Set();
    }
    m_EventComplete.Wait();
    return m_dwReturnVal;
}

void CAMThread::Close() {
    if (m_thread.joinable()) {
        if (m_thread.get_id() == std::this_thread::get_id())
            m_thread.detach();  // a worker cannot wait for itself
        else
            m_thread.join();
    }
}

BOOL CAMThread::ThreadExists() const {
    return m_thread.joinable();
}

DWORD CAMThread::GetRequest() {
    m_EventSend.Wait();
    return m_dwParam;
}

BOOL CAMThread::CheckRequest(DWORD* pParam) {
    if (!m_EventSend.Check()) return FALSE;
    if (pParam) *pParam = m_dwParam;
    return TRUE;
}

BOOL CAMThread::WaitForRequest(DWORD dwTimeout) {
    return m_EventSend.Wait(dwTimeout);
}

void CAMThread::Reply(DWORD dw) {
    m_dwReturnVal = dw;
    // The request event is manual-reset: it stays set until the worker has answered, so the
    // worker's CheckRequest keeps seeing the pending request while it winds down.
    m_EventSend.Reset();
    m_EventComplete.Set();
}
