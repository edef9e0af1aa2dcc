// Simulation controls for the window system: the screen, reading back pixels, the pointer,
// pumping messages and finding windows.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <windows.h>

#include <lumacap_export.h>

namespace lumacap::sim {

// ---- screen -------------------------------------------------------------------------------------
// The screen's size (default 1920 x 1080) and the desktop's colour (default RGB(58, 110, 165)).
// Changing either repaints the desktop; windows keep their places.
LUMACAP_API void SetScreenSize(int width, int height);
LUMACAP_API void SetDesktopColor(COLORREF color);

// Pixels read back from the screen or a window: rows top-down, each pixel 32 bits 0x00RRGGBB
// (bytes blue, green, red, 0).
struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> data;

    bool Empty() const { return data.empty(); }
    uint32_t At(int x, int y) const {
        return data[static_cast<size_t>(y) * static_cast<size_t>(width) + x];
    }
    // The pixel as a COLORREF, comparable with RGB(r, g, b).
    COLORREF ColorAt(int x, int y) const {
        const uint32_t p = At(x, y);
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }
    // The same pixels as a 24-bit bottom-up DIB body (rows padded to 4 bytes), the frame layout
    // the library uses everywhere.
    LUMACAP_API std::vector<uint8_t> ToBgr24BottomUp() const;
};

// What the screen shows: all of it, or a rectangle in screen coordinates.
LUMACAP_API Pixels ReadScreen();
LUMACAP_API Pixels ReadScreen(const RECT& area);
// What the screen shows over a window's client area (children and windows lying on top
// included); for a hidden window, the window and its children alone. Empty for a non-window.
LUMACAP_API Pixels ReadWindowClient(HWND hwnd);
// A window's own backing surface: what it drew, without children or overlapping windows.
LUMACAP_API Pixels ReadWindowSurface(HWND hwnd);

// ---- display ------------------------------------------------------------------------------------
// Windows are shown on an X server when DISPLAY names one that answers (LUMACAP_DISPLAY=x11 or
// headless forces the choice), else on a screen kept in memory. Everything below works on both.
// "headless", or "x11 " and the display's name.
LUMACAP_API std::string DisplayName();
// Shows windows on the X server `name` (null: $DISPLAY) from now on; false, with the reason in
// `error`, when it cannot be reached. Windows that exist move to it.
LUMACAP_API bool UseX11Display(const char* name = nullptr, std::string* error = nullptr);
LUMACAP_API void UseHeadlessDisplay();
// Why the display is headless though an X server was asked for (unreachable at start-up, or gone
// while running); empty otherwise.
LUMACAP_API std::string DisplayNote();
// True once the X server in use went away; windows then live on in memory.
LUMACAP_API bool DisplayLost();
// Returns when the display shows everything windows drew so far and the input it produced so far
// has been queued (a no-op without an X server).
LUMACAP_API void SyncDisplay();

// ---- pointer and keyboard -----------------------------------------------------------------------
// Moves the pointer (screen coordinates; confined by the screen and ClipCursor) and presses or
// releases its buttons. The window under the pointer (or the capturing one) receives the mouse
// messages on its own thread. On an X server these go through the server's own input, as a
// user's would.
enum class MouseButton { Left, Right, Middle };
LUMACAP_API void MovePointer(int x, int y);
LUMACAP_API void PressButton(MouseButton button = MouseButton::Left);
LUMACAP_API void ReleaseButton(MouseButton button = MouseButton::Left);
// Turns the wheel by `delta` (WHEEL_DELTA per notch; positive away from the user, or right).
LUMACAP_API void TurnWheel(int delta, bool horizontal = false);
// Keys by virtual-key code (VK_xxx, 'A', '0'); the focus window receives them.
LUMACAP_API void PressKey(UINT vk);
LUMACAP_API void ReleaseKey(UINT vk);
LUMACAP_API void TypeKey(UINT vk);
// Moves the pointer to a point given in a window's client coordinates.
LUMACAP_API bool MovePointerToClient(HWND hwnd, int x, int y);
LUMACAP_API POINT PointerPosition();
// The cursor shape last set with SetCursor.
LUMACAP_API HCURSOR CurrentCursor();

// ---- messages -----------------------------------------------------------------------------------
// Dispatches the calling thread's pending messages (sent, posted, input, paint: each window painted
// once at most, so a window invalidated faster than it paints cannot hold the caller) and returns
// how many were dispatched. WM_QUIT is left in the queue.
LUMACAP_API int PumpMessages();
// Dispatches the calling thread's messages until `condition` holds (checked after each message
// and whenever the queue is idle) or `timeoutMs` of real time pass; answers whether it held.
LUMACAP_API bool PumpMessagesUntil(const std::function<bool()>& condition,
                                   unsigned timeoutMs = 5000);

// ---- windows ------------------------------------------------------------------------------------
// All windows (children included) of a class and/or with a title (null matches any).
LUMACAP_API std::vector<HWND> FindWindows(const char* className = nullptr,
                                          const char* title = nullptr);
LUMACAP_API int WindowCount();
// Sets the application object's main window (null clears it), as a host's main frame would.
LUMACAP_API void SetMainWindow(HWND hwnd);
// GDI objects (pens, brushes, bitmaps, contexts) alive that are not stock objects.
LUMACAP_API long GdiObjectCount();

// ---- preview overlays ---------------------------------------------------------------------------
// Draws an overlay rectangle on a library preview window with the simulated pointer, as a user's
// drag would, so the parent is asked and told exactly as for a real user. `hPreview` belongs to
// the calling thread and shows a picture; `rcPicture` is in picture pixels. The pointer presses
// on one corner (the bottom-right one if the top-left lies on a rectangle already), drags to the
// opposite one and releases, pumping the calling thread's messages meanwhile. Answers whether a
// rectangle was added: false for another window, no picture, a rectangle under 12 x 12 window
// pixels, both corners on existing rectangles, or a parent that refused.
LUMACAP_API bool DrawPreviewRect(HWND hPreview, const RECT& rcPicture);

// How a tool that drives a preview window as a user would learns where things are on it: the
// preview answers the message registered under this name (RegisterWindowMessageA).
//   wParam kPreviewQueryItems: the number of overlay rectangles, or -1 while it shows no picture.
//   wParam kPreviewQueryMapRect, lParam a RECT* in picture pixels: maps it to client pixels as
//       the window draws it and answers TRUE (FALSE while it shows no picture).
//   wParam kPreviewQueryHitTest, lParam a client point packed as in mouse messages: the index of
//       the overlay rectangle a press there would grab, or -1.
inline constexpr const char* kPreviewQueryMessage = "Lumacap.PreviewQuery";
inline constexpr WPARAM kPreviewQueryItems = 0;
inline constexpr WPARAM kPreviewQueryMapRect = 1;
inline constexpr WPARAM kPreviewQueryHitTest = 2;

}  // namespace lumacap::sim
