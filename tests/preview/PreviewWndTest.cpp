// The preview window: geometry, painting frames read back from the screen, black before frames
// and after clearing, the plain GDI path, coalesced paints from a streaming thread, and the event
// message reaching the camera.
#include <gdiplus.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include <streams.h>

#include "preview/PreviewWnd.h"
#include "common/UiTest.h"

struct CPreviewWndTestAccess {
    static RECT Display(const CPreviewWnd& w) { return w.m_rcDisplay; }
    static ULONG_PTR Token(const CPreviewWnd& w) { return w.m_gdiplusToken; }
    static bool HasPicture(const CPreviewWnd& w) { return w.m_image.GetBlock() != nullptr; }
};

namespace lumacap::test {
namespace {

using PreviewTest = UiTest;

// A host window with a preview window covering its client area, as the camera places it.
struct Host {
    HWND parent = nullptr;
    CPreviewWnd* preview = nullptr;
    Host(int cw, int ch, bool show = true) {
        parent = CreateRecorder(WS_POPUP | WS_VISIBLE, 50, 40, cw, ch);
        preview = new CPreviewWnd(nullptr);
        RECT rc;
        GetClientRect(parent, &rc);
        EXPECT_TRUE(
            preview->Create(nullptr, "VideoRender", WS_CHILD, rc, CWnd::FromHandle(parent), 3));
        if (show) preview->ShowWindow(SW_SHOW);
    }
    ~Host() {
        delete preview;
        DestroyWindow(parent);
    }
};

// A frame in the camera's layout: 24-bit, bottom-up; the top half red, the bottom half blue,
// with a green one-pixel column at the left edge.
std::vector<uint8_t> TwoBandFrame(int w, int h) {
    const int stride = GDI_WIDTHBYTES(w * 24);
    std::vector<uint8_t> f(static_cast<size_t>(stride) * h);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = &f[static_cast<size_t>(h - 1 - y) * stride];
        for (int x = 0; x < w; ++x) {
            uint8_t* p = row + x * 3;
            if (x == 0) {
                p[1] = 255;
            } else if (y < h / 2) {
                p[2] = 255;
            } else {
                p[0] = 255;
            }
        }
    }
    return f;
}

bool AllBlack(const sim::Pixels& p) {
    for (uint32_t v : p.data)
        if (v != 0) return false;
    return !p.data.empty();
}

TEST_F(PreviewTest, FrameSizeFitsThePictureWithAOnePixelMargin) {
    struct Case {
        int cw, ch, fw, fh;
        RECT expected;
    };
    for (const Case& c :
         {Case{800, 600, 640, 480, {1, 1, 798, 599}}, Case{1000, 501, 640, 480, {167, 1, 832, 500}},
          Case{640, 640, 1280, 720, {1, 141, 639, 499}}}) {
        Host host(c.cw, c.ch);
        host.preview->SetFrameSize(c.fw, c.fh);
        const RECT r = CPreviewWndTestAccess::Display(*host.preview);
        EXPECT_TRUE(EqualRect(&r, &c.expected)) << c.cw << "x" << c.ch << ": " << r.left << ","
                                                << r.top << "," << r.right << "," << r.bottom;
        EXPECT_TRUE(CPreviewWndTestAccess::HasPicture(*host.preview));
        // Resizing the window afterwards leaves the picture where it was placed.
        host.preview->MoveWindow(0, 0, c.cw / 2, c.ch / 2);
        const RECT after = CPreviewWndTestAccess::Display(*host.preview);
        EXPECT_TRUE(EqualRect(&after, &c.expected));
    }
    // Degenerate sizes give an empty display area instead of dividing by zero.
    Host host(100, 100);
    host.preview->SetFrameSize(0, 480);
    const RECT r = CPreviewWndTestAccess::Display(*host.preview);
    EXPECT_TRUE(IsRectEmpty(&r));
}

TEST_F(PreviewTest, PaintsFramesFittedIntoTheWindowAndBlackAroundThem) {
    Host host(800, 400);
    ASSERT_NE(CPreviewWndTestAccess::Token(*host.preview), 0u);
    sim::PumpMessages();
    EXPECT_TRUE(AllBlack(sim::ReadWindowClient(host.preview->m_hWnd)));  // no picture yet: black

    host.preview->SetFrameSize(320, 240);
    const RECT d = CPreviewWndTestAccess::Display(*host.preview);  // 266 x 398 at (267, 1)
    const std::vector<uint8_t> frame = TwoBandFrame(320, 240);
    const long objects = sim::GdiObjectCount();
    host.preview->PutFrame(frame.data(), static_cast<LONG>(frame.size()), 320, 240);
    sim::PumpMessages();
    EXPECT_EQ(sim::GdiObjectCount(), objects);  // the paint freed everything it made

    // Read back what the screen shows over the window.
    const sim::Pixels shown = sim::ReadWindowClient(host.preview->m_hWnd);
    ASSERT_EQ(shown.width, 800);
    const int cx = (d.left + d.right) / 2;
    EXPECT_EQ(ColorText(shown.ColorAt(cx, d.top + 20)), ColorText(RGB(255, 0, 0)));
    EXPECT_EQ(ColorText(shown.ColorAt(cx, d.bottom - 20)), ColorText(RGB(0, 0, 255)));
    EXPECT_EQ(ColorText(shown.ColorAt(d.left - 1, 200)), ColorText(RGB(0, 0, 0)));
    EXPECT_EQ(ColorText(shown.ColorAt(d.right, 200)), ColorText(RGB(0, 0, 0)));
    EXPECT_EQ(ColorText(shown.ColorAt(cx, 0)), ColorText(RGB(0, 0, 0)));
    EXPECT_EQ(GetGValue(shown.ColorAt(d.left, 200)), 255);  // the green edge column, scaled
    // The same pixels are on the screen where the window is.
    POINT origin{0, 0};
    ClientToScreen(host.preview->m_hWnd, &origin);
    EXPECT_EQ(sim::ReadScreen().ColorAt(origin.x + cx, origin.y + d.top + 20), RGB(255, 0, 0));

    host.preview->ClearFrame();
    EXPECT_FALSE(CPreviewWndTestAccess::HasPicture(*host.preview));
    sim::PumpMessages();
    EXPECT_TRUE(AllBlack(sim::ReadWindowClient(host.preview->m_hWnd)));
}

// A frame the grabber lends is shown by reference until the next one or ClearFrame; one of
// another size than the picture is copied, and its reference given back at once.
TEST_F(PreviewTest, LentFramesAreShownByReferenceAndGivenBack) {
    Host host(320, 240);
    host.preview->SetFrameSize(320, 240);
    HRESULT hr = S_OK;
    auto* pool = new CMemAllocator(NAME("test pool"), nullptr, &hr);
    IMemAllocator* alloc = nullptr;
    pool->NonDelegatingQueryInterface(IID_IMemAllocator, reinterpret_cast<void**>(&alloc));
    const std::vector<uint8_t> frame = TwoBandFrame(320, 240);
    ALLOCATOR_PROPERTIES request{2, static_cast<long>(frame.size()), 1, 0}, actual{};
    ASSERT_EQ(alloc->SetProperties(&request, &actual), S_OK);
    ASSERT_EQ(alloc->Commit(), S_OK);
    IMediaSample* lent = nullptr;
    ASSERT_EQ(alloc->GetBuffer(&lent, nullptr, nullptr, 0), S_OK);
    BYTE* bytes = nullptr;
    lent->GetPointer(&bytes);
    std::copy(frame.begin(), frame.end(), bytes);
    lent->AddRef();  // the window's
    host.preview->PutSample(lent, 320, 240);
    sim::PumpMessages();
    const RECT d = CPreviewWndTestAccess::Display(*host.preview);
    const sim::Pixels shown = sim::ReadWindowClient(host.preview->m_hWnd);
    const int cx = (d.left + d.right) / 2;
    EXPECT_EQ(ColorText(shown.ColorAt(cx, d.top + 20)), ColorText(RGB(255, 0, 0)));
    EXPECT_EQ(ColorText(shown.ColorAt(cx, d.bottom - 20)), ColorText(RGB(0, 0, 255)));
    EXPECT_EQ(lent->AddRef(), 3u);
    lent->Release();

    IMediaSample* other = nullptr;
    ASSERT_EQ(alloc->GetBuffer(&other, nullptr, nullptr, 0), S_OK);
    other->AddRef();
    host.preview->PutSample(other, 160, 120);  // not the picture's size: copied
    EXPECT_EQ(other->Release(), 0u);
    EXPECT_EQ(lent->AddRef(), 2u) << "the earlier lent frame is given back";
    lent->Release();
    lent->AddRef();
    host.preview->PutSample(lent, 320, 240);
    host.preview->ClearFrame();
    EXPECT_EQ(lent->Release(), 0u);
    alloc->Decommit();
    alloc->Release();
}

TEST_F(PreviewTest, FramesFromAStreamingThreadCoalesceAndTheLastOneIsShown) {
    Host host(320, 240);
    host.preview->SetFrameSize(160, 120);
    sim::PumpMessages();
    int paints = 0;
    // Count the window's paints by watching its update area being consumed.
    std::atomic<bool> done{false};
    std::thread streamer([&] {
        std::vector<uint8_t> frame = TwoBandFrame(160, 120);
        for (int i = 0; i < 300; ++i) {
            // The last frame is all blue; earlier ones have the red band.
            if (i == 299)
                for (size_t k = 0; k < frame.size(); k += 3)
                    frame[k] = 255, frame[k + 1] = 0, frame[k + 2] = 0;
            host.preview->PutFrame(frame.data(), static_cast<LONG>(frame.size()), 160, 120);
        }
        done = true;
    });
    MSG msg;
    while (!done.load() || PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_PAINT && msg.hwnd == host.preview->m_hWnd) ++paints;
            DispatchMessageA(&msg);
        } else {
            std::this_thread::yield();
        }
    }
    streamer.join();
    sim::PumpMessages();
    EXPECT_GE(paints, 1);
    EXPECT_LT(paints, 300);
    const sim::Pixels shown = sim::ReadWindowClient(host.preview->m_hWnd);
    EXPECT_EQ(shown.ColorAt(160, 60), RGB(0, 0, 255));
}

