// The real and manual clocks, and timeGetTime, Sleep, GetTickCount and the wall clock over them.
#include "platform/system/win/Clock.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <mmsystem.h>

namespace lumacap::win {
namespace {

void FillSystemTime(const struct tm& t, int ms, SYSTEMTIME* out) {
    out->wYear = static_cast<WORD>(t.tm_year + 1900);
    out->wMonth = static_cast<WORD>(t.tm_mon + 1);
    out->wDayOfWeek = static_cast<WORD>(t.tm_wday);
    out->wDay = static_cast<WORD>(t.tm_mday);
    out->wHour = static_cast<WORD>(t.tm_hour);
    out->wMinute = static_cast<WORD>(t.tm_min);
    out->wSecond = static_cast<WORD>(t.tm_sec);
    out->wMilliseconds = static_cast<WORD>(ms);
}

class RealClock final : public Clock {
public:
    uint32_t TickMs() override {
        using namespace std::chrono;
        return static_cast<uint32_t>(
            duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    }
    void Sleep(uint32_t ms) override {
        if (ms == 0) {
            std::this_thread::yield();
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
    void LocalTime(SYSTEMTIME* out) override { Wall(out, true); }
    void SystemTime(SYSTEMTIME* out) override { Wall(out, false); }
    time_t Seconds() override { return ::time(nullptr); }

private:
    static void Wall(SYSTEMTIME* out, bool local) {
        struct timespec ts;
        clock_gettime(CLOCK_REALTIME, &ts);
        struct tm t;
        if (local) {
            localtime_r(&ts.tv_sec, &t);
        } else {
            gmtime_r(&ts.tv_sec, &t);
        }
        FillSystemTime(t, static_cast<int>(ts.tv_nsec / 1000000), out);
    }
};

// Wall time is kept as milliseconds of a naive local calendar (no time zone): the manual clock
// says what the local time is, and UTC equals it.
class ManualClock final : public Clock {
public:
    ManualClock(int64_t wallMs, uint32_t tick, bool sleepAdvances)
        : m_wallMs(wallMs), m_tick(tick), m_sleepAdvances(sleepAdvances) {}

    uint32_t TickMs() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_tick;
    }
    void Sleep(uint32_t ms) override {
        if (m_sleepAdvances) {
            Advance(ms);
            return;
        }
        std::unique_lock<std::mutex> lock(m_mutex);
        const uint64_t target = m_elapsed + ms;
        ++m_sleepers;
        m_cv.notify_all();
        m_cv.wait(lock, [&] { return m_elapsed >= target || m_retired; });
        --m_sleepers;
    }
    // Waits until `count` threads are blocked in Sleep, or the time-out (real time) passes.
    bool WaitForSleepers(int count, uint32_t timeoutMs) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return m_sleepers >= count; });
    }
    void LocalTime(SYSTEMTIME* out) override { Wall(out); }
    void SystemTime(SYSTEMTIME* out) override { Wall(out); }
    time_t Seconds() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        return static_cast<time_t>(m_wallMs / 1000);
    }

    void Advance(uint32_t ms) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_tick += ms;
            m_wallMs += ms;
            m_elapsed += ms;
        }
        m_cv.notify_all();
    }
    // Releases every sleeper when the clock is replaced.
    void Retire() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_retired = true;
        }
        m_cv.notify_all();
    }

private:
    void Wall(SYSTEMTIME* out) {
        int64_t wall;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            wall = m_wallMs;
        }
        time_t secs = static_cast<time_t>(wall / 1000);
        struct tm t;
        gmtime_r(&secs, &t);
        FillSystemTime(t, static_cast<int>(wall % 1000), out);
    }

    std::mutex m_mutex;
    std::condition_variable m_cv;
    int64_t m_wallMs;
    uint32_t m_tick;
    uint64_t m_elapsed = 0;
    bool m_sleepAdvances;
    bool m_retired = false;
    int m_sleepers = 0;
};

// Ready before any constructor runs (another file's static initialiser may read the time) and
// never destroyed (threads the host left running may still read it while the process exits).
union ImmortalRealClock {
    constexpr ImmortalRealClock() : clock() {}
    ~ImmortalRealClock() {}
    RealClock clock;
};
constinit ImmortalRealClock g_real;
std::atomic<Clock*> g_clock{&g_real.clock};
std::mutex g_installMutex;
// Manual clocks are kept for the life of the process, past its static destructors: a thread may
// still be inside one of their methods when the next test installs another, or when the process
// exits.
std::vector<std::unique_ptr<ManualClock>>& RetiredClocks() {
    static auto* clocks = new std::vector<std::unique_ptr<ManualClock>>;
    return *clocks;
}
ManualClock* g_manual = nullptr;

}  // namespace

Clock& CurrentClock() {
    return *g_clock.load(std::memory_order_acquire);
}

void UseManualClock(const SYSTEMTIME& startLocal, uint32_t startTick, bool sleepAdvances) {
    struct tm t {};
    t.tm_year = startLocal.wYear - 1900;
    t.tm_mon = startLocal.wMonth - 1;
    t.tm_mday = startLocal.wDay;
    t.tm_hour = startLocal.wHour;
    t.tm_min = startLocal.wMinute;
    t.tm_sec = startLocal.wSecond;
    const int64_t wallMs = static_cast<int64_t>(timegm(&t)) * 1000 + startLocal.wMilliseconds;
    std::lock_guard<std::mutex> lock(g_installMutex);
    auto clock = std::make_unique<ManualClock>(wallMs, startTick, sleepAdvances);
    if (g_manual) g_manual->Retire();
    g_manual = clock.get();
    g_clock.store(clock.get(), std::memory_order_release);
    RetiredClocks().push_back(std::move(clock));
}

void UseRealClock() {
    std::lock_guard<std::mutex> lock(g_installMutex);
    g_clock.store(&g_real.clock, std::memory_order_release);
    if (g_manual) g_manual->Retire();
    g_manual = nullptr;
}

void AdvanceManualClock(uint32_t ms) {
    std::lock_guard<std::mutex> lock(g_installMutex);
    if (g_manual) g_manual->Advance(ms);
}

bool WaitForManualClockSleepers(int count, uint32_t timeoutMs) {
    ManualClock* clock;
    {
        std::lock_guard<std::mutex> lock(g_installMutex);
        clock = g_manual;
    }
    return clock && clock->WaitForSleepers(count, timeoutMs);
}

bool ManualClockActive() {
    std::lock_guard<std::mutex> lock(g_installMutex);
    return g_manual != nullptr;
}

}  // namespace lumacap::win

using lumacap::win::CurrentClock;

DWORD WINAPI timeGetTime() {
    return CurrentClock().TickMs();
}
UINT WINAPI timeBeginPeriod(UINT) {
    return TIMERR_NOERROR;
}
UINT WINAPI timeEndPeriod(UINT) {
    return TIMERR_NOERROR;
}
DWORD WINAPI GetTickCount() {
    return CurrentClock().TickMs();
}
void WINAPI Sleep(DWORD dwMilliseconds) {
    CurrentClock().Sleep(dwMilliseconds);
}
void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime) {
    if (lpSystemTime) CurrentClock().LocalTime(lpSystemTime);
}
void WINAPI GetSystemTime(LPSYSTEMTIME lpSystemTime) {
    if (lpSystemTime) CurrentClock().SystemTime(lpSystemTime);
}
time_t __cdecl _time64(time_t* destTime) {
    const time_t now = CurrentClock().Seconds();
    if (destTime) *destTime = now;
    return now;
}
