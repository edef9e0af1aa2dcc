// Windows and their classes: creation, destruction, placement, visibility and queries; USER's
// shared state; what happens to a thread's windows when the thread ends.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/sim/ResetHooks.h"
#include "platform/system/ui/Gdi.h"
#include "platform/system/ui/User.h"
#include "platform/system/win/MessagePost.h"
#include "platform/system/win/Trace.h"

#ifndef ERROR_TLW_WITH_WSCHILD
#define ERROR_TLW_WITH_WSCHILD 1406L
#endif

namespace lumacap::ui {
namespace {

constexpr int kBorder = 1;
constexpr int kCaption = 20;
constexpr int kDefaultWidth = 640;
constexpr int kDefaultHeight = 480;

std::string Lower(const char* s) {
    std::string out(s ? s : "");
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool IsEmpty(const RECT& r) {
    return r.right <= r.left || r.bottom <= r.top;
}

RECT Intersection(const RECT& a, const RECT& b) {
    RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
           std::min(a.bottom, b.bottom)};
    if (IsEmpty(r)) r = RECT{0, 0, 0, 0};
    return r;
}

std::mutex g_observerMutex;
std::vector<std::function<void(HWND)>>& Observers() {
    static std::vector<std::function<void(HWND)>> observers;
    return observers;
}

// Ends a thread's part in USER when the thread exits: its windows go (no procedure can run any
// more), messages other threads are waiting on fail, and the queue disappears.
struct QueueHolder {
    std::shared_ptr<ThreadQueue> queue;
    ~QueueHolder() {
        if (!queue) return;
        UserState& u = UserState::Get();
        std::vector<HWND> removed;
        {
            std::lock_guard<std::mutex> lock(u.mutex);
            queue->alive = false;
            for (auto& sm : queue->sent) {
                sm->done = true;
                sm->failed = true;
                if (sm->sender) sm->sender->cv.notify_all();
            }
            queue->sent.clear();
            std::vector<Window*> mine;
            for (auto& [h, w] : u.windows)
                if (w->queue == queue && (!w->parent || w->parent->queue != queue))
                    mine.push_back(w.get());
            for (Window* w : mine) u.RemoveSilentlyL(w, &removed);
            u.queues.erase(queue->tid);
        }
        NotifyWindowsGone(removed);
    }
};
thread_local QueueHolder t_queue;

void SetLastErrorInvalidWindow() {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
}

// The window procedure a window or its class uses, or null.
WNDPROC ProcOf(HWND hwnd) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    Window* w = u.FindL(hwnd);
    return w ? w->proc : nullptr;
}

void ReplaceSurfaceL(Window* w) {
    const int cw = w->ClientWidth(), ch = w->ClientHeight();
    if (cw <= 0 || ch <= 0) {
        w->surface.reset();
        return;
    }
    if (w->surface && w->surface->Width() == cw && w->surface->Height() == ch) return;
    auto s = Surface::Create(cw, ch);
    if (s && w->surface) {
        // Keep what the window had drawn where it still fits; the rest is painted on WM_PAINT.
        std::lock_guard<std::mutex> lock(w->surface->Mutex());
        const int cols = std::min(cw, w->surface->Width());
        for (int y = 0; y < std::min(ch, w->surface->Height()); ++y)
            std::memcpy(s->Row(y), w->surface->Row(y), static_cast<size_t>(cols) * 4);
    }
    w->surface = std::move(s);
}

void InsertInZOrderL(UserState& u, Window* w, HWND after) {
    std::vector<Window*>& list = w->parent ? w->parent->children : u.topLevels;
    list.erase(std::remove(list.begin(), list.end(), w), list.end());
    auto isTopmost = [](const Window* x) { return (x->exStyle & WS_EX_TOPMOST) != 0; };
    if (after == HWND_BOTTOM) {
        list.push_back(w);
        return;
    }
    if (after == HWND_TOP || after == HWND_TOPMOST || after == HWND_NOTOPMOST) {
        // Topmost windows stay above the others.
        auto pos = list.begin();
        if (!w->parent && !isTopmost(w))
            while (pos != list.end() && isTopmost(*pos)) ++pos;
        list.insert(pos, w);
        return;
    }
    auto it = std::find_if(list.begin(), list.end(), [&](Window* x) { return x->handle == after; });
    list.insert(it == list.end() ? list.end() : it + 1, w);
}

// Sends a message to a window of any thread (a direct call on the owning thread).
LRESULT SendInternal(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    return SendMessageA(hwnd, msg, wp, lp);
}

void CollectPostOrder(Window* w, std::vector<Window*>* out) {
    for (Window* c : w->children) CollectPostOrder(c, out);
    out->push_back(w);
}

void SendDestroy(HWND hwnd) {
    SendInternal(hwnd, WM_DESTROY, 0, 0);
    std::vector<HWND> kids;
    {
        UserState& u = UserState::Get();
        std::lock_guard<std::mutex> lock(u.mutex);
        if (Window* w = u.FindL(hwnd))
            for (Window* c : w->children) kids.push_back(c->handle);
    }
    for (HWND k : kids) SendDestroy(k);
}

}  // namespace

// ---- Region ----

void Region::Add(const RECT& r) {
    if (IsEmpty(r)) return;
    // Keep the set disjoint: add only the parts of r not covered yet.
    std::vector<RECT> pieces{r};
    for (const RECT& e : m_rects) {
        std::vector<RECT> next;
        for (const RECT& p : pieces) {
            if (IsEmpty(Intersection(p, e))) {
                next.push_back(p);
                continue;
            }
            if (p.top < e.top) next.push_back(RECT{p.left, p.top, p.right, e.top});
            if (p.bottom > e.bottom) next.push_back(RECT{p.left, e.bottom, p.right, p.bottom});
            const LONG t = std::max(p.top, e.top), b = std::min(p.bottom, e.bottom);
            if (p.left < e.left) next.push_back(RECT{p.left, t, e.left, b});
            if (p.right > e.right) next.push_back(RECT{e.right, t, p.right, b});
        }
        pieces.swap(next);
        if (pieces.empty()) return;
    }
    m_rects.insert(m_rects.end(), pieces.begin(), pieces.end());
    if (m_rects.size() > 32) {
        const RECT b = Bounds();
        m_rects.assign(1, b);
    }
}

