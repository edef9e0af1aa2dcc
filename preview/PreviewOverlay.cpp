// Overlay rectangles on the preview: mapping between picture and client pixels, hit testing,
// selection, the mouse handlers that draw, move and resize rectangles while asking the parent
// window, the cursor for each handle, and drawing the rectangles over the picture.
#include <algorithm>
#include <cstdlib>

#include "preview/PreviewWnd.h"
#include "resources/CursorIds.h"

namespace {

// Rounds a mapped value the way every mapping here does, coordinates and distances alike: add a
// half and cut toward zero. A move to the left or up therefore comes out up to a pixel shorter
// than the same move to the right or down; hosts see exactly this in the rectangles they get.
LONG Round(double value) {
    return static_cast<LONG>(value + 0.5);
}

CRect NormalizedRect(POINT a, POINT b) {
    return CRect(std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y));
}

}  // namespace

// ---- mapping ----

void CPreviewWnd::ImageToWindowRect(RECT* pRect) const {
    double pw = 0, ph = 0;
    if (!PictureSize(&pw, &ph) || pw <= 0 || ph <= 0) return;
    const double dw = m_rcDisplay.right - m_rcDisplay.left,
                 dh = m_rcDisplay.bottom - m_rcDisplay.top;
    pRect->left = Round(dw * pRect->left / pw + m_rcDisplay.left);
    pRect->right = Round(dw * pRect->right / pw + m_rcDisplay.left);
    pRect->top = Round(dh * pRect->top / ph + m_rcDisplay.top);
    pRect->bottom = Round(dh * pRect->bottom / ph + m_rcDisplay.top);
}

void CPreviewWnd::WindowToImageRect(RECT* pRect) const {
    const double dw = m_rcDisplay.right - m_rcDisplay.left,
                 dh = m_rcDisplay.bottom - m_rcDisplay.top;
    // A degenerate display area maps nothing.
    double pw = 0, ph = 0;
    if (!PictureSize(&pw, &ph) || dw <= 0 || dh <= 0) return;
    pRect->left = Round(pw * (pRect->left - m_rcDisplay.left) / dw);
    pRect->right = Round(pw * (pRect->right - m_rcDisplay.left) / dw);
    pRect->top = Round(ph * (pRect->top - m_rcDisplay.top) / dh);
    pRect->bottom = Round(ph * (pRect->bottom - m_rcDisplay.top) / dh);
}

void CPreviewWnd::WindowToImageSize(SIZE* pSize) const {
    const double dw = m_rcDisplay.right - m_rcDisplay.left,
                 dh = m_rcDisplay.bottom - m_rcDisplay.top;
    double pw = 0, ph = 0;
    if (!PictureSize(&pw, &ph) || dw <= 0 || dh <= 0) return;
    pSize->cx = Round(pw * pSize->cx / dw);
    pSize->cy = Round(ph * pSize->cy / dh);
}

void CPreviewWnd::ClampRect(RECT* pRect, const RECT& bounds) {
    pRect->left = std::clamp(pRect->left, bounds.left, std::max(bounds.left, bounds.right));
    pRect->right = std::clamp(pRect->right, bounds.left, std::max(bounds.left, bounds.right));
    pRect->top = std::clamp(pRect->top, bounds.top, std::max(bounds.top, bounds.bottom));
    pRect->bottom = std::clamp(pRect->bottom, bounds.top, std::max(bounds.top, bounds.bottom));
}

CRect CPreviewWnd::ItemClientRect(int nIndex) const {
    CRect r(m_items[static_cast<size_t>(nIndex)]->m_rect);
    ImageToWindowRect(&r);
    return r;
}

// ---- hit testing and selection ----

int CPreviewWnd::HitTestHandle(POINT point) const {
    if (IsRectEmpty(&m_rcTrack)) return 0;
    return CPreviewItem::HitTestRect(m_rcTrack, point) + 1;
}

int CPreviewWnd::HitTestItems(POINT point) const {
    int best = -1;
    CRect rcBest;
    for (int i = 0; i < static_cast<int>(m_items.size()); ++i) {
        const CRect rc = ItemClientRect(i);
        if (CPreviewItem::HitTestRect(rc, point) == -1) continue;
        // Overlapping rectangles: the earlier one wins, unless this one lies wholly inside it.
        if (best != -1 && !(rcBest.PtInRect(rc.TopLeft()) && rcBest.PtInRect(rc.BottomRight())))
            continue;
        best = i;
        rcBest = rc;
        rcBest.right += 1;  // corners on the right and bottom edges count as inside
        rcBest.bottom += 1;
    }
    return best;
}

