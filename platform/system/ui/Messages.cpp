// Message queues: posting, sending across threads, retrieval in the system's order, dispatch,
// and waiting for messages together with kernel objects.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <map>
#include <mutex>
#include <string>

#include "platform/system/ui/Input.h"
#include "platform/system/ui/User.h"
#include "platform/system/ui/UserInternal.h"
#include "platform/system/win/Clock.h"
#include "platform/system/win/KernelObject.h"

#ifndef ERROR_INVALID_THREAD_ID
#define ERROR_INVALID_THREAD_ID 1444L
#endif

namespace lumacap::ui {
namespace {

bool IsDescendantL(UserState& u, HWND ancestor, HWND hwnd) {
    for (Window* w = u.FindL(hwnd); w; w = w->parent)
        if (w->handle == ancestor) return true;
    return false;
}

bool InRange(UINT message, UINT lo, UINT hi) {
    return (lo == 0 && hi == 0) || (message >= lo && message <= hi);
}

bool Matches(UserState& u, const MSG& m, HWND filter, UINT lo, UINT hi) {
    if (filter == reinterpret_cast<HWND>(-1)) {
        if (m.hwnd) return false;
    } else if (filter && !IsDescendantL(u, filter, m.hwnd)) {
        return false;
    }
    return InRange(m.message, lo, hi);
}

bool IsMouseInput(const InputMessage& im) {
    return im.clientMessage != 0;
}

// Answers the sends other threads are waiting on and runs the work the display handed to this
// thread. Called with the lock held; drops it around each call into a window procedure.
void HandleIncomingSendsL(UserState& u, ThreadQueue& q, std::unique_lock<std::mutex>& lk) {
    while (!q.sent.empty() || !q.tasks.empty()) {
        if (!q.tasks.empty()) {
            std::function<void()> task = std::move(q.tasks.front());
            q.tasks.pop_front();
            lk.unlock();
            task();
            lk.lock();
            continue;
        }
        std::shared_ptr<SentMessage> sm = q.sent.front();
        q.sent.pop_front();
        Window* w = u.FindL(sm->hwnd);
        WNDPROC proc = (w && w->ownerTid == q.tid) ? w->proc : nullptr;
        ++q.handlingSend;
        lk.unlock();
        const LRESULT r = proc ? proc(sm->hwnd, sm->message, sm->wParam, sm->lParam) : 0;
        lk.lock();
        --q.handlingSend;
        sm->result = r;
        sm->failed = proc == nullptr;
        sm->done = true;
        if (sm->sender) sm->sender->cv.notify_all();
    }
}

HWND PaintableL(UserState& u, ThreadQueue& q, HWND filter) {
    for (HWND h : q.dirty) {
        Window* w = u.FindL(h);
        if (!w || w->update.Empty() || !u.VisibleOnScreenL(w)) continue;
        if (filter && filter != reinterpret_cast<HWND>(-1) && !IsDescendantL(u, filter, h))
            continue;
        return h;
    }
    return nullptr;
}

bool AnythingL(UserState& u, ThreadQueue& q) {
    MSG timer;
    return !q.posted.empty() || !q.input.empty() || q.quit || PaintableL(u, q, nullptr) ||
           TimerDueL(u, q, nullptr, &timer, false);
}

// Waits on the queue's condition for at most `ms` (forever for a negative value). Timers are
// due by the platform's clock: a manual clock moves without telling anyone, so with timers
// waiting on it the queue looks again every few milliseconds.
void WaitL(ThreadQueue& q, std::unique_lock<std::mutex>& lk, long ms) {
    const long timer = NextTimerDelayL(q);
    if (timer >= 0) {
        const long step = win::ManualClockActive() ? 2 : timer;
        ms = ms < 0 ? step : std::min(ms, step);
    }
    if (ms < 0) {
        q.cv.wait(lk);
    } else {
        q.cv.wait_for(lk, std::chrono::milliseconds(ms));
    }
}

enum class Fetch { Message, Quit, None };

// The next message in the system's order: sent messages (handled here, never returned), posted
// messages, input, WM_QUIT, WM_PAINT for a window with something to paint (left in place until
// the window validates itself), then WM_TIMER.
Fetch FetchL(UserState& u, ThreadQueue& q, std::unique_lock<std::mutex>& lk, MSG* out, HWND filter,
             UINT lo, UINT hi, bool remove) {
    q.wakeBits.store(0, std::memory_order_relaxed);
    for (;;) {
        HandleIncomingSendsL(u, q, lk);
        for (auto it = q.posted.begin(); it != q.posted.end(); ++it) {
            if (!Matches(u, *it, filter, lo, hi)) continue;
            *out = *it;
            if (remove) q.posted.erase(it);
            q.lastMessageTime = out->time;
            return Fetch::Message;
        }
        bool retry = false;
        for (auto it = q.input.begin(); it != q.input.end(); ++it) {
            if (!Matches(u, it->msg, filter, lo, hi)) continue;
            const InputMessage im = *it;
            if (!remove) {
                *out = im.msg;
                return Fetch::Message;
            }
            q.input.erase(it);
            q.lastMessageTime = im.msg.time;
            if (IsMouseInput(im)) {
                // Hit testing may call procedures, hand the message on, or eat it.
                if (!TakeMouseMessage(u, q, lk, im, out)) {
                    retry = true;
                    break;
                }
            } else {
                *out = im.msg;
            }
            TrackKeyState(q, *out, im.sideVk);
            return Fetch::Message;
        }
        if (!retry) break;
    }
    if (q.quit && (!filter || filter == reinterpret_cast<HWND>(-1)) && InRange(WM_QUIT, lo, hi)) {
        *out =
            MSG{nullptr, WM_QUIT, static_cast<WPARAM>(q.quitCode), 0, GetTickCount(), u.cursorPos};
        if (remove) q.quit = false;
        return Fetch::Quit;
    }
    if (InRange(WM_PAINT, lo, hi)) {
        if (HWND h = PaintableL(u, q, filter)) {
            *out = MSG{h, WM_PAINT, 0, 0, GetTickCount(), u.cursorPos};
            return Fetch::Message;
        }
    }
    if (InRange(WM_TIMER, lo, hi) && TimerDueL(u, q, filter, out, remove)) {
        q.lastMessageTime = out->time;
        return Fetch::Message;
    }
    return Fetch::None;
}

bool BadFilter(HWND hWnd) {
    return hWnd && hWnd != reinterpret_cast<HWND>(-1) && !IsWindow(hWnd);
}

// What MsgWaitForMultipleObjects waits for among the queue's contents, for MWMO_INPUTAVAILABLE.
UINT WaitingKindsL(UserState& u, ThreadQueue& q) {
    UINT kinds = 0;
    if (!q.posted.empty()) kinds |= QS_POSTMESSAGE;
    if (!q.sent.empty() || !q.tasks.empty()) kinds |= QS_SENDMESSAGE;
    for (const InputMessage& im : q.input)
        kinds |= im.clientMessage == WM_MOUSEMOVE ? QS_MOUSEMOVE
                 : im.clientMessage               ? QS_MOUSEBUTTON
                                                  : QS_KEY;
    if (PaintableL(u, q, nullptr)) kinds |= QS_PAINT;
    MSG timer;
    if (TimerDueL(u, q, nullptr, &timer, false)) kinds |= QS_TIMER;
    return kinds;
}

}  // namespace

bool WaitForMessages(unsigned ms) {
    UserState& u = UserState::Get();
    std::unique_lock<std::mutex> lk(u.mutex);
    auto q = u.CurrentQueueL();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        HandleIncomingSendsL(u, *q, lk);
        if (AnythingL(u, *q)) return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) return false;
        WaitL(*q, lk, static_cast<long>(left));
    }
}

}  // namespace lumacap::ui

