// The replaceable clock: manual time across midnight, Sleep on a manual clock, the real clock.
#include <atomic>
#include <thread>

#include <mmsystem.h>
#include <windows.h>

#include "common/SimTest.h"

namespace lumacap::test {
namespace {

class ClockTest : public SimTest {};

TEST_F(ClockTest, ManualClockMovesTickAndWallTimeTogetherAcrossMidnight) {
    sim::UseManualClock(2017, 5, 3, 23, 59, 59, 900);
    const DWORD tick0 = timeGetTime();
    const time_t secs0 = _time64(nullptr);
    SYSTEMTIME st;
    GetLocalTime(&st);
    EXPECT_EQ(st.wDay, 3);
    EXPECT_EQ(st.wMilliseconds, 900);

    sim::AdvanceClock(150);
    GetLocalTime(&st);
    EXPECT_EQ(st.wYear, 2017);
    EXPECT_EQ(st.wMonth, 5);
    EXPECT_EQ(st.wDay, 4);
    EXPECT_EQ(st.wHour, 0);
    EXPECT_EQ(st.wSecond, 0);
    EXPECT_EQ(st.wMilliseconds, 50);
    EXPECT_EQ(timeGetTime() - tick0, 150u);
    EXPECT_EQ(GetTickCount() - tick0, 150u);
    EXPECT_EQ(_time64(nullptr) - secs0, 1);
}

TEST_F(ClockTest, SleepAdvancesAManualClockOrWaitsForIt) {
    sim::UseManualClock(2020, 1, 1, 0, 0, 0, 0, /*sleepAdvances=*/true);
    DWORD t0 = timeGetTime();
    Sleep(1234);
    EXPECT_EQ(timeGetTime() - t0, 1234u);

    sim::UseManualClock(2020, 1, 1, 0, 0, 0, 0, /*sleepAdvances=*/false);
    t0 = timeGetTime();
    std::atomic<bool> woke{false};
    std::thread sleeper([&] {
        Sleep(100);
        woke = true;
    });
    ASSERT_TRUE(sim::WaitForClockSleepers(1));
    sim::AdvanceClock(60);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(woke) << "woke before its time had passed";
    sim::AdvanceClock(40);
    sleeper.join();
    EXPECT_TRUE(woke);
    EXPECT_EQ(timeGetTime() - t0, 100u);
}

TEST_F(ClockTest, ReplacingTheClockReleasesSleepers) {
    sim::UseManualClock(2020, 1, 1, 0, 0, 0, 0, /*sleepAdvances=*/false);
    std::thread sleeper([] { Sleep(INFINITE - 1); });
    ASSERT_TRUE(sim::WaitForClockSleepers(1));
    sim::UseRealClock();
    sleeper.join();
    EXPECT_FALSE(sim::ManualClockActive());
}

TEST_F(ClockTest, RealClockAdvances) {
    const DWORD t0 = timeGetTime();
    Sleep(20);
    EXPECT_GE(timeGetTime() - t0, 15u);
    SYSTEMTIME st;
    GetLocalTime(&st);
    EXPECT_GE(st.wYear, 2024);
}

}  // namespace
}  // namespace lumacap::test
