// Texts: message tables, GBK literals, code pages, MSVC formatting, multibyte comparison.
#include <cstring>
#include <string>

#include <mbstring.h>
#include <windows.h>

#include "common/SimTest.h"

namespace lumacap::test {
namespace {

class TextsTest : public SimTest {};

std::string SystemText(DWORD code, DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM,
                       LPCVOID source = nullptr) {
    char* buffer = nullptr;
    const DWORD n =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | flags,
                       source, code, 0, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
    std::string text = n ? std::string(buffer, n) : std::string();
    if (buffer) LocalFree(buffer);
    return text;
}

TEST_F(TextsTest, SystemMessagesKeepTheirLineBreaks) {
    EXPECT_EQ(SystemText(0x80004005), "Unspecified error\r\n");
    EXPECT_EQ(SystemText(0x80040154), "Class not registered\r\n");
    EXPECT_EQ(SystemText(0x80070005), "Access is denied.\r\n")
        << "a wrapped Win32 code reads as the Win32 code";
    EXPECT_EQ(SystemText(ERROR_FILE_NOT_FOUND), "The system cannot find the file specified.\r\n");
    EXPECT_EQ(SystemText(0x80040217),
              "No combination of intermediate filters could be found to make the connection.\r\n");
    EXPECT_EQ(SystemText(0x80040227),
              "The operation could not be performed because the filter is in the wrong state.\r\n");
    EXPECT_EQ(SystemText(0xDEADBEEF), "");
    EXPECT_EQ(GetLastError(), 317u);

    char fixed[8];
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 0x80004005, 0, fixed,
                             sizeof(fixed), nullptr),
              0u)
        << "a buffer too small must be refused, not overrun";
}

TEST_F(TextsTest, NetworkMessagesComeFromTheirModuleOnly) {
    HMODULE netmsg = LoadLibraryExA("netmsg.dll", nullptr, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(netmsg, nullptr);
    EXPECT_EQ(SystemText(2250, FORMAT_MESSAGE_FROM_HMODULE, netmsg),
              "The network connection could not be found.\r\n");
    EXPECT_EQ(SystemText(2250), "");
    EXPECT_EQ(SystemText(0x80004005, FORMAT_MESSAGE_FROM_HMODULE, netmsg), "");
    EXPECT_TRUE(FreeLibrary(netmsg));
    EXPECT_EQ(LoadLibraryExA("nosuch.dll", nullptr, 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST_F(TextsTest, LiteralsAreStoredAsGbkBytes) {
    EXPECT_EQ(HexBytes("未知的错误"), "CE B4 D6 AA B5 C4 B4 ED CE F3");
    EXPECT_EQ(sim::GbkToUtf8("未知的错误"),
              "\xE6\x9C\xAA\xE7\x9F\xA5\xE7\x9A\x84\xE9\x94\x99\xE8\xAF\xAF");
    EXPECT_EQ(sim::Utf8ToGbk("\xE6\x9C\xAA\xE7\x9F\xA5"), "未知");
}

TEST_F(TextsTest, CodePageConversionsRoundTripAndReportSizes) {
    const char* gbk = "设备未运行.";
    const int needed = MultiByteToWideChar(CP_ACP, 0, gbk, -1, nullptr, 0);
    EXPECT_EQ(needed, 7) << "six characters and the terminator";
    std::wstring wide(static_cast<size_t>(needed), L'\0');
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, gbk, -1, wide.data(), needed), needed);
    EXPECT_EQ(wide[0], L'\x8BBE');
    wchar_t tiny[3];
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, gbk, -1, tiny, 3), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

    char utf8[64];
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, utf8, sizeof(utf8), nullptr, nullptr);
    EXPECT_EQ(std::string(utf8, static_cast<size_t>(n) - 1), sim::GbkToUtf8(gbk));
    char back[64];
    WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, back, sizeof(back), nullptr, nullptr);
    EXPECT_STREQ(back, gbk);

    BOOL usedDefault = FALSE;
    const wchar_t emoji[] = {0x1F600, 0};
    WideCharToMultiByte(CP_ACP, 0, emoji, -1, back, sizeof(back), nullptr, &usedDefault);
    EXPECT_STREQ(back, "?");
    EXPECT_TRUE(usedDefault);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xFF", 1, tiny, 3), 0);
}

TEST_F(TextsTest, MsvcFormattingSignalsAFullBuffer) {
    char buf[8];
    std::memset(buf, 'x', sizeof(buf));
    EXPECT_EQ(_snprintf(buf, sizeof(buf), "%s", "1234567"), 7);
    EXPECT_STREQ(buf, "1234567");
    std::memset(buf, 0, sizeof(buf));
    EXPECT_EQ(_snprintf(buf, sizeof(buf), "%s", "12345678"), 8);
    EXPECT_EQ(buf[7], '8') << "exactly full: no terminator";
    EXPECT_EQ(_snprintf(buf, sizeof(buf), "%s", "123456789"), -1);
    EXPECT_EQ(std::string(buf, 8), "12345678");
}

TEST_F(TextsTest, MultibyteComparisonFoldsOnlySingleByteLetters) {
    const auto* a = reinterpret_cast<const unsigned char*>("USB\\VID_046D&PID_0825");
    const auto* b = reinterpret_cast<const unsigned char*>("usb\\vid_046d&pid_0825");
    EXPECT_EQ(_mbsicmp(a, b), 0);
    // 0xC1 0x61 is one character whose trail byte happens to be 'a': it must not match 0xC1 0x41.
    EXPECT_NE(_mbsicmp(reinterpret_cast<const unsigned char*>("\xC1\x61"),
                       reinterpret_cast<const unsigned char*>("\xC1\x41")),
              0);
    EXPECT_LT(_mbsicoll(reinterpret_cast<const unsigned char*>("abc"),
                        reinterpret_cast<const unsigned char*>("ABD")),
              0);
    unsigned char upper[] = "vid_\xC1\x61x";
    _mbsupr(upper);
    EXPECT_STREQ(reinterpret_cast<char*>(upper), "VID_\xC1\x61X");
}

}  // namespace
}  // namespace lumacap::test
