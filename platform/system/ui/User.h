// USER's state: windows, classes, per-thread message queues, the screen, the pointer and the
// keyboard.
//
// One mutex guards all of it. Window procedures are never called with it held: every call into a
// procedure (a direct send, a dispatch, a cross-thread send being answered) first drops the lock,
// so procedures may call back into USER freely, from any thread. The display backend is told of
// changes under the lock and only queues work there; it calls into USER from its own thread
// without holding any lock of its own.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include <windows.h>

#include "platform/system/ui/Backend.h"
#include "platform/system/ui/Surface.h"

namespace lumacap::ui {

// An area as a small set of disjoint rectangles; past a handful it degrades to their bounding box,
// which only ever paints more, never less.
class Region {
public:
    bool Empty() const { return m_rects.empty(); }
    void Clear() { m_rects.clear(); }
    void Add(const RECT& r);
    void Subtract(const RECT& r);
    RECT Bounds() const;
    const std::vector<RECT>& Rects() const { return m_rects; }

private:
    std::vector<RECT> m_rects;
};

struct WindowClass {
    std::string name;
    UINT style = 0;
    WNDPROC proc = nullptr;
    HINSTANCE instance = nullptr;
    HCURSOR cursor = nullptr;
    HBRUSH background = nullptr;
    ATOM atom = 0;
    bool system = false;  // the system's own classes cannot be unregistered
};

struct ThreadQueue;

struct SentMessage {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT result = 0;
    bool done = false;
    bool failed = false;
    std::shared_ptr<ThreadQueue> sender;
};

// Pointer and keyboard input waiting in a queue. Mouse input is stored in its client form, with
// the screen position; the owning thread asks the window where the point is (WM_NCHITTEST) when
// it takes the message out, and turns it into the non-client form if the answer says so.
struct InputMessage {
    MSG msg;
    int hitTest;  // the frame's own answer, used when peeking without removing
    POINT screen{0, 0};
    UINT clientMessage = 0;  // mouse: the message in its client form
    UINT sideVk = 0;         // keys: VK_LSHIFT and the like, besides the generic key
};

struct Timer {
    HWND hwnd;
    UINT_PTR id;
    UINT elapse;
    DWORD due;  // clock ticks
    TIMERPROC proc;
};

struct ThreadQueue {
    explicit ThreadQueue(DWORD id) : tid(id) {}
    DWORD tid;
    bool alive = true;
    std::condition_variable cv;  // new messages, replies to this thread's sends
    std::deque<MSG> posted;
    std::deque<InputMessage> input;
    std::deque<std::shared_ptr<SentMessage>> sent;  // sent by other threads, waiting to be handled
    std::deque<std::function<void()>> tasks;        // work the display hands to this thread
    std::vector<HWND> dirty;                        // windows with something to paint
    std::vector<Timer> timers;
    bool quit = false;
    int quitCode = 0;
    int handlingSend = 0;  // depth of cross-thread sends being handled (InSendMessage)
    DWORD lastMessageTime = 0;
    BYTE keys[256] = {};  // key state as of the last input message taken out (GetKeyState)
    // What arrived since the thread last looked at its queue (QS_* bits), for
    // MsgWaitForMultipleObjects, which waits on kernel objects and can only read atomics.
    std::atomic<UINT> wakeBits{0};
    std::atomic<bool> msgWaiting{false};
    // When the earliest timer is due (clock ticks), readable without the lock.
    std::atomic<bool> hasTimers{false};
    std::atomic<DWORD> nextTimerDue{0};

    // Tells the thread (in whichever wait it is) that something of kind `qs` arrived.
    void Wake(UINT qs);
};

struct Window {
    HWND handle = nullptr;
    std::shared_ptr<WindowClass> cls;
    WNDPROC proc = nullptr;
    DWORD style = 0;
    DWORD exStyle = 0;
    std::string title;
    HINSTANCE instance = nullptr;
    LONG_PTR id = 0;
    LONG_PTR userData = 0;
    Window* parent = nullptr;
    HWND owner = nullptr;                // owned top-level windows
    std::vector<Window*> children;       // topmost first
    std::shared_ptr<ThreadQueue> queue;  // the owning thread's
    DWORD ownerTid = 0;                  // 0: not this process's (the desktop, other programs')
    RECT rect{};                         // window rectangle, in the parent's client coordinates
    bool destroying = false;
    Region update;
    bool erase = false;
    std::shared_ptr<Surface> surface;  // client-sized; null while the client area is empty
    HWND focusChild = nullptr;         // top-level windows: where the focus was when deactivated
    // Another program's window, shown through the display: its id there and its frame.
    bool foreign = false;
    uint64_t displayId = 0;
    RECT foreignInsets{};
    std::string instanceName;  // the program's name for itself, besides its class
    DWORD processId = 0;
    RECT restoreRect{};  // where a minimized or maximized window goes back to

    bool Visible() const { return (style & WS_VISIBLE) != 0; }
    // The frame around the client area, from the style.
    RECT Insets() const;
    int ClientWidth() const;
    int ClientHeight() const;
    // Windows of this process that procedures can run for.
    bool Local() const { return ownerTid != 0; }
};

class UserState {
public:
    static UserState& Get();
    // The state without choosing the display first (for the code that chooses it).
    static UserState& Instance();

