// The replaceable clock behind timeGetTime, Sleep, GetTickCount, GetLocalTime and _time64.
//
// The real clock reads the monotonic and wall clocks of the host. The manual clock, installed by
// tests through lumacap::sim, moves only when told to, and moves the wall clock with it, so a test
// can step across midnight or past a 300-second interval without waiting.
#pragma once

#include <cstdint>
#include <ctime>

#include <windows.h>

namespace lumacap::win {

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds of a monotonic counter (wraps at 2^32, as timeGetTime does).
    virtual uint32_t TickMs() = 0;
    // Blocks the calling thread for `ms` milliseconds of this clock.
    virtual void Sleep(uint32_t ms) = 0;
    // Local wall time.
    virtual void LocalTime(SYSTEMTIME* out) = 0;
    // UTC wall time.
    virtual void SystemTime(SYSTEMTIME* out) = 0;
    // Seconds since 1970 (only differences are meaningful to callers).
    virtual time_t Seconds() = 0;
};

// The clock in force for the whole process.
Clock& CurrentClock();

// Installs a manual clock whose local wall time starts at `startLocal` and whose tick counter
// starts at `startTick`. With `sleepAdvances`, Sleep moves the clock forward by its argument and
// returns at once; otherwise Sleep blocks until another thread advances the clock far enough.
void UseManualClock(const SYSTEMTIME& startLocal, uint32_t startTick, bool sleepAdvances);
void UseRealClock();
// Moves a manual clock forward; ignored while the real clock is in force.
void AdvanceManualClock(uint32_t ms);
bool ManualClockActive();
// With a manual clock whose Sleep blocks: waits (in real time) until `count` threads are asleep
// in it, so a test can advance the clock knowing who it wakes.
bool WaitForManualClockSleepers(int count, uint32_t timeoutMs);

}  // namespace lumacap::win
