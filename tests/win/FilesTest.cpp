// Files over the drive map: paths, writing and reading, Win32 errors, directory search, space.
#include <cstring>
#include <filesystem>

#include <io.h>
#include <windows.h>

#include "common/SimTest.h"

namespace lumacap::test {
namespace {

class FilesTest : public SimTest {};

TEST_F(FilesTest, DriveLettersMapToTheirRootsAndOtherPathsPassUnchanged) {
    EXPECT_EQ(sim::HostPath("c:\\kqllog\\app.log"), DriveC() + "/kqllog/app.log");
    EXPECT_EQ(sim::HostPath("C:/kqllog/app.log"), DriveC() + "/kqllog/app.log");
    EXPECT_EQ(sim::HostPath("D:\\test\\catch.bmp"), DriveD() + "/test/catch.bmp");
    EXPECT_EQ(sim::HostPath("/tmp/x\\y"), "/tmp/x\\y");
    EXPECT_EQ(sim::HostPath("relative.avi"), "relative.avi");
    sim::SetDriveRoot('D', nullptr);
    EXPECT_EQ(sim::HostPath("d:\\x"), "");
}

TEST_F(FilesTest, CreateWriteAppendAndReadBack) {
    HANDLE h = CreateFileA("c:\\data.txt", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(h, "abc", 3, &written, nullptr));
    EXPECT_EQ(written, 3u);
    CloseHandle(h);

    h = CreateFileA("c:\\data.txt", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_END), 3u);
    EXPECT_TRUE(WriteFile(h, "de", 2, &written, nullptr));
    EXPECT_EQ(GetFileSize(h, nullptr), 5u);
    CloseHandle(h);
    EXPECT_EQ(ReadWholeFile(DriveC() + "/data.txt"), "abcde");

    h = CreateFileA("c:\\data.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                    nullptr);
    CloseHandle(h);
    EXPECT_EQ(ReadWholeFile(DriveC() + "/data.txt"), "") << "CREATE_ALWAYS must truncate";
}

TEST_F(FilesTest, FailuresCarryWin32Codes) {
    EXPECT_EQ(CreateFileA("c:\\missing\\x.txt", GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(CreateFileA("c:\\nothing.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(CreateFileA(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_FALSE(WriteFile(INVALID_HANDLE_VALUE, "x", 1, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(CreateDirectoryA("c:\\dir", nullptr));
    EXPECT_FALSE(CreateDirectoryA("c:\\dir", nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(CreateDirectoryA("c:\\a\\b", nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(CreateDirectoryA("c:", nullptr));
}

TEST_F(FilesTest, FindFirstFileNamesEntriesInsideDirectories) {
    ASSERT_TRUE(CreateDirectoryA("c:\\kqllog", nullptr));
    WIN32_FIND_DATAA data;
    HANDLE f = FindFirstFileA("c:\\kqllog", &data);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_STREQ(data.cFileName, "kqllog");
    EXPECT_TRUE(FindClose(f));
    EXPECT_FALSE(FindClose(f));
    // As on Windows, a trailing separator or a bare drive finds nothing.
    EXPECT_EQ(FindFirstFileA("c:\\kqllog\\", &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(FindFirstFileA("c:", &data), INVALID_HANDLE_VALUE);

    CloseHandle(
        CreateFileA("c:\\kqllog\\a.log", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    CloseHandle(
        CreateFileA("c:\\kqllog\\b.log", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    CloseHandle(
        CreateFileA("c:\\kqllog\\c.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    f = FindFirstFileA("c:\\kqllog\\*.log", &data);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    int found = 1;
    while (FindNextFileA(f, &data)) ++found;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_EQ(found, 2);
    FindClose(f);
}

TEST_F(FilesTest, DriveDExistsOnlyWithItsDirectoryAndReportsItsFreeSpace) {
    EXPECT_EQ(_access("d:\\", 0), -1);
    ULARGE_INTEGER free;
    EXPECT_FALSE(GetDiskFreeSpaceExA("d:\\", &free, nullptr, nullptr));
    MakeDriveD();
    EXPECT_EQ(_access("d:\\", 0), 0);
    EXPECT_TRUE(GetDiskFreeSpaceExA("d:\\", &free, nullptr, nullptr));
    EXPECT_GT(free.QuadPart, 0u);
    sim::SetDriveFreeSpace('D', 1025ll << 20);
    ULARGE_INTEGER total;
    ASSERT_TRUE(GetDiskFreeSpaceExA("d:\\", &free, &total, nullptr));
    EXPECT_EQ(free.QuadPart, 1025ull << 20);
    EXPECT_GE(total.QuadPart, free.QuadPart);
    sim::SetDriveFreeSpace('D', -1);
    ASSERT_TRUE(GetDiskFreeSpaceExA("d:\\", &free, nullptr, nullptr));
    EXPECT_NE(free.QuadPart, 1025ull << 20);
}

TEST_F(FilesTest, ModuleNamesComeBackInWindowsForm) {
    char path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, path, sizeof(path)), 0u);
    EXPECT_EQ(std::strncmp(path, "Z:\\", 3), 0) << path;
    EXPECT_STREQ(std::strrchr(path, '\\'), "\\test_win");

    HMODULE module = nullptr;
    ASSERT_TRUE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                   reinterpret_cast<LPCSTR>(&CreateFileA), &module));
    EXPECT_EQ(module, GetModuleHandleA(nullptr)) << "the test links the platform in";
    char small[8];
    EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof(small)), sizeof(small));
    EXPECT_EQ(small[7], '\0');
}

}  // namespace
}  // namespace lumacap::test
