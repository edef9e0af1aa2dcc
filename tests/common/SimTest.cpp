// The simulation fixture every test derives from, and whole-file and byte helpers.
#include "common/SimTest.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace lumacap::test {
namespace {
// The suite never depends on a display, even where DISPLAY names one: a test that wants an X
// server starts its own (tests/x11).
const bool s_headless = [] {
    setenv("LUMACAP_DISPLAY", "headless", 1);
    return true;
}();
}  // namespace

void SimTest::SetUp() {
    sim::UseHeadlessDisplay();
    sim::Reset();
    const char* base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/lumacap-test-XXXXXX";
    char* dir = mkdtemp(templ.data());
    ASSERT_NE(dir, nullptr) << "cannot create a temporary directory";
    m_tempDir = dir;
    std::filesystem::create_directories(DriveC());
    sim::SetDriveRoot('C', DriveC().c_str());
    sim::SetDriveRoot('D', DriveD().c_str());
    m_liveBaseline = sim::LiveObjects();
}

void SimTest::TearDown() {
    if (m_checkLiveObjects) {
        // Objects released by streaming threads as they wind down may lag a moment behind.
        for (int i = 0; i < 200 && sim::LiveObjects() != m_liveBaseline; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(sim::LiveObjects(), m_liveBaseline) << "component objects leaked by this test";
    }
    sim::Reset();
    std::error_code ec;
    if (!m_tempDir.empty() && !std::getenv("LUMACAP_KEEP_TEST_FILES"))
        std::filesystem::remove_all(m_tempDir, ec);
}

void SimTest::MakeDriveD() {
    std::filesystem::create_directories(DriveD());
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool FileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::string HexBytes(const std::string& text) {
    std::string out;
    char buf[4];
    for (unsigned char c : text) {
        std::snprintf(buf, sizeof(buf), "%02X", c);
        if (!out.empty()) out += ' ';
        out += buf;
    }
    return out;
}

}  // namespace lumacap::test
