// Frame pacing against the manual clock: stamps, holds, late frames and their log lines, pauses.
// The first tests fill samples on the test's own thread (Sleep advances the clock, so each call's
// hold is the clock's advance); the last ones run the pin's real streaming thread in a graph.
#include <atomic>
#include <chrono>
#include <thread>

#include <lumacap/lumacap.h>
#include <mmsystem.h>

#include "common/GraphFixture.h"
#include "common/SimTest.h"
#include "common/TestAccess.h"
#include "framesource/FrameSourceSupport.h"
#include "log/Log.h"

namespace lumacap::test {
namespace {

using Access = CVideoMergePinTestAccess;

// Composing takes this long on the manual clock (the recorder's frame callback advances it).
std::atomic<uint32_t> g_composeMs{0};
long AdvanceWhileComposing(unsigned char*, long, void*) {
    if (const uint32_t ms = g_composeMs.load()) sim::AdvanceClock(ms);
    return 0;
}

class PacingTest : public SimTest {
protected:
    // The tick starts a few seconds before it wraps at 2^32, so most sequences here straddle it.
    static constexpr uint32_t kStartTick = 0xFFFFF000u;

    void SetUp() override {
        SimTest::SetUp();
        ResetLogStateForTesting();
        UseClock(kStartTick, true);
        g_composeMs = 0;
        HRESULT hr = E_FAIL;
        m_filter = new CVideoMergeFilter(nullptr, &hr);
        m_filter->NonDelegatingAddRef();
        m_pin = m_filter->Pin();
        m_pin->SetRecorder(&m_recorder);
        m_recorder.SetDxRecorderBuffCB(AdvanceWhileComposing, nullptr);
    }
    void TearDown() override {
        m_filter->NonDelegatingRelease();
        ResetLogStateForTesting();
        SimTest::TearDown();
    }

    static void UseClock(uint32_t tick, bool sleepAdvances) {
        SYSTEMTIME start{2024, 3, 5, 1, 12, 0, 0, 0};
        sim::UseManualClock(start, tick, sleepAdvances);
    }

    struct Filled {
        REFERENCE_TIME start, stop;
        uint32_t held;  // how long the call held the frame back, composing excluded
        std::vector<std::string> logs;
    };

    // Fills the next frame once the clock shows `elapsedMs` since frame 0 began (or at once).
    Filled Fill(int64_t elapsedMs = -1) {
        if (Access::FrameNumber(*m_pin) == 0) m_t0 = timeGetTime();
        if (elapsedMs >= 0) {
            const uint32_t target = m_t0 + static_cast<uint32_t>(elapsedMs);
            EXPECT_LE(static_cast<int32_t>(timeGetTime() - target), 0)
                << "the clock cannot go back";
            sim::AdvanceClock(target - timeGetTime());
        }
        const size_t logsBefore = WarnLines().size();
        const uint32_t before = timeGetTime();
        EXPECT_EQ(m_pin->FillBuffer(&m_sample), S_OK);
        Filled f{m_sample.start, m_sample.stop, timeGetTime() - before - g_composeMs.load(), {}};
        const auto logs = WarnLines();
        f.logs.assign(logs.begin() + static_cast<std::ptrdiff_t>(logsBefore), logs.end());
        EXPECT_TRUE(m_sample.sync);
        m_sample.sync = false;
        return f;
    }

