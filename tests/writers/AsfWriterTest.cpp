// The WM ASF Writer: its profile (streams, media types, bit rates) as the recorder reads and
// changes it, pins that follow the profile, and ASF files that FFmpeg reads back.
#include <chrono>
#include <cmath>
#include <thread>

#include <lumacap/sim.h>

#include "devices/Devices.h"
#include "writers/WriterSupport.h"

namespace lumacap::test {
namespace {

// A stream's media type read with the format SDK's size-query protocol.
std::vector<BYTE> ReadMediaType(IWMStreamConfig* stream) {
    ComPtr<IWMMediaProps> props;
    if (FAILED(stream->QueryInterface(IID_IWMMediaProps, props.Out()))) return {};
    DWORD size = 0;
    if (FAILED(props->GetMediaType(nullptr, &size))) return {};
    std::vector<BYTE> buffer(size);
    if (FAILED(props->GetMediaType(reinterpret_cast<WM_MEDIA_TYPE*>(buffer.data()), &size)))
        return {};
    return buffer;
}

WM_MEDIA_TYPE* TypeOf(std::vector<BYTE>& buffer) {
    return reinterpret_cast<WM_MEDIA_TYPE*>(buffer.data());
}

class AsfWriting : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IGraphBuilder, graph.Out()),
                  S_OK);
        ASSERT_EQ(graph->QueryInterface(IID_IMediaControl, control.Out()), S_OK);
        asf.p = CreateFilter(CLSID_WMAsfWriter);
        ASSERT_NE(asf.p, nullptr);
        ASSERT_EQ(asf->QueryInterface(IID_IConfigAsfWriter, config.Out()), S_OK);
        ASSERT_EQ(graph->AddFilter(asf, L"ASF Writer"), S_OK);
    }
    void TearDown() override {
        if (control) control->Stop();
        source.Reset();
        config.Reset();
        asf.Reset();
        control.Reset();
        graph.Reset();
        SimTest::TearDown();
    }

    // What the recorder does to the writer's profile: drop the audio stream unless sound is
    // recorded, then give the video stream the output size, bit rate and frame rate.
    HRESULT Configure(LONG width, LONG height, DWORD kbps, int fps, bool audio) {
        ComPtr<IWMProfile> profile;
        HRESULT hr = config->GetCurrentProfile(&profile);
        if (FAILED(hr)) return hr;
        DWORD count = 0;
        profile->GetStreamCount(&count);
        if (count >= 2 && !audio) {
            hr = profile->RemoveStreamByNumber(1);
            if (FAILED(hr)) return hr;
            --count;
        }
        for (DWORD i = 0; i < count; ++i) {
            ComPtr<IWMStreamConfig> stream;
            profile->GetStream(i, &stream);
            std::vector<BYTE> buffer = ReadMediaType(stream);
            WM_MEDIA_TYPE* mt = TypeOf(buffer);
            if (mt->majortype != WMMEDIATYPE_Video) continue;
            auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat);
            vih->rcSource = vih->rcTarget = {0, 0, width, height};
            vih->dwBitRate = kbps * 1000;
            vih->AvgTimePerFrame = 10000000LL / fps;
            vih->bmiHeader.biWidth = width;
            vih->bmiHeader.biHeight = height;
            vih->bmiHeader.biSizeImage = GetBitmapSize(&vih->bmiHeader);
            mt->lSampleSize = vih->bmiHeader.biSizeImage;
            stream->SetBitrate(kbps * 1000);
            ComPtr<IWMMediaProps> props;
            stream->QueryInterface(IID_IWMMediaProps, props.Out());
            props->SetMediaType(mt);
            profile->ReconfigStream(stream);
        }
        return config->ConfigureFilterUsingProfile(profile);
    }

    // A scripted source into "Video Input 01", connected before the profile is configured.
    void ConnectSource(const SourceScript& script) {
        source.p = CreateScriptedSource(script);
        ASSERT_EQ(graph->AddFilter(source, L"Source"), S_OK);
        ASSERT_EQ(graph->Connect(GetPin(source, 0, nullptr), GetPin(asf, 1, "Video Input 01")),
                  S_OK);
    }

    void Record(const std::string& path) {
        ASSERT_EQ(SetOutputFile(asf, path), S_OK);
        ASSERT_EQ(control->Run(), S_OK);
        ASSERT_TRUE(WaitForScript(source));
        ASSERT_EQ(WaitForCompletion(graph, 10000), EC_COMPLETE);
        ASSERT_EQ(control->Stop(), S_OK);
    }

    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<IBaseFilter> asf;
    ComPtr<IConfigAsfWriter> config;
    ComPtr<IBaseFilter> source;
};