void Region::Subtract(const RECT& r) {
    if (IsEmpty(r)) return;
    std::vector<RECT> out;
    for (const RECT& p : m_rects) {
        if (IsEmpty(Intersection(p, r))) {
            out.push_back(p);
            continue;
        }
        if (p.top < r.top) out.push_back(RECT{p.left, p.top, p.right, r.top});
        if (p.bottom > r.bottom) out.push_back(RECT{p.left, r.bottom, p.right, p.bottom});
        const LONG t = std::max(p.top, r.top), b = std::min(p.bottom, r.bottom);
        if (p.left < r.left) out.push_back(RECT{p.left, t, r.left, b});
        if (p.right > r.right) out.push_back(RECT{r.right, t, p.right, b});
    }
    m_rects.swap(out);
}

RECT Region::Bounds() const {
    if (m_rects.empty()) return RECT{0, 0, 0, 0};
    RECT b = m_rects.front();
    for (const RECT& r : m_rects) {
        b.left = std::min(b.left, r.left);
        b.top = std::min(b.top, r.top);
        b.right = std::max(b.right, r.right);
        b.bottom = std::max(b.bottom, r.bottom);
    }
    return b;
}

// ---- Window ----

RECT Window::Insets() const {
    RECT in{0, 0, 0, 0};
    if (style & (WS_BORDER | WS_THICKFRAME | WS_DLGFRAME))
        in = RECT{kBorder, kBorder, kBorder, kBorder};
    if ((style & WS_CAPTION) == WS_CAPTION) in.top += kCaption;
    return in;
}

int Window::ClientWidth() const {
    const RECT in = Insets();
    return std::max<LONG>(0, rect.right - rect.left - in.left - in.right);
}

int Window::ClientHeight() const {
    const RECT in = Insets();
    return std::max<LONG>(0, rect.bottom - rect.top - in.top - in.bottom);
}

// ---- UserState ----

UserState::UserState() : backend(CreateHeadlessBackend()) {
    ResetScreenL();
    LUMACAP_TRACE(kUi, "display: headless");
}

UserState& UserState::Get() {
    // Never destroyed: threads (and their thread-local queue holders) may outlive static objects.
    static UserState* state = new UserState();
    return *state;
}

Window* UserState::FindL(HWND hwnd) {
    auto it = windows.find(reinterpret_cast<uintptr_t>(hwnd));
    return it == windows.end() ? nullptr : it->second.get();
}

std::shared_ptr<ThreadQueue> UserState::CurrentQueueL() {
    if (!t_queue.queue) {
        t_queue.queue = std::make_shared<ThreadQueue>(GetCurrentThreadId());
        queues[t_queue.queue->tid] = t_queue.queue;
    }
    return t_queue.queue;
}

POINT UserState::ClientOriginL(const Window* w) const {
    POINT p{0, 0};
    for (const Window* x = w; x; x = x->parent) {
        const RECT in = x->Insets();
        p.x += x->rect.left + in.left;
        p.y += x->rect.top + in.top;
    }
    return p;
}

RECT UserState::WindowScreenRectL(const Window* w) const {
    POINT origin{0, 0};
    if (w->parent) origin = ClientOriginL(w->parent);
    return RECT{w->rect.left + origin.x, w->rect.top + origin.y, w->rect.right + origin.x,
                w->rect.bottom + origin.y};
}

bool UserState::VisibleOnScreenL(const Window* w) const {
    for (const Window* x = w; x; x = x->parent)
        if (!x->Visible()) return false;
    return true;
}

void UserState::MarkDirtyL(Window* w) {
    auto& d = w->queue->dirty;
    if (std::find(d.begin(), d.end(), w->handle) == d.end()) d.push_back(w->handle);
    w->queue->cv.notify_all();
}

void UserState::InvalidateL(Window* w, const RECT* rect, bool erase) {
    const RECT client{0, 0, w->ClientWidth(), w->ClientHeight()};
    const RECT r = rect ? Intersection(*rect, client) : client;
    if (!IsEmpty(r)) {
        w->update.Add(r);
        w->erase = w->erase || erase;
        MarkDirtyL(w);
    }
    // Without WS_CLIPCHILDREN the children are part of what needs repainting.
    if (!(w->style & WS_CLIPCHILDREN)) {
        for (Window* c : w->children) {
            const RECT in = c->Insets();
            RECT rc = Intersection(r, c->rect);
            if (IsEmpty(rc)) continue;
            OffsetRect(&rc, -(c->rect.left + in.left), -(c->rect.top + in.top));
            InvalidateL(c, &rc, erase);
        }
    }
}

void UserState::PostL(ThreadQueue& q, const MSG& msg) {
    q.posted.push_back(msg);
    q.cv.notify_all();
}

namespace {
SceneWindow SceneOf(UserState& u, const Window* w) {
    SceneWindow s;
    s.hwnd = w->handle;
    s.windowRect = u.WindowScreenRectL(w);
    const POINT o = u.ClientOriginL(w);
    s.clientRect = RECT{o.x, o.y, o.x + w->ClientWidth(), o.y + w->ClientHeight()};
    s.style = w->style;
    s.surface = w->surface;
    for (auto it = w->children.rbegin(); it != w->children.rend(); ++it)
        if ((*it)->Visible()) s.children.push_back(SceneOf(u, *it));
    return s;
}
}  // namespace

