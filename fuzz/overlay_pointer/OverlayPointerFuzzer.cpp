// Pointer events into overlay editing, with a parent that refuses at random: after every event the
// rectangles stay normalised and inside the picture, at most one is selected and it is the
// current one, and the notifications pair up (an end only after an allowed begin in the same
// press, with the same index, and a rectangle changes or appears only when its end was allowed).
//
// Input: picture and window sizes, then events of a byte each (move, press, release, drag, clear
// and show the picture again, new refusal pattern) with their coordinates.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <lumacap/lumacap.h>
#include <lumacap/sim.h>

#include "common/FuzzSupport.h"
#include "preview/PreviewWnd.h"

struct CPreviewOverlayTestAccess {
    static const std::vector<CPreviewItem*>& Items(const CPreviewWnd& w) { return w.m_items; }
    static int Current(const CPreviewWnd& w) { return w.m_nCurrent; }
    static UINT TrackState(const CPreviewWnd& w) { return w.m_nTrackState; }
};

namespace {

using namespace lumacap;
using Access = CPreviewOverlayTestAccess;

struct Notification {
    UINT message;
    WPARAM wParam;
    RECT rect;
    bool refused;
};

// What the parent is asked, and how it answers: bit i of the pattern refuses message 1035 + i;
// the pattern turns by one bit after every answer.
std::vector<Notification> g_notes;
uint32_t g_refusals = 0;

LRESULT CALLBACK ParentProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message < PWM_NEWRECT_BEGIN || message > PWM_EDITRECT_END)
        return DefWindowProcA(hwnd, message, wParam, lParam);
    Notification note{message, wParam, RECT{},
                      ((g_refusals >> (message - PWM_NEWRECT_BEGIN)) & 1) != 0};
    if ((message == PWM_NEWRECT_END || message == PWM_EDITRECT_END) && lParam)
        note.rect = *reinterpret_cast<const RECT*>(lParam);
    g_refusals = (g_refusals >> 1) | (g_refusals << 31);
    g_notes.push_back(note);
    return note.refused ? 1 : 0;
}

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "overlay_pointer: %s\n", what);
    std::abort();
}

bool Inside(const RECT& r, long pw, long ph) {
    return r.left <= r.right && r.top <= r.bottom && r.left >= 0 && r.top >= 0 && r.right <= pw &&
           r.bottom <= ph;
}

