// Simulation controls for what a camera shows the user: the modal property frame a camera opens
// for its device (CDXCamera::ShowDeviceProperty), which a test or a host without a user finds,
// changes and closes as a user would. The calls may come from any thread; they wait while the
// frame's thread answers them.
#pragma once

#include <string>
#include <vector>

#include <windows.h>

#include <lumacap_export.h>

namespace lumacap::sim {

// One control of an open property frame, as the frame shows it.
struct PropertyFrameControl {
    std::string page;  // "Video Proc Amp", "Camera Control"
    std::string name;  // "Brightness", ..., "Exposure"
    long minimum = 0;
    long maximum = 0;
    long step = 0;
    long value = 0;
};

// The property frame shown last and still open, waiting up to `timeoutMs` for one to appear
// (null if none does).
LUMACAP_API HWND FindPropertyFrame(unsigned timeoutMs = 0);
// Its controls, page by page in the frame's order; empty for a window that is not a frame.
LUMACAP_API std::vector<PropertyFrameControl> PropertyFrameControls(HWND frame);
// Moves the named control to `value` (clamped to its range), as the user dragging it does: the
// frame applies it to the device at once. False when the frame has no such control.
LUMACAP_API bool SetPropertyFrameValue(HWND frame, const char* name, long value);
// Closes the frame, as its close box does; the call that opened it then returns.
LUMACAP_API bool ClosePropertyFrame(HWND frame);

}  // namespace lumacap::sim