    std::mutex mutex;
    std::unordered_map<uintptr_t, std::shared_ptr<Window>> windows;
    std::vector<Window*> topLevels;  // this process's, topmost first
    std::vector<Window*> foreign;    // other programs' top-level windows, topmost first
    std::map<std::string, std::shared_ptr<WindowClass>> classes;
    std::unordered_map<DWORD, std::shared_ptr<ThreadQueue>> queues;
    uintptr_t nextHandle = 0x00010012;
    ATOM nextAtom = 0xC000;

    // The primary monitor (what SM_CXSCREEN reports) and the whole virtual screen.
    int screenWidth = 1920;
    int screenHeight = 1080;
    RECT virtualScreen{0, 0, 1920, 1080};
    COLORREF desktopColor = RGB(58, 110, 165);
    std::shared_ptr<Surface> desktop;
    Window desktopWindow;                  // GetDesktopWindow: not in `windows`, found by FindL
    std::shared_ptr<ThreadQueue> noQueue;  // the queue of windows no thread here owns

    POINT cursorPos{0, 0};
    UINT buttons = 0;  // MK_LBUTTON | MK_RBUTTON | MK_MBUTTON held
    HWND capture = nullptr;
    bool clipActive = false;
    RECT clipRect{};
    HCURSOR cursor = nullptr;
    BYTE asyncKeys[256] = {};  // GetAsyncKeyState: the keyboard as it is now
    HWND active = nullptr;     // the active top-level window
    HWND focus = nullptr;      // the window with the keyboard focus
    // The last button press, for double clicks.
    struct {
        HWND hwnd = nullptr;
        UINT message = 0;
        DWORD time = 0;
        POINT pt{0, 0};
    } lastClick;

    std::shared_ptr<DisplayBackend> backend;
    std::string displayNote;   // why the display is headless though one was asked for
    bool displayLost = false;  // the X server in use went away

    // ---- helpers; the caller holds `mutex` ----
    Window* FindL(HWND hwnd);
    // The calling thread's queue, created on first use.
    std::shared_ptr<ThreadQueue> CurrentQueueL();
    // Screen position of a window's client area.
    POINT ClientOriginL(const Window* w) const;
    RECT WindowScreenRectL(const Window* w) const;
    bool VisibleOnScreenL(const Window* w) const;
    Window* TopLevelOfL(Window* w) const;
    void MarkDirtyL(Window* w);
    void InvalidateL(Window* w, const RECT* rect, bool erase);
    void PostL(ThreadQueue& q, const MSG& msg);
    Scene SceneL(const Window* only = nullptr);
    // The same into `out`, whose memory is reused.
    void SceneL(Scene* out, const Window* only);
    // What the display needs to show a top-level window of this process.
    DisplayWindow DisplayInfoL(const Window* w);
    void NotifyBackendL(const Window* w);
    // Removes a window and its children without calling any procedure (their thread has ended, or
    // the simulation is being reset).
    void RemoveSilentlyL(Window* w, std::vector<HWND>* removed);
    void ResetScreenL();

private:
    UserState();
};

// Looks a window up under USER's lock and runs `f(u, window)` there. A handle that names no
// window answers `failure` with ERROR_INVALID_WINDOW_HANDLE.
template <class R, class F>
R WithWindow(HWND hwnd, R failure, F f) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    Window* w = u.FindL(hwnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return failure;
    }
    return f(u, *w);
}

// The display in use (never null), taken under the lock and usable without it.
std::shared_ptr<DisplayBackend> CurrentBackend();

// Calls a window's procedure on the calling thread (which must own it), without USER's lock.
LRESULT CallWindowDirect(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Runs `task` on the thread that owns `hwnd`, the next time it looks at its queue. False when
// the window is gone or no thread of this process owns it.
bool RunOnWindowThread(HWND hwnd, std::function<void()> task);

// Observers told (without the lock, on some thread) when window handles stop being windows, so the
// framework can forget objects attached to them.
void AddWindowGoneObserver(std::function<void(HWND)> observer);
void NotifyWindowsGone(const std::vector<HWND>& handles);

// What a read from a window context (or, for null, the screen context) sees in `area`, given in
// client (screen) coordinates: the screen where the window is shown, else the window with its
// children on black.
std::shared_ptr<Surface> ComposeForRead(HWND hwnd, const RECT& area);
std::shared_ptr<Surface> DesktopSurface();
// Reads what ComposeForRead would into rows [top, top + the area's height) of `out`, when the
// display can put it there directly (see DisplayBackend::ReadScreenInto); false otherwise.
bool ReadScreenInto(HWND hwnd, const RECT& area, Surface& out, int top);

// Waits up to `ms` for the calling thread to have a message to retrieve, answering sends from
// other threads meanwhile.
bool WaitForMessages(unsigned ms);

// The system arrow cursor (loaded once).
HCURSOR SystemArrowCursor();

// Makes `backend` the display (the old one is told to let go of its windows); `note` says why
// the display is headless when one was asked for and could not be had.
void InstallBackend(std::shared_ptr<DisplayBackend> backend, const std::string& note = "");

}  // namespace lumacap::ui
