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

TEST_F(AviWriting, InputsMultiplyAsTheyConnect) {
    EXPECT_EQ(PinNames(mux), (std::vector<std::wstring>{L"AVI Out", L"Input 01"}));
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(GetPin(mux, 0, nullptr)->EnumMediaTypes(&types), S_OK);
    AM_MEDIA_TYPE* offered = nullptr;
    ASSERT_EQ(types->Next(1, &offered, nullptr), S_OK);
    EXPECT_TRUE(offered->majortype == MEDIATYPE_Stream && offered->subtype == MEDIASUBTYPE_Avi);
    DeleteMediaType(offered);

    SourceScript script;
    script.starts = RegularStarts(1, 1000000);
    ComPtr<IBaseFilter> first(CreateScriptedSource(script));
    ComPtr<IBaseFilter> second(CreateScriptedSource(script));
    graph->AddFilter(first, L"First");
    graph->AddFilter(second, L"Second");
    ASSERT_EQ(graph->Connect(GetPin(first, 0, nullptr), GetUnconnectedPin(mux, 1)), S_OK);
    EXPECT_EQ(PinNames(mux), (std::vector<std::wstring>{L"AVI Out", L"Input 01", L"Input 02"}));
    PIN_INFO info;
    GetUnconnectedPin(mux, 1)->QueryPinInfo(&info);
    info.pFilter->Release();
    EXPECT_STREQ(info.achName, L"Input 02");
    ASSERT_EQ(graph->Connect(GetPin(second, 0, nullptr), GetUnconnectedPin(mux, 1)), S_OK);
    EXPECT_EQ(PinNames(mux).size(), 4u);

    // The byte stream goes only to a pin that can take a stream it seeks in.
    ComPtr<IBaseFilter> renderer(CreateFilter(CLSID_NullRenderer));
    graph->AddFilter(renderer, L"Renderer");
    EXPECT_TRUE(FAILED(GetPin(mux, 0, nullptr)->Connect(GetPin(renderer, 1, nullptr), nullptr)));
    graph->RemoveFilter(first);
    graph->RemoveFilter(second);
}

TEST_F(AviWriting, AcceptsVideoAndPcmAndRefusesTheRest) {
    IPin* input = GetUnconnectedPin(mux, 1);
    const auto video = [](const GUID& subtype, DWORD compression, WORD bits, LONG height) {
        CMediaType mt(&MEDIATYPE_Video);
        mt.SetSubtype(&subtype);
        mt.SetFormatType(&FORMAT_VideoInfo);
        VIDEOINFOHEADER vih{};
        vih.bmiHeader = {
            sizeof(BITMAPINFOHEADER), 320, height, 1, bits, compression, 0, 0, 0, 0, 0};
        mt.SetFormat(reinterpret_cast<BYTE*>(&vih), sizeof(vih));
        return mt;
    };
    const auto audio = [](WORD tag, WORD bits, WORD channels) {
        CMediaType mt(&MEDIATYPE_Audio);
        mt.SetSubtype(&MEDIASUBTYPE_PCM);
        mt.SetFormatType(&FORMAT_WaveFormatEx);
        WAVEFORMATEX wfx{tag, channels, 11025, 0, static_cast<WORD>(bits / 8 * channels), bits, 0};
        wfx.nAvgBytesPerSec = wfx.nBlockAlign * 11025;
        mt.SetFormat(reinterpret_cast<BYTE*>(&wfx), sizeof(wfx));
        return mt;
    };
    const auto accepts = [input](const CMediaType& mt) { return input->QueryAccept(&mt); };
    GUID mjpg = MEDIASUBTYPE_MJPG, unknown = MEDIASUBTYPE_MJPG;
    unknown.Data1 = 0x5A5A5A5A;
    EXPECT_EQ(accepts(video(MEDIASUBTYPE_RGB24, BI_RGB, 24, 240)), S_OK);
    EXPECT_EQ(accepts(video(MEDIASUBTYPE_RGB24, BI_RGB, 24, -240)), S_OK);
    EXPECT_EQ(accepts(video(MEDIASUBTYPE_RGB32, BI_RGB, 32, 240)), S_OK);
    EXPECT_EQ(accepts(video(mjpg, mjpg.Data1, 24, 240)), S_OK);
    EXPECT_EQ(accepts(audio(WAVE_FORMAT_PCM, 16, 1)), S_OK);
    EXPECT_EQ(accepts(audio(WAVE_FORMAT_PCM, 8, 2)), S_OK);
    // A bitmap whose bit count contradicts its subtype, a code no AVI reader knows, MP3, a stream.
    EXPECT_EQ(accepts(video(MEDIASUBTYPE_RGB24, BI_RGB, 32, 240)), S_FALSE);
    EXPECT_EQ(accepts(video(unknown, unknown.Data1, 24, 240)), S_FALSE);
    EXPECT_EQ(accepts(video(MEDIASUBTYPE_RGB24, BI_RGB, 24, 0)), S_FALSE);
    EXPECT_EQ(accepts(audio(0x55, 16, 2)), S_FALSE);
    EXPECT_EQ(accepts(CMediaType(&MEDIATYPE_Stream)), S_FALSE);
}