bool Same(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

class Stage {
public:
    Stage(int cw, int ch, int pw, int ph) : m_pw(pw), m_ph(ph) {
        static const bool registered = [] {
            WNDCLASSA wc{};
            wc.lpfnWndProc = ParentProc;
            wc.lpszClassName = "OverlayFuzzParent";
            return RegisterClassA(&wc) != 0;
        }();
        (void)registered;
        m_parent = CreateWindowExA(0, "OverlayFuzzParent", "parent", WS_POPUP | WS_VISIBLE, 40, 30,
                                   cw, ch, nullptr, nullptr, nullptr, nullptr);
        m_preview = new CPreviewWnd(nullptr);
        RECT rc{0, 0, cw, ch};
        m_preview->Create(nullptr, "VideoRender", WS_CHILD, rc, CWnd::FromHandle(m_parent), 1);
        m_preview->ShowWindow(SW_SHOW);
        m_preview->SetFrameSize(pw, ph);
        Show();
    }
    ~Stage() {
        if (m_down) sim::ReleaseButton();
        sim::PumpMessages();
        delete m_preview;
        DestroyWindow(m_parent);
        sim::PumpMessages();
    }

    void Show() {
        std::vector<uint8_t> frame(GDI_WIDTHBYTES(m_pw * 24) * static_cast<size_t>(m_ph), 0x40);
        m_preview->PutFrame(frame.data(), static_cast<LONG>(frame.size()), m_pw, m_ph);
        m_picture = true;
    }
    void Clear() {
        m_preview->ClearFrame();
        m_picture = false;
    }

    void Move(int x, int y) { sim::MovePointerToClient(m_preview->m_hWnd, x, y); }
    void Press() {
        if (m_down) return;
        sim::PressButton();
        m_down = true;
        m_pressAllowedNew = m_pressAllowedEdit = false;
        m_editIndex = ~WPARAM{0};
    }
    void Release() {
        if (!m_down) return;
        sim::ReleaseButton();
        m_down = false;
    }

    // Dispatches what the event caused and checks everything that must hold after it.
    void Settle(bool released) {
        const std::vector<RECT> before = Rects();
        g_notes.clear();
        sim::PumpMessages();
        std::vector<RECT> expected = before;
        for (const Notification& n : g_notes) {
            if (!m_picture) Fail("notified while there is no picture");
            if (!m_down && !released) Fail("notified with the button up");
            switch (n.message) {
                case PWM_NEWRECT_BEGIN:
                case PWM_EDITRECT_BEGIN:
                    if (m_pressAllowedNew || m_pressAllowedEdit)
                        Fail("asked to begin again after an allowed begin");
                    if (n.message == PWM_NEWRECT_BEGIN) m_pressAllowedNew = !n.refused;
                    if (n.message == PWM_EDITRECT_BEGIN && !n.refused) {
                        m_pressAllowedEdit = true;
                        m_editIndex = n.wParam;
                    }
                    break;
                case PWM_NEWRECT_END:
                    if (!m_pressAllowedNew) Fail("a new rectangle ends without an allowed begin");
                    if (!Inside(n.rect, m_pw, m_ph)) Fail("a new rectangle leaves the picture");
                    if (!n.refused) expected.push_back(n.rect);
                    m_pressAllowedNew = false;
                    break;
                case PWM_EDITRECT_END:
                    if (!m_pressAllowedEdit || n.wParam != m_editIndex)
                        Fail("an edit ends without an allowed begin for that rectangle");
                    if (n.wParam >= expected.size()) Fail("an edit names no rectangle");
                    if (!Inside(n.rect, m_pw, m_ph)) Fail("an edited rectangle leaves the picture");
                    if (!n.refused) expected[n.wParam] = n.rect;
                    m_pressAllowedEdit = false;
                    break;
            }
        }
        const std::vector<RECT> after = Rects();
        if (after.size() != expected.size()) Fail("rectangles appeared or went without a notice");
        for (size_t i = 0; i < after.size(); ++i)
            if (!Same(after[i], expected[i])) Fail("a rectangle changed without an allowed end");

        const auto& items = Access::Items(*m_preview);
        const int current = Access::Current(*m_preview);
        if (current < -1 || current >= static_cast<int>(items.size())) Fail("bad current index");
        int selected = 0, currents = 0;
        for (size_t i = 0; i < items.size(); ++i) {
            if (!Inside(items[i]->m_rect, m_pw, m_ph)) Fail("a rectangle lies outside the picture");
            selected += items[i]->IsSelected();
            currents += items[i]->IsCurrent();
            if (items[i]->IsSelected() && static_cast<int>(i) != current)
                Fail("the selected rectangle is not the current one");
            if (items[i]->IsCurrent() != (static_cast<int>(i) == current))
                Fail("the current flag and the current index disagree");
        }
        if (selected > 1 || currents > 1) Fail("more than one rectangle selected or current");
        if (!m_down && Access::TrackState(*m_preview) != 0) Fail("tracking goes on after release");
    }

private:
    std::vector<RECT> Rects() const {
        std::vector<RECT> rects;
        for (const CPreviewItem* item : Access::Items(*m_preview)) rects.push_back(item->m_rect);
        return rects;
    }

    HWND m_parent = nullptr;
    CPreviewWnd* m_preview = nullptr;
    long m_pw, m_ph;
    bool m_picture = false;
    bool m_down = false;
    bool m_pressAllowedNew = false;
    bool m_pressAllowedEdit = false;
    WPARAM m_editIndex = ~WPARAM{0};
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::InitializeMachine();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput in(data, size);
    const int cw = in.Range(24, 640), ch = in.Range(24, 480);
    const int pw = in.Range(1, 800), ph = in.Range(1, 600);
    g_refusals = in.Dword();
    Stage stage(cw, ch, pw, ph);
    for (int events = 0; events < 400 && !in.Empty(); ++events) {
        const uint8_t op = in.Byte() % 8;
        bool released = false;
        switch (op) {
            case 0:  // move, or drag while the button is held
            case 1: {
                const int x = in.Range(-16, cw + 16), y = in.Range(-16, ch + 16);
                stage.Move(x, y);
                break;
            }
            case 2:
                stage.Press();
                break;
            case 3:
                stage.Release();
                released = true;
                break;
            case 4: {  // a short drag in small steps
                const int dx = in.Range(-40, 40), dy = in.Range(-40, 40);
                const POINT p = sim::PointerPosition();
                for (int i = 1; i <= 4; ++i) sim::MovePointer(p.x + dx * i / 4, p.y + dy * i / 4);
                break;
            }
            case 5:
                stage.Clear();
                break;
            case 6:
                stage.Show();
                break;
            case 7:
                g_refusals = in.Dword();
                break;
        }
        stage.Settle(released);
    }
    return 0;
}
