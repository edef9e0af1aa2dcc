// Composition of one output frame: windows fitted with their shape kept, cameras stretched (and
// box-filtered first when larger than the output), the pointer drawn, the frame callback and the
// diagnostic frame file.
#include <cstring>
#include <filesystem>
#include <vector>

#include <gdiplus.h>
#include <lumacap/lumacap.h>

#include "common/TestAccess.h"
#include "common/UiTest.h"

namespace lumacap::test {
namespace {

using Access = CDXRecorderTestAccess;
constexpr BYTE kSentinel = 0x11;
const COLORREF kUntouched = RGB(kSentinel, kSentinel, kSentinel);

size_t Stride(int width) {
    return static_cast<size_t>(GDI_WIDTHBYTES(width * 24));
}

// A frame buffer in the library's layout (bottom-up BGR), prefilled so untouched pixels show.
struct Frame {
    int width, height;
    std::vector<BYTE> bytes;
    Frame(int w, int h)
        : width(w), height(h), bytes(Stride(w) * static_cast<size_t>(h), kSentinel) {}
    // The pixel at (x, y), y counted from the top as on screen.
    COLORREF At(int x, int y) const {
        const BYTE* p = bytes.data() + Stride(width) * static_cast<size_t>(height - 1 - y) +
                        static_cast<size_t>(x) * 3;
        return RGB(p[2], p[1], p[0]);
    }
};

// A camera's grabber that answers with a fixed frame, or with the error of a grabber that has
// seen no frame yet.
class FakeGrabber : public ISampleGrabber {
public:
    STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP SetOneShot(BOOL) override { return S_OK; }
    STDMETHODIMP SetMediaType(const AM_MEDIA_TYPE*) override { return S_OK; }
    STDMETHODIMP GetConnectedMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    STDMETHODIMP SetBufferSamples(BOOL) override { return S_OK; }
    STDMETHODIMP GetCurrentBuffer(long* size, long* buffer) override {
        if (frame.empty()) return VFW_E_WRONG_STATE;
        if (!buffer) {
            *size = static_cast<long>(frame.size());
            return S_OK;
        }
        if (*size < static_cast<long>(frame.size())) return E_OUTOFMEMORY;
        std::memcpy(buffer, frame.data(), frame.size());
        return S_OK;
    }
    STDMETHODIMP GetCurrentSample(IMediaSample**) override { return E_NOTIMPL; }
    STDMETHODIMP SetCallback(ISampleGrabberCB*, long) override { return S_OK; }

    std::vector<BYTE> frame;
};

// A camera object that looks open to the recorder, delivering `width` x `height` frames.
struct FakeCamera {
    CDXCamera camera;
    FakeGrabber grabber;
    FakeCamera(LONG width, LONG height) {
        CDXCameraTestAccess::VideoInfo(camera) = {{320, 240, 2}, {width, height, 2}};
        CDXCameraTestAccess::ResolutionIndex(camera) = 1;
        CDXCameraTestAccess::SampleGrabber(camera) = &grabber;
        CDXCameraTestAccess::Status(camera) = CameraStatus_Running;
    }
    ~FakeCamera() {
        CDXCameraTestAccess::Status(camera) = CameraStatus_Closed;
        CDXCameraTestAccess::SampleGrabber(camera) = nullptr;
    }
    void Fill(BYTE blue, BYTE green, BYTE red) {
        long w = 0, h = 0;
        camera.GetVideoSize(1, &w, &h);
        grabber.frame.assign(Stride(w) * static_cast<size_t>(h), 0);
        for (long y = 0; y < h; ++y)
            for (long x = 0; x < w; ++x) {
                BYTE* p = grabber.frame.data() + Stride(w) * static_cast<size_t>(y) +
                          static_cast<size_t>(x) * 3;
                p[0] = blue;
                p[1] = green;
                p[2] = red;
            }
    }
};

class CompositionTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&m_token, &input, nullptr), Gdiplus::Ok);
        // The pointer rests in the screen's corner, away from everything drawn here.
        sim::MovePointer(1919, 1079);
    }
    void TearDown() override {
        for (HWND h : m_windows) DestroyWindow(h);
        Gdiplus::GdiplusShutdown(m_token);
        UiTest::TearDown();
    }

    HWND SolidWindow(int x, int y, int w, int h, COLORREF color) {
        HWND hwnd = CreateRecorder(WS_POPUP | WS_VISIBLE, x, y, w, h);
        m_windows.push_back(hwnd);
        sim::PumpMessages();
        HDC dc = GetDC(hwnd);
        RECT all{0, 0, w, h};
        HBRUSH brush = CreateSolidBrush(color);
        FillRect(dc, &all, brush);
        DeleteObject(brush);
        ReleaseDC(hwnd, dc);
        return hwnd;
    }

    static Frame Compose(CDXRecorder& recorder) {
        Frame frame(recorder.GetVideoWidth(), recorder.GetVideoHeight());
        EXPECT_TRUE(Access::GetImageBuffer(recorder, frame.bytes.data()));
        return frame;
    }

    ULONG_PTR m_token = 0;
    std::vector<HWND> m_windows;
};