    CDXRecorder m_recorder;
    CVideoMergeFilter* m_filter = nullptr;
    CVideoMergePin* m_pin = nullptr;
    FakeSample m_sample{640 * 480 * 3};
    uint32_t m_t0 = 0;
};

TEST_F(PacingTest, OnTimeFramesAreStampedByNumberAndHeldUntilDue) {
    Filled f = Fill(0);
    EXPECT_EQ(f.start, 0);
    EXPECT_EQ(f.stop, 1000000);
    EXPECT_EQ(f.held, 0u);
    EXPECT_TRUE(f.logs.empty());
    EXPECT_EQ(m_recorder.GetRealFramesCount(), 1) << "each fill composes one frame";

    f = Fill();  // begun at once: held for the whole frame
    EXPECT_EQ(f.start, 1000000);
    EXPECT_EQ(f.stop, 2000000);
    EXPECT_EQ(f.held, 100u);

    f = Fill(200);  // exactly due: neither late nor held
    EXPECT_EQ(f.start, 2000000);
    EXPECT_EQ(f.held, 0u);
    EXPECT_TRUE(f.logs.empty());

    f = Fill(250);
    EXPECT_EQ(f.start, 3000000);
    EXPECT_EQ(f.held, 50u);

    // The clock is read before composing, so composing does not shorten the hold: the frame
    // leaves at its due time plus its composing time.
    g_composeMs = 30;
    f = Fill(350);
    EXPECT_EQ(f.start, 4000000);
    EXPECT_EQ(f.held, 50u);
    EXPECT_EQ(timeGetTime() - m_t0, 430u);
    EXPECT_TRUE(WarnLines().empty());
    EXPECT_EQ(m_recorder.GetRealFramesCount(), 5);
}

TEST_F(PacingTest, ThirtyFramesASecondWaitWhole33MsWhileStampsAdvanceByAThird) {
    m_pin->SetFrameRate(30);
    Fill(0);
    Fill(33);
    Fill(66);
    Filled f = Fill(80);
    EXPECT_EQ(f.start, 999999);
    EXPECT_EQ(f.stop, 1333332);
    EXPECT_EQ(f.held, 19u);

    // The holds run on 33 ms while the stamps run on 33.3333 ms.
    f = Fill(100);
    EXPECT_EQ(f.start, 1333332);
    EXPECT_EQ(f.held, 32u) << "frame 4 is due at 132 ms";
    EXPECT_TRUE(WarnLines().empty());
}

TEST_F(PacingTest, ALateFrameTakesTheClocksSlotUnlessThePreviousFrameHasIt) {
    for (int i = 0; i < 10; ++i) Fill(100 * i);
    ASSERT_EQ(m_sample.start, 9000000);

    Filled f = Fill(1250);
    EXPECT_EQ(f.start, 12000000);
    EXPECT_EQ(f.stop, 13000000);
    EXPECT_EQ(f.held, 0u);
    ASSERT_EQ(f.logs.size(), 2u);
    EXPECT_EQ(f.logs[0], "recorder,frame delay:250,iFrameNumber:10");
    EXPECT_EQ(
        f.logs[1],
        "recorder,frame delay,preStartTime:9000000, rtStart:12000000, m_rtFrameLength:1000000, "
        "preStartTime+framelen:10000000,");

    f = Fill(1260);
    EXPECT_EQ(f.start, 11000000);
    EXPECT_EQ(f.stop, 12000000);
    EXPECT_EQ(f.held, 0u);
    ASSERT_EQ(f.logs.size(), 2u);
    EXPECT_EQ(f.logs[0], "recorder,frame delay:160,iFrameNumber:11");
    EXPECT_EQ(f.logs[1], "assert rtTmp>preStartTime,rtTmp:12000000,preStartTime:12000000");
    EXPECT_EQ(Access::FrameNumber(*m_pin), 12);
}

TEST_F(PacingTest, SlowCompositionFallsBehindThenCatchesUpBackToBack) {
    // Frames 0 to 4 take 150 ms to compose at 10 frames a second; from frame 5 on composing is
    // instant and the frames follow each other without waiting until the numbers catch up.
    struct Step {
        uint32_t begun;
        REFERENCE_TIME start;
        uint32_t held;
        int lateBy;  // -1: not late
        bool assertLine;
    };
    const Step steps[] = {
        {0, 0, 0, -1, false},          {150, 1000000, 0, 50, false},
        {300, 3000000, 0, 100, false}, {450, 4000000, 0, 150, false},
        {600, 6000000, 0, 200, false}, {750, 7000000, 0, 250, false},
        {750, 6000000, 0, 150, true},  {750, 7000000, 0, 50, false},
        {750, 8000000, 50, -1, false}, {800, 9000000, 100, -1, false},
    };
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE(i);
        g_composeMs = i < 5 ? 150 : 0;
        if (i == 0) m_t0 = timeGetTime();
        EXPECT_EQ(timeGetTime() - m_t0, steps[i].begun);
        const Filled f = Fill();
        EXPECT_EQ(f.start, steps[i].start);
        EXPECT_EQ(f.stop, steps[i].start + 1000000);
        EXPECT_EQ(f.held, steps[i].held);
        if (steps[i].lateBy < 0) {
            EXPECT_TRUE(f.logs.empty());
            continue;
        }
        ASSERT_EQ(f.logs.size(), 2u);
        EXPECT_EQ(f.logs[0], "recorder,frame delay:" + std::to_string(steps[i].lateBy) +
                                 ",iFrameNumber:" + std::to_string(i));
        EXPECT_EQ(f.logs[1].rfind(steps[i].assertLine ? "assert rtTmp>preStartTime,"
                                                      : "recorder,frame delay,preStartTime:",
                                  0),
                  0u)
            << f.logs[1];
    }
}

class PausedPacingTest : public PacingTest {
protected:
    void SetUp() override {
        PacingTest::SetUp();
        // Sleep blocks until the test moves the clock; no frame here is held, so only the pause
        // wait ever sleeps.
        UseClock(kStartTick, false);
    }
    // Fills one frame on another thread while the recorder is paused; the pause ends after
    // `pausedMs` of the clock.
    void FillAcrossPause(uint32_t pausedMs) {
        CDXRecorderTestAccess::Status(m_recorder) = RecorderStatus_Paused;
        std::thread filler([&] { m_pin->FillBuffer(&m_sample); });
        const bool waiting = sim::WaitForClockSleepers(1);
        CDXRecorderTestAccess::Status(m_recorder) = RecorderStatus_Running;
        sim::AdvanceClock(pausedMs);
        filler.join();
        ASSERT_TRUE(waiting) << "the fill did not wait out the pause";
    }
};

TEST_F(PausedPacingTest, PausesAddToThePausedTimeAndLeaveNoGapInTheStamps) {
    for (int i = 0; i <= 10; ++i) Fill(100 * i);
    sim::AdvanceClock(100);  // frame 11 is due, but the recorder pauses for 5 s first
    FillAcrossPause(5000);
    EXPECT_EQ(m_sample.start, 11000000);
    EXPECT_EQ(m_sample.stop, 12000000);
    EXPECT_EQ(Access::PausedTime(*m_pin), 5000u);
    EXPECT_TRUE(WarnLines().empty()) << "the pause does not make frames late";

    Filled f = Fill(5000 + 1200);
    EXPECT_EQ(f.start, 12000000);
    EXPECT_EQ(f.held, 0u);
    EXPECT_TRUE(f.logs.empty());

    sim::AdvanceClock(100);
    FillAcrossPause(300);
    EXPECT_EQ(m_sample.start, 13000000);
    EXPECT_EQ(Access::PausedTime(*m_pin), 5300u) << "pauses add up";

    // After a reset the next frame is frame 0 again, timed from its own start.
    m_pin->ResetTiming();
    EXPECT_EQ(Access::FrameNumber(*m_pin), 0);
    EXPECT_EQ(Access::PausedTime(*m_pin), 0u);
    EXPECT_EQ(Access::PreStartTime(*m_pin), 0);
    sim::AdvanceClock(12345);
    f = Fill();
    EXPECT_EQ(f.start, 0);
    EXPECT_TRUE(f.logs.empty());
}

TEST_F(PausedPacingTest, APauseCountsFromWhenTheRecorderPausedNotFromWhenTheFrameWasDone) {
    for (int i = 0; i <= 5; ++i) Fill(100 * i);
    // The recorder paused at 540, while frame 5 was still shown; the next fill begins at 600.
    CDXRecorderTestAccess::PausedAt(m_recorder) = m_t0 + 540;
    sim::AdvanceClock(100);
    CDXRecorderTestAccess::Status(m_recorder) = RecorderStatus_Paused;
    std::atomic<bool> done{false};
    std::thread filler([&] {
        m_pin->FillBuffer(&m_sample);
        done = true;
    });
    ASSERT_TRUE(sim::WaitForClockSleepers(1));
    CDXRecorderTestAccess::Status(m_recorder) = RecorderStatus_Running;
    const int composed = m_recorder.GetRealFramesCount();
    sim::AdvanceClock(1000);
    // Once the fill has counted the pause and composed frame 6, it holds the frame for the 60 ms
    // of it the pause took: the clock then moves on a millisecond at a time until it is let go.
    for (int i = 0; i < 5000 && m_recorder.GetRealFramesCount() == composed; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    for (int i = 0; i < 5000 && !done; ++i) {
        sim::AdvanceClock(1);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    filler.join();
    EXPECT_EQ(Access::PausedTime(*m_pin), 1060u);
    EXPECT_EQ(m_sample.start, 6000000);
    EXPECT_TRUE(WarnLines().empty()) << "frame 6 is not late";
}

TEST_F(PausedPacingTest, APauseInForceBeforeFrameZeroIsNotCounted) {
    // The run's clock starts when frame 0 is begun, after the pause: frame 0 is on time.
    FillAcrossPause(5000);
    EXPECT_EQ(m_sample.start, 0);
    EXPECT_EQ(m_sample.stop, 1000000);
    EXPECT_EQ(Access::PausedTime(*m_pin), 0u);
    EXPECT_TRUE(WarnLines().empty());
    m_t0 = kStartTick + 5000;
    const Filled f = Fill(100);
    EXPECT_EQ(f.start, 1000000);
    EXPECT_EQ(f.held, 0u);
    EXPECT_TRUE(f.logs.empty());
}

TEST_F(PacingTest, FailedStampingIsLoggedAndTheSampleIsStillDelivered) {
    Fill(0);
    m_sample.setTimeResult = E_FAIL;
    EXPECT_EQ(m_pin->FillBuffer(&m_sample), S_OK);
    EXPECT_EQ(Access::FrameNumber(*m_pin), 2);
    EXPECT_TRUE(m_sample.sync);
    m_sample.setTimeResult = S_OK;
    m_sample.setSyncResult = E_UNEXPECTED;
    EXPECT_EQ(m_pin->FillBuffer(&m_sample), S_OK);
    EXPECT_EQ(m_sample.start, 2000000);
    const auto logs = WarnLines();
    ASSERT_EQ(logs.size(), 2u);
    EXPECT_EQ(logs[0], "SetTime failed,hr:80004005");
    EXPECT_EQ(logs[1], "SetSyncPoint failed,hr:8000ffff");

    // No sample: nothing is composed or counted.
    EXPECT_EQ(m_pin->FillBuffer(nullptr), E_POINTER);
    EXPECT_EQ(Access::FrameNumber(*m_pin), 3);
    EXPECT_EQ(m_recorder.GetRealFramesCount(), 3);

    // A sample too small for the frame is delivered untouched rather than overrun.
    FakeSample small(100);
    long frames = m_recorder.GetRealFramesCount();
    EXPECT_EQ(m_pin->FillBuffer(&small), S_OK);
    EXPECT_EQ(m_recorder.GetRealFramesCount(), frames);
    EXPECT_EQ(small.start, 3000000);
}

// The pin's own streaming thread in a graph, at 30 frames a second, with the clock moved by hand.
class PacingGraphTest : public PacingTest {
protected:
    void SetUp() override {
        PacingTest::SetUp();
        UseClock(1000, false);
        m_recorder.SetVideoSize(64, 48);
        m_pin->SetFrameRate(30);
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IGraphBuilder, m_graph.Out()),
                  S_OK);
        m_sink = new TestSink();
        m_sink->NonDelegatingAddRef();
        ASSERT_EQ(m_graph->AddFilter(m_filter, L"VideoMergeFilter"), S_OK);
        ASSERT_EQ(m_graph->AddFilter(m_sink, L"Sink"), S_OK);
        ASSERT_EQ(m_graph->Connect(m_pin, m_sink->GetPin(0)), S_OK);
        ASSERT_EQ(m_graph->QueryInterface(IID_IMediaControl, m_control.Out()), S_OK);
    }
    void TearDown() override {
        // The real clock wakes a thread still holding a frame, so the stop completes.
        sim::UseRealClock();
        if (m_control) m_control->Stop();
        m_control.Reset();
        m_graph.Reset();
        if (m_sink) m_sink->NonDelegatingRelease();
        PacingTest::TearDown();
    }
    // Waits (in real time) until the sink holds `delivered` samples, `composed` frames have been
    // composed and the streaming thread sleeps on the clock again (holding a frame, or polling a
    // pause).
    bool Reached(size_t delivered, int composed) {
        for (int i = 0; i < 1000; ++i) {
            if (m_sink->Count() == delivered && m_recorder.GetRealFramesCount() == composed) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return m_sink->Count() == delivered && m_recorder.GetRealFramesCount() == composed &&
               sim::WaitForClockSleepers(1);
    }
    // `count` frames delivered and the next one composed and held.
    bool Delivered(size_t count) { return Reached(count, static_cast<int>(count) + 1); }

    ComPtr<IGraphBuilder> m_graph;
    ComPtr<IMediaControl> m_control;
    TestSink* m_sink = nullptr;
};

TEST_F(PacingGraphTest, StreamingThreadStampsEveryFrameAndWaitsOutPauses) {
    ASSERT_EQ(m_control->Run(), S_OK);
    // Frame 0 leaves at once; every later frame waits for its 33 ms.
    ASSERT_TRUE(Delivered(1));
    for (size_t n = 1; n <= 5; ++n) {
        sim::AdvanceClock(33);
        ASSERT_TRUE(Delivered(n + 1)) << n;
    }
    // The recorder pauses while frame 6 is held; frame 7 then waits 2 s for the pause to end.
    CDXRecorderTestAccess::Status(m_recorder) = RecorderStatus_Paused;
    sim::AdvanceClock(33);
    ASSERT_TRUE(Reached(7, 7)) << "frame 7 waits before it is composed";
    CDXRecorderTestAccess::Status(m_recorder) = RecorderStatus_Running;
    sim::AdvanceClock(2000);
    ASSERT_TRUE(Delivered(7));
    for (size_t n = 8; n <= 10; ++n) {
        sim::AdvanceClock(33);
        ASSERT_TRUE(Delivered(n)) << n;
    }

    const auto stamps = m_sink->Stamps();
    for (size_t i = 0; i < stamps.size(); ++i) {
        EXPECT_EQ(stamps[i].start, static_cast<REFERENCE_TIME>(i) * 333333) << i;
        EXPECT_EQ(stamps[i].stop, static_cast<REFERENCE_TIME>(i + 1) * 333333) << i;
        EXPECT_TRUE(stamps[i].sync);
    }
    EXPECT_EQ(Access::PausedTime(*m_pin), 2000u);
    EXPECT_TRUE(WarnLines().empty());
    EXPECT_EQ(stamps.size(), 10u);
    EXPECT_EQ(m_recorder.GetRealFramesCount(), 11) << "the frame being held is composed already";
}

}  // namespace
}  // namespace lumacap::test
