// A simulation control for hosts without a real pointer (the command-line tool, tests): draws an
// overlay rectangle on a preview window with the simulated pointer, as a user's drag would, so
// the parent is asked and told exactly as for a real user.
#pragma once

#include <windows.h>

namespace lumacap::sim {

// `hPreview` is a library preview window owned by the calling thread, showing a picture;
// `rcPicture` is in picture pixels. The pointer presses on one corner (the bottom-right one if
// the top-left lies on a rectangle already), drags to the opposite one and releases, and the
// calling thread's messages are pumped meanwhile. Answers whether a rectangle was added: false
// for another window, no picture, a rectangle under 12 x 12 window pixels, both corners on
// existing rectangles, or a parent that refused.
LUMACAP_API bool DrawPreviewRect(HWND hPreview, const RECT& rcPicture);

}  // namespace lumacap::sim
