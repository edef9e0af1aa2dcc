// USER's shared state: the window table, z-order, invalidation, scenes for the display, the
// desktop window, queues and what happens to a thread's windows when the thread ends.
#include "platform/system/ui/User.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/sim/ResetHooks.h"
#include "platform/system/ui/Gdi.h"
#include "platform/system/ui/UserInternal.h"
#include "platform/system/win/KernelObject.h"
#include "platform/system/win/MessagePost.h"
#include "platform/system/win/Trace.h"

namespace lumacap::ui {
namespace {

constexpr int kBorder = 1;
constexpr int kCaption = 20;

std::mutex g_observerMutex;
std::vector<std::function<void(HWND)>>& Observers() {
    static std::vector<std::function<void(HWND)>> observers;
    return observers;
}

void FailSends(ThreadQueue& q) {
    for (auto& sm : q.sent) {
        sm->done = true;
        sm->failed = true;
        if (sm->sender) sm->sender->cv.notify_all();
    }
    q.sent.clear();
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
            FailSends(*queue);
            queue->tasks.clear();
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

// ---- helpers shared by USER's files ----

std::string LowerCase(const char* s) {
    std::string out(s ? s : "");
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

RECT Intersection(const RECT& a, const RECT& b) {
    RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
           std::min(a.bottom, b.bottom)};
    if (r.right <= r.left || r.bottom <= r.top) r = RECT{0, 0, 0, 0};
    return r;
}

bool EmptyRect(const RECT& r) {
    return r.right <= r.left || r.bottom <= r.top;
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

void CollectPostOrder(Window* w, std::vector<Window*>* out) {
    for (Window* c : w->children) CollectPostOrder(c, out);
    out->push_back(w);
}

// ---- Region ----

void Region::Add(const RECT& r) {
    if (EmptyRect(r)) return;
    // The common cases without working memory: a window invalidated again before it painted (a
    // preview receiving frames), and a first rectangle.
    for (const RECT& e : m_rects)
        if (e.left <= r.left && e.top <= r.top && e.right >= r.right && e.bottom >= r.bottom)
            return;
    if (m_rects.empty()) {
        m_rects.push_back(r);
        return;
    }
    // Keep the set disjoint: add only the parts of r not covered yet.
    std::vector<RECT> pieces{r};
    for (const RECT& e : m_rects) {
        std::vector<RECT> next;
        for (const RECT& p : pieces) {
            if (EmptyRect(Intersection(p, e))) {
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
    if (EmptyRect(r)) return;
    std::vector<RECT> out;
    for (const RECT& p : m_rects) {
        if (EmptyRect(Intersection(p, r))) {
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

// ---- Window and its queue ----

RECT Window::Insets() const {
    if (foreign) return foreignInsets;
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

void ThreadQueue::Wake(UINT qs) {
    wakeBits.fetch_or(qs, std::memory_order_relaxed);
    cv.notify_all();
    if (msgWaiting.load(std::memory_order_acquire)) {
        // MsgWaitForMultipleObjects sleeps on the kernel objects' condition: taking its mutex
        // orders this wake after the sleeper's last look at wakeBits.
        { std::lock_guard<std::mutex> lock(win::KernelObject::Mutex()); }
        win::KernelObject::Changed().notify_all();
    }
}

// ---- UserState ----

UserState::UserState()
    : noQueue(std::make_shared<ThreadQueue>(0)), backend(CreateHeadlessBackend()) {
    noQueue->alive = false;
    static auto desktopClass = [] {
        auto c = std::make_shared<WindowClass>();
        c->name = "#32769";
        c->atom = 32769;
        return c;
    }();
    desktopWindow.handle = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x00010010));
    desktopWindow.cls = desktopClass;
    desktopWindow.style = WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
    desktopWindow.queue = noQueue;
    RegisterSystemClassesL(*this);
    ResetScreenL();
}

UserState& UserState::Instance() {
    // Never destroyed: threads (and their thread-local queue holders) may outlive static objects.
    static UserState* state = new UserState();
    return *state;
}

UserState& UserState::Get() {
    UserState& state = Instance();
    static std::once_flag display;
    std::call_once(display, [] { SelectDefaultDisplay(); });
    return state;
}

Window* UserState::FindL(HWND hwnd) {
    if (hwnd == desktopWindow.handle) return &desktopWindow;
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

Window* UserState::TopLevelOfL(Window* w) const {
    while (w && w->parent) w = w->parent;
    return w;
}

void UserState::MarkDirtyL(Window* w) {
    if (!w->queue->alive) return;
    auto& d = w->queue->dirty;
    if (std::find(d.begin(), d.end(), w->handle) == d.end()) d.push_back(w->handle);
    w->queue->Wake(QS_PAINT);
}

void UserState::InvalidateL(Window* w, const RECT* rect, bool erase) {
    if (!w->Local()) return;
    const RECT client{0, 0, w->ClientWidth(), w->ClientHeight()};
    const RECT r = rect ? Intersection(*rect, client) : client;
    if (!EmptyRect(r)) {
        w->update.Add(r);
        w->erase = w->erase || erase;
        MarkDirtyL(w);
    }
    // Without WS_CLIPCHILDREN the children are part of what needs repainting.
    if (!(w->style & WS_CLIPCHILDREN)) {
        for (Window* c : w->children) {
            const RECT in = c->Insets();
            RECT rc = Intersection(r, c->rect);
            if (EmptyRect(rc)) continue;
            OffsetRect(&rc, -(c->rect.left + in.left), -(c->rect.top + in.top));
            InvalidateL(c, &rc, erase);
        }
    }
}

void UserState::PostL(ThreadQueue& q, const MSG& msg) {
    q.posted.push_back(msg);
    q.Wake(QS_POSTMESSAGE);
}

Scene UserState::SceneL(const Window* only) {
    Scene scene;
    SceneL(&scene, only);
    return scene;
}

void UserState::SceneL(Scene* out, const Window* only) {
    Scene& scene = *out;
    scene.windows.clear();
    scene.desktop = nullptr;
    scene.width = screenWidth;
    scene.height = screenHeight;
    if (only) {
        scene.windows.push_back(SceneOf(*this, only));
        return;
    }
    scene.desktop = desktop;
    for (auto it = topLevels.rbegin(); it != topLevels.rend(); ++it)
        if ((*it)->Visible()) scene.windows.push_back(SceneOf(*this, *it));
}

DisplayWindow UserState::DisplayInfoL(const Window* w) {
    DisplayWindow d;
    d.hwnd = w->handle;
    const POINT o = ClientOriginL(w);
    d.clientRect = RECT{o.x, o.y, o.x + w->ClientWidth(), o.y + w->ClientHeight()};
    d.visible = w->Visible();
    d.title = w->title;
    d.className = w->cls->name;
    d.style = w->style;
    d.exStyle = w->exStyle;
    d.owner = w->owner;
    auto it = std::find(topLevels.begin(), topLevels.end(), w);
    if (it != topLevels.end() && it != topLevels.begin()) d.above = (*(it - 1))->handle;
    return d;
}

void UserState::NotifyBackendL(const Window* w) {
    if (!w->Local()) return;
    Window* top = TopLevelOfL(const_cast<Window*>(w));
    if (top != w) {
        // A child moved, appeared or went: its top-level window's picture changes.
        backend->ContentChanged(top->handle);
        return;
    }
    backend->WindowChanged(DisplayInfoL(w));
}

void UserState::RemoveSilentlyL(Window* w, std::vector<HWND>* removed) {
    std::vector<Window*> order;
    CollectPostOrder(w, &order);
    for (Window* x : order) {
        if (capture == x->handle) capture = nullptr;
        if (focus == x->handle) focus = nullptr;
        if (active == x->handle) active = nullptr;
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
        auto& timers = x->queue->timers;
        timers.erase(std::remove_if(timers.begin(), timers.end(),
                                    [&](const Timer& t) { return t.hwnd == x->handle; }),
                     timers.end());
        std::vector<Window*>& list = x->parent    ? x->parent->children
                                     : x->foreign ? foreign
                                                  : topLevels;
        list.erase(std::remove(list.begin(), list.end(), x), list.end());
        if (!x->parent && x->Local()) backend->WindowDestroyed(x->handle);
        if (x->parent && x->Local()) backend->ContentChanged(TopLevelOfL(x)->handle);
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
    if (!backend || !backend->RealScreen()) virtualScreen = RECT{0, 0, screenWidth, screenHeight};
    desktopWindow.rect = virtualScreen;
    desktopWindow.surface = desktop;
    if (backend) backend->ScreenResized(screenWidth, screenHeight);
}

// ---- functions for the rest of the platform ----

std::shared_ptr<DisplayBackend> CurrentBackend() {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    return u.backend;
}

void InstallBackend(std::shared_ptr<DisplayBackend> backend, const std::string& note) {
    UserState& u = UserState::Instance();
    std::shared_ptr<DisplayBackend> old;
    const std::string name = backend->Name();
    {
        std::lock_guard<std::mutex> lock(u.mutex);
        old = std::move(u.backend);
        u.backend = std::move(backend);
        u.displayNote = note;
        if (u.backend->RealScreen()) u.displayLost = false;
        int w = 0, h = 0;
        RECT all{};
        if (u.backend->ScreenSize(&w, &h, &all)) {
            u.screenWidth = w;
            u.screenHeight = h;
            u.virtualScreen = all;
        }
        u.ResetScreenL();
        // The new display learns of every window there is already, and of the cursor.
        for (auto it = u.topLevels.rbegin(); it != u.topLevels.rend(); ++it) {
            u.backend->WindowChanged(u.DisplayInfoL(*it));
            u.backend->ContentChanged((*it)->handle);
        }
        if (u.cursor) u.backend->CursorChanged(u.cursor);
    }
    if (old) old->Shutdown();
    LUMACAP_TRACE(kUi, "display: %s%s%s", name.c_str(), note.empty() ? "" : ": ", note.c_str());
}

bool RunOnWindowThread(HWND hwnd, std::function<void()> task) {
    return WithWindow(hwnd, false, [&](UserState&, Window& w) {
        if (!w.Local() || !w.queue->alive) return false;
        w.queue->tasks.push_back(std::move(task));
        w.queue->Wake(QS_SENDMESSAGE);
        return true;
    });
}

LRESULT CallWindowDirect(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    WNDPROC proc = WithWindow(hwnd, static_cast<WNDPROC>(nullptr),
                              [](UserState&, Window& w) { return w.proc; });
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
    // Kept per thread: reading a window every frame reuses the scene's memory. Emptied after each
    // read, so it holds no window's pixels in between.
    thread_local Scene scene;
    struct Empty {
        Scene& s;
        ~Empty() {
            s.windows.clear();
            s.desktop = nullptr;
        }
    } empty{scene};
    RECT screenArea = area;
    std::shared_ptr<DisplayBackend> backend;
    bool alone = false;
    {
        std::lock_guard<std::mutex> lock(u.mutex);
        backend = u.backend;
        Window* w = hwnd ? u.FindL(hwnd) : nullptr;
        if (hwnd && !w) return nullptr;
        if (w) {
            const POINT o = u.ClientOriginL(w);
            OffsetRect(&screenArea, o.x, o.y);
            // A hidden window of this process is read as it would look: itself and its children.
            alone = w->Local() && !u.VisibleOnScreenL(w) && w != &u.desktopWindow;
        }
        if (alone) {
            u.SceneL(&scene, w);
        } else if (backend->SceneForReads()) {
            u.SceneL(&scene, nullptr);
        }
    }
    if (!alone) return backend->ReadScreen(scene, screenArea);
    auto out = Surface::Create(area.right - area.left, area.bottom - area.top);
    if (out) ComposeScene(scene, screenArea, *out);
    return out;
}

bool ReadScreenInto(HWND hwnd, const RECT& area, Surface& out, int top) {
    if (!out.Memory()) return false;
    UserState& u = UserState::Get();
    RECT screenArea = area;
    std::shared_ptr<DisplayBackend> backend;
    {
        std::lock_guard<std::mutex> lock(u.mutex);
        backend = u.backend;
        if (backend->SceneForReads()) return false;
        Window* w = hwnd ? u.FindL(hwnd) : nullptr;
        if (hwnd && !w) return false;
        if (w) {
            // A hidden window of this process is composed, not read from the screen.
            if (w->Local() && !u.VisibleOnScreenL(w) && w != &u.desktopWindow) return false;
            const POINT o = u.ClientOriginL(w);
            OffsetRect(&screenArea, o.x, o.y);
        }
    }
    return backend->ReadScreenInto(screenArea, out, top);
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

// lumacap::sim::Reset puts USER back: no windows of this process, empty queues, pointer at the
// origin with no capture, confinement, focus or keys held, and (without a real display) the
// default screen. Other programs' windows stay: they are the display's.
sim::detail::ResetHookRegistration s_reset([] {
    UserState& u = UserState::Get();
    std::vector<HWND> removed;
    {
        std::lock_guard<std::mutex> lock(u.mutex);
        std::vector<Window*> tops;
        for (auto& [h, w] : u.windows)
            if (!w->parent && w->Local()) tops.push_back(w.get());
        for (Window* w : tops) u.RemoveSilentlyL(w, &removed);
        for (auto& [tid, q] : u.queues) {
            q->posted.clear();
            q->input.clear();
            q->dirty.clear();
            q->timers.clear();
            q->tasks.clear();
            q->quit = false;
            std::fill(std::begin(q->keys), std::end(q->keys), 0);
            FailSends(*q);
        }
        u.cursorPos = POINT{0, 0};
        u.buttons = 0;
        u.capture = nullptr;
        u.clipActive = false;
        u.cursor = nullptr;
        u.focus = u.active = nullptr;
        u.lastClick = {};
        std::fill(std::begin(u.asyncKeys), std::end(u.asyncKeys), 0);
        u.backend->PointerHeld(nullptr, nullptr);
        if (!u.backend->RealScreen()) {
            u.screenWidth = 1920;
            u.screenHeight = 1080;
        }
        u.desktopColor = RGB(58, 110, 165);
        u.ResetScreenL();
    }
    NotifyWindowsGone(removed);
});
}  // namespace

}  // namespace lumacap::ui