Scene UserState::SceneL(const Window* only) {
    Scene scene;
    scene.width = screenWidth;
    scene.height = screenHeight;
    if (only) {
        scene.windows.push_back(SceneOf(*this, only));
        return scene;
    }
    scene.desktop = desktop;
    for (auto it = topLevels.rbegin(); it != topLevels.rend(); ++it)
        if ((*it)->Visible()) scene.windows.push_back(SceneOf(*this, *it));
    return scene;
}

void UserState::RemoveSilentlyL(Window* w, std::vector<HWND>* removed) {
    std::vector<Window*> order;
    CollectPostOrder(w, &order);
    for (Window* x : order) {
        if (capture == x->handle) capture = nullptr;
        auto& d = x->queue->dirty;
        d.erase(std::remove(d.begin(), d.end(), x->handle), d.end());
        auto& posted = x->queue->posted;
        posted.erase(std::remove_if(posted.begin(), posted.end(),
                                    [&](const MSG& m) { return m.hwnd == x->handle; }),
                     posted.end());
        auto& input = x->queue->input;
        input.erase(std::remove_if(input.begin(), input.end(),
                                   [&](const InputMessage& m) { return m.msg.hwnd == x->handle; }),
                    input.end());
        std::vector<Window*>& list = x->parent ? x->parent->children : topLevels;
        list.erase(std::remove(list.begin(), list.end(), x), list.end());
        if (backend) backend->WindowDestroyed(x->handle);
        removed->push_back(x->handle);
        windows.erase(reinterpret_cast<uintptr_t>(x->handle));  // frees x
    }
}

void UserState::ResetScreenL() {
    desktop = Surface::Create(screenWidth, screenHeight);
    if (desktop) {
        const uint32_t px = PixelFromColor(desktopColor);
        for (int y = 0; y < desktop->Height(); ++y)
            std::fill(desktop->Row(y), desktop->Row(y) + desktop->Width(), px);
    }
    if (backend) backend->ScreenResized(screenWidth, screenHeight);
}

LRESULT CallWindowDirect(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    WNDPROC proc = ProcOf(hwnd);
    return proc ? proc(hwnd, message, wParam, lParam) : 0;
}

void AddWindowGoneObserver(std::function<void(HWND)> observer) {
    std::lock_guard<std::mutex> lock(g_observerMutex);
    Observers().push_back(std::move(observer));
}

void NotifyWindowsGone(const std::vector<HWND>& handles) {
    if (handles.empty()) return;
    std::vector<std::function<void(HWND)>> observers;
    {
        std::lock_guard<std::mutex> lock(g_observerMutex);
        observers = Observers();
    }
    for (HWND h : handles)
        for (auto& o : observers) o(h);
}

std::shared_ptr<Surface> ComposeForRead(HWND hwnd, const RECT& area) {
    UserState& u = UserState::Get();
    Scene scene;
    RECT screenArea = area;
    {
        std::lock_guard<std::mutex> lock(u.mutex);
        if (hwnd) {
            Window* w = u.FindL(hwnd);
            if (!w) return nullptr;
            const POINT o = u.ClientOriginL(w);
            OffsetRect(&screenArea, o.x, o.y);
            scene = u.VisibleOnScreenL(w) ? u.SceneL() : u.SceneL(w);
        } else {
            scene = u.SceneL();
        }
    }
    auto out = Surface::Create(area.right - area.left, area.bottom - area.top);
    if (!out) return nullptr;
    u.backend->Compose(scene, screenArea, *out);
    return out;
}

std::shared_ptr<Surface> DesktopSurface() {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    return u.desktop;
}

namespace {
// Graph events and other platform components post through USER from now on.
struct InstallPosting {
    InstallPosting() { win::InstallPostMessageHandler(&PostMessageA); }
} s_installPosting;

// lumacap::sim::Reset puts USER back: no windows, empty queues, pointer at the origin with no
// capture or confinement, the default screen.
sim::detail::ResetHookRegistration s_reset([] {
    UserState& u = UserState::Get();
    std::vector<HWND> removed;
    {
        std::lock_guard<std::mutex> lock(u.mutex);
        std::vector<Window*> tops;
        for (auto& [h, w] : u.windows)
            if (!w->parent) tops.push_back(w.get());
        for (Window* w : tops) u.RemoveSilentlyL(w, &removed);
        for (auto& [tid, q] : u.queues) {
            q->posted.clear();
            q->input.clear();
            q->dirty.clear();
            q->quit = false;
            for (auto& sm : q->sent) {
                sm->done = true;
                sm->failed = true;
                if (sm->sender) sm->sender->cv.notify_all();
            }
            q->sent.clear();
        }
        u.cursorPos = POINT{0, 0};
        u.leftDown = false;
        u.capture = nullptr;
        u.clipActive = false;
        u.cursor = nullptr;
        u.screenWidth = 1920;
        u.screenHeight = 1080;
        u.desktopColor = RGB(58, 110, 165);
        u.ResetScreenL();
    }
    NotifyWindowsGone(removed);
});
}  // namespace

}  // namespace lumacap::ui

using namespace lumacap::ui;

