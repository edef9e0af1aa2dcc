// A camera rendered to an RGB24 sample grabber: the graph inserts what the connection needs and
// the frames that arrive are the camera's, in order, with the right colours.
#include <cstdlib>
#include <string>

#include <lumacap/sim.h>

#include "common/GraphFixture.h"

namespace lumacap::test {
namespace {

struct Graph {
    ComPtr<IGraphBuilder> graph;
    ComPtr<ICaptureGraphBuilder2> builder;
    ComPtr<IMediaControl> control;
    ComPtr<IBaseFilter> camera;
    ComPtr<ISampleGrabber> grabber;
    ComPtr<IBaseFilter> grabberFilter;
    ComPtr<IBaseFilter> renderer;

    void Build(const char* subtype, long width, long height, HRESULT* renderResult) {
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IGraphBuilder, graph.Out()),
                  S_OK);
        ASSERT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_ICaptureGraphBuilder2, builder.Out()),
                  S_OK);
        ASSERT_EQ(builder->SetFiltergraph(graph), S_OK);
        ASSERT_EQ(graph->QueryInterface(IID_IMediaControl, control.Out()), S_OK);
        camera.p = BindDevice(CLSID_VideoInputDeviceCategory, 0);
        ASSERT_NE(camera.p, nullptr);
        ASSERT_EQ(graph->AddFilter(camera, L"Video Capture"), S_OK);
        if (subtype) {
            AM_MEDIA_TYPE* mt = CameraCapability(camera, subtype, width, height);
            ASSERT_NE(mt, nullptr);
            ComPtr<IAMStreamConfig> config;
            ASSERT_EQ(builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, camera,
                                             IID_IAMStreamConfig, config.Out()),
                      S_OK);
            EXPECT_EQ(config->SetFormat(mt), S_OK);
            DeleteMediaType(mt);
        }
        ASSERT_EQ(CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_ISampleGrabber, grabber.Out()),
                  S_OK);
        AM_MEDIA_TYPE rgb{};
        rgb.majortype = MEDIATYPE_Video;
        rgb.subtype = MEDIASUBTYPE_RGB24;
        ASSERT_EQ(grabber->SetMediaType(&rgb), S_OK);
        ASSERT_EQ(grabber->QueryInterface(IID_IBaseFilter, grabberFilter.Out()), S_OK);
        ASSERT_EQ(graph->AddFilter(grabberFilter, L"Sample Grabber"), S_OK);
        ASSERT_EQ(CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IBaseFilter, renderer.Out()),
                  S_OK);
        ASSERT_EQ(graph->AddFilter(renderer, L"VideoRender"), S_OK);
        *renderResult = builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, camera,
                                              grabberFilter, renderer);
    }

    bool HasFilter(const wchar_t* name) {
        ComPtr<IBaseFilter> f;
        return graph->FindFilterByName(name, &f) == S_OK;
    }
};

struct FormatCase {
    const char* subtype;
    long width;
    long height;
    const wchar_t* converter;  // the filter intelligent connect must insert, or null
    int tolerance;             // colour error allowed by the format's coding
};

class CameraToGrabber : public SimTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(CameraToGrabber, DeliversNumberedFramesWithThePatternColours) {
    const FormatCase c = GetParam();
    Graph g;
    HRESULT hr = E_FAIL;
    g.Build(c.subtype, c.width, c.height, &hr);
    // The device has no preview pin: the builder renders the preview through a smart tee.
    ASSERT_EQ(hr, VFW_S_NOPREVIEWPIN);
    EXPECT_TRUE(g.HasFilter(L"Smart Tee"));
    if (c.converter) {
        EXPECT_TRUE(g.HasFilter(c.converter));
    }
    EXPECT_FALSE(c.converter == nullptr && g.HasFilter(L"Color Space Converter"));

    AM_MEDIA_TYPE connected{};
    ASSERT_EQ(g.grabber->GetConnectedMediaType(&connected), S_OK);
    EXPECT_EQ(connected.subtype, MEDIASUBTYPE_RGB24);
    const auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(connected.pbFormat);
    EXPECT_EQ(vih->bmiHeader.biWidth, c.width);
    EXPECT_EQ(vih->bmiHeader.biHeight, c.height);  // bottom-up
    FreeMediaType(connected);

    FrameCollector frames;
    frames.width = c.width;
    frames.height = c.height;
    ASSERT_EQ(g.grabber->SetBufferSamples(TRUE), S_OK);
    ASSERT_EQ(g.grabber->SetCallback(&frames, 1), S_OK);
    ASSERT_EQ(g.control->Run(), S_OK);
    ASSERT_TRUE(frames.WaitFor(8)) << "no frames arrived";
    ASSERT_EQ(g.control->Stop(), S_OK);

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
    ASSERT_EQ(g.grabber->GetCurrentBuffer(&size, nullptr), S_OK);
    EXPECT_EQ(size, stride * c.height);
    g.grabber->SetCallback(nullptr, 1);
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
