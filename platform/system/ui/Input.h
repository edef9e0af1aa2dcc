// Pointer input entering USER: the simulation (and later a real display's event loop) reports
// positions and button changes here; USER routes them as the system does (capture, confinement,
// client coordinates, WM_SETCURSOR).
#pragma once

#include <windows.h>

namespace lumacap::ui {

void PointerMoveTo(int x, int y);
void PointerButton(bool down);

}  // namespace lumacap::ui