// Frames go where their stamps put them: skipped slots stay empty (the file keeps the recording's
// duration) and a frame stamped before its predecessor follows it.
TEST_F(AviWriting, TimeStampsPlaceTheFrames) {
    SourceScript script;
    script.starts = {0, 1000000, 2000000, 5000000, 4000000, 7000000};
    Build(script);
    Record();

    const auto probe = Probe(path);
    EXPECT_EQ(Field(probe, "streams.stream.0.nb_frames"), "8");
    EXPECT_NEAR(NumberField(probe, "format.duration"), 0.8, 0.001);
    std::vector<long long> positions;
    for (const PacketInfo& p : Packets(path, 0)) positions.push_back(p.dts);
    EXPECT_EQ(positions, (std::vector<long long>{0, 1, 2, 5, 6, 7}));
    EXPECT_EQ(DecodedFrameNumbers(path, 320, 240), (std::vector<long>{0, 1, 2, 3, 4, 5}));
}

// The recorder's stamps at 30 frames per second are multiples of 333,333 x 100 ns, and its type
// states no frame length: the first frame's duration sets the rate.
TEST_F(AviWriting, FrameLengthComesFromTheFirstFrame) {
    SourceScript script;
    script.frameLength = 333333;
    script.starts = RegularStarts(30, 333333);
    Build(script);
    Record();
    const auto probe = Probe(path);
    EXPECT_EQ(Field(probe, "streams.stream.0.r_frame_rate"), "10000000/333333");
    EXPECT_EQ(Field(probe, "streams.stream.0.nb_frames"), "30");
    EXPECT_NEAR(NumberField(probe, "format.duration"), 1.0, 0.001);
}

TEST_F(AviWriting, Rgb32AndTopDownBitmapsAreStoredBottomUp) {
    SourceScript script;
    script.rgb32 = true;
    script.topDown = true;
    script.typeFrameLength = 500000;
    script.frameLength = 500000;
    script.starts = RegularStarts(4, 500000);
    Build(script);
    Record();
    const auto probe = Probe(path);
    EXPECT_EQ(Field(probe, "streams.stream.0.r_frame_rate"), "20/1");
    EXPECT_EQ(Field(probe, "streams.stream.0.pix_fmt"), "bgra");
    const auto pictures = DecodePictures(path, 320, 240);
    ASSERT_EQ(pictures.size(), 4u);
    for (long n = 0; n < 4; ++n) EXPECT_TRUE(pictures[n] == ScriptPicture(320, 240, n)) << n;
}

// A stop finishes the file as the end of the stream does; so does releasing a running graph.
TEST_F(AviWriting, StoppingOrReleasingTheGraphFinishesTheFile) {
    SourceScript script;
    script.starts = RegularStarts(5, 1000000);
    script.endOfStream = false;
    Build(script);
    ASSERT_EQ(control->Run(), S_OK);
    ASSERT_TRUE(WaitForScript(source));
    ASSERT_EQ(control->Stop(), S_OK);
    EXPECT_EQ(DecodedFrameNumbers(path, 320, 240), (std::vector<long>{0, 1, 2, 3, 4}));

    const std::string second = TempDir() + "/released.avi";
    ASSERT_EQ(SetOutputFile(writer, second), S_OK);
    ComPtr<IBaseFilter> more(CreateScriptedSource(script));
    graph->RemoveFilter(source);
    source.Reset();
    graph->AddFilter(more, L"Source 2");
    ASSERT_EQ(graph->Connect(GetPin(more, 0, nullptr), GetUnconnectedPin(mux, 1)), S_OK);
    ASSERT_EQ(control->Run(), S_OK);
    ASSERT_TRUE(WaitForScript(more));
    more.Reset();
    mux.Reset();
    writer.Reset();
    control.Reset();
    graph.Reset();
    const auto probe = Probe(second);
    EXPECT_EQ(Field(probe, "streams.stream.0.nb_frames"), "5");
    EXPECT_EQ(DecodedFrameNumbers(second, 320, 240), (std::vector<long>{0, 1, 2, 3, 4}));
}