// ---- classes ----

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* wc) {
    if (!wc || wc->cbSize != sizeof(WNDCLASSEXA) || !wc->lpfnWndProc || !wc->lpszClassName ||
        IS_INTRESOURCE(wc->lpszClassName) || !*wc->lpszClassName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    const std::string key = Lower(wc->lpszClassName);
    if (u.classes.count(key)) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    auto cls = std::make_shared<WindowClass>();
    cls->name = wc->lpszClassName;
    cls->style = wc->style;
    cls->proc = wc->lpfnWndProc;
    cls->instance = wc->hInstance;
    cls->cursor = wc->hCursor;
    cls->background = wc->hbrBackground;
    cls->atom = u.nextAtom++;
    u.classes[key] = cls;
    return cls->atom;
}

ATOM WINAPI RegisterClassA(const WNDCLASSA* wc) {
    if (!wc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    WNDCLASSEXA ex{sizeof(WNDCLASSEXA), wc->style,        wc->lpfnWndProc,   wc->cbClsExtra,
                   wc->cbWndExtra,      wc->hInstance,    wc->hIcon,         wc->hCursor,
                   wc->hbrBackground,   wc->lpszMenuName, wc->lpszClassName, nullptr};
    return RegisterClassExA(&ex);
}

namespace {
std::shared_ptr<WindowClass> FindClassL(UserState& u, LPCSTR name) {
    if (!name) return nullptr;
    if (IS_INTRESOURCE(name)) {
        const ATOM atom = static_cast<ATOM>(reinterpret_cast<uintptr_t>(name));
        for (auto& [k, c] : u.classes)
            if (c->atom == atom) return c;
        return nullptr;
    }
    auto it = u.classes.find(Lower(name));
    return it == u.classes.end() ? nullptr : it->second;
}
}  // namespace

BOOL WINAPI UnregisterClassA(LPCSTR lpClassName, HINSTANCE) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    auto cls = FindClassL(u, lpClassName);
    if (!cls) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    for (auto& [h, w] : u.windows)
        if (w->cls == cls) {
            SetLastError(ERROR_CLASS_HAS_WINDOWS);
            return FALSE;
        }
    u.classes.erase(Lower(cls->name.c_str()));
    return TRUE;
}

BOOL WINAPI GetClassInfoA(HINSTANCE, LPCSTR lpClassName, LPWNDCLASSA wc) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    auto cls = FindClassL(u, lpClassName);
    if (!cls || !wc) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    *wc = WNDCLASSA{cls->style,  cls->proc,       0,       0,          cls->instance, nullptr,
                    cls->cursor, cls->background, nullptr, lpClassName};
    return TRUE;
}

int WINAPI GetClassNameA(HWND hWnd, LPSTR lpClassName, int nMaxCount) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    Window* w = u.FindL(hWnd);
    if (!w || !lpClassName || nMaxCount <= 0) {
        SetLastErrorInvalidWindow();
        return 0;
    }
    const int n = std::min<int>(nMaxCount - 1, static_cast<int>(w->cls->name.size()));
    std::memcpy(lpClassName, w->cls->name.data(), static_cast<size_t>(n));
    lpClassName[n] = '\0';
    return n;
}

// ---- creation and destruction ----

HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle,
                            int X, int Y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu,
                            HINSTANCE hInstance, LPVOID lpParam) {
    UserState& u = UserState::Get();
    HWND hwnd;
    CREATESTRUCTA cs{};
    {
        std::lock_guard<std::mutex> lock(u.mutex);
        auto cls = FindClassL(u, lpClassName);
        if (!cls) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        Window* parent = hWndParent ? u.FindL(hWndParent) : nullptr;
        if (hWndParent && !parent) {
            SetLastErrorInvalidWindow();
            return nullptr;
        }
        const bool child = (dwStyle & WS_CHILD) != 0;
        if (child && !parent) {
            SetLastError(ERROR_TLW_WITH_WSCHILD);
            return nullptr;
        }
        auto w = std::make_shared<Window>();
        w->handle = reinterpret_cast<HWND>(u.nextHandle);
        u.nextHandle += 2;
        w->cls = cls;
        w->proc = cls->proc;
        w->style = dwStyle & ~static_cast<DWORD>(WS_VISIBLE);
        w->exStyle = dwExStyle;
        w->title = lpWindowName ? lpWindowName : "";
        w->instance = hInstance;
        w->queue = u.CurrentQueueL();
        w->ownerTid = w->queue->tid;
        if (child) {
            w->parent = parent;
            w->id = static_cast<LONG_PTR>(reinterpret_cast<uintptr_t>(hMenu));
        } else if (parent) {
            // A top-level window with a parent is owned by it.
            Window* top = parent;
            while (top->parent) top = top->parent;
            w->owner = top->handle;
        }
        if (X == CW_USEDEFAULT) X = Y = 0;
        if (nWidth == CW_USEDEFAULT) {
            nWidth = child ? 0 : kDefaultWidth;
            nHeight = child ? 0 : kDefaultHeight;
        }
        nWidth = std::max(0, nWidth);
        nHeight = std::max(0, nHeight);
        w->rect = RECT{X, Y, X + nWidth, Y + nHeight};
        ReplaceSurfaceL(w.get());
        hwnd = w->handle;
        u.windows[reinterpret_cast<uintptr_t>(hwnd)] = w;
        InsertInZOrderL(u, w.get(), HWND_TOP);
        cs = CREATESTRUCTA{lpParam,
                           hInstance,
                           hMenu,
                           hWndParent,
                           nHeight,
                           nWidth,
                           Y,
                           X,
                           static_cast<LONG>(dwStyle),
                           lpWindowName,
                           lpClassName,
                           dwExStyle};
    }
    if (!SendMessageA(hwnd, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs)) && IsWindow(hwnd)) {
        DestroyWindow(hwnd);
        return nullptr;
    }
    if (!IsWindow(hwnd) || SendMessageA(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
        if (IsWindow(hwnd)) DestroyWindow(hwnd);
        SetLastError(ERROR_CAN_NOT_COMPLETE);
        return nullptr;
    }
    RECT client{};
    GetClientRect(hwnd, &client);
    SendMessageA(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
    SendMessageA(hwnd, WM_MOVE, 0, MAKELPARAM(X, Y));
    if (dwStyle & WS_VISIBLE) ShowWindow(hwnd, SW_SHOW);
    LUMACAP_TRACE(kUi, "window %p created: class %s, %dx%d at %d,%d%s", static_cast<void*>(hwnd),
                  IS_INTRESOURCE(lpClassName) ? "#atom" : lpClassName, nWidth, nHeight, X, Y,
                  (dwStyle & WS_CHILD) ? ", child" : "");
    return IsWindow(hwnd) ? hwnd : nullptr;
}

BOOL WINAPI DestroyWindow(HWND hWnd) {
    UserState& u = UserState::Get();
    {
        std::lock_guard<std::mutex> lock(u.mutex);
        Window* w = u.FindL(hWnd);
        if (!w) {
            SetLastErrorInvalidWindow();
            return FALSE;
        }
        if (w->ownerTid != GetCurrentThreadId()) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        if (w->destroying) return TRUE;
        std::vector<Window*> all;
        CollectPostOrder(w, &all);
        for (Window* x : all) x->destroying = true;
        w->style &= ~static_cast<DWORD>(WS_VISIBLE);
    }
    // Owned windows go first, as on Windows.
    std::vector<HWND> owned;
    {
        std::lock_guard<std::mutex> lock(u.mutex);
        for (auto& [h, w] : u.windows)
            if (w->owner == hWnd && !w->destroying) owned.push_back(w->handle);
    }
    for (HWND o : owned) DestroyWindow(o);
    {
        std::lock_guard<std::mutex> lock(u.mutex);
        for (Window* c = u.FindL(u.capture); c; c = c->parent)
            if (c->handle == hWnd) {
                u.capture = nullptr;
                break;
            }
    }
    // WM_DESTROY goes to the window first and then to its children, while all of them still exist.
    SendDestroy(hWnd);
    // Then the children are destroyed before the window: WM_NCDESTROY children first.
    std::vector<HWND> order;
    {
        std::lock_guard<std::mutex> lock(u.mutex);
        if (Window* w = u.FindL(hWnd)) {
            std::vector<Window*> all;
            CollectPostOrder(w, &all);
            for (Window* x : all) order.push_back(x->handle);
        }
    }
    std::vector<HWND> removed;
    for (HWND h : order) {
        SendMessageA(h, WM_NCDESTROY, 0, 0);
        std::lock_guard<std::mutex> lock(u.mutex);
        if (Window* x = u.FindL(h)) {
            // Its children are gone by now; remove just this one.
            for (Window* c : std::vector<Window*>(x->children)) u.RemoveSilentlyL(c, &removed);
            u.RemoveSilentlyL(x, &removed);
        }
    }
    NotifyWindowsGone(removed);
    return TRUE;
}

// ---- messages every window understands ----

LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    switch (Msg) {
        case WM_NCCREATE:
            return TRUE;
        case WM_CLOSE:
            DestroyWindow(hWnd);
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            if (BeginPaint(hWnd, &ps)) EndPaint(hWnd, &ps);
            return 0;
        }
        case WM_ERASEBKGND: {
            HBRUSH background = nullptr;
            {
                UserState& u = UserState::Get();
                std::lock_guard<std::mutex> lock(u.mutex);
                if (Window* w = u.FindL(hWnd)) background = w->cls->background;
            }
            if (!background) return 0;
            RECT rc;
            GetClipBox(reinterpret_cast<HDC>(wParam), &rc);
            FillRect(reinterpret_cast<HDC>(wParam), &rc, background);
            return 1;
        }
        case WM_SETCURSOR: {
            HWND parent = nullptr;
            HCURSOR classCursor = nullptr;
            {
                UserState& u = UserState::Get();
                std::lock_guard<std::mutex> lock(u.mutex);
                Window* w = u.FindL(hWnd);
                if (!w) return FALSE;
                if (w->parent) parent = w->parent->handle;
                classCursor = w->cls->cursor;
            }
            // The parent decides first; a TRUE answer ends the matter.
            if (parent && SendMessageA(parent, WM_SETCURSOR, wParam, lParam)) return TRUE;
            const int hit = static_cast<short>(LOWORD(lParam));
            if (hit == HTCLIENT) {
                if (classCursor) SetCursor(classCursor);
            } else {
                SetCursor(SystemArrowCursor());
            }
            return FALSE;
        }
        case WM_NCHITTEST: {
            POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            RECT client;
            if (!ScreenToClient(hWnd, &pt) || !GetClientRect(hWnd, &client)) return HTNOWHERE;
            return PtInRect(&client, pt) ? HTCLIENT : HTCAPTION;
        }
        case WM_GETTEXTLENGTH: {
            char buf[1];
            return GetWindowTextA(hWnd, buf, 0);
        }
        default:
            return 0;
    }
}

LRESULT WINAPI CallWindowProcA(WNDPROC lpPrevWndFunc, HWND hWnd, UINT Msg, WPARAM wParam,
                               LPARAM lParam) {
    return lpPrevWndFunc ? lpPrevWndFunc(hWnd, Msg, wParam, lParam) : 0;
}

// ---- queries ----

BOOL WINAPI IsWindow(HWND hWnd) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    return u.FindL(hWnd) ? TRUE : FALSE;
}

BOOL WINAPI IsWindowVisible(HWND hWnd) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    Window* w = u.FindL(hWnd);
    return w && u.VisibleOnScreenL(w) ? TRUE : FALSE;
}

BOOL WINAPI IsChild(HWND hWndParent, HWND hWnd) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    Window* w = u.FindL(hWnd);
    for (Window* p = w ? w->parent : nullptr; p; p = p->parent)
        if (p->handle == hWndParent) return TRUE;
    return FALSE;
}

DWORD WINAPI GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    Window* w = u.FindL(hWnd);
    if (!w) {
        SetLastErrorInvalidWindow();
        return 0;
    }
    if (lpdwProcessId) *lpdwProcessId = GetCurrentProcessId();
    return w->ownerTid;
}

BOOL WINAPI GetClientRect(HWND hWnd, LPRECT lpRect) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    Window* w = u.FindL(hWnd);
    if (!w || !lpRect) {
        SetLastErrorInvalidWindow();
        return FALSE;
    }
    *lpRect = RECT{0, 0, w->ClientWidth(), w->ClientHeight()};
    return TRUE;
}