using namespace lumacap::ui;

BOOL WINAPI GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
    if (!lpMsg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    if (BadFilter(hWnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }
    UserState& u = UserState::Get();
    std::unique_lock<std::mutex> lk(u.mutex);
    auto q = u.CurrentQueueL();
    for (;;) {
        switch (FetchL(u, *q, lk, lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, true)) {
            case Fetch::Message:
                return TRUE;
            case Fetch::Quit:
                return FALSE;
            case Fetch::None:
                break;
        }
        if (q->wakeBits.load(std::memory_order_relaxed) != 0) continue;
        WaitL(*q, lk, -1);
    }
}

BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax,
                         UINT wRemoveMsg) {
    if (!lpMsg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (BadFilter(hWnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    UserState& u = UserState::Get();
    std::unique_lock<std::mutex> lk(u.mutex);
    auto q = u.CurrentQueueL();
    return FetchL(u, *q, lk, lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax,
                  (wRemoveMsg & PM_REMOVE) != 0) != Fetch::None
               ? TRUE
               : FALSE;
}

BOOL WINAPI WaitMessage() {
    while (!WaitForMessages(1000)) {
    }
    return TRUE;
}

LRESULT WINAPI DispatchMessageA(const MSG* lpMsg) {
    if (!lpMsg) return 0;
    if (lpMsg->message == WM_TIMER && lpMsg->lParam) {
        // A timer with a procedure of its own calls it instead of the window's; only a timer
        // of this thread's names a procedure that may be called.
        const auto proc = reinterpret_cast<TIMERPROC>(lpMsg->lParam);
        bool known = false;
        {
            UserState& u = UserState::Get();
            std::lock_guard<std::mutex> lock(u.mutex);
            for (const Timer& t : u.CurrentQueueL()->timers)
                known = known || (t.proc == proc && t.id == lpMsg->wParam);
        }
        if (known) proc(lpMsg->hwnd, WM_TIMER, lpMsg->wParam, lpMsg->time);
        return 0;
    }
    if (!lpMsg->hwnd) return 0;
    WNDPROC proc = nullptr;
    {
        UserState& u = UserState::Get();
        std::lock_guard<std::mutex> lock(u.mutex);
        Window* w = u.FindL(lpMsg->hwnd);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        if (w->ownerTid != GetCurrentThreadId()) {
            SetLastError(ERROR_WINDOW_OF_OTHER_THREAD);
            return 0;
        }
        proc = w->proc;
    }
    return proc ? proc(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam) : 0;
}

void WINAPI PostQuitMessage(int nExitCode) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    auto q = u.CurrentQueueL();
    q->quit = true;
    q->quitCode = nExitCode;
    q->Wake(QS_POSTMESSAGE);
}

BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    if (!hWnd) {
        u.PostL(*u.CurrentQueueL(), MSG{nullptr, Msg, wParam, lParam, GetTickCount(), u.cursorPos});
        return TRUE;
    }
    Window* w = u.FindL(hWnd);
    if (!w || !w->queue->alive) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    u.PostL(*w->queue, MSG{hWnd, Msg, wParam, lParam, GetTickCount(), u.cursorPos});
    return TRUE;
}

BOOL WINAPI PostThreadMessageA(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    auto it = u.queues.find(idThread);
    if (it == u.queues.end() || !it->second->alive) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return FALSE;
    }
    u.PostL(*it->second, MSG{nullptr, Msg, wParam, lParam, GetTickCount(), u.cursorPos});
    return TRUE;
}

