// Log files: line format, choice of directory, daily files, long text and unwritable places.
#include <filesystem>
#include <string>
#include <vector>

#include <windows.h>

#include "common/SimTest.h"
#include "log/Log.h"

namespace lumacap::test {
namespace {

class LogTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        ResetLogStateForTesting();
    }
    void TearDown() override {
        ResetLogStateForTesting();
        SimTest::TearDown();
    }
    std::string LogFile(const std::string& drive, const std::string& date) {
        return (drive == "c" ? DriveC() : DriveD()) + "/kqllog/test_log_" + date + ".log";
    }
    static std::vector<std::string> Lines(const std::string& text) {
        std::vector<std::string> lines;
        size_t start = 0, end;
        while ((end = text.find("\r\n", start)) != std::string::npos) {
            lines.push_back(text.substr(start, end - start));
            start = end + 2;
        }
        return lines;
    }
};

TEST_F(LogTest, LineFormatReadsBackByteForByte) {
    sim::UseManualClock(2017, 5, 3, 9, 15, 2, 45);
    LogInfo("CreateCompressor,%s", "video");
    LogWarnText("finished text");
    LogMessage("odd level", 7, nullptr);
    LogMessage("debug is dropped", LOG_LEVEL_DEBUG, nullptr);
    const std::string text = ReadWholeFile(LogFile("c", "2017-05-03"));
    const auto lines = Lines(text);
    ASSERT_EQ(lines.size(), 3u) << text;
    char ids[32];
    std::snprintf(ids, sizeof(ids), "[%-5d:%-5d]\t", static_cast<int>(GetCurrentProcessId()),
                  static_cast<int>(GetCurrentThreadId()));
    // The formatted line names the module that logged: here the test program, which links the
    // library in.
    EXPECT_EQ(lines[0],
              std::string("[09:15:02 045]") + ids + "Info> test_log> CreateCompressor,video");
    EXPECT_EQ(lines[1], std::string("[09:15:02 045]") + ids + "Warn> > finished text");
    EXPECT_EQ(lines[2], std::string("[09:15:02 045]") + ids + "Info> > odd level");
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST_F(LogTest, DirectoryFollowsTheFreeSpaceOfDriveD) {
    // No D: at all.
    LogInfo("a");
    EXPECT_EQ(std::string(GetCurrentLogPath()).substr(0, 10), "c:\\kqllog\\");
    EXPECT_TRUE(std::filesystem::is_directory(DriveC() + "/kqllog"));

    struct Case {
        int64_t mib;
        const char* expected;
    } cases[] = {{1024, "c:\\kqllog\\"}, {1025, "d:\\kqllog\\"}, {0, "c:\\kqllog\\"}};
    MakeDriveD();
    for (const Case& c : cases) {
        ResetLogStateForTesting();
        sim::SetDriveFreeSpace('D', (c.mib << 20) + ((1 << 20) - 1));  // rounded down to whole MiB
        LogInfo("b");
        EXPECT_EQ(std::string(GetCurrentLogPath()).substr(0, 10), c.expected) << c.mib << " MiB";
    }
    EXPECT_TRUE(std::filesystem::is_directory(DriveD() + "/kqllog"));
}

TEST_F(LogTest, DirectoryIsChosenOncePerProcess) {
    LogInfo("first");
    MakeDriveD();
    sim::SetDriveFreeSpace('D', 4096ll << 20);
    LogInfo("second");
    EXPECT_EQ(std::string(GetCurrentLogPath()).substr(0, 10), "c:\\kqllog\\");
}

TEST_F(LogTest, NewDayStartsANewFileOnlyAfterThreeHundredSeconds) {
    sim::UseManualClock(2017, 5, 3, 23, 58, 0);
    LogInfo("before midnight");
    sim::AdvanceClock(150 * 1000);  // 00:00:30 next day, 150 s after the check
    LogInfo("just after midnight");
    sim::AdvanceClock(150 * 1000);  // exactly 300 s: still no check
    LogInfo("at 300 s");
    sim::AdvanceClock(1000);  // 301 s
    LogInfo("new file");
    const auto oldDay = Lines(ReadWholeFile(LogFile("c", "2017-05-03")));
    const auto newDay = Lines(ReadWholeFile(LogFile("c", "2017-05-04")));
    ASSERT_EQ(oldDay.size(), 3u);
    ASSERT_EQ(newDay.size(), 1u);
    EXPECT_NE(newDay[0].find("new file"), std::string::npos);
    EXPECT_NE(oldDay[2].find("at 300 s"), std::string::npos);
}

TEST_F(LogTest, OverlongTextIsCutAndEmptyTextWritesNothing) {
    const std::string big(5000, 'x');
    LogInfo("%s", big.c_str());
    LogInfo("%s", std::string(4095, 'y').c_str());
    LogInfo("%s", "");
    EXPECT_EQ(LogWarnText(""), 0);
    EXPECT_EQ(LogWarnText(nullptr), -1);
    EXPECT_EQ(LogErrorText(nullptr), -1);
    EXPECT_EQ(LogInfo(nullptr), 0);
    const auto lines = Lines(ReadWholeFile(sim::HostPath(GetCurrentLogPath())));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].size() - lines[0].rfind("> ") - 2, 4095u);
    EXPECT_EQ(lines[1].size() - lines[1].rfind("> ") - 2, 4095u);
}

TEST_F(LogTest, ExistingFilesAreAppendedAndLineBreaksPassThrough) {
    sim::UseManualClock(2020, 2, 29, 12, 0, 0);
    std::filesystem::create_directories(DriveC() + "/kqllog");
    {
        HANDLE h = CreateFileA("c:\\kqllog\\test_log_2020-02-29.log", GENERIC_WRITE, 0, nullptr,
                               CREATE_ALWAYS, 0, nullptr);
        DWORD n;
        WriteFile(h, "old\r\n", 5, &n, nullptr);
        CloseHandle(h);
    }
    LogInfo("two\nlines");
    const std::string text = ReadWholeFile(LogFile("c", "2020-02-29"));
    EXPECT_EQ(text.substr(0, 5), "old\r\n");
    EXPECT_NE(text.find("> two\nlines\r\n"), std::string::npos);
}

TEST_F(LogTest, UnwritableDirectoryLosesTheLineQuietly) {
    // A file where the directory should be: the directory cannot be made, the line is lost.
    HANDLE h = CreateFileA("c:\\kqllog", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    CloseHandle(h);
    EXPECT_EQ(LogInfo("lost"), 0);
    EXPECT_EQ(LogErrorText("lost too"), 0);
    EXPECT_FALSE(std::filesystem::is_directory(DriveC() + "/kqllog"));
}

}  // namespace
}  // namespace lumacap::test