TEST_F(AsfWriting, DefaultProfileIsWindowsMediaAudioAndVideo) {
    EXPECT_EQ(PinNames(asf), (std::vector<std::wstring>{L"Audio Input 01", L"Video Input 01"}));
    ComPtr<IWMProfile> profile;
    ASSERT_EQ(config->GetCurrentProfile(&profile), S_OK);
    DWORD count = 0;
    ASSERT_EQ(profile->GetStreamCount(&count), S_OK);
    ASSERT_EQ(count, 2u);

    ComPtr<IWMStreamConfig> audio;
    ASSERT_EQ(profile->GetStream(0, &audio), S_OK);
    WORD number = 0;
    GUID type;
    audio->GetStreamNumber(&number);
    audio->GetStreamType(&type);
    EXPECT_EQ(number, 1);
    EXPECT_TRUE(type == WMMEDIATYPE_Audio);
    // The size query, a buffer too small, then the type.
    ComPtr<IWMMediaProps> props;
    ASSERT_EQ(audio->QueryInterface(IID_IWMMediaProps, props.Out()), S_OK);
    DWORD size = 0;
    ASSERT_EQ(props->GetMediaType(nullptr, &size), S_OK);
    EXPECT_EQ(size, sizeof(WM_MEDIA_TYPE) + sizeof(WAVEFORMATEX));
    std::vector<BYTE> small(sizeof(WM_MEDIA_TYPE));
    DWORD smallSize = static_cast<DWORD>(small.size());
    EXPECT_EQ(props->GetMediaType(reinterpret_cast<WM_MEDIA_TYPE*>(small.data()), &smallSize),
              ASF_E_BUFFERTOOSMALL);
    EXPECT_EQ(smallSize, size);
    std::vector<BYTE> audioType = ReadMediaType(audio);
    ASSERT_FALSE(audioType.empty());
    EXPECT_TRUE(TypeOf(audioType)->subtype == WMMEDIASUBTYPE_WMAudioV8);
    const auto* wfx = reinterpret_cast<WAVEFORMATEX*>(TypeOf(audioType)->pbFormat);
    EXPECT_EQ(wfx->wFormatTag, WAVE_FORMAT_WMAUDIO2);
    EXPECT_EQ(wfx->nSamplesPerSec, 44100u);
    EXPECT_EQ(wfx->nChannels, 2);

    ComPtr<IWMStreamConfig> video;
    ASSERT_EQ(profile->GetStream(1, &video), S_OK);
    video->GetStreamNumber(&number);
    EXPECT_EQ(number, 2);
    std::vector<BYTE> videoType = ReadMediaType(video);
    ASSERT_FALSE(videoType.empty());
    EXPECT_TRUE(TypeOf(videoType)->majortype == WMMEDIATYPE_Video);
    EXPECT_TRUE(TypeOf(videoType)->formattype == WMFORMAT_VideoInfo);
    const auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(TypeOf(videoType)->pbFormat);
    EXPECT_EQ(vih->bmiHeader.biCompression, WMMEDIASUBTYPE_WMV2.Data1);
    EXPECT_EQ(vih->bmiHeader.biWidth, 320);
    EXPECT_EQ(vih->bmiHeader.biHeight, 240);
    EXPECT_EQ(vih->AvgTimePerFrame, 333333);
    ComPtr<IWMStreamConfig> none;
    EXPECT_EQ(profile->GetStream(2, &none), E_INVALIDARG);

    // The profile handed out is a copy: changing it changes nothing until it is configured.
    ASSERT_EQ(profile->RemoveStreamByNumber(1), S_OK);
    EXPECT_EQ(profile->RemoveStreamByNumber(1), NS_E_INVALID_STREAM);
    ComPtr<IWMProfile> again;
    config->GetCurrentProfile(&again);
    again->GetStreamCount(&count);
    EXPECT_EQ(count, 2u);

    ComPtr<IFileSinkFilter> sink;
    ASSERT_EQ(asf->QueryInterface(IID_IFileSinkFilter, sink.Out()), S_OK);
    LPOLESTR name = nullptr;
    AM_MEDIA_TYPE mt{};
    ASSERT_EQ(sink->GetCurFile(&name, &mt), S_OK);
    EXPECT_STREQ(name, L"");
    EXPECT_TRUE(mt.subtype == MEDIASUBTYPE_Asf);
    CoTaskMemFree(name);
    FreeMediaType(mt);
}