TEST_F(PreviewTest, WithoutGdiplusFramesAreDrawnWithPlainGdi) {
    sim::ArmFault("GdiplusStartup", E_FAIL);
    Host host(322, 242);  // a 320 x 240 picture fills the client area less the margin exactly
    sim::DisarmFaults();
    EXPECT_EQ(CPreviewWndTestAccess::Token(*host.preview), 0u);
    host.preview->SetFrameSize(320, 240);
    const RECT d = CPreviewWndTestAccess::Display(*host.preview);
    ASSERT_EQ(d.right - d.left, 320);
    ASSERT_EQ(d.bottom - d.top, 240);
    std::vector<uint8_t> frame(static_cast<size_t>(320) * 3 * 240);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>((i * 7) % 251);
    host.preview->PutFrame(frame.data(), static_cast<LONG>(frame.size()), 320, 240);
    sim::PumpMessages();
    // Same size: copied row for row, right way up.
    const sim::Pixels shown = sim::ReadWindowClient(host.preview->m_hWnd);
    int mismatches = 0;
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x) {
            const uint8_t* p = &frame[static_cast<size_t>(239 - y) * 960 + x * 3];
            if (shown.ColorAt(d.left + x, d.top + y) != RGB(p[2], p[1], p[0])) ++mismatches;
        }
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(shown.ColorAt(0, 0), RGB(0, 0, 0));

    // Scaled: stretched (nearest pixel) into the display rectangle.
    host.preview->SetFrameSize(160, 120);
    const std::vector<uint8_t> bands = TwoBandFrame(160, 120);
    host.preview->PutFrame(bands.data(), static_cast<LONG>(bands.size()), 160, 120);
    sim::PumpMessages();
    const sim::Pixels scaled = sim::ReadWindowClient(host.preview->m_hWnd);
    EXPECT_EQ(scaled.ColorAt(160, 30), RGB(255, 0, 0));
    EXPECT_EQ(scaled.ColorAt(160, 200), RGB(0, 0, 255));
    EXPECT_EQ(scaled.ColorAt(2, 100), RGB(0, 255, 0));
}

