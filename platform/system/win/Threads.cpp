// Threads, events, waits and handles.
#include <process.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "platform/system/win/KernelObject.h"

namespace lumacap::win {
namespace {

// The registry, its lock and the wait state below live as long as the process, never destroyed:
// a detached thread may still be finishing while the process runs its exit handlers.
std::mutex& RegistryMutex() {
    static auto* m = new std::mutex;
    return *m;
}
// Kept sorted. A vector rather than a hash set: registering a handle then allocates only when
// more handles are open than ever before, so a thread that opens and closes a file per log line
// allocates no registry entry for it.
std::vector<KernelObject*>& Registry() {
    static auto* objects = new std::vector<KernelObject*>;
    return *objects;
}

class ThreadObject final : public KernelObject {
public:
    ThreadObject() : KernelObject(Kind::Thread) {}

    bool Waitable() const override { return true; }
    bool Signalled() const override { return m_finished; }

    void Finish(DWORD code) {
        {
            std::lock_guard<std::mutex> lock(Mutex());
            m_exitCode = code;
            m_finished = true;
        }
        Changed().notify_all();
    }
    DWORD ExitCode() {
        std::lock_guard<std::mutex> lock(Mutex());
        return m_finished ? m_exitCode : STILL_ACTIVE;
    }
    void Resume() {
        {
            std::lock_guard<std::mutex> lock(Mutex());
            m_suspended = false;
        }
        Changed().notify_all();
    }
    void WaitUntilResumed() {
        std::unique_lock<std::mutex> lock(Mutex());
        Changed().wait(lock, [&] { return !m_suspended; });
    }

    std::atomic<DWORD> m_threadId{0};
    bool m_suspended = false;

private:
    bool m_finished = false;
    DWORD m_exitCode = STILL_ACTIVE;
};

class EventObject final : public KernelObject {
public:
    EventObject(bool manualReset, bool initial)
        : KernelObject(Kind::Event), m_manualReset(manualReset), m_set(initial) {}
    bool Waitable() const override { return true; }
    bool Signalled() const override { return m_set; }
    void Consume() override {
        if (!m_manualReset) m_set = false;
    }
    void Set(bool value) {
        {
            std::lock_guard<std::mutex> lock(Mutex());
            m_set = value;
        }
        if (value) Changed().notify_all();
    }

private:
    bool m_manualReset;
    bool m_set;
};

// Runs `body` on a new thread owning a reference to `thread`; the reference is dropped when the
// thread ends, after waiters have been told.
HANDLE StartThread(bool suspended, DWORD* threadId, std::function<DWORD()> body) {
    auto* thread = new ThreadObject();
    thread->m_suspended = suspended;
    thread->AddRef();  // the running thread's own reference
    std::atomic<bool> started{false};
    try {
        std::thread([thread, body = std::move(body), &started]() mutable {
            thread->m_threadId = GetCurrentThreadId();
            started.store(true, std::memory_order_release);
            started.notify_one();
            thread->WaitUntilResumed();
            DWORD code = body();
            thread->Finish(code);
            thread->Release();
        }).detach();
    } catch (...) {
        thread->Release();
        thread->Release();
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    started.wait(false, std::memory_order_acquire);
    if (threadId) *threadId = thread->m_threadId;
    return thread->ToHandle();
}

}  // namespace

std::mutex& KernelObject::Mutex() {
    static auto* m = new std::mutex;
    return *m;
}
std::condition_variable& KernelObject::Changed() {
    static auto* cv = new std::condition_variable;
    return *cv;
}

void KernelObject::Register() {
    std::lock_guard<std::mutex> lock(RegistryMutex());
    auto& objects = Registry();
    objects.insert(std::lower_bound(objects.begin(), objects.end(), this), this);
}
void KernelObject::Unregister() {
    std::lock_guard<std::mutex> lock(RegistryMutex());
    auto& objects = Registry();
    const auto it = std::lower_bound(objects.begin(), objects.end(), this);
    if (it != objects.end() && *it == this) objects.erase(it);
}

KernelObject* KernelObject::FromHandle(HANDLE h) {
    if (!h || h == INVALID_HANDLE_VALUE) return nullptr;
    std::lock_guard<std::mutex> lock(RegistryMutex());
    auto* obj = reinterpret_cast<KernelObject*>(h);
    if (!std::binary_search(Registry().begin(), Registry().end(), obj) || !obj->m_handleOpen.load())
        return nullptr;
    // An object whose last reference is being dropped is no longer a live handle.
    int refs = obj->m_refs.load(std::memory_order_relaxed);
    while (refs > 0 &&
           !obj->m_refs.compare_exchange_weak(refs, refs + 1, std::memory_order_acq_rel)) {
    }
    return refs > 0 ? obj : nullptr;
}

}  // namespace lumacap::win

using lumacap::win::EventObject;
using lumacap::win::KernelObject;
using lumacap::win::ThreadObject;

DWORD WINAPI GetCurrentProcessId() {
    return static_cast<DWORD>(getpid());
}
DWORD WINAPI GetCurrentThreadId() {
    thread_local DWORD id = static_cast<DWORD>(syscall(SYS_gettid));
    return id;
}

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE lpStartAddress,
                           LPVOID lpParameter, DWORD dwCreationFlags, LPDWORD lpThreadId) {
    if (!lpStartAddress) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return lumacap::win::StartThread((dwCreationFlags & CREATE_SUSPENDED) != 0, lpThreadId,
                                     [=] { return lpStartAddress(lpParameter); });
}

