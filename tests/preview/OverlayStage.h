// A host window with a preview window over its whole client area, showing a uniform picture, and
// a parent window procedure that records the overlay notifications (copying their rectangles,
// which live only during the call) and answers them as the test asks. The pointer is the
// simulated one, so every press goes through real routing, WM_SETCURSOR and confinement.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/UiTest.h"
#include "preview/PreviewWnd.h"

struct CPreviewOverlayTestAccess {
    static const std::vector<CPreviewItem*>& Items(const CPreviewWnd& w) { return w.m_items; }
    static int Current(const CPreviewWnd& w) { return w.m_nCurrent; }
};

namespace lumacap::test {

struct Note {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    RECT rect;  // the rectangle behind lParam, for the two END messages
};

inline std::string Text(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

class Stage {
public:
    static constexpr COLORREF kPicture = RGB(0, 80, 0);

    // A client area of cw x ch showing a pw x ph picture.
    Stage(int cw, int ch, int pw, int ph) {
        parent = CreateRecorder(WS_POPUP | WS_VISIBLE, 60, 50, cw, ch);
        MessageLog::Get().SetHandler([this](HWND h, UINT m, WPARAM w, LPARAM l, LRESULT* r) {
            if (h != parent || m < PWM_NEWRECT_BEGIN || m > PWM_EDITRECT_END) return false;
            Note n{m, w, l, {0, 0, 0, 0}};
            if (m == PWM_NEWRECT_END || m == PWM_EDITRECT_END) n.rect = *reinterpret_cast<const RECT*>(l);
            notes.push_back(n);
            *r = answer ? answer(m) : (refusals[m] > 0 ? (--refusals[m], 1) : 0);
            return true;
        });
        preview = new CPreviewWnd(nullptr);
        RECT rc;
        GetClientRect(parent, &rc);
        EXPECT_TRUE(preview->Create(nullptr, "VideoRender", WS_CHILD, rc, CWnd::FromHandle(parent), 1));
        preview->ShowWindow(SW_SHOW);
        ShowPicture(pw, ph);
    }
    Stage(const Stage&) = delete;
    Stage& operator=(const Stage&) = delete;
    ~Stage() {
        if (down) sim::ReleaseButton();
        sim::PumpMessages();
        MessageLog::Get().SetHandler(nullptr);
        delete preview;
        DestroyWindow(parent);
    }

    void ShowPicture(int pw, int ph) {
        const int stride = ((pw * 24 + 31) / 32) * 4;
        std::vector<uint8_t> frame(static_cast<size_t>(stride) * ph);
        for (int y = 0; y < ph; ++y)
            for (int x = 0; x < pw; ++x) frame[static_cast<size_t>(y) * stride + x * 3 + 1] = GetGValue(kPicture);
        preview->SetFrameSize(pw, ph);
        preview->PutFrame(frame.data(), static_cast<LONG>(frame.size()), pw, ph);
        sim::PumpMessages();
    }

    // Pointer positions are in the preview's client coordinates.
    void Move(int x, int y) {
        sim::MovePointerToClient(preview->m_hWnd, x, y);
        sim::PumpMessages();
    }
    void Press() {
        sim::PressButton();
        down = true;
        sim::PumpMessages();
    }
    void Release() {
        sim::ReleaseButton();
        down = false;
        sim::PumpMessages();
    }
    // Press at `from`, nudge one pixel towards `to` (the move that starts a drag), go there in
    // four steps, and release unless told otherwise.
    void DragTo(POINT from, POINT to, bool release = true) {
        Move(from.x, from.y);
        Press();
        Move(from.x + (to.x > from.x) - (to.x < from.x), from.y + (to.y > from.y) - (to.y < from.y));
        for (int i = 1; i <= 4; ++i)
            Move(from.x + (to.x - from.x) * i / 4, from.y + (to.y - from.y) * i / 4);
        if (release) Release();
    }
    void Drag(int x0, int y0, int x1, int y1) { DragTo(POINT{x0, y0}, POINT{x1, y1}); }
    // Press and release without moving: selects.
    void Click(int x, int y) {
        Move(x, y);
        Press();
        Release();
    }

    std::vector<Note> Take() {
        std::vector<Note> out;
        out.swap(notes);
        return out;
    }
    int Count(UINT message) const {
        int n = 0;
        for (const Note& note : notes) n += note.message == message;
        return n;
    }
    const std::vector<CPreviewItem*>& Items() const { return CPreviewOverlayTestAccess::Items(*preview); }
    std::string ItemText(size_t i) const { return i < Items().size() ? Text(Items()[i]->m_rect) : "none"; }
    int Current() const { return CPreviewOverlayTestAccess::Current(*preview); }
    sim::Pixels Shot() const { return sim::ReadWindowClient(preview->m_hWnd); }

    HWND parent = nullptr;
    CPreviewWnd* preview = nullptr;
    std::vector<Note> notes;
    std::map<UINT, int> refusals;           // how many times each message is still refused
    std::function<LRESULT(UINT)> answer;  // or an answer for every message
    bool down = false;
};

}  // namespace lumacap::test