// The recorder connects before it configures: the connected video input must survive the new
// profile, whose size, frame rate and bit rate the file then has.
TEST_F(AsfWriting, ConfiguredProfileShapesTheFile) {
    SourceScript script;
    script.width = 640;
    script.height = 480;
    script.starts = RegularStarts(20, 1000000);
    ConnectSource(script);
    // A stream that goes away takes its input's connection with it.
    ComPtr<IBaseFilter> microphone(BindDevice(CLSID_AudioInputDeviceCategory, 0));
    graph->AddFilter(microphone, L"Audio");
    IPin* sound = GetPin(microphone, 0, nullptr);
    ASSERT_EQ(graph->Connect(sound, GetPin(asf, 1, "Audio Input 01")), S_OK);
    ASSERT_EQ(Configure(320, 240, 500, 10, false), S_OK);
    EXPECT_EQ(PinNames(asf), (std::vector<std::wstring>{L"Video Input 01"}));
    EXPECT_TRUE(GetPin(asf, 1, "Video Input 01")->ConnectedTo(&ComPtr<IPin>()) == S_OK);
    EXPECT_EQ(sound->ConnectedTo(&ComPtr<IPin>()), VFW_E_NOT_CONNECTED);
    graph->RemoveFilter(microphone);

    const std::string path = TempDir() + "/movie.wmv";
    Record(path);
    const auto probe = Probe(path);
    EXPECT_EQ(Field(probe, "format.format_name"), "asf");
    EXPECT_EQ(Field(probe, "format.nb_streams"), "1");
    EXPECT_EQ(Field(probe, "streams.stream.0.codec_name"), "wmv2");
    EXPECT_EQ(Field(probe, "streams.stream.0.width"), "320");
    EXPECT_EQ(Field(probe, "streams.stream.0.height"), "240");
    EXPECT_NEAR(NumberField(probe, "format.duration"), 2.0, 0.15);
    std::vector<long> expected;
    for (long n = 0; n < 20; ++n) expected.push_back(n);
    EXPECT_EQ(DecodedFrameNumbers(path, 320, 240), expected);
    std::vector<long long> times;
    for (const PacketInfo& p : Packets(path, 0)) times.push_back(p.dts);
    ASSERT_EQ(times.size(), 20u);
    EXPECT_EQ(times[1] - times[0], 100);
    EXPECT_EQ(times[19] - times[0], 1900);
}

TEST_F(AsfWriting, BitRateOfTheProfileSetsTheFileSize) {
    SourceScript script;
    script.starts = RegularStarts(60, 333333);
    script.frameLength = 333333;
    script.noise = 10;
    std::vector<double> rates;
    for (DWORD kbps : {300u, 3000u}) {
        ConnectSource(script);
        ASSERT_EQ(Configure(320, 240, kbps, 30, false), S_OK);
        const std::string path = TempDir() + "/rate" + std::to_string(kbps) + ".asf";
        Record(path);
        const auto probe = Probe(path);
        rates.push_back(NumberField(probe, "format.size") * 8 /
                        NumberField(probe, "format.duration") / 1000.0);
        graph->RemoveFilter(source);
        source.Reset();
    }
    // The low rate is kept near its target; the high one buys a much bigger file.
    EXPECT_LT(rates[0], 300 * 1.5);
    EXPECT_GT(rates[1], rates[0] * 3);
}

