// USER's state: windows, classes, per-thread message queues, the screen and the pointer.
//
// One mutex guards all of it. Window procedures are never called with it held: every call into a
// procedure (a direct send, a dispatch, a cross-thread send being answered) first drops the lock,
// so procedures may call back into USER freely, from any thread.
#pragma once

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

#ifndef WM_NCMOUSEMOVE
#define WM_NCMOUSEMOVE 0x00A0
#endif

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

struct InputMessage {
    MSG msg;
    int hitTest;  // where the pointer was: HTCLIENT, HTCAPTION, ...
};

struct ThreadQueue {
    explicit ThreadQueue(DWORD id) : tid(id) {}
    DWORD tid;
    bool alive = true;
    std::condition_variable cv;  // new messages, replies to this thread's sends
    std::deque<MSG> posted;
    std::deque<InputMessage> input;
    std::deque<std::shared_ptr<SentMessage>> sent;  // sent by other threads, waiting to be handled
    std::vector<HWND> dirty;                        // windows with something to paint
    bool quit = false;
    int quitCode = 0;
    int handlingSend = 0;  // depth of cross-thread sends being handled (InSendMessage)
    DWORD lastMessageTime = 0;
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
    DWORD ownerTid = 0;
    RECT rect{};  // window rectangle, in the parent's client coordinates
    bool destroying = false;
    Region update;
    bool erase = false;
    std::shared_ptr<Surface> surface;  // client-sized; null while the client area is empty

    bool Visible() const { return (style & WS_VISIBLE) != 0; }
    // The frame around the client area, from the style.
    RECT Insets() const;
    int ClientWidth() const;
    int ClientHeight() const;
};

class UserState {
public:
    static UserState& Get();

    std::mutex mutex;
    std::unordered_map<uintptr_t, std::shared_ptr<Window>> windows;
    std::vector<Window*> topLevels;  // topmost first
    std::map<std::string, std::shared_ptr<WindowClass>> classes;
    std::unordered_map<DWORD, std::shared_ptr<ThreadQueue>> queues;
    uintptr_t nextHandle = 0x00010010;
    ATOM nextAtom = 0xC000;

    int screenWidth = 1920;
    int screenHeight = 1080;
    COLORREF desktopColor = RGB(58, 110, 165);
    std::shared_ptr<Surface> desktop;

    POINT cursorPos{0, 0};
    bool leftDown = false;
    HWND capture = nullptr;
    bool clipActive = false;
    RECT clipRect{};
    HCURSOR cursor = nullptr;

    std::unique_ptr<DisplayBackend> backend;

    // ---- helpers; the caller holds `mutex` ----
    Window* FindL(HWND hwnd);
    // The calling thread's queue, created on first use.
    std::shared_ptr<ThreadQueue> CurrentQueueL();
    // Screen position of a window's client area.
    POINT ClientOriginL(const Window* w) const;
    RECT WindowScreenRectL(const Window* w) const;
    bool VisibleOnScreenL(const Window* w) const;
    void MarkDirtyL(Window* w);
    void InvalidateL(Window* w, const RECT* rect, bool erase);
    void PostL(ThreadQueue& q, const MSG& msg);
    Scene SceneL(const Window* only = nullptr);
    // Removes a window and its children without calling any procedure (their thread has ended, or
    // the simulation is being reset).
    void RemoveSilentlyL(Window* w, std::vector<HWND>* removed);
    void ResetScreenL();

private:
    UserState();
};

// Calls a window's procedure on the calling thread (which must own it), without USER's lock.
LRESULT CallWindowDirect(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Observers told (without the lock, on some thread) when window handles stop being windows, so the
// framework can forget objects attached to them.
void AddWindowGoneObserver(std::function<void(HWND)> observer);
void NotifyWindowsGone(const std::vector<HWND>& handles);

// What a read from a window context (or, for null, the screen context) sees in `area`, given in
// client (screen) coordinates: the screen's composition where the window is shown, else the
// window with its children on black.
std::shared_ptr<Surface> ComposeForRead(HWND hwnd, const RECT& area);
std::shared_ptr<Surface> DesktopSurface();

// Waits up to `ms` for the calling thread to have a message to retrieve, answering sends from
// other threads meanwhile.
bool WaitForMessages(unsigned ms);

// The system arrow cursor (loaded once).
HCURSOR SystemArrowCursor();

}  // namespace lumacap::ui
