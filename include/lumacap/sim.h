// Simulation controls for tests and hosts: the clock, the drive map, fault injection and the
// live-object count. Further controls (virtual devices, pointer input, screen read-back) are
// declared in the headers included at the end.
#pragma once

#include <cstdint>
#include <string>

#include <objbase.h>
#include <windows.h>

#include <lumacap_export.h>

namespace lumacap::sim {

// Puts every simulated part of the platform back to its defaults: real clock, default drives,
// no faults armed, default virtual devices. Call it between tests.
LUMACAP_API void Reset();

// ---- clock --------------------------------------------------------------------------------------
// Replaces the clock behind timeGetTime, Sleep, GetTickCount, GetLocalTime and _time64 with one
// that moves only when told to. The local wall time starts at `startLocal`, the millisecond
// counter at `startTick`. With `sleepAdvances` a Sleep moves the clock forward and returns at
// once; otherwise it blocks until AdvanceClock has moved the clock far enough.
LUMACAP_API void UseManualClock(const SYSTEMTIME& startLocal, uint32_t startTick = 0,
                                bool sleepAdvances = true);
LUMACAP_API void UseManualClock(int year, int month, int day, int hour, int minute, int second,
                                int millisecond = 0, bool sleepAdvances = true);
LUMACAP_API void AdvanceClock(uint32_t milliseconds);
LUMACAP_API void UseRealClock();
LUMACAP_API bool ManualClockActive();
// With a manual clock whose Sleep blocks: waits, in real time, until `count` threads are asleep
// in it (false after `timeoutMs`), so a test knows whom the next AdvanceClock wakes.
LUMACAP_API bool WaitForClockSleepers(int count, uint32_t timeoutMs = 5000);

// ---- drives -------------------------------------------------------------------------------------
// Maps a drive letter to a host directory (null: unmap it). D: counts as present only while its
// directory exists.
LUMACAP_API void SetDriveRoot(char letter, const char* directory);
LUMACAP_API std::string GetDriveRoot(char letter);
// The free space GetDiskFreeSpaceExA reports for a drive; a negative value measures the disk.
LUMACAP_API void SetDriveFreeSpace(char letter, int64_t bytes);
// The host path a Windows path resolves to ("" when its drive is not mapped).
LUMACAP_API std::string HostPath(const char* windowsPath);

// ---- faults -------------------------------------------------------------------------------------
// Makes a platform call fail with `hr`. `point` is "Interface::Method" (for example
// "ICaptureGraphBuilder2::RenderStream") or a function name; with `nth` > 0 only the nth call
// after arming fails, otherwise every call does.
LUMACAP_API void ArmFault(const char* point, HRESULT hr, int nth = 0);
// Makes CoCreateInstance of one class fail.
LUMACAP_API void ArmCreateFault(REFCLSID clsid, HRESULT hr, int nth = 0);
LUMACAP_API void DisarmFaults();
// How many calls an armed point has failed since it was armed.
LUMACAP_API int FaultHits(const char* point);
LUMACAP_API int CreateFaultHits(REFCLSID clsid);

// ---- objects ------------------------------------------------------------------------------------
// Component objects created by the platform and not yet freed.
LUMACAP_API long LiveObjects();

// ---- text ---------------------------------------------------------------------------------------
// The library's texts are GBK; these convert for printing and for comparing with UTF-8 literals.
LUMACAP_API std::string GbkToUtf8(const char* gbk);
LUMACAP_API std::string Utf8ToGbk(const char* utf8);

}  // namespace lumacap::sim
#include "sim_ui.h"
#include "sim_devices.h"
#include "sim_capture.h"