// Frames stamped into later slots leave the time they skipped; one stamped before its
// predecessor comes after it; frames faster than the profile's rate are dropped.
TEST_F(AsfWriting, TimeStampsPlaceTheFramesAtTheProfileRate) {
    SourceScript script;
    script.starts = {0, 1000000, 2000000, 5000000, 4000000, 6200000, 8000000};
    ConnectSource(script);
    ASSERT_EQ(Configure(320, 240, 300, 10, false), S_OK);
    const std::string path = TempDir() + "/stamps.asf";
    Record(path);
    std::vector<long long> times;
    for (const PacketInfo& p : Packets(path, 0)) times.push_back(p.dts);
    ASSERT_EQ(times.size(), 6u);
    for (long long& t : times) t -= times.front();
    EXPECT_EQ(times, (std::vector<long long>{0, 100, 200, 500, 600, 800}));
    EXPECT_EQ(DecodedFrameNumbers(path, 320, 240), (std::vector<long>{0, 1, 2, 3, 4, 6}));
}

TEST_F(AsfWriting, SoundAndPicturesFromTheDevices) {
    ComPtr<IBaseFilter> camera(BindDevice(CLSID_VideoInputDeviceCategory, 0));
    ComPtr<IBaseFilter> microphone(BindDevice(CLSID_AudioInputDeviceCategory, 0));
    ComPtr<IPin> capture(FindPinByDirection(camera, PINDIR_OUTPUT));
    ComPtr<IAMStreamConfig> cameraConfig;
    capture->QueryInterface(IID_IAMStreamConfig, cameraConfig.Out());
    AM_MEDIA_TYPE* rgb = CameraCapability(camera, "RGB24", 320, 240);
    ASSERT_EQ(cameraConfig->SetFormat(rgb), S_OK);
    DeleteMediaType(rgb);
    ChooseVoiceFormat(ComPtr<IPin>(FindPinByDirection(microphone, PINDIR_OUTPUT)));
    graph->AddFilter(camera, L"Camera");
    graph->AddFilter(microphone, L"Audio");
    ASSERT_EQ(graph->Connect(capture, GetPin(asf, 1, "Video Input 01")), S_OK);
    ASSERT_EQ(graph->Connect(GetPin(microphone, 0, nullptr), GetUnconnectedPin(asf, 1)), S_OK);
    ASSERT_EQ(Configure(320, 240, 400, 30, true), S_OK);
    EXPECT_EQ(PinNames(asf), (std::vector<std::wstring>{L"Audio Input 01", L"Video Input 01"}));

    const std::string path = TempDir() + "/both.asf";
    ASSERT_EQ(SetOutputFile(asf, path), S_OK);
    ASSERT_EQ(control->Run(), S_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ASSERT_EQ(control->Stop(), S_OK);

    const auto probe = Probe(path);
    EXPECT_EQ(Field(probe, "streams.stream.0.codec_name"), "wmav2");
    EXPECT_EQ(Field(probe, "streams.stream.0.sample_rate"), "44100");
    EXPECT_EQ(Field(probe, "streams.stream.0.channels"), "2");
    EXPECT_EQ(Field(probe, "streams.stream.1.codec_name"), "wmv2");
    const auto frames = DecodedFrameNumbers(path, 320, 240, 1);
    const auto samples = DecodeAudio(path, 0);
    ASSERT_GE(frames.size(), 20u);
    for (size_t i = 1; i < frames.size(); ++i) EXPECT_GT(frames[i], frames[i - 1]);
    EXPECT_NEAR(static_cast<double>(samples.size()) / 44100.0,
                static_cast<double>(frames.size()) / 30.0, 0.4);
    // The 440 Hz tone at half scale survives the codec.
    double energy = 0;
    for (int16_t s : samples) energy += static_cast<double>(s) * s;
    const double rms = std::sqrt(energy / static_cast<double>(samples.size()));
    EXPECT_NEAR(rms, 0.5 * 32767 / std::sqrt(2.0), 3000);
}

TEST_F(AsfWriting, ProfilesItCannotEncodeAreRefused) {
    // Windows Media Video 8 needs an even width; Windows Media Audio 2 needs bits to work with.
    EXPECT_EQ(Configure(321, 240, 300, 10, true), VFW_E_UNSUPPORTED_VIDEO);
    ComPtr<IWMProfile> profile;
    config->GetCurrentProfile(&profile);
    ComPtr<IWMStreamConfig> audio;
    profile->GetStream(0, &audio);
    audio->SetBitrate(4000);
    ASSERT_EQ(profile->ReconfigStream(audio), S_OK);
    EXPECT_EQ(config->ConfigureFilterUsingProfile(profile), VFW_E_UNSUPPORTED_AUDIO);
    // A stream keeps its kind, and the profile knows its streams by number.
    std::vector<BYTE> videoType;
    {
        ComPtr<IWMStreamConfig> video;
        profile->GetStream(1, &video);
        videoType = ReadMediaType(video);
    }
    ComPtr<IWMMediaProps> props;
    audio->QueryInterface(IID_IWMMediaProps, props.Out());
    EXPECT_EQ(props->SetMediaType(TypeOf(videoType)), E_INVALIDARG);
    audio->SetStreamNumber(9);
    EXPECT_EQ(profile->ReconfigStream(audio), NS_E_INVALID_STREAM);
    EXPECT_EQ(profile->AddStream(audio), S_OK);
    EXPECT_EQ(profile->AddStream(audio), E_INVALIDARG);
    profile->RemoveStreamByNumber(1);
    profile->RemoveStreamByNumber(2);
    profile->RemoveStreamByNumber(9);
    EXPECT_EQ(config->ConfigureFilterUsingProfile(profile), E_INVALIDARG);
    EXPECT_EQ(config->ConfigureFilterUsingProfile(nullptr), E_POINTER);
    // Refusals leave the writer as it was.
    EXPECT_EQ(PinNames(asf), (std::vector<std::wstring>{L"Audio Input 01", L"Video Input 01"}));

    // Not while running.
    SourceScript script;
    script.starts = RegularStarts(2, 1000000);
    script.endOfStream = false;
    ConnectSource(script);
    ASSERT_EQ(Configure(320, 240, 300, 10, false), S_OK);
    ASSERT_EQ(SetOutputFile(asf, TempDir() + "/running.asf"), S_OK);
    ASSERT_EQ(control->Run(), S_OK);
    EXPECT_EQ(Configure(640, 480, 300, 10, false), VFW_E_NOT_STOPPED);
}

TEST_F(AsfWriting, ARecordingWithoutFramesStillOpens) {
    SourceScript script;
    script.endOfStream = false;
    ConnectSource(script);
    const std::string path = TempDir() + "/empty.asf";
    ASSERT_EQ(SetOutputFile(asf, path), S_OK);
    ASSERT_EQ(control->Run(), S_OK);
    ASSERT_EQ(control->Stop(), S_OK);
    const auto probe = Probe(path);
    EXPECT_EQ(Field(probe, "format.format_name"), "asf");
    EXPECT_EQ(Field(probe, "streams.stream.0.codec_name"), "wmv2");
}

TEST_F(AsfWriting, AnUnwritablePathFailsTheRunCleanly) {
    SourceScript script;
    script.starts = RegularStarts(3, 1000000);
    ConnectSource(script);
    ASSERT_EQ(Configure(320, 240, 300, 10, false), S_OK);
    EXPECT_EQ(control->Run(), HRESULT_FROM_WIN32(ERROR_INVALID_NAME));  // no file name yet
    ASSERT_EQ(SetOutputFile(asf, TempDir() + "/missing/out.asf"), S_OK);
    EXPECT_EQ(control->Run(), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    OAFilterState state = -1;
    control->GetState(0, &state);
    EXPECT_EQ(state, State_Stopped);
    Record(TempDir() + "/out.asf");
    EXPECT_EQ(DecodedFrameNumbers(TempDir() + "/out.asf", 320, 240), (std::vector<long>{0, 1, 2}));
}

}  // namespace
}  // namespace lumacap::test
