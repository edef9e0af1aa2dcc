// AVI Mux and File Writer: pins, connection types, and the files they write, read back with
// ffprobe and decoded with ffmpeg.
#include <filesystem>

#include <lumacap/sim.h>

#include "devices/Devices.h"
#include "writers/WriterSupport.h"

namespace lumacap::test {
namespace {

class AviWriting : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IGraphBuilder, graph.Out()),
                  S_OK);
        ASSERT_EQ(graph->QueryInterface(IID_IMediaControl, control.Out()), S_OK);
        mux.p = CreateFilter(CLSID_AviDest);
        writer.p = CreateFilter(CLSID_FileWriter);
        ASSERT_NE(mux.p, nullptr);
        ASSERT_NE(writer.p, nullptr);
        ASSERT_EQ(graph->AddFilter(mux, L"AVI Mux"), S_OK);
        ASSERT_EQ(graph->AddFilter(writer, L"File Writer"), S_OK);
        path = TempDir() + "/out.avi";
    }
    void TearDown() override {
        if (control) control->Stop();
        source.Reset();
        mux.Reset();
        writer.Reset();
        control.Reset();
        graph.Reset();
        SimTest::TearDown();
    }

    // Source -> AVI Mux -> File Writer, the output file set.
    void Build(const SourceScript& script) {
        source.p = CreateScriptedSource(script);
        ASSERT_EQ(graph->AddFilter(source, L"Source"), S_OK);
        ASSERT_EQ(graph->Connect(GetPin(mux, 0, nullptr), GetPin(writer, 1, nullptr)), S_OK);
        ASSERT_EQ(graph->Connect(GetPin(source, 0, nullptr), GetUnconnectedPin(mux, 1)), S_OK);
        ASSERT_EQ(SetOutputFile(writer, path), S_OK);
    }

    // Runs the script to its end of stream and stops.
    void Record() {
        ASSERT_EQ(control->Run(), S_OK);
        ASSERT_TRUE(WaitForScript(source));
        ASSERT_EQ(WaitForCompletion(graph, 10000), EC_COMPLETE);
        ASSERT_EQ(control->Stop(), S_OK);
    }

    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<IBaseFilter> mux;
    ComPtr<IBaseFilter> writer;
    ComPtr<IBaseFilter> source;
    std::string path;
};

TEST_F(AviWriting, UncompressedFramesKeepTheirPicturesAndRate) {
    SourceScript script;
    script.starts = RegularStarts(10, 1000000);
    Build(script);
    Record();

    const auto probe = Probe(path);
    EXPECT_EQ(Field(probe, "format.format_name"), "avi");
    EXPECT_EQ(Field(probe, "streams.stream.0.codec_name"), "rawvideo");
    EXPECT_EQ(Field(probe, "streams.stream.0.width"), "320");
    EXPECT_EQ(Field(probe, "streams.stream.0.height"), "240");
    EXPECT_EQ(Field(probe, "streams.stream.0.r_frame_rate"), "10/1");
    EXPECT_EQ(Field(probe, "streams.stream.0.nb_frames"), "10");
    EXPECT_NEAR(NumberField(probe, "format.duration"), 1.0, 0.001);
    const std::vector<long> expected = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    EXPECT_EQ(DecodedFrameNumbers(path, 320, 240), expected);
    // Uncompressed means byte for byte.
    const auto pictures = DecodePictures(path, 320, 240);
    ASSERT_EQ(pictures.size(), 10u);
    EXPECT_TRUE(pictures[7] == ScriptPicture(320, 240, 7));
}

}  // namespace
}  // namespace lumacap::test
