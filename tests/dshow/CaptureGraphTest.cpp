// A camera rendered to an RGB24 sample grabber: the graph inserts what the connection needs and
// the frames that arrive are the camera's, in order, with the right colours.
#include <cstdlib>
#include <string>

#include <lumacap/sim.h>

#include "common/GraphFixture.h"

namespace lumacap::test {
namespace {

struct FormatCase {
    const char* subtype;
    long width;
    long height;
    const wchar_t* converter;  // the filter intelligent connect must insert, or null
    int tolerance;             // colour error allowed by the format's coding
};

class CameraToGrabber : public GraphTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(CameraToGrabber, DeliversNumberedFramesWithThePatternColours) {
    const FormatCase c = GetParam();
    const HRESULT hr = BuildCameraGraph(0, c.subtype, c.width, c.height);
    // The device has no preview pin: the builder renders the preview through a smart tee.
    ASSERT_EQ(hr, VFW_S_NOPREVIEWPIN);
    EXPECT_TRUE(HasFilter(L"Smart Tee"));
    if (c.converter) {
        EXPECT_TRUE(HasFilter(c.converter));
    }
    EXPECT_FALSE(c.converter == nullptr && HasFilter(L"Color Space Converter"));

    AM_MEDIA_TYPE connected{};
    ASSERT_EQ(grabber->GetConnectedMediaType(&connected), S_OK);
    EXPECT_EQ(connected.subtype, MEDIASUBTYPE_RGB24);
    const auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(connected.pbFormat);
    EXPECT_EQ(vih->bmiHeader.biWidth, c.width);
    EXPECT_EQ(vih->bmiHeader.biHeight, c.height);  // bottom-up
    FreeMediaType(connected);

    FrameCollector frames;
    frames.width = c.width;
    frames.height = c.height;
    ASSERT_EQ(grabber->SetBufferSamples(TRUE), S_OK);
    ASSERT_EQ(grabber->SetCallback(&frames, 1), S_OK);
    ASSERT_EQ(control->Run(), S_OK);
    ASSERT_TRUE(frames.WaitFor(8)) << "no frames arrived";
    ASSERT_EQ(control->Stop(), S_OK);

    const std::vector<long> numbers = frames.FrameNumbers();
    for (size_t i = 0; i < numbers.size(); ++i)
        EXPECT_EQ(numbers[i], static_cast<long>(i)) << "frame " << i;

    // The colour bars, sampled in the middle of each bar.
    const std::vector<uint8_t> last = frames.LastFrame();
    const long stride = GDI_WIDTHBYTES(c.width * 24);
    ASSERT_EQ(static_cast<long>(last.size()), stride * c.height);
    const long yTop = c.height * 5 / 12;
    const uint8_t* row = last.data() + (c.height - 1 - yTop) * stride;
    for (int bar = 0; bar < 8; ++bar) {
        unsigned char b, gr, r;
        sim::TestPatternBarColor(bar, &b, &gr, &r);
        const long x = (2 * bar + 1) * c.width / 16;
        const uint8_t* p = row + x * 3;
        EXPECT_NEAR(p[0], b, c.tolerance) << "bar " << bar << " blue";
        EXPECT_NEAR(p[1], gr, c.tolerance) << "bar " << bar << " green";
        EXPECT_NEAR(p[2], r, c.tolerance) << "bar " << bar << " red";
    }

    long size = 0;
    ASSERT_EQ(grabber->GetCurrentBuffer(&size, nullptr), S_OK);
    EXPECT_EQ(size, stride * c.height);
    grabber->SetCallback(nullptr, 1);
}

INSTANTIATE_TEST_SUITE_P(Formats, CameraToGrabber,
                         ::testing::Values(FormatCase{"YUY2", 640, 480, L"Color Space Converter",
                                                      6},
                                           FormatCase{"MJPG", 640, 480, L"MJPEG Decompressor", 14},
                                           FormatCase{"RGB24", 320, 240, nullptr, 0}),
                         [](const ::testing::TestParamInfo<FormatCase>& info) {
                             return std::string(info.param.subtype) +
                                    std::to_string(info.param.width);
                         });

}  // namespace
}  // namespace lumacap::test
