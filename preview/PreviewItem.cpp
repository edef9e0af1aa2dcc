// CPreviewItem: one overlay rectangle, its handles, hit testing and drawing.
#include "preview/PreviewItem.h"

#include <cstdlib>

namespace {

// Handle positions in halves of the width and height, by handle number.
constexpr int kHandleFactors[8][2] = {{0, 0}, {2, 0}, {2, 2}, {0, 2},
                                      {1, 0}, {2, 1}, {1, 2}, {0, 1}};

}  // namespace

CPreviewItem::CPreviewItem(const RECT& rect) : m_rect(rect), m_nFlags(0) {
    CRect r(rect);
    r.NormalizeRect();
    m_rect = r;
}

UINT CPreviewItem::GetHandleMask(const RECT& rect) {
    UINT mask = 0x0F;                                                            // corners always
    if (std::abs(rect.right - rect.left) - 3 * s_nHandleSize > 4) mask = 0x5F;   // top and bottom
    if (std::abs(rect.bottom - rect.top) - 3 * s_nHandleSize > 4) mask |= 0xA0;  // right and left
    return mask;
}

CRect CPreviewItem::GetHandleRect(const RECT& rect, int nHandle) {
    CRect r(rect);
    r.NormalizeRect();
    // Centre the handles on the pen's path rather than on the rectangle's outer edge.
    r.right -= 1;
    r.bottom -= 1;
    r.OffsetRect(-(s_nLineWidth / 2), -(s_nLineWidth / 2));
    const int x = r.left + (r.Width() * kHandleFactors[nHandle][0]) / 2;
    const int y = r.top + (r.Height() * kHandleFactors[nHandle][1]) / 2;
    CRect handle(x, y, x + s_nHandleSize, y + s_nHandleSize);
    handle.OffsetRect(-((s_nHandleSize - s_nLineWidth) / 2), -((s_nHandleSize - s_nLineWidth) / 2));
    return handle;
}

void CPreviewItem::GrowFrame(RECT* pRect) {
    const int half = s_nLineWidth / 2;
    if (s_nLineWidth % 2) {
        InflateRect(pRect, half + 1, half + 1);
    } else {
        pRect->left -= half;
        pRect->top -= half;
        pRect->right += half + 1;
        pRect->bottom += half + 1;
    }
}

int CPreviewItem::HitTestRect(const RECT& rect, POINT point) {
    CRect frame(rect);
    GrowFrame(&frame);
    const UINT mask = GetHandleMask(frame);
    for (int i = 0; i < 8; ++i)
        if ((mask & (1u << i)) && GetHandleRect(frame, i).PtInRect(point)) return i;
    return PtInRect(&rect, point) ? 8 : -1;
}

void CPreviewItem::DrawItem(CDC* pDC, const RECT& rcClient) const {
    CPen pen(PS_SOLID, s_nLineWidth, s_crRect);
    CPen* pOldPen = pDC->SelectObject(&pen);
    // A flat rectangle still shows as a line; any other is framed from the outside.
    CRect r(rcClient);
    if (r.Height() == 0)
        r.bottom = r.top + 1;
    else if (r.Width() == 0)
        r.right = r.left + 1;
    else
        GrowFrame(&r);
    pDC->Rectangle(&r);
    if (IsCurrent()) {
        CBrush brush(s_crRect);
        const UINT mask = GetHandleMask(r);
        for (int i = 0; i < 8; ++i) {
            if (!(mask & (1u << i))) continue;
            const CRect handle = GetHandleRect(r, i);
            pDC->FillRect(&handle, &brush);
        }
    }
    if (pOldPen) pDC->SelectObject(pOldPen);
}