BOOL WINAPI GetWindowRect(HWND hWnd, LPRECT lpRect) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    Window* w = u.FindL(hWnd);
    if (!w || !lpRect) {
        SetLastErrorInvalidWindow();
        return FALSE;
    }
    *lpRect = u.WindowScreenRectL(w);
    return TRUE;
}

BOOL WINAPI ClientToScreen(HWND hWnd, LPPOINT lpPoint) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    Window* w = u.FindL(hWnd);
    if (!w || !lpPoint) {
        SetLastErrorInvalidWindow();
        return FALSE;
    }
    const POINT o = u.ClientOriginL(w);
    lpPoint->x += o.x;
    lpPoint->y += o.y;
    return TRUE;
}

BOOL WINAPI ScreenToClient(HWND hWnd, LPPOINT lpPoint) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    Window* w = u.FindL(hWnd);
    if (!w || !lpPoint) {
        SetLastErrorInvalidWindow();
        return FALSE;
    }
    const POINT o = u.ClientOriginL(w);
    lpPoint->x -= o.x;
    lpPoint->y -= o.y;
    return TRUE;
}

HWND WINAPI GetParent(HWND hWnd) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    Window* w = u.FindL(hWnd);
    if (!w) {
        SetLastErrorInvalidWindow();
        return nullptr;
    }
    if (w->parent) return w->parent->handle;
    return w->owner;
}

HWND WINAPI GetDesktopWindow() {
    return nullptr;
}

HWND WINAPI SetParent(HWND hWndChild, HWND hWndNewParent) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    Window* w = u.FindL(hWndChild);
    Window* p = hWndNewParent ? u.FindL(hWndNewParent) : nullptr;
    if (!w || (hWndNewParent && !p)) {
        SetLastErrorInvalidWindow();
        return nullptr;
    }
    for (Window* x = p; x; x = x->parent) {
        if (x == w) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
    }
    HWND old = w->parent ? w->parent->handle : nullptr;
    if (w->parent == p) return old;
    std::vector<Window*>& list = w->parent ? w->parent->children : u.topLevels;
    list.erase(std::remove(list.begin(), list.end(), w), list.end());
    w->parent = p;
    w->owner = nullptr;
    InsertInZOrderL(u, w, HWND_TOP);
    if (w->Visible()) u.InvalidateL(w, nullptr, true);
    if (u.backend)
        u.backend->WindowChanged(hWndChild, u.WindowScreenRectL(w), u.VisibleOnScreenL(w));
    return old;
}

HWND WINAPI WindowFromPoint(POINT pt) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    for (Window* w : u.topLevels) {
        if (!w->Visible() || !PtInRect(&w->rect, pt)) continue;
        Window* hit = w;
        for (bool descended = true; descended;) {
            descended = false;
            const POINT o = u.ClientOriginL(hit);
            const POINT local{pt.x - o.x, pt.y - o.y};
            for (Window* c : hit->children) {
                if (c->Visible() && !(c->style & WS_DISABLED) && PtInRect(&c->rect, local)) {
                    hit = c;
                    descended = true;
                    break;
                }
            }
        }
        return hit->handle;
    }
    return nullptr;
}

HWND WINAPI GetWindow(HWND hWnd, UINT uCmd) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    Window* w = u.FindL(hWnd);
    if (!w) {
        SetLastErrorInvalidWindow();
        return nullptr;
    }
    if (uCmd == GW_CHILD) return w->children.empty() ? nullptr : w->children.front()->handle;
    if (uCmd == GW_OWNER) return w->owner;
    const std::vector<Window*>& list = w->parent ? w->parent->children : u.topLevels;
    auto it = std::find(list.begin(), list.end(), w);
    switch (uCmd) {
        case GW_HWNDFIRST:
            return list.front()->handle;
        case GW_HWNDLAST:
            return list.back()->handle;
        case GW_HWNDNEXT:
            return (it + 1) == list.end() ? nullptr : (*(it + 1))->handle;
        case GW_HWNDPREV:
            return it == list.begin() ? nullptr : (*(it - 1))->handle;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
    }
}

HWND WINAPI FindWindowExA(HWND hWndParent, HWND hWndChildAfter, LPCSTR lpszClass,
                          LPCSTR lpszWindow) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    const std::vector<Window*>* list = &u.topLevels;
    if (hWndParent) {
        Window* p = u.FindL(hWndParent);
        if (!p) {
            SetLastErrorInvalidWindow();
            return nullptr;
        }
        list = &p->children;
    }
    auto it = list->begin();
    if (hWndChildAfter) {
        it = std::find_if(list->begin(), list->end(),
                          [&](Window* w) { return w->handle == hWndChildAfter; });
        if (it == list->end()) return nullptr;
        ++it;
    }
    std::shared_ptr<WindowClass> cls;
    if (lpszClass) {
        cls = FindClassL(u, lpszClass);
        if (!cls) return nullptr;
    }
    for (; it != list->end(); ++it) {
        if (cls && (*it)->cls != cls) continue;
        if (lpszWindow && (*it)->title != lpszWindow) continue;
        return (*it)->handle;
    }
    return nullptr;
}

HWND WINAPI FindWindowA(LPCSTR lpClassName, LPCSTR lpWindowName) {
    return FindWindowExA(nullptr, nullptr, lpClassName, lpWindowName);
}

int WINAPI GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    Window* w = u.FindL(hWnd);
    if (!w) {
        SetLastErrorInvalidWindow();
        return 0;
    }
    if (!lpString || nMaxCount <= 0) return static_cast<int>(w->title.size());
    const int n = std::min<int>(nMaxCount - 1, static_cast<int>(w->title.size()));
    std::memcpy(lpString, w->title.data(), static_cast<size_t>(n));
    lpString[n] = '\0';
    return n;
}

BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    Window* w = u.FindL(hWnd);
    if (!w) {
        SetLastErrorInvalidWindow();
        return FALSE;
    }
    w->title = lpString ? lpString : "";
    return TRUE;
}

