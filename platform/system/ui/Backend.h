// The display behind USER. USER keeps windows, queues and backing surfaces itself; a backend
// shows them and reads the screen back. The headless backend composes the screen in memory; an
// X11 backend can follow the same notifications to mirror windows on a real display and feed the
// pointer through the same input entry points the simulation uses (platform/system/ui/Input.h).
#pragma once

#include <memory>
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

class DisplayBackend {
public:
    virtual ~DisplayBackend() = default;
    virtual const char* Name() const = 0;
    // Draws what the screen shows in `area` (screen coordinates) into `out`, which has the area's
    // size. Parts of the area off the screen show whatever windows or desktop lie there.
    virtual void Compose(const Scene& scene, const RECT& area, Surface& out) = 0;
    // Notifications for backends that mirror windows elsewhere.
    virtual void ScreenResized(int /*width*/, int /*height*/) {}
    virtual void WindowChanged(HWND /*hwnd*/, const RECT& /*screenRect*/, bool /*visible*/) {}
    virtual void WindowDestroyed(HWND /*hwnd*/) {}
    virtual void ContentChanged(HWND /*hwnd*/) {}
};

std::unique_ptr<DisplayBackend> CreateHeadlessBackend();

}  // namespace lumacap::ui
