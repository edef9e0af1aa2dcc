// Recorded files as FFmpeg reads them: streams, size, rate, duration (a pause leaves no gap),
// sound, and the virtual camera's own frame numbers decoded from the file in order.
#include <chrono>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include <lumacap/lumacap.h>

#include "common/SimTest.h"
#include "common/TestAccess.h"
#include "recorder/ReadBack.h"

namespace lumacap::test {
namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

class RecordedFileTest : public SimTest {
protected:
    std::string Path(const char* name) const { return TempDir() + "/" + name; }

    // Records for about `seconds` of real time; answers how long the recording really ran.
    double Record(CDXRecorder& recorder, const std::string& path, int format, double seconds) {
        const auto start = Clock::now();
        EXPECT_TRUE(recorder.StartRecord(path.c_str(), format))
            << sim::GbkToUtf8(recorder.GetErrorMsg());
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        recorder.CloseRecord();
        return Seconds(Clock::now() - start);
    }
};

// Recordings paced by real time (the microphone's, or the real clock's): they run alone.
class RecordedFileRealtimeTest : public RecordedFileTest {};

TEST_F(RecordedFileRealtimeTest, AnAviOfTheScreenHasTheRecordingsSizeRateAndDuration) {
    CDXRecorder recorder;
    recorder.SetVideoSize(192, 108);
    recorder.SetFPS(20);
    recorder.AddWindowSource(nullptr, RECT{0, 0, 192, 108});
    const double ran = Record(recorder, Path("screen.avi"), 0, 2.0);
    const Probe probe = ProbeFile(Path("screen.avi"));
    ASSERT_TRUE(probe.Ok());
    EXPECT_EQ(probe.Get("format.format_name"), "avi");
    ASSERT_EQ(probe.StreamCount(), 1);
    EXPECT_EQ(probe.Stream(0, "codec_type"), "video");
    EXPECT_EQ(probe.Stream(0, "codec_name"), "rawvideo");
    EXPECT_EQ(probe.StreamNumber(0, "width"), 192);
    EXPECT_EQ(probe.StreamNumber(0, "height"), 108);
    EXPECT_DOUBLE_EQ(probe.StreamNumber(0, "r_frame_rate"), 20.0);
    // Late frames take the slot the clock has reached, so the file lasts as long as the recording
    // ran whatever the load.
    EXPECT_NEAR(probe.Number("format.duration"), ran, 0.35);
}

TEST_F(RecordedFileRealtimeTest, PausesLeaveNoGapAndKeepSoundWithThePicture) {
    CDXRecorder recorder;
    recorder.SetVideoSize(96, 64);
    recorder.SetAudioRecord(TRUE);
    recorder.AddWindowSource(nullptr, RECT{0, 0, 96, 64});
    ASSERT_TRUE(recorder.StartRecord(Path("paused.avi").c_str(), 0));
    // About 12 s of recording at 10 frames a second, paused three times in between.
    double running = 0;
    for (int part = 0; part < 4; ++part) {
        const auto start = Clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(2950 + 37 * part));
        if (part < 3) recorder.Pause();
        running += Seconds(Clock::now() - start);
        if (part < 3) {
            std::this_thread::sleep_for(std::chrono::milliseconds(600));
            recorder.Run();
        }
    }
    recorder.CloseRecord();
    const Probe probe = ProbeFile(Path("paused.avi"));
    ASSERT_TRUE(probe.Ok());
    const double picture = probe.StreamNumber(probe.StreamOf("video"), "duration");
    EXPECT_NEAR(picture, running, 0.4) << "paused time is not in the file";
    // Each pause keeps the sound captured before it: sound and picture end within one frame and
    // one sound buffer (1,024 samples) of each other.
    const double sound = DecodedSoundSeconds(Path("paused.avi"), 11025);
    EXPECT_NEAR(sound, picture, 0.1 + 1024.0 / 11025.0);
}

TEST_F(RecordedFileRealtimeTest, SoundIsRecordedAsElevenKilohertzMonoBesideThePicture) {
    CDXRecorder recorder;
    recorder.SetVideoSize(96, 64);
    recorder.SetAudioRecord(TRUE);
    recorder.AddWindowSource(nullptr, RECT{0, 0, 96, 64});
    const double ran = Record(recorder, Path("sound.avi"), 1, 2.0);
    const Probe probe = ProbeFile(Path("sound.avi"));
    ASSERT_TRUE(probe.Ok());
    ASSERT_EQ(probe.StreamCount(), 2);
    const int audio = probe.StreamOf("audio");
    ASSERT_GE(audio, 0);
    EXPECT_EQ(probe.Stream(audio, "codec_name"), "pcm_s16le");
    EXPECT_EQ(probe.StreamNumber(audio, "sample_rate"), 11025);
    EXPECT_EQ(probe.StreamNumber(audio, "channels"), 1);
    EXPECT_NEAR(DecodedSoundSeconds(Path("sound.avi"), 11025), ran, 0.4)
        << "sound as long as the recording";
    EXPECT_NEAR(probe.Number("format.duration"), ran, 0.4);
}