int WINAPI GetDlgCtrlID(HWND hWnd) {
    return static_cast<int>(GetWindowLongPtrA(hWnd, GWLP_ID));
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND hWnd, int nIndex) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    Window* w = u.FindL(hWnd);
    if (!w) {
        SetLastErrorInvalidWindow();
        return 0;
    }
    switch (nIndex) {
        case GWLP_WNDPROC:
            return reinterpret_cast<LONG_PTR>(w->proc);
        case GWLP_HINSTANCE:
            return reinterpret_cast<LONG_PTR>(w->instance);
        case GWLP_HWNDPARENT:
            return reinterpret_cast<LONG_PTR>(w->parent ? w->parent->handle : w->owner);
        case GWLP_ID:
            return w->id;
        case GWL_STYLE:
            return static_cast<LONG_PTR>(w->style);
        case GWL_EXSTYLE:
            return static_cast<LONG_PTR>(w->exStyle);
        case GWLP_USERDATA:
            return w->userData;
        default:
            SetLastError(ERROR_INVALID_INDEX);
            return 0;
    }
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    Window* w = u.FindL(hWnd);
    if (!w) {
        SetLastErrorInvalidWindow();
        return 0;
    }
    LONG_PTR old = 0;
    switch (nIndex) {
        case GWLP_WNDPROC:
            if (w->ownerTid != GetCurrentThreadId()) {
                SetLastError(ERROR_ACCESS_DENIED);
                return 0;
            }
            old = reinterpret_cast<LONG_PTR>(w->proc);
            w->proc = reinterpret_cast<WNDPROC>(dwNewLong);
            break;
        case GWLP_ID:
            old = w->id;
            w->id = dwNewLong;
            break;
        case GWL_STYLE:
            old = static_cast<LONG_PTR>(w->style);
            w->style = static_cast<DWORD>(dwNewLong);
            // A frame that appears or goes changes the client area's size.
            ReplaceSurfaceL(w);
            if (w->Visible()) u.InvalidateL(w, nullptr, true);
            break;
        case GWL_EXSTYLE:
            old = static_cast<LONG_PTR>(w->exStyle);
            w->exStyle = static_cast<DWORD>(dwNewLong);
            break;
        case GWLP_USERDATA:
            old = w->userData;
            w->userData = dwNewLong;
            break;
        default:
            SetLastError(ERROR_INVALID_INDEX);
            return 0;
    }
    return old;
}

LONG WINAPI GetWindowLongA(HWND hWnd, int nIndex) {
    return static_cast<LONG>(GetWindowLongPtrA(hWnd, nIndex));
}

// ---- visibility and placement ----

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow) {
    UserState& u = UserState::Get();
    bool was, now;
    {
        std::lock_guard<std::mutex> lock(u.mutex);
        Window* w = u.FindL(hWnd);
        if (!w) {
            SetLastErrorInvalidWindow();
            return FALSE;
        }
        was = w->Visible();
        now = nCmdShow != SW_HIDE;
        if (was == now) return was ? TRUE : FALSE;
    }
    SendMessageA(hWnd, WM_SHOWWINDOW, now ? TRUE : FALSE, 0);
    std::lock_guard<std::mutex> lock(u.mutex);
    Window* w = u.FindL(hWnd);
    if (!w) return was ? TRUE : FALSE;
    if (now) {
        w->style |= WS_VISIBLE;
        // Everything that just appeared needs painting.
        std::vector<Window*> stack{w};
        while (!stack.empty()) {
            Window* x = stack.back();
            stack.pop_back();
            if (!x->Visible()) continue;
            u.InvalidateL(x, nullptr, true);
            for (Window* c : x->children) stack.push_back(c);
        }
    } else {
        w->style &= ~static_cast<DWORD>(WS_VISIBLE);
        if (u.capture == hWnd) u.capture = nullptr;
    }
    if (u.backend) u.backend->WindowChanged(hWnd, u.WindowScreenRectL(w), u.VisibleOnScreenL(w));
    return was ? TRUE : FALSE;
}

BOOL WINAPI SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy,
                         UINT uFlags) {
    UserState& u = UserState::Get();
    bool sized = false, moved = false;
    int cw = 0, ch = 0;
    {
        std::lock_guard<std::mutex> lock(u.mutex);
        Window* w = u.FindL(hWnd);
        if (!w) {
            SetLastErrorInvalidWindow();
            return FALSE;
        }
        RECT r = w->rect;
        if (!(uFlags & SWP_NOMOVE)) OffsetRect(&r, X - r.left, Y - r.top);
        if (!(uFlags & SWP_NOSIZE)) {
            r.right = r.left + std::max(0, cx);
            r.bottom = r.top + std::max(0, cy);
        }
        sized = (r.right - r.left) != (w->rect.right - w->rect.left) ||
                (r.bottom - r.top) != (w->rect.bottom - w->rect.top);
        moved = r.left != w->rect.left || r.top != w->rect.top;
        w->rect = r;
        if (!(uFlags & SWP_NOZORDER)) {
            if (hWndInsertAfter == HWND_TOPMOST) w->exStyle |= WS_EX_TOPMOST;
            if (hWndInsertAfter == HWND_NOTOPMOST) w->exStyle &= ~static_cast<DWORD>(WS_EX_TOPMOST);
            InsertInZOrderL(u, w, hWndInsertAfter);
        }
        if (sized) {
            ReplaceSurfaceL(w);
            if (!(uFlags & SWP_NOREDRAW)) u.InvalidateL(w, nullptr, true);
        }
        cw = w->ClientWidth();
        ch = w->ClientHeight();
        if (u.backend)
            u.backend->WindowChanged(hWnd, u.WindowScreenRectL(w), u.VisibleOnScreenL(w));
    }
    if (sized) SendMessageA(hWnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(cw, ch));
    if (moved) SendMessageA(hWnd, WM_MOVE, 0, MAKELPARAM(X, Y));
    if (uFlags & SWP_SHOWWINDOW) ShowWindow(hWnd, SW_SHOWNA);
    if (uFlags & SWP_HIDEWINDOW) ShowWindow(hWnd, SW_HIDE);
    return TRUE;
}