uintptr_t __cdecl _beginthreadex(void*, unsigned, _beginthreadex_proc_type start_address,
                                 void* arglist, unsigned initflag, unsigned* thrdaddr) {
    if (!start_address) {
        errno = EINVAL;
        return 0;
    }
    DWORD id = 0;
    HANDLE h = lumacap::win::StartThread((initflag & CREATE_SUSPENDED) != 0, &id, [=] {
        return static_cast<DWORD>(start_address(arglist));
    });
    if (thrdaddr) *thrdaddr = id;
    return reinterpret_cast<uintptr_t>(h);
}

void __cdecl _endthreadex(unsigned) {
    // Unwinding a thread from inside is not supported; returning from the thread function is.
    std::terminate();
}

DWORD WINAPI ResumeThread(HANDLE hThread) {
    KernelObject* obj = KernelObject::FromHandle(hThread);
    if (!obj || obj->GetKind() != KernelObject::Kind::Thread) {
        if (obj) obj->Release();
        SetLastError(ERROR_INVALID_HANDLE);
        return static_cast<DWORD>(-1);
    }
    static_cast<ThreadObject*>(obj)->Resume();
    obj->Release();
    return 1;
}

BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
    KernelObject* obj = KernelObject::FromHandle(hThread);
    if (!obj || obj->GetKind() != KernelObject::Kind::Thread || !lpExitCode) {
        if (obj) obj->Release();
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *lpExitCode = static_cast<ThreadObject*>(obj)->ExitCode();
    obj->Release();
    return TRUE;
}

DWORD WINAPI GetThreadId(HANDLE hThread) {
    KernelObject* obj = KernelObject::FromHandle(hThread);
    if (!obj || obj->GetKind() != KernelObject::Kind::Thread) {
        if (obj) obj->Release();
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    DWORD id = static_cast<ThreadObject*>(obj)->m_threadId;
    obj->Release();
    return id;
}

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCSTR) {
    return (new EventObject(bManualReset != FALSE, bInitialState != FALSE))->ToHandle();
}

static BOOL SetEventState(HANDLE hEvent, bool value) {
    KernelObject* obj = KernelObject::FromHandle(hEvent);
    if (!obj || obj->GetKind() != KernelObject::Kind::Event) {
        if (obj) obj->Release();
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    static_cast<EventObject*>(obj)->Set(value);
    obj->Release();
    return TRUE;
}
BOOL WINAPI SetEvent(HANDLE hEvent) {
    return SetEventState(hEvent, true);
}
BOOL WINAPI ResetEvent(HANDLE hEvent) {
    return SetEventState(hEvent, false);
}

DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                                    DWORD dwMilliseconds) {
    if (nCount == 0 || nCount > 64 || !lpHandles) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::vector<KernelObject*> objects;
    for (DWORD i = 0; i < nCount; ++i) {
        KernelObject* obj = KernelObject::FromHandle(lpHandles[i]);
        if (!obj || !obj->Waitable()) {
            if (obj) obj->Release();
            for (auto* o : objects) o->Release();
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        objects.push_back(obj);
    }
    DWORD result = WAIT_TIMEOUT;
    {
        std::unique_lock<std::mutex> lock(KernelObject::Mutex());
        auto ready = [&]() -> bool {
            if (bWaitAll) {
                for (auto* o : objects)
                    if (!o->Signalled()) return false;
                for (auto* o : objects) o->Consume();
                result = WAIT_OBJECT_0;
                return true;
            }
            for (DWORD i = 0; i < objects.size(); ++i) {
                if (objects[i]->Signalled()) {
                    objects[i]->Consume();
                    result = WAIT_OBJECT_0 + i;
                    return true;
                }
            }
            return false;
        };
        // Waits on kernel objects use real time: they join threads and hand work over, they do
        // not pace media, so the manual clock does not apply to them.
        if (dwMilliseconds == INFINITE) {
            KernelObject::Changed().wait(lock, ready);
        } else {
            KernelObject::Changed().wait_for(lock, std::chrono::milliseconds(dwMilliseconds),
                                             ready);
        }
    }
    for (auto* o : objects) o->Release();
    return result;
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    return WaitForMultipleObjects(1, &hHandle, FALSE, dwMilliseconds);
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
    KernelObject* obj = KernelObject::FromHandle(hObject);
    if (!obj) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!obj->CloseOwnHandle()) {
        obj->Release();  // the reference FromHandle took
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    obj->Release(2);  // the reference FromHandle took, and the handle's own
    return TRUE;
}
