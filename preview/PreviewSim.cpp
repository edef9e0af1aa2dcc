#include <lumacap/sim.h>

#include <utility>

#include <lumacap/sim.h>

#include "preview/PreviewWnd.h"

namespace lumacap::sim {

bool DrawPreviewRect(HWND hPreview, const RECT& rcPicture) {
    auto* pWnd = dynamic_cast<CPreviewWnd*>(CWnd::FromHandlePermanent(hPreview));
    // Only the window's own thread can pump the messages the drag produces.
    if (!pWnd || GetWindowThreadProcessId(hPreview, nullptr) != GetCurrentThreadId() || !pWnd->HasPicture())
        return false;
    CRect rc(rcPicture);
    rc.NormalizeRect();
    pWnd->ImageToWindowRect(&rc);
    POINT from = rc.TopLeft(), to = rc.BottomRight();
    if (pWnd->HitTestItems(from) >= 0) std::swap(from, to);  // a press there would grab that rectangle
    if (pWnd->HitTestItems(from) >= 0) return false;

    const size_t before = pWnd->m_items.size();
    MovePointerToClient(hPreview, from.x, from.y);
    PumpMessages();
    PressButton();
    PumpMessages();
    // The first move only starts the drawing; the ones after it stretch the rectangle.
    for (int i = 1; i <= 4; ++i) {
        MovePointerToClient(hPreview, from.x + (to.x - from.x) * i / 4, from.y + (to.y - from.y) * i / 4);
        PumpMessages();
    }
    ReleaseButton();
    PumpMessages();
    return pWnd->m_items.size() > before;
}

}  // namespace lumacap::sim
