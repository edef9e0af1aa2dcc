// Message queues: posting, sending across threads, retrieval in the system's order, dispatch, and
// painting (invalidation, coalesced WM_PAINT, BeginPaint/EndPaint, window contexts).
#include <algorithm>
#include <cctype>
#include <chrono>
#include <map>
#include <mutex>
#include <string>

#include "platform/system/ui/Gdi.h"
#include "platform/system/ui/User.h"

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

bool IsMouseMessage(UINT m) {
    return (m >= WM_MOUSEFIRST && m <= WM_MOUSELAST) ||
           (m >= WM_NCMOUSEMOVE && m <= WM_NCLBUTTONUP);
}

// Answers the sends other threads are waiting on. Called with the lock held; drops it around each
// call into a window procedure.
void HandleIncomingSendsL(UserState& u, ThreadQueue& q, std::unique_lock<std::mutex>& lk) {
    while (!q.sent.empty()) {
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

enum class Fetch { Message, Quit, None };

// The next message in the system's order: sent messages (handled here, never returned), posted
// messages, input, WM_QUIT, then WM_PAINT for a window with something to paint (left in place until
// the window validates itself).
Fetch FetchL(UserState& u, ThreadQueue& q, std::unique_lock<std::mutex>& lk, MSG* out, HWND filter,
             UINT lo, UINT hi, bool remove) {
    HandleIncomingSendsL(u, q, lk);
    for (auto it = q.posted.begin(); it != q.posted.end(); ++it) {
        if (!Matches(u, *it, filter, lo, hi)) continue;
        *out = *it;
        if (remove) q.posted.erase(it);
        q.lastMessageTime = out->time;
        return Fetch::Message;
    }
    for (auto it = q.input.begin(); it != q.input.end(); ++it) {
        if (!Matches(u, it->msg, filter, lo, hi)) continue;
        const InputMessage im = *it;
        if (remove) q.input.erase(it);
        *out = im.msg;
        q.lastMessageTime = out->time;
        if (remove && IsMouseMessage(im.msg.message) && !u.capture && u.FindL(im.msg.hwnd)) {
            // The window under the pointer chooses the cursor before it sees the mouse message.
            lk.unlock();
            SendMessageA(im.msg.hwnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(im.msg.hwnd),
                         MAKELPARAM(im.hitTest, im.msg.message));
            lk.lock();
        }
        return Fetch::Message;
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
    return Fetch::None;
}

bool BadFilter(HWND hWnd) {
    return hWnd && hWnd != reinterpret_cast<HWND>(-1) && !IsWindow(hWnd);
}

}  // namespace

bool WaitForMessages(unsigned ms) {
    UserState& u = UserState::Get();
    std::unique_lock<std::mutex> lk(u.mutex);
    auto q = u.CurrentQueueL();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        HandleIncomingSendsL(u, *q, lk);
        if (!q->posted.empty() || !q->input.empty() || q->quit || PaintableL(u, *q, nullptr))
            return true;
        if (q->cv.wait_until(lk, deadline) == std::cv_status::timeout) {
            HandleIncomingSendsL(u, *q, lk);
            return !q->posted.empty() || !q->input.empty() || q->quit || PaintableL(u, *q, nullptr);
        }
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
        q->cv.wait(lk);
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

BOOL WINAPI TranslateMessage(const MSG* lpMsg) {
    // No keyboard: nothing ever translates into characters.
    return lpMsg ? FALSE : FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG* lpMsg) {
    if (!lpMsg || !lpMsg->hwnd) return 0;
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
    q->cv.notify_all();
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
    std::string key(lpString);
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::lock_guard<std::mutex> lock(mutex);
    const auto it =
        registered.try_emplace(key, static_cast<UINT>(0xC000 + registered.size())).first;
    return it->second;
}

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    UserState& u = UserState::Get();
    std::unique_lock<std::mutex> lk(u.mutex);
    Window* w = u.FindL(hWnd);
    if (!w) {
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
    target->cv.notify_all();
    // While waiting, answer whatever other threads send to this one, so two threads sending to
    // each other cannot deadlock.
    while (!sm->done) {
        if (!me->sent.empty()) {
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

// ---- painting ----

BOOL WINAPI InvalidateRect(HWND hWnd, const RECT* lpRect, BOOL bErase) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    if (!hWnd) {
        for (Window* w : u.topLevels) u.InvalidateL(w, nullptr, bErase != FALSE);
        return TRUE;
    }
    Window* w = u.FindL(hWnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    u.InvalidateL(w, lpRect, bErase != FALSE);
    return TRUE;
}

BOOL WINAPI ValidateRect(HWND hWnd, const RECT* lpRect) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    Window* w = u.FindL(hWnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (lpRect) {
        w->update.Subtract(*lpRect);
    } else {
        w->update.Clear();
    }
    if (w->update.Empty()) {
        w->erase = false;
        auto& d = w->queue->dirty;
        d.erase(std::remove(d.begin(), d.end(), hWnd), d.end());
    }
    return TRUE;
}

BOOL WINAPI GetUpdateRect(HWND hWnd, LPRECT lpRect, BOOL) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    Window* w = u.FindL(hWnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    const RECT b = w->update.Bounds();
    if (lpRect) *lpRect = b;
    return w->update.Empty() ? FALSE : TRUE;
}

BOOL WINAPI UpdateWindow(HWND hWnd) {
    {
        UserState& u = UserState::Get();
        std::lock_guard<std::mutex> lock(u.mutex);
        Window* w = u.FindL(hWnd);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        if (w->update.Empty() || !u.VisibleOnScreenL(w)) return TRUE;
    }
    SendMessageA(hWnd, WM_PAINT, 0, 0);
    return TRUE;
}

HDC WINAPI BeginPaint(HWND hWnd, LPPAINTSTRUCT lpPaint) {
    if (!lpPaint) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    RECT rc;
    bool erase;
    std::shared_ptr<Surface> surface;
    {
        UserState& u = UserState::Get();
        std::lock_guard<std::mutex> lock(u.mutex);
        Window* w = u.FindL(hWnd);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
        const RECT client{0, 0, w->ClientWidth(), w->ClientHeight()};
        const RECT b = w->update.Bounds();
        if (!IntersectRect(&rc, &b, &client)) rc = RECT{0, 0, 0, 0};
        erase = w->erase;
        w->update.Clear();
        w->erase = false;
        auto& d = w->queue->dirty;
        d.erase(std::remove(d.begin(), d.end(), hWnd), d.end());
        surface = w->surface;
    }
    HDC hdc = CreateWindowDC(hWnd, std::move(surface), rc, true);
    *lpPaint = PAINTSTRUCT{};
    lpPaint->hdc = hdc;
    lpPaint->rcPaint = rc;
    if (erase && hdc)
        lpPaint->fErase =
            SendMessageA(hWnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(hdc), 0) ? FALSE : TRUE;
    return hdc;
}

BOOL WINAPI EndPaint(HWND hWnd, const PAINTSTRUCT* lpPaint) {
    if (!lpPaint) return FALSE;
    ReleaseWindowDC(lpPaint->hdc);
    UserState& u = UserState::Get();
    if (u.backend) u.backend->ContentChanged(hWnd);
    return TRUE;
}

HDC WINAPI GetDC(HWND hWnd) {
    UserState& u = UserState::Get();
    std::shared_ptr<Surface> surface;
    RECT clip;
    {
        std::lock_guard<std::mutex> lock(u.mutex);
        if (!hWnd) {
            surface = u.desktop;
            clip = RECT{0, 0, u.screenWidth, u.screenHeight};
        } else {
            Window* w = u.FindL(hWnd);
            if (!w) {
                SetLastError(ERROR_INVALID_WINDOW_HANDLE);
                return nullptr;
            }
            surface = w->surface;
            clip = RECT{0, 0, w->ClientWidth(), w->ClientHeight()};
        }
    }
    return CreateWindowDC(hWnd, std::move(surface), clip, false);
}

int WINAPI ReleaseDC(HWND hWnd, HDC hDC) {
    if (!ReleaseWindowDC(hDC)) return 0;
    UserState& u = UserState::Get();
    if (u.backend && hWnd) u.backend->ContentChanged(hWnd);
    return 1;
}
