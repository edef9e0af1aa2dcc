// Drawing an overlay rectangle on a library preview window with the simulated pointer, as a user's
// drag would. The window says where its picture is through its query message; everything else is
// plain pointer input, so the parent is asked and told exactly as for a real user.
#include <utility>

#include <windows.h>

#include <lumacap/sim.h>

#include "platform/system/ui/Input.h"

namespace lumacap::sim {

bool DrawPreviewRect(HWND hPreview, const RECT& rcPicture) {
    // Only the window's own thread can pump the messages the drag produces.
    if (!IsWindow(hPreview) || GetWindowThreadProcessId(hPreview, nullptr) != GetCurrentThreadId())
        return false;
    const UINT query = RegisterWindowMessageA(kPreviewQueryMessage);
    const LRESULT itemsBefore = SendMessageA(hPreview, query, kPreviewQueryItems, 0);
    RECT rc = rcPicture;
    if (rc.left > rc.right) std::swap(rc.left, rc.right);
    if (rc.top > rc.bottom) std::swap(rc.top, rc.bottom);
    if (itemsBefore < 0 ||
        !SendMessageA(hPreview, query, kPreviewQueryMapRect, reinterpret_cast<LPARAM>(&rc)))
        return false;  // not a preview, or no picture on it

    POINT from{rc.left, rc.top}, to{rc.right, rc.bottom};
    auto grabs = [&](POINT p) {
        return SendMessageA(hPreview, query, kPreviewQueryHitTest, MAKELPARAM(p.x, p.y)) >= 0;
    };
    if (grabs(from)) std::swap(from, to);  // a press there would grab that rectangle
    if (grabs(from)) return false;

    MovePointerToClient(hPreview, from.x, from.y);
    PumpMessages();
    // A user drawing a rectangle clicks once: this press never ends a double click.
    ui::ForgetLastClick();
    PressButton();
    PumpMessages();
    // The first move only starts the drawing; the ones after it stretch the rectangle.
    for (int i = 1; i <= 4; ++i) {
        MovePointerToClient(hPreview, from.x + (to.x - from.x) * i / 4,
                            from.y + (to.y - from.y) * i / 4);
        PumpMessages();
    }
    ReleaseButton();
    PumpMessages();
    return SendMessageA(hPreview, query, kPreviewQueryItems, 0) > itemsBefore;
}

}  // namespace lumacap::sim