TEST_F(PreviewTest, WithGdiplusASameSizePictureIsStillExact) {
    Host host(322, 242);
    host.preview->SetFrameSize(320, 240);
    std::vector<uint8_t> frame(static_cast<size_t>(320) * 3 * 240);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>((i * 13) % 253);
    host.preview->PutFrame(frame.data(), static_cast<LONG>(frame.size()), 320, 240);
    sim::PumpMessages();
    const sim::Pixels shown = sim::ReadWindowClient(host.preview->m_hWnd);
    int mismatches = 0;
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x) {
            const uint8_t* p = &frame[static_cast<size_t>(239 - y) * 960 + x * 3];
            if (shown.ColorAt(1 + x, 1 + y) != RGB(p[2], p[1], p[0])) ++mismatches;
        }
    EXPECT_EQ(mismatches, 0);
}

TEST_F(PreviewTest, BeforeTheFirstFrameThePictureIsDrawnAsCreatedAndEraseDrawsNothing) {
    Host host(200, 150, /*show=*/false);
    EXPECT_FALSE(IsWindowVisible(host.preview->m_hWnd));
    // The framework class and child identifier, as the camera creates it.
    char cls[32];
    GetClassNameA(host.preview->m_hWnd, cls, sizeof(cls));
    EXPECT_STREQ(cls, "AfxWnd");
    EXPECT_EQ(GetDlgCtrlID(host.preview->m_hWnd), 3);
    EXPECT_EQ(GetParent(host.preview->m_hWnd), host.parent);
    // WM_ERASEBKGND answers TRUE and leaves the surface alone.
    HDC dc = GetDC(host.preview->m_hWnd);
    HBRUSH white = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    RECT all{0, 0, 200, 150};
    FillRect(dc, &all, white);
    EXPECT_EQ(SendMessageA(host.preview->m_hWnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0),
              TRUE);
    ReleaseDC(host.preview->m_hWnd, dc);
    EXPECT_EQ(sim::ReadWindowSurface(host.preview->m_hWnd).ColorAt(10, 10), RGB(255, 255, 255));
    host.preview->ShowWindow(SW_SHOW);
    host.preview->SetFrameSize(100, 75);
    sim::PumpMessages();
    // The picture exists (whatever its rows hold) and the margin around it is black.
    EXPECT_TRUE(CPreviewWndTestAccess::HasPicture(*host.preview));
    EXPECT_EQ(sim::ReadWindowClient(host.preview->m_hWnd).ColorAt(0, 0), RGB(0, 0, 0));
}

}  // namespace
}  // namespace lumacap::test
