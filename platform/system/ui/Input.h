// Input entering USER: the simulation and a real display's event thread report pointer
// positions, buttons, the wheel and keys here; USER routes them as the system does (capture,
// confinement, hit testing, client coordinates, WM_SETCURSOR, double clicks, activation,
// keyboard focus).
#pragma once

#include <mutex>

#include <windows.h>

namespace lumacap::ui {

class UserState;
struct ThreadQueue;
struct InputMessage;

enum class MouseButton { Left, Right, Middle };

// Screen coordinates. `over`, when a display knows it, is the top-level window the pointer is in
// on that display; only that window and its children are then hit-tested.
void PointerMoveTo(int x, int y, HWND over = nullptr);
void PointerButton(MouseButton button, bool down, HWND over = nullptr);
// `delta` in WHEEL_DELTA units per notch, positive away from the user (or to the right).
void PointerWheel(int delta, bool horizontal, HWND over = nullptr);
// A key going down or up: `vk` may be a side-specific key (VK_LSHIFT); messages carry the
// generic one (VK_SHIFT), as the system's do.
void KeyEvent(UINT vk, bool down, UINT scanCode = 0, bool extended = false);

// The next press starts afresh, whenever and wherever the last one was (never a double click).
void ForgetLastClick();

// The owning thread takes a mouse message out of its queue: USER asks the window where the point
// is (WM_NCHITTEST; HTTRANSPARENT hands the message to the window below), turns presses into
// double clicks, activates the window under a press, asks for the cursor and gives the message
// its client or non-client form. Called with the lock held in `lk`, which it drops around each
// call into a procedure. False when the message was eaten or went to another thread's queue.
bool TakeMouseMessage(UserState& u, ThreadQueue& q, std::unique_lock<std::mutex>& lk,
                      InputMessage im, MSG* out);
// The thread's own key and button state follows the input messages it takes out.
void TrackKeyState(ThreadQueue& q, const MSG& msg, UINT sideVk = 0);

}  // namespace lumacap::ui
