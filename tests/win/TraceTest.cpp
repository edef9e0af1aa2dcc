// The platform trace: which areas a list switches on, and what reaches the trace file.
#include <cstdlib>

#include "common/SimTest.h"
#include "platform/system/win/Trace.h"

namespace lumacap::test {
namespace {

using namespace lumacap::trace;

// Puts the trace back as the environment asks, whatever the test did.
struct RestoreTrace {
    ~RestoreTrace() { Configure(std::getenv("LUMACAP_TRACE"), std::getenv("LUMACAP_TRACE_FILE")); }
};

class TraceTest : public SimTest {};

TEST_F(TraceTest, ListsSwitchAreasOnAndOnlyTheirLinesAreWritten) {
    EXPECT_EQ(ParseAreas("dshow,hw"), unsigned{kDshow | kHw});
    EXPECT_EQ(ParseAreas(" ui , nonsense,,codecs "), unsigned{kUi | kCodecs});
    EXPECT_EQ(ParseAreas("all"), unsigned{kDshow | kUi | kCom | kHw | kCodecs | kSim});
    EXPECT_EQ(ParseAreas(""), 0u);
    EXPECT_EQ(ParseAreas(nullptr), 0u);

    RestoreTrace restore;
    const std::string file = TempDir() + "/trace.txt";
    Configure("hw", file.c_str());
    int evaluated = 0;
    LUMACAP_TRACE(kHw, "camera %d %s", ++evaluated, Utf8(L"\u6444\u50cf\u5934").c_str());
    // An area that is off costs nothing: its arguments are not even evaluated.
    LUMACAP_TRACE(kDshow, "graph %d", ++evaluated);
    Configure("", nullptr);
    LUMACAP_TRACE(kHw, "after %d", ++evaluated);
    EXPECT_EQ(evaluated, 1);

    const std::string text = ReadWholeFile(file);
    EXPECT_EQ(text.find('\n'), text.size() - 1) << text;
    EXPECT_NE(text.find(" hw     camera 1 \xE6\x91\x84\xE5\x83\x8F\xE5\xA4\xB4\n"),
              std::string::npos)
        << text;
}

TEST_F(TraceTest, AnUnwritableFileFallsBackToStderr) {
    RestoreTrace restore;
    testing::internal::CaptureStderr();
    Configure("sim", (TempDir() + "/missing/dir/trace.txt").c_str());
    LUMACAP_TRACE(kSim, "still traced");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("cannot open"), std::string::npos) << err;
    EXPECT_NE(err.find("sim    still traced"), std::string::npos) << err;
}

}  // namespace
}  // namespace lumacap::test
