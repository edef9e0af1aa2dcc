// A host window with a preview window over its whole client area, showing a uniform picture, and a
// parent window procedure that logs the overlay notifications and answers them as the test asks.
// Pointer positions are in the preview's client coordinates; the pointer is the simulated one, so
// every press goes through real routing, WM_SETCURSOR and confinement.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "common/UiTest.h"
#include "preview/PreviewWnd.h"

struct CPreviewOverlayTestAccess {
    static const std::vector<CPreviewItem*>& Items(const CPreviewWnd& w) { return w.m_items; }
    static int Current(const CPreviewWnd& w) { return w.m_nCurrent; }
};

namespace lumacap::test {

inline std::string Text(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
           "," + std::to_string(r.bottom);
}

class Stage {
public:
    static constexpr COLORREF kPicture = RGB(0, 80, 0);

    Stage(int cw, int ch, int pw, int ph) {
        // The preview's class takes double clicks: presses here are a user's separate clicks,
        // so time passes between them (Press).
        sim::UseManualClock(2024, 5, 6, 12, 0, 0);
        parent = CreateRecorder(WS_POPUP | WS_VISIBLE, 60, 50, cw, ch);
        // Logged as N (new) or E (edit) with the signed wParam, and "=rect" for the END messages,
        // whose rectangles live only during the call.
        MessageLog::Get().SetHandler([this](HWND h, UINT m, WPARAM w, LPARAM l, LRESULT* r) {
            if (h != parent || m < PWM_NEWRECT_BEGIN || m > PWM_EDITRECT_END) return false;
            log += (m == PWM_NEWRECT_BEGIN || m == PWM_NEWRECT_END ? " N" : " E") +
                   std::to_string(static_cast<long>(w));
            if (m == PWM_NEWRECT_END || m == PWM_EDITRECT_END)
                log += "=" + Text(*reinterpret_cast<const RECT*>(l));
            if (m == PWM_NEWRECT_BEGIN) newPoint = l;
            if (m == PWM_EDITRECT_BEGIN && l != 0) log += "!";
            *r = answer ? answer(m) : (refusals[m] > 0 ? (--refusals[m], 1) : 0);
            return true;
        });
        preview = new CPreviewWnd(nullptr);
        RECT rc;
        GetClientRect(parent, &rc);
        EXPECT_TRUE(
            preview->Create(nullptr, "VideoRender", WS_CHILD, rc, CWnd::FromHandle(parent), 1));
        preview->ShowWindow(SW_SHOW);
        ShowPicture(pw, ph);
    }
    Stage(const Stage&) = delete;
    Stage& operator=(const Stage&) = delete;
    ~Stage() {
        if (down) Release();
        MessageLog::Get().SetHandler(nullptr);
        delete preview;
        DestroyWindow(parent);
    }

    // Widths are multiples of 4 here, so rows have no padding.
    void ShowPicture(int pw, int ph) {
        std::vector<uint8_t> frame(static_cast<size_t>(pw) * ph * 3);
        for (size_t i = 1; i < frame.size(); i += 3) frame[i] = GetGValue(kPicture);
        preview->SetFrameSize(pw, ph);
        preview->PutFrame(frame.data(), static_cast<LONG>(frame.size()), pw, ph);
        sim::PumpMessages();
    }

    void Move(int x, int y) {
        sim::MovePointerToClient(preview->m_hWnd, x, y), sim::PumpMessages();
    }
    void Press() {
        sim::AdvanceClock(GetDoubleClickTime() + 1);
        sim::PressButton(), down = true, sim::PumpMessages();
    }
    void Release() { sim::ReleaseButton(), down = false, sim::PumpMessages(); }
    // Press at `from`, nudge one pixel towards `to` (the move that starts a drag), go there in
    // four steps, and release unless told otherwise.
    void DragTo(POINT from, POINT to, bool release = true) {
        Move(from.x, from.y);
        Press();
        Move(from.x + (to.x > from.x) - (to.x < from.x),
             from.y + (to.y > from.y) - (to.y < from.y));
        for (int i = 1; i <= 4; ++i)
            Move(from.x + (to.x - from.x) * i / 4, from.y + (to.y - from.y) * i / 4);
        if (release) Release();
    }
    void Drag(int x0, int y0, int x1, int y1) { DragTo(POINT{x0, y0}, POINT{x1, y1}); }

    // The notifications since the last call.
    std::string Take() { return std::exchange(log, {}).erase(0, 1); }
    const std::vector<CPreviewItem*>& Items() const {
        return CPreviewOverlayTestAccess::Items(*preview);
    }
    std::string ItemText(size_t i) const {
        return i < Items().size() ? Text(Items()[i]->m_rect) : "none";
    }
    int Current() const { return CPreviewOverlayTestAccess::Current(*preview); }
    sim::Pixels Shot() const { return sim::ReadWindowClient(preview->m_hWnd); }

    HWND parent = nullptr;
    CPreviewWnd* preview = nullptr;
    std::string log;
    LPARAM newPoint = 0;                  // the point of the last PWM_NEWRECT_BEGIN
    std::map<UINT, int> refusals;         // how many more times each message is refused
    std::function<LRESULT(UINT)> answer;  // or an answer for every message
    bool down = false;
};

}  // namespace lumacap::test
