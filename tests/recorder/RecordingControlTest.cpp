// Steering a recording: the status machine with its refusals, the frame count, what holds while a
// recording is open, and the sound level reaching the notify window of the recording's start.
#include <chrono>
#include <thread>

#include <lumacap/lumacap.h>

#include "common/GraphFixture.h"
#include "common/SimTest.h"
#include "common/TestAccess.h"
#include "framesource/FrameSourceSupport.h"
#include "recorder/ReadBack.h"
#include "recorder/RecorderFixture.h"

namespace lumacap::test {
namespace {

using Access = CDXRecorderTestAccess;

// Waits (in real time) until `condition` holds; false after five seconds.
template <class F>
bool Eventually(F condition) {
    for (int i = 0; i < 1000; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

class RecordingControlTest : public RecorderFixture {
protected:
    int FrameNumber() {
        CVideoMergeFilter* filter = Access::VideoMergeFilter(m_recorder);
        return filter ? CVideoMergePinTestAccess::FrameNumberNow(*filter->Pin()) : -1;
    }
};

TEST_F(RecordingControlTest, StatusFollowsRunPauseAndStopWithTheirRefusals) {
    for (int (CDXRecorder::*control)() :
         {&CDXRecorder::Run, &CDXRecorder::Pause, &CDXRecorder::Stop}) {
        EXPECT_EQ((m_recorder.*control)(), 1);
        EXPECT_STREQ(m_recorder.GetErrorMsg(), "尚未开始录像.");
    }
    ASSERT_TRUE(m_recorder.StartRecord(Path("control.avi").c_str(), 0)) << m_recorder.GetErrorMsg();
    EXPECT_EQ(m_recorder.GetStatus(), RecorderStatus_Running);
    EXPECT_FALSE(m_recorder.StartRecord(Path("other.avi").c_str(), 0)) << "one graph at a time";
    EXPECT_STREQ(m_recorder.GetErrorMsg(), "设备正在运行。");
    EXPECT_EQ(m_recorder.GetStatus(), RecorderStatus_Running);
    ASSERT_TRUE(Eventually([&] { return m_recorder.GetRealFramesCount() >= 3; }));

    EXPECT_EQ(m_recorder.Pause(), 0);
    EXPECT_EQ(m_recorder.GetStatus(), RecorderStatus_Paused);
    EXPECT_EQ(m_recorder.Pause(), 1);
    EXPECT_STREQ(m_recorder.GetErrorMsg(), "录像已经停止.");
    EXPECT_EQ(m_recorder.Stop(), 1) << "a paused recording cannot be stopped";
    EXPECT_STREQ(m_recorder.GetErrorMsg(), "录像已经暂停.");
    EXPECT_EQ(m_recorder.GetStatus(), RecorderStatus_Paused);

    EXPECT_EQ(m_recorder.Run(), 0);
    EXPECT_EQ(m_recorder.GetStatus(), RecorderStatus_Running);
    EXPECT_EQ(m_recorder.Run(), 0) << "running already: nothing changes";
    EXPECT_EQ(m_recorder.GetStatus(), RecorderStatus_Running);

    EXPECT_EQ(m_recorder.Stop(), 0);
    EXPECT_EQ(m_recorder.GetStatus(), RecorderStatus_Stopped);
    EXPECT_EQ(FrameNumber(), 0) << "the next run numbers its frames from 0";
    EXPECT_EQ(m_recorder.Stop(), 0) << "stopped already: nothing changes";
    EXPECT_EQ(m_recorder.Pause(), 0);
    EXPECT_EQ(m_recorder.GetStatus(), RecorderStatus_Paused);
    EXPECT_EQ(m_recorder.Run(), 0);
    EXPECT_EQ(m_recorder.GetStatus(), RecorderStatus_Running);
    ASSERT_TRUE(Eventually([&] { return FrameNumber() >= 2; }));

    // Closing keeps the count; the next recording counts from 0 again.
    m_recorder.CloseRecord();
    EXPECT_EQ(m_recorder.GetStatus(), RecorderStatus_Closed);
    for (const void* p : Access::Interfaces(m_recorder)) EXPECT_EQ(p, nullptr);
    const int frames = m_recorder.GetRealFramesCount();
    EXPECT_GE(frames, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(m_recorder.GetRealFramesCount(), frames);
    ASSERT_TRUE(m_recorder.StartRecord(Path("again.avi").c_str(), 0));
    EXPECT_LT(m_recorder.GetRealFramesCount(), 3);
    EXPECT_EQ(m_recorder.Run(), 0);
    EXPECT_EQ(m_recorder.GetStatus(), RecorderStatus_Running);
}

TEST_F(RecordingControlTest, ClosingWhilePausedAndDestroyingWhileRecordingFinishTheFile) {
    ASSERT_TRUE(m_recorder.StartRecord(Path("paused.avi").c_str(), 0));
    ASSERT_TRUE(Eventually([&] { return m_recorder.GetRealFramesCount() >= 3; }));
    EXPECT_EQ(m_recorder.Pause(), 0);
    m_recorder.CloseRecord();
    EXPECT_EQ(m_recorder.GetStatus(), RecorderStatus_Closed);
    EXPECT_TRUE(ProbeFile(Path("paused.avi")).Ok());
    {
        CDXRecorder scoped;
        scoped.AddWindowSource(nullptr, RECT{0, 0, 64, 48});
        scoped.SetVideoSize(64, 48);
        ASSERT_TRUE(scoped.StartRecord(Path("scoped.avi").c_str(), 1));
        ASSERT_TRUE(Eventually([&] { return scoped.GetRealFramesCount() >= 2; }));
    }
    const Probe probe = ProbeFile(Path("scoped.avi"));
    ASSERT_TRUE(probe.Ok());
    EXPECT_EQ(probe.StreamNumber(0, "width"), 64);
}

std::atomic<long> g_frameLength{0};
long KeepLength(unsigned char*, long length, void*) {
    g_frameLength = length;
    return 0;
}

TEST_F(RecordingControlTest, TheFrameSizeHoldsUntilTheRecordingIsClosed) {
    m_recorder.SetDxRecorderBuffCB(KeepLength, nullptr);
    ASSERT_TRUE(m_recorder.StartRecord(Path("size.avi").c_str(), 0));
    ASSERT_TRUE(Eventually([&] { return g_frameLength == 160 * 120 * 3; }));
    m_recorder.SetVideoSize(320, 240);
    EXPECT_EQ(m_recorder.GetVideoWidth(), 320) << "the setting is taken";
    const int frames = m_recorder.GetRealFramesCount();
    ASSERT_TRUE(Eventually([&] { return m_recorder.GetRealFramesCount() >= frames + 3; }));
    EXPECT_EQ(g_frameLength, 160 * 120 * 3) << "frames keep the size the samples were made for";
    m_recorder.CloseRecord();
    const Probe probe = ProbeFile(Path("size.avi"));
    ASSERT_TRUE(probe.Ok());
    EXPECT_EQ(probe.StreamNumber(0, "width"), 160);
    EXPECT_EQ(probe.StreamNumber(0, "height"), 120);
    // The next recording takes the new size.
    ASSERT_TRUE(m_recorder.StartRecord(Path("size2.avi").c_str(), 0));
    ASSERT_TRUE(Eventually([&] { return g_frameLength == 320 * 240 * 3; }));
}

TEST_F(RecordingControlTest, SoundLevelsGoToTheWindowTheRecordingStartedWith) {
    MessageWindow first, second;
    m_recorder.SetAudioRecord(TRUE);
    m_recorder.SetNotifyWnd(first.Handle());
    ASSERT_TRUE(m_recorder.StartRecord(Path("level.avi").c_str(), 0)) << m_recorder.GetErrorMsg();
    LPARAM level = 0;
    int posted = 0;
    ASSERT_TRUE(Eventually(
        [&] { return (posted += first.TakePosted(WM_RECORDER_AUDIOLEVEL, &level)) >= 3; }));
    // The default microphone's tone at half of full scale: a quarter of its mean is about 2,600.
    EXPECT_EQ(static_cast<int>(level), 68);

    m_recorder.SetNotifyWnd(second.Handle());
    first.TakePosted(WM_RECORDER_AUDIOLEVEL);
    posted = 0;
    ASSERT_TRUE(
        Eventually([&] { return (posted += first.TakePosted(WM_RECORDER_AUDIOLEVEL)) >= 2; }));
    EXPECT_EQ(second.TakePosted(WM_RECORDER_AUDIOLEVEL), 0)
        << "not redirected during the recording";
    m_recorder.CloseRecord();
    first.TakePosted(WM_RECORDER_AUDIOLEVEL);  // posted before the recording closed

    // A silent microphone, and the new window from the next recording on.
    sim::VirtualMicrophoneConfig quiet = sim::GetMicrophoneConfig(0);
    quiet.silence = true;
    sim::ConfigureMicrophone(0, quiet);
    ASSERT_TRUE(m_recorder.StartRecord(Path("quiet.avi").c_str(), 0));
    posted = 0;
    ASSERT_TRUE(Eventually(
        [&] { return (posted += second.TakePosted(WM_RECORDER_AUDIOLEVEL, &level)) >= 2; }));
    EXPECT_EQ(static_cast<int32_t>(level), INT32_MIN);
    EXPECT_EQ(first.TakePosted(WM_RECORDER_AUDIOLEVEL), 0);
}

}  // namespace
}  // namespace lumacap::test
