// The recorder object: sources, indices, settings and what an open recording refuses.
#include <cmath>
#include <vector>

#include <lumacap/lumacap.h>

#include "common/SimTest.h"
#include "common/TestAccess.h"
#include "recorder/AudioLevel.h"

namespace lumacap::test {
namespace {

class RecorderObjectTest : public SimTest {};

RECT Rect(LONG l, LONG t, LONG r, LONG b) {
    return RECT{l, t, r, b};
}
bool Same(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST_F(RecorderObjectTest, CamerasAreAddedOnceAndWindowsAlways) {
    CDXRecorder recorder;
    CDXCamera a, b;
    EXPECT_EQ(recorder.AddVideoSource(&a, Rect(0, 0, 320, 240)), 0);
    EXPECT_EQ(recorder.AddVideoSource(&b, Rect(320, 0, 640, 240)), 1);
    EXPECT_EQ(recorder.AddVideoSource(&a, Rect(1, 1, 2, 2)), 1)
        << "a repeated camera answers the last index";
    EXPECT_EQ(recorder.GetSourceCount(), 2);
    EXPECT_TRUE(Same(recorder.GetSourcePosition(0), Rect(0, 0, 320, 240)))
        << "the repeat changed nothing";

    EXPECT_EQ(recorder.AddVideoSource(nullptr, Rect(0, 0, 1, 1)), -1);
    EXPECT_STREQ(recorder.GetErrorMsg(), "无效的设备源参数。");
    EXPECT_EQ(recorder.AddWindowSource(nullptr, Rect(0, 240, 640, 480)), 2);
    EXPECT_EQ(recorder.AddWindowSource(nullptr, Rect(0, 240, 640, 480)), 3)
        << "windows are not de-duplicated";
    EXPECT_EQ(recorder.GetSourceCore(2), nullptr);
    EXPECT_EQ(recorder.GetSourceType(2), RecorderSource_Window)
        << "a null window is a valid screen source";
    EXPECT_EQ(recorder.GetSourceCore(0), &a);
    EXPECT_EQ(recorder.GetSourceType(1), RecorderSource_Camera);
}

TEST_F(RecorderObjectTest, BadIndicesAreReportedEachInItsOwnWay) {
    CDXRecorder recorder;
    CDXCamera a;
    recorder.AddVideoSource(&a, Rect(0, 0, 10, 10));
    EXPECT_EQ(recorder.GetSourceCore(1), nullptr);
    EXPECT_STREQ(recorder.GetErrorMsg(), "错误的设备源索引！");
    EXPECT_EQ(recorder.AddVideoSource(nullptr, Rect(0, 0, 1, 1)), -1);
    EXPECT_EQ(recorder.GetSourceType(-1), 0);
    EXPECT_STREQ(recorder.GetErrorMsg(), "错误的设备源索引！");
    recorder.AddVideoSource(nullptr, Rect(0, 0, 1, 1));
    EXPECT_TRUE(Same(recorder.GetSourcePosition(-1), Rect(0, 0, 0, 0)));
    EXPECT_STREQ(recorder.GetErrorMsg(), "无效的设备源参数。")
        << "GetSourcePosition leaves the text alone";
    EXPECT_FALSE(recorder.SetSourcePosition(5, Rect(0, 0, 1, 1)));
    EXPECT_STREQ(recorder.GetErrorMsg(), "无效的索引值：5");
    EXPECT_FALSE(recorder.RemoveSourceAt(-3));
    EXPECT_STREQ(recorder.GetErrorMsg(), "无效的索引值：-3");
}

TEST_F(RecorderObjectTest, RemovingShiftsLaterSources) {
    CDXRecorder recorder;
    CDXCamera a, b, c;
    recorder.AddVideoSource(&a, Rect(0, 0, 1, 1));
    recorder.AddVideoSource(&b, Rect(0, 0, 2, 2));
    recorder.AddVideoSource(&c, Rect(0, 0, 3, 3));
    EXPECT_TRUE(recorder.RemoveSourceAt(0));
    EXPECT_EQ(recorder.GetSourceCore(0), &b);
    EXPECT_EQ(recorder.GetSourceCore(1), &c);
    EXPECT_TRUE(recorder.SetSourcePosition(1, Rect(5, 5, 9, 9)));
    EXPECT_TRUE(Same(recorder.GetSourcePosition(1), Rect(5, 5, 9, 9)));
    EXPECT_TRUE(recorder.RemoveAll());
    EXPECT_EQ(recorder.GetSourceCount(), 0);
}

TEST_F(RecorderObjectTest, AnOpenRecordingRefusesSourceChangesButTakesSettings) {
    CDXRecorder recorder;
    CDXCamera a;
    recorder.AddVideoSource(&a, Rect(0, 0, 10, 10));
    for (int status : {1, 2, 3}) {
        CDXRecorderTestAccess::Status(recorder) = status;
        EXPECT_EQ(recorder.AddVideoSource(&a, Rect(0, 0, 1, 1)), -1);
        EXPECT_STREQ(recorder.GetErrorMsg(), "设备正在运行。");
        EXPECT_EQ(recorder.AddWindowSource(nullptr, Rect(0, 0, 1, 1)), -1);
        EXPECT_FALSE(recorder.SetSourcePosition(0, Rect(0, 0, 1, 1)));
        EXPECT_FALSE(recorder.RemoveSourceAt(0));
        EXPECT_FALSE(recorder.RemoveAll());
        EXPECT_EQ(recorder.GetSourceCount(), 1);
        EXPECT_TRUE(Same(recorder.GetSourcePosition(0), Rect(0, 0, 10, 10)));
        recorder.SetFPS(20);
        recorder.SetAsfBitrate(300);
        EXPECT_EQ(recorder.GetFPs(), 20u);
        EXPECT_EQ(recorder.GetAsfBitrate(), 300u);
    }
    CDXRecorderTestAccess::Status(recorder) = RecorderStatus_Closed;
}

TEST_F(RecorderObjectTest, FrameRateRoundsToTensWithinTenToThirty) {
    CDXRecorder recorder;
    const std::pair<UINT, UINT> cases[] = {{0, 10},    {9, 10},          {14, 10}, {15, 20},
                                           {19, 20},   {24, 20},         {25, 30}, {29, 30},
                                           {1000, 30}, {0xFFFFFFFFu, 30}};
    for (auto [in, out] : cases) {
        recorder.SetFPS(in);
        EXPECT_EQ(recorder.GetFPs(), out) << in;
    }
}

TEST_F(RecorderObjectTest, CopiesHaveTheirOwnLockAndNoGraph) {
    CDXRecorder original;
    CDXCamera a;
    original.AddVideoSource(&a, Rect(0, 0, 10, 10));
    original.AddWindowSource(nullptr, Rect(10, 0, 20, 10));
    original.SetVideoSize(1280, 720);
    original.SetFPS(30);
    original.SetVideoCompressor("MJPEG Compressor");
    original.SetNotifyWnd(reinterpret_cast<HWND>(0x1234));
    original.GetSourceCore(9);
    CDXRecorder copy(original);
    EXPECT_EQ(copy.GetSourceCount(), 2);
    EXPECT_EQ(copy.GetSourceCore(0), &a);
    EXPECT_EQ(copy.GetVideoWidth(), 1280);
    EXPECT_EQ(copy.GetFPs(), 30u);
    EXPECT_EQ(CDXRecorderTestAccess::NotifyWnd(copy), reinterpret_cast<HWND>(0x1234));
    EXPECT_STREQ(copy.GetErrorMsg(), "错误的设备源索引！");
    // The copy's callback object locks independently of the original's.
    BYTE silence[4] = {};
    EXPECT_EQ(CDXRecorderTestAccess::AudioGrabberCB(copy).BufferCB(0, silence, 4), S_OK);
    CDXRecorder assigned;
    assigned = original;
    assigned = assigned;
    EXPECT_EQ(assigned.GetSourceCount(), 2);
}

TEST_F(RecorderObjectTest, AudioLevelFollowsTheMeanAbsoluteSample) {
    std::vector<BYTE> square(2048);
    for (size_t i = 0; i < square.size(); i += 2) {
        const int16_t v = (i / 2) % 2 ? 32767 : -32768;
        square[i] = static_cast<BYTE>(v & 0xFF);
        square[i + 1] = static_cast<BYTE>((v >> 8) & 0xFF);
    }
    EXPECT_EQ(recorder::AudioLevel(square.data(), 2048), 78);
    std::vector<BYTE> one(2048, 0);
    for (size_t i = 0; i < one.size(); i += 2) one[i] = 1;  // every sample is 1
    EXPECT_EQ(recorder::AudioLevel(one.data(), 2048), static_cast<int>(20 * std::log10(0.25)));
    EXPECT_EQ(recorder::AudioLevel(one.data(), 2048), -12);
    std::vector<BYTE> silence(2048, 0);
    EXPECT_EQ(recorder::AudioLevel(silence.data(), 2048), INT32_MIN);
    EXPECT_EQ(recorder::AudioLevel(silence.data(), 0), INT32_MIN);
    // An odd length ignores the trailing half sample.
    EXPECT_EQ(recorder::AudioLevel(one.data(), 3),
              static_cast<int>(20 * std::log10(1.0 / 3 * 0.5)));
}

}  // namespace
}  // namespace lumacap::test
