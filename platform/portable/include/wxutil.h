// Locks, events and the request-driven worker thread of the filter base classes.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "dshow.h"

// ---- locks, events, worker threads --------------------------------------------------------------

class LUMACAP_API CCritSec {
public:
    CCritSec() = default;
    CCritSec(const CCritSec&) = delete;
    CCritSec& operator=(const CCritSec&) = delete;
    void Lock() { m_mutex.lock(); }
    void Unlock() { m_mutex.unlock(); }
    // BasicLockable, so a condition variable can wait on it.
    void lock() { m_mutex.lock(); }
    void unlock() { m_mutex.unlock(); }

private:
    std::recursive_mutex m_mutex;
};

class CAutoLock {
public:
    explicit CAutoLock(CCritSec* plock) : m_pLock(plock) { m_pLock->Lock(); }
    ~CAutoLock() { m_pLock->Unlock(); }
    CAutoLock(const CAutoLock&) = delete;
    CAutoLock& operator=(const CAutoLock&) = delete;

protected:
    CCritSec* m_pLock;
};

// An event object of the process (not a kernel handle): waits happen per frame on streaming
// threads and must not contend with the kernel's handle table.
class LUMACAP_API CAMEvent {
public:
    explicit CAMEvent(BOOL fManualReset = FALSE, HRESULT* phr = nullptr);
    CAMEvent(const CAMEvent&) = delete;
    CAMEvent& operator=(const CAMEvent&) = delete;
    void Set();
    void Reset();
    // TRUE when signalled within the time-out (milliseconds, INFINITE for no limit).
    BOOL Wait(DWORD dwTimeout = INFINITE);
    BOOL Check() { return Wait(0); }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_bManualReset;
    bool m_bSignalled = false;
};

// A worker thread that takes one request at a time from the thread that owns it.
class LUMACAP_API CAMThread {
public:
    explicit CAMThread(HRESULT* phr = nullptr);
    virtual ~CAMThread();
    CAMThread(const CAMThread&) = delete;
    CAMThread& operator=(const CAMThread&) = delete;

    CCritSec m_AccessLock;  // serialises callers of CallWorker
    CCritSec m_WorkerLock;  // held by the worker while it runs a request

    BOOL Create();
    // Sends a request and waits for the worker's reply.
    DWORD CallWorker(DWORD dwParam);
    // Waits for the thread to end (after it was asked to exit).
    void Close();
    BOOL ThreadExists() const;

    // Worker side.
    DWORD GetRequest();
    BOOL CheckRequest(DWORD* pParam);
    void Reply(DWORD dw);
    // Waits up to `dwTimeout` ms for a request to arrive, without taking it; TRUE if one is there.
    BOOL WaitForRequest(DWORD dwTimeout);

    virtual DWORD ThreadProc() = 0;

private:
    CAMEvent m_EventSend;
    CAMEvent m_EventComplete;
    std::atomic<DWORD> m_dwParam{0};
    std::atomic<DWORD> m_dwReturnVal{0};
    std::mutex m_exitMutex;
    std::atomic<bool> m_bExited{false};
    std::thread m_thread;
};
