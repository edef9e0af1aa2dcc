// The display behind USER. USER keeps windows, queues and backing surfaces itself; a backend
// shows them and reads the screen back. The headless backend keeps the screen in memory; the X11
// backend shows each top-level window as an X window, reads the real screen, and feeds the X
// server's pointer and keyboard through the same input entry points the simulation uses
// (platform/system/ui/Input.h).
//
// USER calls the notifications below with its lock held: a backend only records them there and
// does the work later, on a thread of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include "platform/system/ui/Surface.h"

namespace lumacap::ui {

// A snapshot of what is on the screen, taken under USER's lock and composed without it.
struct SceneWindow {
    HWND hwnd = nullptr;
    RECT windowRect{};  // screen coordinates, frame included
    RECT clientRect{};  // screen coordinates
    DWORD style = 0;
    std::shared_ptr<Surface> surface;  // the client area's backing surface (may be null when empty)
    std::vector<SceneWindow> children;  // bottom-most first
};

struct Scene {
    int width = 0;
    int height = 0;
    std::shared_ptr<Surface> desktop;  // null: black behind the windows
    std::vector<SceneWindow> windows;  // bottom-most first
};

// Draws what `scene` shows in `area` (screen coordinates) into `out`, which has the area's size:
// the desktop, then the windows with their frames and children.
void ComposeScene(const Scene& scene, const RECT& area, Surface& out);

// A top-level window of this process as the display should show it.
struct DisplayWindow {
    HWND hwnd = nullptr;
    RECT clientRect{};  // screen coordinates
    bool visible = false;
    std::string title;  // in the system code page
    std::string className;
    DWORD style = 0;
    DWORD exStyle = 0;
    HWND owner = nullptr;
    HWND above = nullptr;  // the next of this process's top-level windows above it; null: topmost
};

// Input a test or a host makes up, given to a display that can play it through its own input
// devices (so USER hears of it as of any real input).
struct SyntheticInput {
    enum class Kind { Move, Button, Wheel, Key } kind = Kind::Move;
    int x = 0, y = 0;   // Move: screen coordinates
    int button = 0;     // Button: 0 left, 1 right, 2 middle
    bool down = false;  // Button, Key
    int delta = 0;      // Wheel: WHEEL_DELTA units
    bool horizontal = false;
    UINT vk = 0;  // Key
};

class DisplayBackend {
public:
    virtual ~DisplayBackend() = default;
    virtual const char* Name() const = 0;
    // Whether the screen's size comes from a real display (USER does not choose it then), and
    // that size: the primary monitor and the whole virtual screen.
    virtual bool RealScreen() const { return false; }
    virtual bool ScreenSize(int* /*primaryWidth*/, int* /*primaryHeight*/, RECT* /*all*/) {
        return false;
    }
    // What the screen shows in `area` (screen coordinates); `scene` is USER's own picture of it,
    // taken only when SceneForReads() says the backend composes from it. Null if out of memory or
    // the display cannot be read. The pixels' top (pad) bytes may hold anything: readers mask.
    virtual bool SceneForReads() const { return true; }
    virtual std::shared_ptr<Surface> ReadScreen(const Scene& scene, const RECT& area) = 0;
    // Memory of at least `bytes` the display can read the screen into directly (see
    // ReadScreenInto), or null: bitmaps then live in ordinary memory.
    virtual std::shared_ptr<DisplayMemory> SharedMemory(size_t /*bytes*/) { return nullptr; }
    // Reads `area` of the screen (screen coordinates) straight into rows [top, top + its height)
    // of `out`, whose pixels live in memory SharedMemory gave and which is exactly as wide as
    // the area. False when this display cannot: the caller then reads with ReadScreen.
    virtual bool ReadScreenInto(const RECT& /*area*/, Surface& /*out*/, int /*top*/) {
        return false;
    }

    // ---- notifications, under USER's lock ----
    virtual void ScreenResized(int /*width*/, int /*height*/) {}
    virtual void WindowChanged(const DisplayWindow& /*window*/) {}
    virtual void WindowDestroyed(HWND /*hwnd*/) {}
    // A window drew something: its top-level window's picture needs sending.
    virtual void ContentChanged(HWND /*topLevel*/) {}
    virtual void CursorChanged(HCURSOR /*cursor*/) {}
    // A window of this process became the active one (null: none is).
    virtual void ActiveChanged(HWND /*topLevel*/) {}
    // Capture or confinement changed: the pointer is held for `captureTop` (a top-level window,
    // or null) and confined to `clip` (screen coordinates, or null).
    virtual void PointerHeld(HWND /*captureTop*/, const RECT* /*clip*/) {}

    // ---- calls without USER's lock ----
    // The real pointer, where the display has one.
    virtual bool QueryPointer(POINT* /*pt*/) { return false; }
    virtual bool WarpPointer(int /*x*/, int /*y*/) { return false; }
    // Whether another program's top-level window (`id`, the display's name for it) is what the
    // screen shows on top at `pt` (screen coordinates), above this process's windows there.
    virtual bool ForeignOnTop(uint64_t /*id*/, POINT /*pt*/) { return false; }
    // Returns once the display shows everything drawn so far and the input it has produced so
    // far has reached USER.
    virtual void Sync() {}
    // Plays made-up input through the display's own devices and waits until USER has it; false
    // when the display has no such devices (USER then takes the input directly).
    virtual bool Synthesize(const SyntheticInput& /*input*/) { return false; }
    // The backend is being replaced: it lets go of its windows and its connection.
    virtual void Shutdown() {}
};

std::shared_ptr<DisplayBackend> CreateHeadlessBackend();

}  // namespace lumacap::ui
