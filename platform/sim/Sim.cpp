// The public simulation controls.
#include <lumacap/sim.h>

#include <mutex>
#include <vector>

#include "platform/system/com/LiveObjects.h"
#include "platform/sim/Faults.h"
#include "platform/sim/ResetHooks.h"
#include "platform/system/win/Clock.h"
#include "platform/system/win/CodePage.h"
#include "platform/system/win/Drives.h"

namespace lumacap::sim {
namespace detail {
namespace {
std::mutex g_hookMutex;
std::vector<std::function<void()>>& Hooks() {
    static std::vector<std::function<void()>> hooks;
    return hooks;
}
}  // namespace

void AddResetHook(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    Hooks().push_back(std::move(hook));
}
}  // namespace detail

void Reset() {
    fault::DisarmAll();
    win::UseRealClock();
    win::ResetDrives();
    std::vector<std::function<void()>> hooks;
    {
        std::lock_guard<std::mutex> lock(detail::g_hookMutex);
        hooks = detail::Hooks();
    }
    for (auto& hook : hooks) hook();
}

void UseManualClock(const SYSTEMTIME& startLocal, uint32_t startTick, bool sleepAdvances) {
    win::UseManualClock(startLocal, startTick, sleepAdvances);
}

void UseManualClock(int year, int month, int day, int hour, int minute, int second, int millisecond,
                    bool sleepAdvances) {
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(month);
    st.wDay = static_cast<WORD>(day);
    st.wHour = static_cast<WORD>(hour);
    st.wMinute = static_cast<WORD>(minute);
    st.wSecond = static_cast<WORD>(second);
    st.wMilliseconds = static_cast<WORD>(millisecond);
    win::UseManualClock(st, 0, sleepAdvances);
}

void AdvanceClock(uint32_t milliseconds) {
    win::AdvanceManualClock(milliseconds);
}
void UseRealClock() {
    win::UseRealClock();
}
bool ManualClockActive() {
    return win::ManualClockActive();
}
bool WaitForClockSleepers(int count, uint32_t timeoutMs) {
    return win::WaitForManualClockSleepers(count, timeoutMs);
}

void SetDriveRoot(char letter, const char* directory) {
    win::SetDriveRoot(letter, directory);
}
std::string GetDriveRoot(char letter) {
    return win::GetDriveRoot(letter);
}
void SetDriveFreeSpace(char letter, int64_t bytes) {
    win::SetDriveFreeSpace(letter, bytes);
}
std::string HostPath(const char* windowsPath) {
    std::string host;
    return win::MapPath(windowsPath, &host) ? host : std::string();
}

void ArmFault(const char* point, HRESULT hr, int nth) {
    if (point) fault::Arm(point, hr, nth);
}
void ArmCreateFault(REFCLSID clsid, HRESULT hr, int nth) {
    fault::Arm(fault::CreatePoint(clsid), hr, nth);
}
void DisarmFaults() {
    fault::DisarmAll();
}
int FaultHits(const char* point) {
    return point ? fault::Hits(point) : 0;
}
int CreateFaultHits(REFCLSID clsid) {
    return fault::Hits(fault::CreatePoint(clsid));
}

long LiveObjects() {
    return com::LiveObjectCount().load();
}

std::string GbkToUtf8(const char* gbk) {
    return gbk ? win::GbkToUtf8(gbk) : std::string();
}
std::string Utf8ToGbk(const char* utf8) {
    return utf8 ? win::Utf8ToGbk(utf8) : std::string();
}

}  // namespace lumacap::sim