// Stopped before the first frame: still a file that opens, with no frames in it.
TEST_F(AviWriting, ARecordingWithoutFramesStillOpens) {
    SourceScript script;
    script.endOfStream = false;
    Build(script);
    ASSERT_EQ(control->Run(), S_OK);
    ASSERT_EQ(control->Stop(), S_OK);
    const auto probe = Probe(path);
    EXPECT_EQ(Field(probe, "format.format_name"), "avi");
    EXPECT_EQ(Field(probe, "streams.stream.0.codec_name"), "rawvideo");
    EXPECT_TRUE(DecodePictures(path, 320, 240).empty());
}

TEST_F(AviWriting, AnUnwritablePathFailsTheRunCleanly) {
    SourceScript script;
    script.starts = RegularStarts(3, 1000000);
    Build(script);
    // No folder of that name.
    ASSERT_EQ(SetOutputFile(writer, TempDir() + "/missing/out.avi"), S_OK);
    EXPECT_EQ(control->Run(), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    OAFilterState state = -1;
    EXPECT_EQ(control->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
    // A folder where the file should be.
    ASSERT_EQ(SetOutputFile(writer, TempDir()), S_OK);
    EXPECT_EQ(control->Run(), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    // A drive that is not there (D: is absent until its folder exists).
    ComPtr<IFileSinkFilter> sink;
    writer->QueryInterface(IID_IFileSinkFilter, sink.Out());
    ASSERT_EQ(sink->SetFileName(L"D:\\video\\out.avi", nullptr), S_OK);
    EXPECT_EQ(control->Run(), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));

    // What the failed runs reported (a mux that started before the writer refused, and wrote
    // into nothing) is not about the recording that follows.
    ComPtr<IMediaEventEx> events;
    ASSERT_EQ(graph->QueryInterface(IID_IMediaEventEx, events.Out()), S_OK);
    long code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    while (events->GetEvent(&code, &p1, &p2, 0) == S_OK) events->FreeEventParams(code, p1, p2);

    // The same graph records once the name is usable: Windows paths go through the drive map.
    std::filesystem::create_directories(DriveC() + "/rec");
    ASSERT_EQ(sink->SetFileName(L"C:\\rec\\movie.AVI", nullptr), S_OK);
    Record();
    EXPECT_EQ(DecodedFrameNumbers(DriveC() + "/rec/movie.AVI", 320, 240),
              (std::vector<long>{0, 1, 2}));
}

TEST_F(AviWriting, FreshWriterAnswersItsFileAndTakesANewOne) {
    ComPtr<IFileSinkFilter> sink;
    ASSERT_EQ(writer->QueryInterface(IID_IFileSinkFilter, sink.Out()), S_OK);
    LPOLESTR name = nullptr;
    AM_MEDIA_TYPE mt{};
    ASSERT_EQ(sink->GetCurFile(&name, &mt), S_OK);
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name, L"");
    EXPECT_TRUE(mt.majortype == MEDIATYPE_Stream);
    CoTaskMemFree(name);
    // What the recorder does: hand the type it was given back with the new name.
    ASSERT_EQ(sink->SetFileName(L"C:\\a.avi", &mt), S_OK);
    FreeMediaType(mt);
    ASSERT_EQ(sink->GetCurFile(&name, nullptr), S_OK);
    EXPECT_STREQ(name, L"C:\\a.avi");
    CoTaskMemFree(name);
    EXPECT_EQ(sink->SetFileName(nullptr, nullptr), E_POINTER);
    EXPECT_EQ(sink->SetFileName(L"", nullptr), E_INVALIDARG);
    EXPECT_EQ(sink->GetCurFile(nullptr, nullptr), E_POINTER);
    // No run without a file: the name cannot change under a running writer either.
    SourceScript script;
    script.starts = RegularStarts(2, 1000000);
    script.endOfStream = false;
    Build(script);
    ASSERT_EQ(control->Run(), S_OK);
    EXPECT_EQ(sink->SetFileName(L"C:\\b.avi", nullptr), VFW_E_WRONG_STATE);
}

}  // namespace
}  // namespace lumacap::test