TEST_F(CompositionTest, WindowsKeepTheirShapeCentredAndLeaveTheStripsAlone) {
    const COLORREF red = RGB(200, 30, 40);
    HWND hwnd = SolidWindow(100, 100, 400, 300, red);

    // Relatively wider than its rectangle: full width, centred vertically (200 x 150 at (0, 25)).
    CDXRecorder square;
    square.SetVideoSize(200, 200);
    square.AddWindowSource(hwnd, RECT{0, 0, 200, 200});
    Frame f = Compose(square);
    EXPECT_EQ(f.At(100, 24), kUntouched);
    EXPECT_EQ(f.At(100, 25), red);
    EXPECT_EQ(f.At(0, 100), red);
    EXPECT_EQ(f.At(199, 100), red);
    EXPECT_EQ(f.At(100, 174), red);
    EXPECT_EQ(f.At(100, 175), kUntouched);

    // Relatively taller: full height, centred horizontally (133 x 100 at (133, 0)).
    CDXRecorder wide;
    wide.SetVideoSize(400, 100);
    wide.AddWindowSource(hwnd, RECT{0, 0, 400, 100});
    f = Compose(wide);
    EXPECT_EQ(f.At(132, 50), kUntouched);
    EXPECT_EQ(f.At(133, 50), red);
    EXPECT_EQ(f.At(265, 0), red);
    EXPECT_EQ(f.At(265, 99), red);
    EXPECT_EQ(f.At(266, 50), kUntouched);

    // The same recorder follows the window when it changes size between frames: square now, it
    // fills the whole rectangle.
    ASSERT_TRUE(SetWindowPos(hwnd, nullptr, 0, 0, 300, 300, SWP_NOMOVE | SWP_NOZORDER));
    sim::PumpMessages();
    f = Compose(square);
    EXPECT_NE(f.At(100, 3), kUntouched);
    EXPECT_NE(f.At(100, 196), kUntouched);
}

TEST_F(CompositionTest, LaterSourcesPaintOverEarlierOnesAndTheScreenIsAWindowToo) {
    const COLORREF red = RGB(220, 0, 0), blue = RGB(0, 0, 210), desktop = RGB(10, 200, 30);
    sim::SetDesktopColor(desktop);
    HWND a = SolidWindow(100, 100, 100, 100, red);
    HWND b = SolidWindow(300, 100, 100, 100, blue);
    CDXRecorder recorder;
    recorder.SetVideoSize(300, 100);
    recorder.AddWindowSource(a, RECT{0, 0, 150, 100});   // drawn at x 25..124
    recorder.AddWindowSource(b, RECT{50, 0, 200, 100});  // drawn at x 75..174, on top
    recorder.AddWindowSource(nullptr, RECT{200, 0, 300, 100});
    const Frame f = Compose(recorder);
    EXPECT_EQ(f.At(10, 50), kUntouched);
    EXPECT_EQ(f.At(60, 50), red);
    EXPECT_EQ(f.At(110, 50), blue);
    EXPECT_EQ(f.At(170, 50), blue);
    EXPECT_EQ(f.At(180, 50), kUntouched);
    // The whole screen (16 : 9) fills the last rectangle's width, centred, desktop showing.
    EXPECT_EQ(f.At(250, 21), kUntouched);
    EXPECT_EQ(f.At(250, 50), desktop);
    EXPECT_EQ(f.At(250, 78), kUntouched);
}

TEST_F(CompositionTest, CaptureShowsWhatTheScreenShowsWithTheArrowAtThePointer) {
    const COLORREF green = RGB(0, 180, 0), grey = RGB(90, 90, 90);
    HWND under = SolidWindow(100, 100, 200, 150, green);
    SolidWindow(250, 200, 100, 100, grey);  // lies over the bottom-right corner
    sim::MovePointer(150, 140);             // client (50, 40)
    CDXRecorder recorder;
    const long gdiObjects = sim::GdiObjectCount();
    HBITMAP bitmap = Access::GetImageFromWnd(recorder, under);
    ASSERT_NE(bitmap, nullptr);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap);
    BITMAP info{};
    GetObjectA(bitmap, sizeof(info), &info);
    EXPECT_EQ(info.bmWidth, 200);
    EXPECT_EQ(info.bmHeight, 150);
    EXPECT_EQ(GetPixel(dc, 50, 40), RGB(0, 0, 0)) << "the arrow's tip";
    EXPECT_EQ(GetPixel(dc, 51, 43), RGB(255, 255, 255)) << "inside the arrow";
    EXPECT_EQ(GetPixel(dc, 53, 40), green) << "beside the tip";
    EXPECT_EQ(GetPixel(dc, 180, 130), grey) << "the window on top";
    EXPECT_EQ(GetPixel(dc, 140, 90), green);
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(bitmap);

    // A pointer outside the area leaves no trace of itself.
    sim::MovePointer(50, 50);
    bitmap = Access::GetImageFromWnd(recorder, under);
    dc = CreateCompatibleDC(nullptr);
    old = SelectObject(dc, bitmap);
    for (int y = 0; y < 100; y += 3)
        for (int x = 0; x < 140; x += 3) ASSERT_EQ(GetPixel(dc, x, y), green) << x << "," << y;
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(bitmap);
    EXPECT_EQ(sim::GdiObjectCount(), gdiObjects) << "every capture's objects are freed";
}