BOOL WINAPI MoveWindow(HWND hWnd, int X, int Y, int nWidth, int nHeight, BOOL bRepaint) {
    return SetWindowPos(hWnd, nullptr, X, Y, nWidth, nHeight,
                        SWP_NOZORDER | SWP_NOACTIVATE | (bRepaint ? 0 : SWP_NOREDRAW));
}

// ---- rectangles ----

BOOL WINAPI SetRect(LPRECT r, int l, int t, int rr, int b) {
    if (!r) return FALSE;
    *r = RECT{l, t, rr, b};
    return TRUE;
}
BOOL WINAPI SetRectEmpty(LPRECT r) {
    return SetRect(r, 0, 0, 0, 0);
}
BOOL WINAPI CopyRect(LPRECT d, const RECT* s) {
    if (!d || !s) return FALSE;
    *d = *s;
    return TRUE;
}
BOOL WINAPI IsRectEmpty(const RECT* r) {
    return !r || r->right <= r->left || r->bottom <= r->top;
}
BOOL WINAPI PtInRect(const RECT* r, POINT pt) {
    return r && pt.x >= r->left && pt.x < r->right && pt.y >= r->top && pt.y < r->bottom;
}
BOOL WINAPI InflateRect(LPRECT r, int dx, int dy) {
    if (!r) return FALSE;
    r->left -= dx;
    r->right += dx;
    r->top -= dy;
    r->bottom += dy;
    return TRUE;
}
BOOL WINAPI OffsetRect(LPRECT r, int dx, int dy) {
    if (!r) return FALSE;
    r->left += dx;
    r->right += dx;
    r->top += dy;
    r->bottom += dy;
    return TRUE;
}
BOOL WINAPI IntersectRect(LPRECT d, const RECT* a, const RECT* b) {
    if (!d || !a || !b) return FALSE;
    *d = Intersection(*a, *b);
    return IsRectEmpty(d) ? FALSE : TRUE;
}
BOOL WINAPI UnionRect(LPRECT d, const RECT* a, const RECT* b) {
    if (!d || !a || !b) return FALSE;
    if (IsRectEmpty(a)) {
        *d = IsRectEmpty(b) ? RECT{0, 0, 0, 0} : *b;
    } else if (IsRectEmpty(b)) {
        *d = *a;
    } else {
        *d = RECT{std::min(a->left, b->left), std::min(a->top, b->top),
                  std::max(a->right, b->right), std::max(a->bottom, b->bottom)};
    }
    return IsRectEmpty(d) ? FALSE : TRUE;
}
BOOL WINAPI EqualRect(const RECT* a, const RECT* b) {
    return a && b && a->left == b->left && a->top == b->top && a->right == b->right &&
           a->bottom == b->bottom;
}

// ---- system metrics and colours ----

int WINAPI GetSystemMetrics(int nIndex) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    switch (nIndex) {
        case SM_CXSCREEN:
        case SM_CXVIRTUALSCREEN:
            return u.screenWidth;
        case SM_CYSCREEN:
        case SM_CYVIRTUALSCREEN:
            return u.screenHeight;
        case SM_CXBORDER:
        case SM_CYBORDER:
            return kBorder;
        case SM_CYCAPTION:
            return kCaption;
        case SM_CXICON:
        case SM_CYICON:
        case SM_CXCURSOR:
        case SM_CYCURSOR:
            return 32;
        case SM_CMONITORS:
            return 1;
        default:
            return 0;
    }
}

DWORD WINAPI GetSysColor(int nIndex) {
    static const COLORREF kColors[] = {
        RGB(200, 200, 200),  // COLOR_SCROLLBAR
        RGB(58, 110, 165),   // COLOR_BACKGROUND
        RGB(153, 180, 209),  // COLOR_ACTIVECAPTION
        RGB(191, 205, 219),  // COLOR_INACTIVECAPTION
        RGB(240, 240, 240),  // COLOR_MENU
        RGB(255, 255, 255),  // COLOR_WINDOW
        RGB(100, 100, 100),  // COLOR_WINDOWFRAME
        RGB(0, 0, 0),        // COLOR_MENUTEXT
        RGB(0, 0, 0),        // COLOR_WINDOWTEXT
        RGB(0, 0, 0),        // COLOR_CAPTIONTEXT
        RGB(180, 180, 180),  // COLOR_ACTIVEBORDER
        RGB(244, 247, 252),  // COLOR_INACTIVEBORDER
        RGB(171, 171, 171),  // COLOR_APPWORKSPACE
        RGB(0, 120, 215),    // COLOR_HIGHLIGHT
        RGB(255, 255, 255),  // COLOR_HIGHLIGHTTEXT
        RGB(240, 240, 240),  // COLOR_BTNFACE
        RGB(160, 160, 160),  // COLOR_BTNSHADOW
        RGB(109, 109, 109),  // COLOR_GRAYTEXT
        RGB(0, 0, 0),        // COLOR_BTNTEXT
        RGB(0, 0, 0),        // COLOR_INACTIVECAPTIONTEXT
        RGB(255, 255, 255),  // COLOR_BTNHIGHLIGHT
    };
    if (nIndex < 0 || nIndex >= static_cast<int>(sizeof(kColors) / sizeof(kColors[0]))) return 0;
    return kColors[nIndex];
}

HBRUSH WINAPI GetSysColorBrush(int nIndex) {
    if (nIndex < 0 || nIndex > COLOR_BTNHIGHLIGHT) return nullptr;
    // The (HBRUSH)(COLOR_xxx + 1) form every brush consumer understands.
    return reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(nIndex + 1));
}