UINT WINAPI RegisterWindowMessageA(LPCSTR lpString) {
    if (!lpString || !*lpString) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    static std::mutex mutex;
    static std::map<std::string, UINT> registered;
    const std::string key = LowerCase(lpString);
    std::lock_guard<std::mutex> lock(mutex);
    const auto it =
        registered.try_emplace(key, static_cast<UINT>(0xC000 + registered.size())).first;
    return it->second;
}

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    UserState& u = UserState::Get();
    std::unique_lock<std::mutex> lk(u.mutex);
    Window* w = u.FindL(hWnd);
    if (!w || !w->queue->alive) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (w->ownerTid == GetCurrentThreadId()) {
        WNDPROC proc = w->proc;
        lk.unlock();
        return proc ? proc(hWnd, Msg, wParam, lParam) : 0;
    }
    auto target = w->queue;
    auto me = u.CurrentQueueL();
    auto sm = std::make_shared<SentMessage>(SentMessage{hWnd, Msg, wParam, lParam});
    sm->sender = me;
    target->sent.push_back(sm);
    target->Wake(QS_SENDMESSAGE);
    // While waiting, answer whatever other threads send to this one, so two threads sending to
    // each other cannot deadlock.
    while (!sm->done) {
        if (!me->sent.empty() || !me->tasks.empty()) {
            HandleIncomingSendsL(u, *me, lk);
            continue;
        }
        me->cv.wait(lk);
    }
    if (sm->failed) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return sm->result;
}

