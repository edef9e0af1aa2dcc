// Timers: SetTimer and KillTimer, and the WM_TIMER messages a queue makes when it has nothing
// else to give. Periods run on the platform's clock, so a manual clock drives them in tests.
#include <algorithm>

#include "platform/system/ui/User.h"
#include "platform/system/ui/UserInternal.h"

namespace lumacap::ui {
namespace {

// Milliseconds from `now` until `due`, in the wrapping tick counter's arithmetic.
long Until(DWORD due, DWORD now) {
    return static_cast<long>(static_cast<int32_t>(due - now));
}

void PublishNextDueL(ThreadQueue& q) {
    if (q.timers.empty()) {
        q.hasTimers.store(false, std::memory_order_release);
        return;
    }
    const DWORD now = GetTickCount();
    DWORD next = q.timers.front().due;
    for (const Timer& t : q.timers)
        if (Until(t.due, now) < Until(next, now)) next = t.due;
    q.nextTimerDue.store(next, std::memory_order_relaxed);
    q.hasTimers.store(true, std::memory_order_release);
}

}  // namespace

bool TimerDueL(UserState& u, ThreadQueue& q, HWND filter, MSG* out, bool remove) {
    const DWORD now = GetTickCount();
    Timer* best = nullptr;
    for (Timer& t : q.timers) {
        if (Until(t.due, now) > 0) continue;
        if (filter && filter != reinterpret_cast<HWND>(-1) && t.hwnd != filter) continue;
        if (!best || Until(t.due, now) < Until(best->due, now)) best = &t;
    }
    if (!best) return false;
    *out =
        MSG{best->hwnd, WM_TIMER, best->id, reinterpret_cast<LPARAM>(best->proc), now, u.cursorPos};
    if (remove) {
        // However late the queue is, one message per timer: the next period starts now.
        best->due = now + best->elapse;
        PublishNextDueL(q);
    }
    return true;
}

long NextTimerDelayL(const ThreadQueue& q) {
    if (q.timers.empty()) return -1;
    const DWORD now = GetTickCount();
    long best = -1;
    for (const Timer& t : q.timers) {
        const long d = std::max(0L, Until(t.due, now));
        if (best < 0 || d < best) best = d;
    }
    return best;
}

}  // namespace lumacap::ui

using namespace lumacap::ui;

UINT_PTR WINAPI SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    std::shared_ptr<ThreadQueue> q;
    if (hWnd) {
        Window* w = u.FindL(hWnd);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        // Timers belong to the window's thread, which must be the caller.
        if (w->ownerTid != GetCurrentThreadId()) {
            SetLastError(ERROR_ACCESS_DENIED);
            return 0;
        }
        q = w->queue;
    } else {
        q = u.CurrentQueueL();
    }
    uElapse = std::clamp<UINT>(uElapse, USER_TIMER_MINIMUM, 0x7FFFFFFF);
    auto same = [&](const Timer& t) { return t.hwnd == hWnd && t.id == nIDEvent; };
    auto it = std::find_if(q->timers.begin(), q->timers.end(), same);
    if (!hWnd && it == q->timers.end()) {
        // A thread timer gets an identifier of its own unless it replaces one.
        static UINT_PTR next = 0x7FFE;
        nIDEvent = ++next;
    }
    const Timer timer{hWnd, nIDEvent, uElapse, GetTickCount() + uElapse, lpTimerFunc};
    if (it != q->timers.end()) {
        *it = timer;
    } else {
        q->timers.push_back(timer);
    }
    PublishNextDueL(*q);
    q->Wake(0);  // a waiting GetMessage looks again at when to wake
    return nIDEvent ? nIDEvent : 1;
}

BOOL WINAPI KillTimer(HWND hWnd, UINT_PTR uIDEvent) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    std::shared_ptr<ThreadQueue> q;
    if (hWnd) {
        Window* w = u.FindL(hWnd);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        q = w->queue;
    } else {
        q = u.CurrentQueueL();
    }
    const size_t before = q->timers.size();
    q->timers.erase(
        std::remove_if(q->timers.begin(), q->timers.end(),
                       [&](const Timer& t) { return t.hwnd == hWnd && t.id == uIDEvent; }),
        q->timers.end());
    PublishNextDueL(*q);
    if (q->timers.size() == before) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}
