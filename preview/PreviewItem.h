// One overlay rectangle on the preview picture.
#pragma once

#include <windows.h>

class CPreviewItem {
public:
    CPreviewItem() = default;
    explicit CPreviewItem(const RECT& rect) : m_rect(rect) {}

    RECT m_rect{0, 0, 0, 0};  // picture pixels, top-down, normalised
    UINT m_nFlags = 0;        // 1: selected, 2: current
};