void CPreviewWnd::SetAnchor(POINT point) {
    // The corner (or edge point) that stays put while the handle under the pointer is dragged.
    switch (m_nHitCode) {
        case 1:
        case 8:
            m_ptAnchor = CPoint(m_rcTrack.right, m_rcTrack.bottom);
            break;
        case 2:
        case 5:
            m_ptAnchor = CPoint(m_rcTrack.left, m_rcTrack.bottom);
            break;
        case 3:
        case 6:
            m_ptAnchor = CPoint(m_rcTrack.left, m_rcTrack.top);
            break;
        case 4:
        case 7:
            m_ptAnchor = CPoint(m_rcTrack.right, m_rcTrack.top);
            break;
        default:
            m_ptAnchor = point;
            break;
    }
}

void CPreviewWnd::UpdateTrackRect(POINT point) {
    CRect r = NormalizedRect(m_ptAnchor, point);
    ClampRect(&r, m_rcDisplay);
    switch (m_nHitCode) {
        case 1:
        case 2:
        case 3:
        case 4: {
            m_rcTrack = r;
            // Whichever corner the pointer now drags, show the diagonal that matches it.
            const bool falling = (point.x > m_ptAnchor.x && point.y > m_ptAnchor.y) ||
                                 (point.x < m_ptAnchor.x && point.y < m_ptAnchor.y);
            m_nHitCode = falling ? 3 : 2;
            break;
        }
        case 5:
        case 7:
            m_rcTrack.top = r.top;
            m_rcTrack.bottom = r.bottom;
            break;
        case 6:
        case 8:
            m_rcTrack.left = r.left;
            m_rcTrack.right = r.right;
            break;
        default:
            break;
    }
}

void CPreviewWnd::UpdateCursor() {
    AFX_MANAGE_STATE(AfxGetStaticModuleState());
    WORD id = 0;
    switch (m_nHitCode) {
        case 1:
        case 3:
            id = IDC_LUMACAP_SIZENWSE;
            break;
        case 2:
        case 4:
            id = IDC_LUMACAP_SIZENESW;
            break;
        case 5:
        case 7:
            id = IDC_LUMACAP_SIZENS;
            break;
        case 6:
        case 8:
            id = IDC_LUMACAP_SIZEWE;
            break;
        case 9:
            id = IDC_LUMACAP_MOVE;
            break;
        default:
            break;
    }
    HCURSOR hCursor = id ? LoadCursorA(AfxGetResourceHandle(), MAKEINTRESOURCE(id)) : nullptr;
    if (!hCursor) hCursor = LoadCursorA(nullptr, IDC_ARROW);
    SetCursor(hCursor);
}

void CPreviewWnd::Select(int nIndex) {
    if (nIndex == m_nCurrent) return;
    DeselectAll();
    if (IsValidIndex(nIndex))
        m_items[static_cast<size_t>(nIndex)]->ModifyFlags(CPreviewItem::Selected, 0);
    InvalidateRect(nullptr, FALSE);
}

void CPreviewWnd::DeselectAll() {
    for (CPreviewItem* item : m_items) item->ModifyFlags(0, CPreviewItem::Selected);
}

void CPreviewWnd::SetCurrent(int nIndex) {
    if (nIndex == m_nCurrent) return;
    if (IsValidIndex(m_nCurrent))
        m_items[static_cast<size_t>(m_nCurrent)]->ModifyFlags(0, CPreviewItem::Current);
    if (IsValidIndex(nIndex))
        m_items[static_cast<size_t>(nIndex)]->ModifyFlags(CPreviewItem::Current, 0);
    m_nCurrent = nIndex;
    // Handles are drawn only on the current item, so they move with it.
    InvalidateRect(nullptr, FALSE);
}

int CPreviewWnd::AddItem(const RECT& rect) {
    m_items.push_back(new CPreviewItem(rect));
    return static_cast<int>(m_items.size()) - 1;
}

void CPreviewWnd::ClearItems() {
    for (CPreviewItem* item : m_items) delete item;
    m_items.clear();
    m_nCurrent = -1;
}

LRESULT CPreviewWnd::NotifyParent(UINT message, WPARAM wParam, LPARAM lParam) {
    HWND hParent = ::GetParent(m_hWnd);
    if (!hParent || !::IsWindow(hParent)) return 0;
    return ::SendMessageA(hParent, message, wParam, lParam);
}

// ---- mouse ----

