// What a real display tells USER, from its own thread and holding no lock of its own: the
// screen's size, windows the window manager moved, closed, exposed or activated, other programs'
// windows, and the display going away.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <windows.h>

#include "platform/system/ui/Backend.h"

namespace lumacap::ui {

void DisplayScreenChanged(int primaryWidth, int primaryHeight, const RECT& virtualScreen);

// The display's own changes to this process's top-level windows. The window's procedure hears
// of them on its own thread, as of a move the user made.
void DisplayMovedWindow(HWND hwnd, const RECT& clientScreenRect);
void DisplayClosedWindow(HWND hwnd);
// The window manager minimized, maximized or restored the window (its new place, if any, comes
// as a move): the window hears WM_SIZE with the kind of change, and IsIconic/IsZoomed follow.
void DisplayWindowState(HWND hwnd, bool minimized, bool maximized);
void DisplayExposed(HWND hwnd, const RECT& clientArea);
void DisplayActivated(HWND topLevel);  // null: none of this process's windows is active

// What a top-level window of this process shows: the scene of it and its children, and where
// its client area is on the screen. False for a window that is gone or hidden.
bool TopLevelScene(HWND hwnd, Scene* scene, RECT* clientScreenRect);

// Other programs' top-level windows, known to hosts by window handles.
struct ForeignWindowInfo {
    uint64_t id = 0;    // the display's name for it
    std::string title;  // UTF-8
    std::string className;
    std::string instanceName;
    RECT client{};  // screen coordinates
    RECT frame{};   // the frame's width on each side
    bool visible = false;
    bool iconic = false;
    bool zoomed = false;
    DWORD processId = 0;
};
// Adds the window or brings it up to date; answers its handle.
HWND DisplayForeignWindow(const ForeignWindowInfo& info);
void DisplayForeignWindowGone(uint64_t id);
void DisplayForeignOrder(const std::vector<uint64_t>& topmostFirst);

// The display went away: windows live on in memory, other programs' windows are gone.
void DisplayLost(const std::string& why);

}  // namespace lumacap::ui
