// The window framework: message maps, Default, attaching CWnd objects, the application's main
// window; and painting through BeginPaint with the class background.
#include <afxwin.h>

#include <thread>

#include "common/UiTest.h"

namespace lumacap::test {
namespace {

using FrameworkTest = UiTest;

constexpr UINT kCustom = WM_USER + 33;

class CBaseWnd : public CWnd {
public:
    std::vector<std::string> calls;

protected:
    afx_msg int OnCreate(LPCREATESTRUCT cs) {
        calls.push_back(std::string("base create ") + cs->lpszName);
        return CWnd::OnCreate(cs);
    }
    afx_msg void OnSize(UINT, int cx, int cy) {
        calls.push_back("size " + std::to_string(cx) + "x" + std::to_string(cy));
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CBaseWnd, CWnd)
ON_WM_CREATE()
ON_WM_SIZE()
END_MESSAGE_MAP()

class CDerivedWnd : public CBaseWnd {
public:
    bool refuseCreate = false;
    int destroyed = 0;

protected:
    // Overrides the base map's entry for WM_CREATE; WM_SIZE still reaches the base handler.
    afx_msg int OnCreate(LPCREATESTRUCT cs) {
        calls.push_back("derived create");
        if (refuseCreate) return -1;
        return CBaseWnd::OnCreate(cs);
    }
    afx_msg void OnLButtonDown(UINT flags, CPoint point) {
        calls.push_back("down " + std::to_string(point.x) + "," + std::to_string(point.y) +
                        ((flags & MK_LBUTTON) ? " L" : ""));
        Default();
    }
    afx_msg BOOL OnSetCursor(CWnd* pWnd, UINT hit, UINT message) {
        calls.push_back("cursor " + std::to_string(hit) + " " + std::to_string(message) +
                        (pWnd == this ? " self" : ""));
        return CWnd::OnSetCursor(pWnd, hit, message);  // Default(): the class arrow
    }
    afx_msg LRESULT OnCustom(WPARAM wp, LPARAM lp) { return static_cast<LRESULT>(wp + lp); }
    afx_msg void OnDestroy() {
        ++destroyed;
        CWnd::OnDestroy();
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CDerivedWnd, CBaseWnd)
ON_WM_CREATE()
ON_WM_LBUTTONDOWN()
ON_WM_SETCURSOR()
ON_WM_DESTROY()
ON_MESSAGE(kCustom, OnCustom)
END_MESSAGE_MAP()

TEST_F(FrameworkTest, MessageMapsDispatchToTheMostDerivedHandlerAndDefaultPassesTheMessageOn) {
    HWND parent = CreateRecorder(WS_POPUP | WS_VISIBLE, 0, 0, 300, 200);
    {
        CDerivedWnd wnd;
        ASSERT_TRUE(wnd.Create(nullptr, "framework", WS_VISIBLE, CRect(10, 10, 110, 60),
                               CWnd::FromHandle(parent), 9));
        EXPECT_EQ(CWnd::FromHandlePermanent(wnd.m_hWnd), &wnd);
        EXPECT_EQ(wnd.GetParent()->m_hWnd, parent);
        const std::vector<std::string> created = {"derived create", "base create framework",
                                                  "size 100x50"};
        EXPECT_EQ(wnd.calls, created);
        EXPECT_EQ(wnd.SendMessage(kCustom, 40, 2), 42);
        wnd.calls.clear();

        sim::MovePointerToClient(wnd.m_hWnd, 5, 6);
        sim::PressButton();
        sim::PumpMessages();
        sim::ReleaseButton();
        sim::PumpMessages();
        ASSERT_GE(wnd.calls.size(), 3u);
        EXPECT_EQ(wnd.calls[0], "cursor 1 512 self");
        EXPECT_EQ(wnd.calls[2], "down 5,6 L");
        EXPECT_EQ(sim::CurrentCursor(), LoadCursorA(nullptr, IDC_ARROW));
        EXPECT_TRUE(wnd.DestroyWindow());
        EXPECT_EQ(wnd.m_hWnd, nullptr);  // detached at WM_NCDESTROY
        EXPECT_EQ(wnd.destroyed, 1);
    }
    {
        // A refused WM_CREATE fails creation and leaves the object without a window.
        CDerivedWnd wnd;
        wnd.refuseCreate = true;
        EXPECT_FALSE(
            wnd.Create(nullptr, "no", 0, CRect(0, 0, 10, 10), CWnd::FromHandle(parent), 1));
        EXPECT_EQ(wnd.m_hWnd, nullptr);
    }
    {
        // The destructor destroys a window that still exists.
        auto* wnd = new CDerivedWnd;
        ASSERT_TRUE(
            wnd->Create(nullptr, "gone", 0, CRect(0, 0, 10, 10), CWnd::FromHandle(parent), 2));
        HWND h = wnd->m_hWnd;
        delete wnd;
        EXPECT_FALSE(IsWindow(h));
    }
    DestroyWindow(parent);
}

TEST_F(FrameworkTest, TheMainWindowIsWhatTheHostSetsAndGoesAwayWithItsWindow) {
    ASSERT_NE(AfxGetApp(), nullptr);
    EXPECT_EQ(AfxGetThread()->GetMainWnd(), nullptr);
    HWND main = CreateRecorder(WS_OVERLAPPEDWINDOW, 0, 0, 200, 100);
    sim::SetMainWindow(main);
    ASSERT_NE(AfxGetThread()->GetMainWnd(), nullptr);
    EXPECT_EQ(AfxGetThread()->GetMainWnd()->GetSafeHwnd(), main);
    EXPECT_EQ(CWnd::FromHandle(main), CWnd::FromHandle(main));  // one wrapper per window
    EXPECT_EQ(CWnd::FromHandle(reinterpret_cast<HWND>(0x4321)), nullptr);
    DestroyWindow(main);
    // A window torn down with its thread leaves no dangling main window behind either.
    std::thread([] { sim::SetMainWindow(CreateRecorder(WS_OVERLAPPED, 0, 0, 10, 10)); }).join();
    EXPECT_EQ(AfxGetThread()->GetMainWnd(), nullptr);
    sim::SetMainWindow(nullptr);
}

TEST_F(FrameworkTest, BeginPaintErasesWithTheClassBrushAndResizingKeepsWhatWasDrawn) {
    HWND w = CreateRecorder(WS_POPUP | WS_VISIBLE, 0, 0, 60, 40);
    sim::PumpMessages();
    // The class brush is COLOR_WINDOW: the erase painted it white.
    EXPECT_EQ(sim::ReadWindowSurface(w).ColorAt(30, 20), RGB(255, 255, 255));
    HDC dc = GetDC(w);
    RECT r{0, 0, 10, 10};
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    FillRect(dc, &r, red);
    ReleaseDC(w, dc);
    DeleteObject(red);

    MessageLog::Get().Take();
    MoveWindow(w, 0, 0, 80, 50, TRUE);
    const auto log = MessageLog::Get().Take();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().message, static_cast<UINT>(WM_SIZE));
    EXPECT_EQ(log.back().lParam, MAKELPARAM(80, 50));
    // Until the paint, the old pixels are kept; the paint erases everything again.
    EXPECT_EQ(sim::ReadWindowSurface(w).ColorAt(5, 5), RGB(255, 0, 0));
    PAINTSTRUCT ps;
    HDC pdc = BeginPaint(w, &ps);
    ASSERT_NE(pdc, nullptr);
    EXPECT_FALSE(ps.fErase);  // WM_ERASEBKGND did the erasing
    EXPECT_EQ(ps.rcPaint.right, 80);
    EXPECT_EQ(ps.rcPaint.bottom, 50);
    EndPaint(w, &ps);
    EXPECT_EQ(sim::ReadWindowSurface(w).ColorAt(5, 5), RGB(255, 255, 255));
    EXPECT_EQ(sim::PumpMessages(), 0);  // validated: nothing left to paint
    DestroyWindow(w);
}

TEST_F(FrameworkTest, InvalidatingAParentWithoutClipChildrenRepaintsItsChildrenToo) {
    HWND clip = CreateRecorder(WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 100, 100);
    HWND plain = CreateRecorder(WS_POPUP | WS_VISIBLE, 200, 0, 100, 100);
    HWND a = CreateRecorder(WS_CHILD | WS_VISIBLE, 10, 10, 20, 20, clip, 1);
    HWND b = CreateRecorder(WS_CHILD | WS_VISIBLE, 10, 10, 20, 20, plain, 1);
    sim::PumpMessages();
    InvalidateRect(clip, nullptr, FALSE);
    InvalidateRect(plain, nullptr, FALSE);
    RECT ra, rb;
    EXPECT_FALSE(GetUpdateRect(a, &ra, FALSE));
    ASSERT_TRUE(GetUpdateRect(b, &rb, FALSE));
    EXPECT_EQ(rb.right, 20);
    sim::PumpMessages();
    DestroyWindow(clip);
    DestroyWindow(plain);
}

}  // namespace
}  // namespace lumacap::test