TEST_F(RecordedFileRealtimeTest, AsfFilesCarryWindowsMediaVideoAndSoundWhenAsked) {
    CDXRecorder recorder;
    recorder.SetVideoSize(160, 120);
    recorder.AddWindowSource(nullptr, RECT{0, 0, 160, 120});
    recorder.SetAudioRecord(TRUE);
    const double ran = Record(recorder, Path("sound.asf"), 0, 2.0);
    Probe probe = ProbeFile(Path("sound.asf"));
    ASSERT_TRUE(probe.Ok());
    EXPECT_EQ(probe.Get("format.format_name"), "asf");
    ASSERT_EQ(probe.StreamCount(), 2);
    const int video = probe.StreamOf("video");
    ASSERT_GE(video, 0);
    EXPECT_EQ(probe.Stream(video, "codec_name"), "wmv2");
    EXPECT_EQ(probe.StreamNumber(video, "width"), 160);
    EXPECT_EQ(probe.StreamNumber(video, "height"), 120);
    EXPECT_EQ(probe.Stream(probe.StreamOf("audio"), "codec_name"), "wmav2");
    EXPECT_NEAR(probe.Number("format.duration"), ran, 0.5);
    EXPECT_NEAR(DecodedSoundSeconds(Path("sound.asf"), 11025), ran, 0.5);

    // Without sound the profile loses its audio stream; .wmv is ASF when asked for by code.
    recorder.SetAudioRecord(FALSE);
    recorder.SetFPS(30);
    Record(recorder, Path("silent.wmv"), 2, 1.0);
    probe = ProbeFile(Path("silent.wmv"));
    ASSERT_TRUE(probe.Ok());
    ASSERT_EQ(probe.StreamCount(), 1);
    EXPECT_EQ(probe.Stream(0, "codec_name"), "wmv2");
}

// Fills every composed frame with what the test wants recorded: the recorder's callback may change
// the frame, and the change is what is recorded.
struct Painter {
    enum Kind { kMoving, kNoise } kind;
    int frame = 0;
    std::mt19937 random{7};
    std::vector<uint8_t> texture;
    static LONG __cdecl Paint(unsigned char* buffer, LONG length, void* context) {
        auto* p = static_cast<Painter*>(context);
        const size_t n = static_cast<size_t>(length);
        if (p->kind == kNoise) {
            for (size_t i = 0; i < n; ++i) buffer[i] = static_cast<uint8_t>(p->random());
        } else {
            // A detailed picture panning steadily, as a camera turning across a scene.
            if (p->texture.empty()) {
                p->texture.resize(n * 2);
                for (size_t i = 0; i < p->texture.size(); ++i)
                    p->texture[i] = static_cast<uint8_t>((i / 3 % 97) * 2 + (p->random() & 31));
            }
            std::memcpy(buffer, p->texture.data() + static_cast<size_t>(p->frame) * 3 % n, n);
        }
        ++p->frame;
        return 0;
    }
};

// The ASF profile's video bit rate is what the file gets, over 20 s of moving pictures and of
// noise alike: noise costs quality and frames, not size.
TEST_F(RecordedFileTest, AsfVideoKeepsTheProfilesBitRate) {
    // On a clock of its own the recording runs as fast as frames can be made.
    sim::UseManualClock(2024, 5, 1, 12, 0, 0);
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "RateSource";
    RegisterClassA(&wc);
    HWND source = CreateWindowExA(0, "RateSource", "", WS_POPUP, 0, 0, 8, 8, nullptr, nullptr,
                                  nullptr, nullptr);
    for (Painter::Kind kind : {Painter::kMoving, Painter::kNoise}) {
        SCOPED_TRACE(kind);
        CDXRecorder recorder;
        recorder.SetVideoSize(320, 240);
        recorder.AddWindowSource(source, RECT{0, 0, 8, 8});
        Painter painter{kind};
        recorder.SetDxRecorderBuffCB(&Painter::Paint, &painter);
        const std::string path = Path(kind == Painter::kMoving ? "moving.asf" : "noise.asf");
        ASSERT_TRUE(recorder.StartRecord(path.c_str(), 0));
        const auto deadline = Clock::now() + std::chrono::seconds(60);
        while (recorder.GetRealFramesCount() < 200 && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        recorder.CloseRecord();
        const double seconds = recorder.GetRealFramesCount() / 10.0;
        ASSERT_GE(seconds, 20.0);
        const double kbps = VideoStreamBytes(path) * 8 / seconds / 1000;
        EXPECT_NEAR(kbps, 185, 185 * 0.15);
    }
    DestroyWindow(source);
}

TEST_F(RecordedFileRealtimeTest, AFullDiskLeavesAFileOfTheFramesWrittenBeforeIt) {
    CDXRecorder recorder;
    recorder.SetVideoSize(160, 120);
    recorder.SetFPS(20);
    recorder.AddWindowSource(nullptr, RECT{0, 0, 160, 120});
    sim::ArmFault("IStream::Write", HRESULT_FROM_WIN32(ERROR_DISK_FULL), 40);
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(recorder.StartRecord(Path("full.avi").c_str(), 0));
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    const int composed = recorder.GetRealFramesCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(recorder.GetStatus(), RecorderStatus_Running) << "the recorder is not told";
    EXPECT_EQ(recorder.GetRealFramesCount(), composed) << "but the recording stopped advancing";
    recorder.CloseRecord();
    const std::string trace = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(sim::FaultHits("IStream::Write"), 1);

    const Probe probe = ProbeFile(Path("full.avi"));
    ASSERT_TRUE(probe.Ok());
    // Frames late under load take the clock's slot, so the duration follows the time the frames
    // were made in rather than their count; it ends with the failure all the same.
    const double frames = probe.StreamNumber(0, "nb_read_packets");
    EXPECT_GE(frames, 1);
    EXPECT_LT(frames, composed + 1);
    EXPECT_GT(probe.Number("format.duration"), 0.0);
    EXPECT_GE(probe.Number("format.duration"), frames / 20.0 - 0.06);
    EXPECT_LT(probe.Number("format.duration"), 2.5);
    // Every frame before the failure decodes.
    EXPECT_GE(static_cast<double>(DecodeFrames(Path("full.avi"), 160, 120).size()), frames - 1);
    EXPECT_NE(trace.find("There is not enough space on the disk."), std::string::npos) << trace;
}

}  // namespace
}  // namespace lumacap::test
