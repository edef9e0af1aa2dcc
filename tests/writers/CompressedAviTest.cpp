// Compressed video into AVI: each installed compressor's pictures are stored as encoded and
// decode, with FFmpeg's decoders, back to the source's frames in order.
#include <lumacap/sim.h>

#include "devices/Devices.h"
#include "writers/WriterSupport.h"

namespace lumacap::test {
namespace {

struct CompressorCase {
    const char* name;
    const char* codec;  // as ffprobe names it
    const char* tag;
};

class CompressedAvi : public SimTest, public ::testing::WithParamInterface<CompressorCase> {
protected:
    void TearDown() override {
        if (control) control->Stop();
        control.Reset();
        graph.Reset();
        SimTest::TearDown();
    }
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
};

TEST_P(CompressedAvi, PicturesStayAsEncodedAndDecodeInOrder) {
    const CompressorCase c = GetParam();
    const std::string path = TempDir() + "/compressed.avi";
    {
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IGraphBuilder, graph.Out()),
                  S_OK);
        graph->QueryInterface(IID_IMediaControl, control.Out());
        SourceScript script;
        script.starts = RegularStarts(12, 1000000);
        ComPtr<IBaseFilter> source(CreateScriptedSource(script));
        ComPtr<IBaseFilter> compressor(CreateCompressor(1, c.name));
        ASSERT_NE(compressor.p, nullptr) << c.name;
        ComPtr<IBaseFilter> mux(CreateFilter(CLSID_AviDest));
        ComPtr<IBaseFilter> writer(CreateFilter(CLSID_FileWriter));
        graph->AddFilter(source, L"Source");
        graph->AddFilter(compressor, L"VideoCompressor");
        graph->AddFilter(mux, L"AVI Mux");
        graph->AddFilter(writer, L"File Writer");
        ASSERT_EQ(graph->Connect(GetPin(source, 0, nullptr), GetPin(compressor, 1, nullptr)), S_OK);
        ASSERT_EQ(graph->Connect(GetPin(mux, 0, nullptr), GetPin(writer, 1, nullptr)), S_OK);
        ASSERT_EQ(graph->Connect(GetPin(compressor, 0, nullptr), GetUnconnectedPin(mux, 1)), S_OK);
        ASSERT_EQ(SetOutputFile(writer, path), S_OK);
        ASSERT_EQ(control->Run(), S_OK);
        ASSERT_TRUE(WaitForScript(source));
        ASSERT_EQ(WaitForCompletion(graph, 10000), EC_COMPLETE);
        ASSERT_EQ(control->Stop(), S_OK);
    }
    const auto probe = Probe(path);
    EXPECT_EQ(Field(probe, "streams.stream.0.codec_name"), c.codec);
    EXPECT_EQ(Field(probe, "streams.stream.0.codec_tag_string"), c.tag);
    EXPECT_EQ(Field(probe, "streams.stream.0.width"), "320");
    EXPECT_EQ(Field(probe, "streams.stream.0.height"), "240");
    EXPECT_EQ(Field(probe, "streams.stream.0.r_frame_rate"), "10/1");
    EXPECT_EQ(Field(probe, "streams.stream.0.nb_frames"), "12");
    std::vector<long> expected;
    for (long n = 0; n < 12; ++n) expected.push_back(n);
    EXPECT_EQ(DecodedFrameNumbers(path, 320, 240), expected);
    // The first picture is a key frame, so the file plays from its start.
    const auto packets = Packets(path, 0);
    ASSERT_EQ(packets.size(), 12u);
    EXPECT_TRUE(packets[0].key);
    if (std::string(c.codec) == "utvideo") {
        // Lossless: every picture comes back exactly.
        const auto pictures = DecodePictures(path, 320, 240);
        ASSERT_EQ(pictures.size(), 12u);
        for (long n = 0; n < 12; ++n) EXPECT_TRUE(pictures[n] == ScriptPicture(320, 240, n)) << n;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Installed, CompressedAvi,
    ::testing::Values(CompressorCase{"MJPEG Compressor", "mjpeg", "MJPG"},
                      CompressorCase{"MPEG-4 Video Compressor", "mpeg4", "FMP4"},
                      CompressorCase{"H.264 Video Compressor", "h264", "H264"},
                      CompressorCase{"Ut Video Lossless Compressor", "utvideo", "ULRG"}),
    [](const ::testing::TestParamInfo<CompressorCase>& info) {
        std::string name = info.param.codec;
        name[0] = static_cast<char>(std::toupper(name[0]));
        return name;
    });

}  // namespace
}  // namespace lumacap::test
