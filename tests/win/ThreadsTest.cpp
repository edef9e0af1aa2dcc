// Kernel threads and synchronisation: _beginthreadex, suspension, events, critical sections.
#include <atomic>
#include <chrono>
#include <thread>

#include <process.h>
#include <windows.h>

#include "common/SimTest.h"

namespace lumacap::test {
namespace {

class ThreadsTest : public SimTest {};

unsigned __stdcall ReturnArgument(void* arg) {
    Sleep(10);
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(arg));
}

TEST_F(ThreadsTest, BeginThreadExRunsJoinsAndReportsItsExitCode) {
    unsigned id = 0;
    HANDLE h = reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, 0, ReturnArgument, reinterpret_cast<void*>(42), 0, &id));
    ASSERT_NE(h, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_NE(id, GetCurrentThreadId());
    EXPECT_EQ(WaitForSingleObject(h, INFINITE), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(h, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h)) << "a closed handle must be refused";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(ThreadsTest, ClosingTheHandleDetachesARunningThread) {
    static std::atomic<bool> finished;
    finished = false;
    HANDLE h = reinterpret_cast<HANDLE>(_beginthreadex(
        nullptr, 0,
        [](void*) -> unsigned {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            finished = true;
            return 0;
        },
        nullptr, 0, nullptr));
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(CloseHandle(h));
    for (int i = 0; i < 300 && !finished; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(finished);
}

TEST_F(ThreadsTest, SuspendedThreadWaitsForResume) {
    static std::atomic<int> runs;
    runs = 0;
    HANDLE h = reinterpret_cast<HANDLE>(_beginthreadex(
        nullptr, 0, [](void*) -> unsigned { return static_cast<unsigned>(++runs); }, nullptr,
        CREATE_SUSPENDED, nullptr));
    EXPECT_EQ(WaitForSingleObject(h, 30), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(runs, 0);
    ResumeThread(h);
    EXPECT_EQ(WaitForSingleObject(h, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(runs, 1);
    CloseHandle(h);
}

TEST_F(ThreadsTest, EventsAutoResetAndManualReset) {
    HANDLE autoEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE manualEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(autoEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    SetEvent(autoEvent);
    EXPECT_EQ(WaitForSingleObject(autoEvent, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(autoEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "auto-reset event stayed set";
    EXPECT_EQ(WaitForSingleObject(manualEvent, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manualEvent, 0), WAIT_OBJECT_0);
    ResetEvent(manualEvent);
    HANDLE both[2] = {autoEvent, manualEvent};
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        SetEvent(manualEvent);
    });
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 5000), WAIT_OBJECT_0 + 1);
    setter.join();
    EXPECT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(0x1234), 0), WAIT_FAILED);
    CloseHandle(autoEvent);
    CloseHandle(manualEvent);
}

TEST_F(ThreadsTest, CriticalSectionsAreRecursiveAndExclusive) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EnterCriticalSection(&cs);  // the owner may enter again
    std::atomic<bool> otherGotIn{false};
    std::thread other([&] { otherGotIn = TryEnterCriticalSection(&cs) != FALSE; });
    other.join();
    EXPECT_FALSE(otherGotIn);
    LeaveCriticalSection(&cs);
    LeaveCriticalSection(&cs);
    std::thread again([&] {
        otherGotIn = TryEnterCriticalSection(&cs) != FALSE;
        if (otherGotIn) LeaveCriticalSection(&cs);
    });
    again.join();
    EXPECT_TRUE(otherGotIn);
    DeleteCriticalSection(&cs);
}

}  // namespace
}  // namespace lumacap::test
