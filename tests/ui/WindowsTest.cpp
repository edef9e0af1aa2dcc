// The window family and states hosts ask about: the desktop window, ancestors, enumeration,
// minimized and maximized windows, frame arithmetic, the system's cursors and the static control.
#include <set>

#include "common/UiTest.h"

namespace lumacap::test {
namespace {

using WindowsTest = UiTest;

TEST_F(WindowsTest, TheDesktopAncestorsAndEnumerationTopmostFirst) {
    HWND desktop = GetDesktopWindow();
    ASSERT_TRUE(IsWindow(desktop));
    RECT rc;
    ASSERT_TRUE(GetClientRect(desktop, &rc));
    EXPECT_EQ(rc.right, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_FALSE(DestroyWindow(desktop));

    HWND owner = CreateRecorder(WS_OVERLAPPEDWINDOW, 0, 0, 200, 200);
    HWND owned = CreateRecorder(WS_POPUP, 10, 10, 50, 50, owner);
    HWND child = CreateRecorder(WS_CHILD, 1, 1, 20, 20, owned, 1);
    HWND grandchild = CreateRecorder(WS_CHILD, 1, 1, 5, 5, child, 2);
    EXPECT_EQ(GetAncestor(grandchild, GA_PARENT), child);
    EXPECT_EQ(GetAncestor(grandchild, GA_ROOT), owned);
    EXPECT_EQ(GetAncestor(grandchild, GA_ROOTOWNER), owner);
    EXPECT_EQ(GetAncestor(owner, GA_PARENT), desktop);
    EXPECT_EQ(GetAncestor(desktop, GA_PARENT), nullptr);

    // Top-level windows only, the one created last on top; FALSE stops the walk.
    std::vector<HWND> seen;
    auto collect = [](HWND h, LPARAM p) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
        return TRUE;
    };
    EXPECT_TRUE(EnumWindows(collect, reinterpret_cast<LPARAM>(&seen)));
    EXPECT_EQ(seen, (std::vector<HWND>{owned, owner}));
    seen.clear();
    EXPECT_FALSE(EnumWindows([](HWND, LPARAM) -> BOOL { return FALSE; }, 0));
    EXPECT_TRUE(EnumChildWindows(owned, collect, reinterpret_cast<LPARAM>(&seen)));
    EXPECT_EQ(seen, (std::vector<HWND>{child, grandchild}));
    // Titles are found whatever their case.
    EXPECT_EQ(FindWindowA(RecorderClass(), "RECORDER"), owned);
    DestroyWindow(owner);
    EXPECT_FALSE(IsWindow(owned));
}

TEST_F(WindowsTest, MinimizedAndMaximizedWindowsAndTheFrameArithmetic) {
    const DWORD style = WS_OVERLAPPEDWINDOW;
    RECT want{50, 60, 350, 260};
    ASSERT_TRUE(AdjustWindowRect(&want, style, FALSE));
    HWND w = CreateRecorder(style | WS_VISIBLE, want.left, want.top, want.right - want.left,
                            want.bottom - want.top);
    RECT client;
    GetClientRect(w, &client);
    EXPECT_EQ(client.right, 300);
    EXPECT_EQ(client.bottom, 200);
    POINT origin{0, 0};
    ClientToScreen(w, &origin);
    EXPECT_EQ(origin.x, 50);
    EXPECT_EQ(origin.y, 60);

    MessageLog::Get().Take();
    ShowWindow(w, SW_MAXIMIZE);
    EXPECT_TRUE(IsZoomed(w));
    GetClientRect(w, &client);
    EXPECT_EQ(client.right, GetSystemMetrics(SM_CXSCREEN));
    ShowWindow(w, SW_MINIMIZE);
    EXPECT_TRUE(IsIconic(w));
    EXPECT_FALSE(IsZoomed(w));
    EXPECT_TRUE(IsWindowVisible(w));
    ShowWindow(w, SW_RESTORE);
    EXPECT_FALSE(IsIconic(w));
    GetClientRect(w, &client);
    EXPECT_EQ(client.right, 300);  // back where it was before either
    std::vector<WPARAM> sizes;
    for (const auto& r : MessageLog::Get().Take())
        if (r.message == WM_SIZE) sizes.push_back(r.wParam);
    EXPECT_EQ(sizes, (std::vector<WPARAM>{SIZE_MAXIMIZED, SIZE_MINIMIZED, SIZE_RESTORED}));
    DestroyWindow(w);
}

TEST_F(WindowsTest, SystemCursorsAndTheStaticControl) {
    std::set<HCURSOR> cursors;
    for (LPCSTR id :
         {IDC_ARROW, IDC_IBEAM, IDC_WAIT, IDC_CROSS, IDC_UPARROW, IDC_SIZENWSE, IDC_SIZENESW,
          IDC_SIZEWE, IDC_SIZENS, IDC_SIZEALL, IDC_NO, IDC_HAND, IDC_APPSTARTING, IDC_HELP}) {
        HCURSOR c = LoadCursorA(nullptr, id);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c, LoadCursorA(nullptr, id));  // shared
        cursors.insert(c);
    }
    EXPECT_EQ(cursors.size(), 14u);
    ICONINFO info;
    ASSERT_TRUE(GetIconInfo(LoadCursorA(nullptr, IDC_CROSS), &info));
    EXPECT_EQ(info.xHotspot, 15u);
    DeleteObject(info.hbmMask);
    EXPECT_EQ(LoadCursorA(nullptr, MAKEINTRESOURCE(32700)), nullptr);

    // A static control paints itself in the colour its parent gives it.
    HWND parent = CreateRecorder(WS_POPUP | WS_VISIBLE, 0, 0, 100, 100);
    HBRUSH green = CreateSolidBrush(RGB(0, 128, 0));
    MessageLog::Get().SetHandler([&](HWND, UINT m, WPARAM, LPARAM, LRESULT* r) {
        if (m != WM_CTLCOLORSTATIC) return false;
        *r = reinterpret_cast<LRESULT>(green);
        return true;
    });
    HWND label = CreateWindowExA(0, "STATIC", "text", WS_CHILD | WS_VISIBLE, 10, 10, 40, 20, parent,
                                 nullptr, nullptr, nullptr);
    ASSERT_NE(label, nullptr);
    char text[16];
    GetWindowTextA(label, text, sizeof(text));
    EXPECT_STREQ(text, "text");
    sim::PumpMessages();
    EXPECT_EQ(sim::ReadWindowClient(parent).ColorAt(20, 20), RGB(0, 128, 0));
    EXPECT_FALSE(UnregisterClassA("Static", nullptr));
    MessageLog::Get().SetHandler(nullptr);
    DestroyWindow(parent);
    DeleteObject(green);
}

}  // namespace
}  // namespace lumacap::test
