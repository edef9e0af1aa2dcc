// Helpers USER's own files share; the caller of an ...L function holds USER's lock.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include "platform/system/ui/User.h"

namespace lumacap::ui {

std::string LowerCase(const char* s);
RECT Intersection(const RECT& a, const RECT& b);  // empty rectangles become 0, 0, 0, 0
bool EmptyRect(const RECT& r);

// Gives a window a backing surface of its client area's size, keeping what fits of the old one.
void ReplaceSurfaceL(Window* w);
// Puts a window into its sibling list after `after` (or HWND_TOP, HWND_BOTTOM, ...).
void InsertInZOrderL(UserState& u, Window* w, HWND after);
// The window's descendants, children before their parents, then the window.
void CollectPostOrder(Window* w, std::vector<Window*>* out);
// A registered class by name or atom.
std::shared_ptr<WindowClass> FindClassL(UserState& u, LPCSTR name);
// Registers the system's own window classes ("Static").
void RegisterSystemClassesL(UserState& u);

// Chooses the display at start-up: X11 when DISPLAY names a server that answers, headless
// otherwise; LUMACAP_DISPLAY=headless|x11 forces one.
void SelectDefaultDisplay();

// Activation and focus, run on the thread of the window concerned.
void ActivateWindow(HWND topLevel, int how);  // WA_ACTIVE, WA_CLICKACTIVE or WA_INACTIVE

// The next due timer of the calling thread's queue as WM_TIMER, if one is due (removes nothing:
// a due timer's next time is set when its message is taken out).
bool TimerDueL(UserState& u, ThreadQueue& q, HWND filter, MSG* out, bool remove);
// Milliseconds until the queue's next timer is due (-1: no timer).
long NextTimerDelayL(const ThreadQueue& q);

}  // namespace lumacap::ui