void CPreviewWnd::OnLButtonDown(UINT nFlags, CPoint point) {
    if (!HasPicture()) {
        Default();
        return;
    }
    m_ptAnchor = point;
    m_nTrackState = TrackPressed;
    m_rcTrack = CRect(point, point);

    // Keep the pointer over the window until the button comes up: the release must reach us.
    CRect rcClip;
    GetClientRect(&rcClip);
    ClientToScreen(&rcClip);
    ClipCursor(&rcClip);

    int index = HitTestItems(point);
    if (index >= 0) {
        m_rcTrack = ItemClientRect(index);
        m_nHitCode = HitTestHandle(point);
        SetAnchor(point);
        UpdateCursor();
        if (m_nHitCode == 9) {
            if (!m_items[static_cast<size_t>(index)]->IsSelected()) Select(index);
            m_nTrackState = TrackMovePending;
        } else {
            Select(index);
            m_nTrackState = TrackSizePending;
        }
    } else {
        m_nTrackState = TrackNewPending;
        DeselectAll();
        m_nHitCode = 0;
        m_rcTrack = CRect(m_ptAnchor, m_ptAnchor);
    }
    SetCurrent(index);
    Default();
}

void CPreviewWnd::OnMouseMove(UINT nFlags, CPoint point) {
    if (!(nFlags & MK_LBUTTON)) {
        if (!HasPicture()) {
            m_nHitCode = 0;  // nothing to edit
        } else if (IsValidIndex(m_nCurrent)) {
            // The picture may have been replaced since the last press: measure the item afresh.
            if (m_nTrackState == TrackIdle) m_rcTrack = ItemClientRect(m_nCurrent);
            m_nHitCode = HitTestHandle(point);
        }
        Default();
        return;
    }
    if (point == m_ptAnchor) return;
    // Not our press (no picture then, or another window's), or the picture went away since.
    if (m_nTrackState == TrackIdle || !HasPicture()) {
        Default();
        return;
    }

    const CRect rcOld(m_rcTrack);
    CRect rcArea;
    GetClientRect(&rcArea);
    switch (m_nTrackState) {
        case TrackMovePending:
            if (NotifyParent(PWM_EDITRECT_BEGIN, static_cast<WPARAM>(m_nCurrent), 0)) {
                m_nHitCode = 0;
                InvalidateRect(nullptr, FALSE);
                Default();
                return;
            }
            m_nTrackState = TrackMoving;
            m_nHitCode = 9;
            break;
        case TrackNewPending:
            // The window has no scroll bars, so the scroll positions added to the point are 0.
            if (!NotifyParent(PWM_NEWRECT_BEGIN, 0, MAKELPARAM(point.x, point.y))) {
                m_nTrackState = TrackDrawing;
                m_nHitCode = 3;
            }
            break;
        case TrackSizePending:
            if (!IsValidIndex(m_nCurrent) ||
                NotifyParent(PWM_EDITRECT_BEGIN, static_cast<WPARAM>(m_nCurrent), 0))
                m_nHitCode = 0;
            else
                m_nTrackState = TrackSizing;
            break;
        case TrackMoving: {
            CRect rcUnion;
            for (int i = 0; i < static_cast<int>(m_items.size()); ++i) {
                if (!m_items[static_cast<size_t>(i)]->IsSelected()) continue;
                CRect rc = ItemClientRect(i);
                rc.OffsetRect(point.x - m_ptAnchor.x, point.y - m_ptAnchor.y);
                rc.InflateRect(1, 1);
                rcUnion.UnionRect(&rcUnion, &rc);
            }
            m_rcTrack = rcUnion;
            rcArea.UnionRect(&m_rcTrack, &rcOld);
            break;
        }
        case TrackDrawing:
        case TrackSizing:
            UpdateTrackRect(point);
            rcArea.UnionRect(&rcOld, &m_rcTrack);
            rcArea.InflateRect(1, 1);
            break;
        default:
            break;
    }
    InvalidateRect(&rcArea, FALSE);
    Default();
}