TEST_F(CompositionTest, CamerasFillTheirRectangleOutOfShape) {
    FakeCamera cam(320, 240);
    cam.Fill(20, 40, 200);
    const COLORREF colour = RGB(200, 40, 20);
    CDXRecorder recorder;
    recorder.SetVideoSize(300, 300);
    recorder.AddVideoSource(&cam.camera, RECT{10, 20, 110, 280});
    const Frame f = Compose(recorder);
    EXPECT_EQ(f.At(10, 20), colour);
    EXPECT_EQ(f.At(109, 279), colour);
    EXPECT_EQ(f.At(60, 150), colour);
    EXPECT_EQ(f.At(9, 150), kUntouched);
    EXPECT_EQ(f.At(110, 150), kUntouched);
    EXPECT_EQ(f.At(60, 19), kUntouched);
    EXPECT_EQ(f.At(60, 280), kUntouched);

    // A top-down format (height -2): the first row the grabber holds is the picture's top.
    FakeCamera topDown(4, -2);
    topDown.grabber.frame.assign(Stride(4) * 2, 0);
    for (size_t x = 0; x < 4; ++x) topDown.grabber.frame[x * 3 + 2] = 255;
    CDXRecorder other;
    other.SetVideoSize(4, 2);
    other.AddVideoSource(&topDown.camera, RECT{0, 0, 4, 2});
    const Frame g = Compose(other);
    EXPECT_EQ(g.At(0, 0), RGB(255, 0, 0));
    EXPECT_EQ(g.At(3, 1), RGB(0, 0, 0));
}

TEST_F(CompositionTest, AStoppedCameraIsSkippedAndOneWithoutAFramePaintsBlack) {
    FakeCamera stopped(320, 240), waiting(320, 240);
    stopped.Fill(255, 255, 255);
    CDXCameraTestAccess::Status(stopped.camera) = CameraStatus_Closed;
    CDXRecorder recorder;
    recorder.SetVideoSize(200, 100);
    recorder.AddVideoSource(&stopped.camera, RECT{0, 0, 100, 100});
    recorder.AddVideoSource(&waiting.camera, RECT{100, 0, 200, 100});
    const Frame f = Compose(recorder);
    EXPECT_EQ(f.At(50, 50), kUntouched);
    EXPECT_EQ(f.At(100, 0), RGB(0, 0, 0));
    EXPECT_EQ(f.At(199, 99), RGB(0, 0, 0));
}

TEST_F(CompositionTest, ReductionTakesColumnsByTheSumRuleAndRowsInEvenGroups) {
    // 8 x 2 to 4 x 1: columns {0, 1, 2}, {3, 4}, {5, 6}, {7}; both rows into the one.
    std::vector<BYTE> src(Stride(8) * 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 8; ++x) {
            BYTE* p = src.data() + Stride(8) * static_cast<size_t>(y) + static_cast<size_t>(x) * 3;
            p[0] = static_cast<BYTE>(10 * x + y);
            p[1] = 7;
            p[2] = static_cast<BYTE>(100 + x);
        }
    std::vector<BYTE> dst(Stride(4), 0xEE);
    Access::ReduceImage(src.data(), 8, 2, dst.data(), 4, 1);
    const BYTE expected[12] = {10, 7, 101, 35, 7, 103, 55, 7, 105, 70, 7, 107};
    EXPECT_EQ(std::vector<BYTE>(dst.begin(), dst.begin() + 12),
              std::vector<BYTE>(expected, expected + 12));

    // 5 x 3 to 2 x 2: columns {0, 1, 2}, {3, 4}; rows {0, 1}, {2}; rows padded to words.
    std::vector<BYTE> src2(Stride(5) * 3, 0);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            src2[Stride(5) * static_cast<size_t>(y) + static_cast<size_t>(x) * 3] =
                static_cast<BYTE>(x + 10 * y);
    std::vector<BYTE> dst2(Stride(2) * 2, 0xEE);
    Access::ReduceImage(src2.data(), 5, 3, dst2.data(), 2, 2);
    EXPECT_EQ(dst2[0], 6);
    EXPECT_EQ(dst2[3], 8);
    EXPECT_EQ(dst2[Stride(2)], 21);
    EXPECT_EQ(dst2[Stride(2) + 3], 23);
    EXPECT_EQ(dst2[6], 0xEE) << "row padding is left alone";
}