BOOL WINAPI InSendMessage() {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    return u.CurrentQueueL()->handlingSend > 0 ? TRUE : FALSE;
}

DWORD WINAPI GetMessageTime() {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    return u.CurrentQueueL()->lastMessageTime;
}

DWORD WINAPI MsgWaitForMultipleObjectsEx(DWORD nCount, const HANDLE* pHandles, DWORD dwMilliseconds,
                                         DWORD dwWakeMask, DWORD dwFlags) {
    using lumacap::win::KernelObject;
    if (nCount > 63 || (nCount && !pHandles)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::vector<KernelObject*> objects;
    auto release = [&] {
        for (auto* o : objects) o->Release();
    };
    for (DWORD i = 0; i < nCount; ++i) {
        KernelObject* obj = KernelObject::FromHandle(pHandles[i]);
        if (!obj || !obj->Waitable()) {
            if (obj) obj->Release();
            release();
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        objects.push_back(obj);
    }
    UserState& u = UserState::Get();
    std::shared_ptr<ThreadQueue> q;
    {
        std::lock_guard<std::mutex> lock(u.mutex);
        q = u.CurrentQueueL();
        // Messages already there count only when asked for; otherwise only new ones do.
        if ((dwFlags & MWMO_INPUTAVAILABLE) && (WaitingKindsL(u, *q) & dwWakeMask)) {
            release();
            return WAIT_OBJECT_0 + nCount;
        }
    }
    const bool all = (dwFlags & MWMO_WAITALL) != 0;
    DWORD result = WAIT_TIMEOUT;
    q->msgWaiting.store(true, std::memory_order_release);
    {
        std::unique_lock<std::mutex> lock(KernelObject::Mutex());
        auto ready = [&]() -> bool {
            const UINT bits = q->wakeBits.load(std::memory_order_relaxed);
            const bool timerDue =
                (dwWakeMask & QS_TIMER) && q->hasTimers.load(std::memory_order_acquire) &&
                static_cast<int32_t>(GetTickCount() - q->nextTimerDue.load()) >= 0;
            if ((bits & dwWakeMask) || timerDue) {
                result = WAIT_OBJECT_0 + nCount;
                return true;
            }
            if (objects.empty()) return false;
            if (all) {
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
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(dwMilliseconds);
        while (!ready()) {
            // Timers follow the platform's clock, which no one signals: look again regularly
            // while one is pending.
            auto until = dwMilliseconds == INFINITE ? std::chrono::steady_clock::time_point::max()
                                                    : deadline;
            if ((dwWakeMask & QS_TIMER) && q->hasTimers.load(std::memory_order_acquire))
                until = std::min(until,
                                 std::chrono::steady_clock::now() + std::chrono::milliseconds(2));
            if (until == std::chrono::steady_clock::time_point::max()) {
                KernelObject::Changed().wait(lock);
            } else if (KernelObject::Changed().wait_until(lock, until) == std::cv_status::timeout &&
                       dwMilliseconds != INFINITE && std::chrono::steady_clock::now() >= deadline) {
                ready();
                break;
            }
        }
    }
    q->msgWaiting.store(false, std::memory_order_release);
    if (result == WAIT_OBJECT_0 + nCount) q->wakeBits.store(0, std::memory_order_relaxed);
    release();
    return result;
}

DWORD WINAPI MsgWaitForMultipleObjects(DWORD nCount, const HANDLE* pHandles, BOOL fWaitAll,
                                       DWORD dwMilliseconds, DWORD dwWakeMask) {
    return MsgWaitForMultipleObjectsEx(nCount, pHandles, dwMilliseconds, dwWakeMask,
                                       fWaitAll ? MWMO_WAITALL : 0);
}