void CPreviewWnd::OnLButtonUp(UINT nFlags, CPoint point) {
    const UINT phase = m_nTrackState & 0xFFFF;
    if (phase != 1 && phase != 2) {
        m_nTrackState = TrackIdle;
        Default();
        return;
    }
    // A drag whose picture went away meanwhile has nothing left to map its rectangle to: it ends
    // without changes.
    if (phase == 2 && HasPicture()) {
        switch (m_nTrackState) {
            case TrackMoving:
                if (IsValidIndex(m_nCurrent)) {
                    CPreviewItem* item = m_items[static_cast<size_t>(m_nCurrent)];
                    SIZE d{point.x - m_ptAnchor.x, point.y - m_ptAnchor.y};
                    WindowToImageSize(&d);
                    // Pushed past an edge, the rectangle is cut there rather than stopped.
                    CRect proposed(item->m_rect);
                    proposed.OffsetRect(d.cx, d.cy);
                    double pw = 0, ph = 0;
                    PictureSize(&pw, &ph);
                    ClampRect(&proposed, CRect(0, 0, static_cast<int>(pw), static_cast<int>(ph)));
                    if (!NotifyParent(PWM_EDITRECT_END, static_cast<WPARAM>(m_nCurrent),
                                      reinterpret_cast<LPARAM>(&proposed)) &&
                        IsValidIndex(m_nCurrent))
                        m_items[static_cast<size_t>(m_nCurrent)]->m_rect = proposed;
                    if (IsValidIndex(m_nCurrent)) m_rcTrack = ItemClientRect(m_nCurrent);
                }
                break;
            case TrackDrawing:
                if (std::abs(m_rcTrack.right - m_rcTrack.left) >= CPreviewItem::s_nMinTrackSize &&
                    std::abs(m_rcTrack.bottom - m_rcTrack.top) >= CPreviewItem::s_nMinTrackSize) {
                    CRect rc(m_rcTrack);
                    WindowToImageRect(&rc);
                    // Allowed or refused, the tracking rectangle stays where the drawing ended.
                    if (!NotifyParent(PWM_NEWRECT_END, static_cast<WPARAM>(-1),
                                      reinterpret_cast<LPARAM>(&rc))) {
                        const int index = AddItem(rc);
                        Select(index);
                        SetCurrent(index);
                    }
                } else {
                    m_rcTrack = CRect();  // too small: dropped without asking
                }
                break;
            case TrackSizing:
                if (IsValidIndex(m_nCurrent)) {
                    CRect proposed(m_rcTrack);
                    WindowToImageRect(&proposed);
                    const bool refused =
                        NotifyParent(PWM_EDITRECT_END, static_cast<WPARAM>(m_nCurrent),
                                     reinterpret_cast<LPARAM>(&proposed)) != 0;
                    if (IsValidIndex(m_nCurrent)) {
                        if (!refused) m_items[static_cast<size_t>(m_nCurrent)]->m_rect = proposed;
                        m_rcTrack = ItemClientRect(m_nCurrent);
                    }
                }
                break;
            default:
                break;
        }
        m_nHitCode = HitTestHandle(point);
        UpdateCursor();
        InvalidateRect(nullptr, FALSE);
    }
    ClipCursor(nullptr);
    m_nTrackState = TrackIdle;
    Default();
}

BOOL CPreviewWnd::OnSetCursor(CWnd* pWnd, UINT nHitTest, UINT message) {
    if (m_nHitCode == 0) return static_cast<BOOL>(Default());
    UpdateCursor();
    CPoint pt;
    GetCursorPos(&pt);
    ScreenToClient(&pt);
    CRect rcClient;
    GetClientRect(&rcClient);
    if (!rcClient.PtInRect(pt)) m_nHitCode = 0;
    return TRUE;
}

// ---- drawing ----

void CPreviewWnd::DrawItems(CDC* pDC) {
    CGdiObject* pOldBrush = pDC->SelectStockObject(NULL_BRUSH);
    const int oldRop = pDC->SetROP2(R2_COPYPEN);
    CPoint ptCursor;
    GetCursorPos(&ptCursor);
    ScreenToClient(&ptCursor);

    for (int i = 0; i < static_cast<int>(m_items.size()); ++i) {
        const CPreviewItem* item = m_items[static_cast<size_t>(i)];
        const CRect r = ItemClientRect(i);
        if (!item->IsSelected()) {
            item->DrawItem(pDC, r);
        } else if (m_nTrackState == TrackMoving) {
            // The rectangle stays where it is; a dotted outline follows the pointer.
            item->DrawItem(pDC, r);
            CRect outline(r);
            outline.OffsetRect(ptCursor.x - m_ptAnchor.x, ptCursor.y - m_ptAnchor.y);
            outline.InflateRect(1, 1);
            ClampRect(&outline, m_rcDisplay);
            CPen dotted(PS_DOT, 1, GetSysColor(COLOR_GRAYTEXT));
            CPen* pOldPen = pDC->SelectObject(&dotted);
            pDC->Rectangle(&outline);
            if (pOldPen) pDC->SelectObject(pOldPen);
        } else if (m_nTrackState != TrackSizing) {
            item->DrawItem(pDC, r);
        }
        // While it is being resized, the tracking outline stands in for the rectangle.
    }

    pDC->SetROP2(oldRop);
    if (pOldBrush) pDC->SelectObject(pOldBrush->m_hObject);
}

// ---- queries from tools that drive the window ----

LRESULT CPreviewWnd::AnswerQuery(WPARAM wParam, LPARAM lParam) {
    switch (wParam) {
        case lumacap::sim::kPreviewQueryItems:
            return HasPicture() ? static_cast<LRESULT>(m_items.size()) : -1;
        case lumacap::sim::kPreviewQueryMapRect:
            if (!HasPicture() || !lParam) return FALSE;
            ImageToWindowRect(reinterpret_cast<RECT*>(lParam));
            return TRUE;
        case lumacap::sim::kPreviewQueryHitTest:
            return HitTestItems(
                POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))});
        default:
            return 0;
    }
}