TEST_F(CompositionTest, CameraFramesLargerThanTheOutputAreReducedBeforeTheyAreDrawn) {
    FakeCamera cam(16, 8);
    cam.grabber.frame.resize(Stride(16) * 8);
    for (size_t i = 0; i < cam.grabber.frame.size(); ++i)
        cam.grabber.frame[i] = static_cast<BYTE>((i * 37) % 251);
    CDXRecorder recorder;
    recorder.SetVideoSize(8, 4);
    recorder.AddVideoSource(&cam.camera, RECT{0, 0, 8, 4});
    const Frame f = Compose(recorder);
    std::vector<BYTE> reduced(Stride(8) * 4, kSentinel);
    Access::ReduceImage(cam.grabber.frame.data(), 16, 8, reduced.data(), 8, 4);
    // Drawn at its own size the reduced frame is copied exactly.
    EXPECT_EQ(f.bytes, reduced);

    // Larger in one direction only: scaled as it is, and its rectangle is still filled.
    FakeCamera flat(32, 2);
    flat.Fill(1, 2, 3);
    CDXRecorder other;
    other.SetVideoSize(8, 4);
    other.AddVideoSource(&flat.camera, RECT{0, 0, 8, 4});
    const Frame g = Compose(other);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x) EXPECT_EQ(g.At(x, y), RGB(3, 2, 1)) << x << "," << y;
}

long g_callbackLength = 0;
int g_callbackCalls = 0;
void* g_callbackContext = nullptr;
long RecordCallback(unsigned char* buffer, long length, void* context) {
    g_callbackLength = length;
    g_callbackContext = context;
    ++g_callbackCalls;
    buffer[0] = 0x5A;  // changes go into the recording
    return 0;
}

TEST_F(CompositionTest, FrameCallbackGetsEveryFrameWithExactlyItsBytes) {
    CDXRecorder recorder;
    int context = 0;
    recorder.SetDxRecorderBuffCB(RecordCallback, &context);
    g_callbackCalls = 0;
    Frame f = Compose(recorder);
    EXPECT_EQ(g_callbackLength, 921600);
    EXPECT_EQ(g_callbackContext, &context);
    EXPECT_EQ(f.bytes[0], 0x5A);
    recorder.SetVideoSize(638, 480);
    Compose(recorder);
    EXPECT_EQ(g_callbackLength, 1916 * 480);
    recorder.SetDxRecorderBuffCB(nullptr, nullptr);
    Compose(recorder);
    EXPECT_EQ(g_callbackCalls, 2);
    EXPECT_EQ(recorder.GetRealFramesCount(), 3);
}

TEST_F(CompositionTest, TheDiagnosticFrameIsWrittenAtMostEveryElevenSeconds) {
    // A wall time of its own, far from any other test's, so the process-wide last write is old.
    sim::UseManualClock(2091, 6, 1, 8, 0, 0);
    MakeDriveD();
    std::filesystem::create_directories(DriveD() + "/test");
    const std::string file = DriveD() + "/test/catch.bmp";
    CDXRecorder recorder;
    recorder.SetVideoSize(6, 3);
    const Frame f = Compose(recorder);
    const std::string bmp = ReadWholeFile(file);
    ASSERT_EQ(bmp.size(), 54u + Stride(6) * 3);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    uint32_t value = 0;
    std::memcpy(&value, bmp.data() + 2, 4);
    EXPECT_EQ(value, bmp.size());
    std::memcpy(&value, bmp.data() + 10, 4);
    EXPECT_EQ(value, 54u);
    BITMAPINFOHEADER header{};
    std::memcpy(&header, bmp.data() + 14, 40);
    EXPECT_EQ(header.biSize, 40u);
    EXPECT_EQ(header.biWidth, 6);
    EXPECT_EQ(header.biHeight, 3);
    EXPECT_EQ(header.biBitCount, 24);
    EXPECT_EQ(header.biSizeImage, 0u);
    EXPECT_EQ(bmp.substr(54), std::string(f.bytes.begin(), f.bytes.end()));

    std::filesystem::remove(file);
    sim::AdvanceClock(10999);
    Compose(recorder);
    EXPECT_FALSE(FileExists(file)) << "within 11 s of the last";
    sim::AdvanceClock(1);
    Compose(recorder);
    EXPECT_TRUE(FileExists(file));
}

}  // namespace
}  // namespace lumacap::test
