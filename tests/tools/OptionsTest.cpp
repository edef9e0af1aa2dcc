// The lumacap commands' option parsing: values taken, and every refusal in words.
#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "Options.h"

namespace lumacap::tool {
namespace {

// Parses a command line given as words, the command's name first.
template <class Options>
Parsed Parse(Parsed (*parse)(int, const char* const*, Options*), std::vector<const char*> words,
             Options* options) {
    return parse(static_cast<int>(words.size()), words.data(), options);
}

// The same with options of their own, for command lines expected to be refused.
template <class Options>
Parsed Parse(Parsed (*parse)(int, const char* const*, Options*), std::vector<const char*> words) {
    Options options;
    return Parse(parse, std::move(words), &options);
}

void ExpectError(const Parsed& parsed, const char* text) {
    EXPECT_EQ(parsed.outcome, Parsed::kError);
    EXPECT_EQ(parsed.error, text);
}

TEST(ToolOptions, SnapshotTakesCameraFormatAndFileAndRefusesBadValues) {
    SnapshotOptions o;
    const Parsed ok =
        Parse(ParseSnapshot, {"snapshot", "-d", "1", "--format", "2", "-o", "a.bmp"}, &o);
    EXPECT_EQ(ok.outcome, Parsed::kRun);
    EXPECT_EQ(o.device, 1);
    EXPECT_EQ(o.format, 2);
    EXPECT_EQ(o.output, "a.bmp");

    EXPECT_EQ(Parse(ParseSnapshot, {"snapshot", "-o", "x", "--help"}).outcome, Parsed::kHelp);
    ExpectError(Parse(ParseSnapshot, {"snapshot"}), "no output file; give one with -o FILE.bmp");
    ExpectError(Parse(ParseSnapshot, {"snapshot", "-o", "a.bmp", "-d"}), "-d needs a value");
    ExpectError(Parse(ParseSnapshot, {"snapshot", "--device", "-1", "-o", "a"}),
                "--device takes a number from 0 up, not '-1'");
    ExpectError(Parse(ParseSnapshot, {"snapshot", "-f", "2x", "-o", "a"}),
                "-f takes a number from 0 up, not '2x'");
    ExpectError(Parse(ParseSnapshot, {"snapshot", "-o"}), "-o needs a file name");
    ExpectError(Parse(ParseSnapshot, {"snapshot", "-x"}), "unknown option '-x'");
}

TEST(ToolOptions, PreviewRectanglesNeedTheSelfDrawnModeAndProperEdges) {
    PreviewOptions o;
    ASSERT_EQ(Parse(ParsePreview,
                    {"preview", "--seconds", "2", "--rect", "10,20,110,80", "--rect", "0,0,5,5",
                     "--rotate", "--shot", "w.bmp"},
                    &o)
                  .outcome,
              Parsed::kRun);
    ASSERT_EQ(o.rects.size(), 2u);
    EXPECT_EQ(o.rects[0].left, 10);
    EXPECT_EQ(o.rects[0].bottom, 80);
    EXPECT_EQ(o.seconds, 2);
    EXPECT_TRUE(o.rotate);
    EXPECT_EQ(o.shot, "w.bmp");

    ExpectError(Parse(ParsePreview, {"preview", "--rect", "10,20,5,80"}),
                "--rect takes L,T,R,B with L < R and T < B, not '10,20,5,80'");
    ExpectError(Parse(ParsePreview, {"preview", "--rect", "1,2,3"}),
                "--rect takes L,T,R,B with L < R and T < B, not '1,2,3'");
    ExpectError(Parse(ParsePreview, {"preview", "--mode", "3"}), "--mode is 0, 1 or 2, not 3");
    ExpectError(Parse(ParsePreview, {"preview", "--mode", "0", "--rect", "0,0,4,4"}),
                "overlay rectangles need the self-drawn preview (--mode 2)");
}

TEST(ToolOptions, RecordSourcesPlacementsAndLimits) {
    RecordOptions o;
    ASSERT_EQ(Parse(ParseRecord,
                    {"record", "-o", "r.avi", "--camera", "0:640x480@0,0,320,240", "--window",
                     "screen", "--size", "1280x720", "--fps", "30", "--audio", "--seconds", "1.5",
                     "--bitrate", "400"},
                    &o)
                  .outcome,
              Parsed::kRun);
    ASSERT_EQ(o.sources.size(), 2u);
    EXPECT_TRUE(o.sources[0].camera);
    EXPECT_EQ(o.sources[0].spec, "0:640x480");
    EXPECT_TRUE(o.sources[0].hasRect);
    EXPECT_EQ(o.sources[0].rect.right, 320);
    EXPECT_FALSE(o.sources[1].camera);
    EXPECT_FALSE(o.sources[1].hasRect);
    EXPECT_EQ(o.width, 1280);
    EXPECT_EQ(o.fps, 30u);
    EXPECT_TRUE(o.audio);
    EXPECT_DOUBLE_EQ(o.seconds, 1.5);
    EXPECT_EQ(o.bitrate, 400u);
    RecordOptions named;
    Parse(ParseRecord, {"record", "-o", "r.avi", "--microphone", "Headset"}, &named);
    EXPECT_TRUE(named.audio) << "a named microphone records sound";
    EXPECT_EQ(named.microphone, "Headset");

    const std::vector<std::pair<std::vector<const char*>, const char*>> refused = {
        {{"record"}, "no output file (-o FILE)"},
        {{"record", "-o", "r.avi", "--camera", "0@1,2,0,4"},
         "--camera: bad rectangle in '0@1,2,0,4' (use @X,Y,W,H)"},
        {{"record", "-o", "r.avi", "--window", "@1,2,3,4"}, "--window: '@1,2,3,4' names no source"},
        {{"record", "-o", "r.avi", "--fps", "25"}, "--fps takes 10, 20 or 30"},
        {{"record", "-o", "r.avi", "--microphone", ""}, "--microphone needs a name"},
        {{"record", "-o", "r.avi", "--size", "640"}, "--size needs WxH, for example 1280x720"},
        {{"record", "-o", "r.avi", "--seconds", "0"}, "--seconds: '0' is not a duration"},
        {{"record", "-o", "r.avi", "--seconds", ""}, "--seconds: '' is not a duration"},
        {{"record", "-o", "r.avi", "--bitrate", "12k"},
         "--bitrate: '12k' is not a bit rate in kbit/s"},
    };
    for (const auto& [words, error] : refused) {
        ExpectError(Parse(ParseRecord, words), error);
    }
}

TEST(ToolOptions, CommandsWithoutOptionsRefuseExtraWordsAndReportsGoWhereTheyBelong) {
    EXPECT_EQ(ParseNoOptions(1, std::vector<const char*>{"version"}.data()).outcome, Parsed::kRun);
    EXPECT_EQ(ParseNoOptions(2, std::vector<const char*>{"version", "-h"}.data()).outcome,
              Parsed::kHelp);
    ExpectError(ParseNoOptions(2, std::vector<const char*>{"devices", "all"}.data()),
                "unknown option 'all'");

    static int helps = 0;
    auto help = [] { ++helps; };
    EXPECT_EQ(ReportParsed("devices", Parsed{}, help), -1);
    EXPECT_EQ(ReportParsed("devices", Parsed{Parsed::kHelp, {}}, help), 0);
    EXPECT_EQ(helps, 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(ReportParsed("record", Parsed{Parsed::kError, "--fps takes 10, 20 or 30"}, help), 2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "lumacap record: --fps takes 10, 20 or 30 (see 'lumacap record --help')\n");
}

}  // namespace
}  // namespace lumacap::tool
