// Sound from the microphone into an AVI file, as a recording takes it: the format chosen with
// IAMStreamConfig and the buffers suggested with IAMBufferNegotiation (11,025 Hz, 16-bit mono in
// buffers of 1,024 samples), through a sample grabber, interleaved with camera pictures.
#include <chrono>
#include <cmath>
#include <thread>

#include <lumacap/sim.h>

#include "devices/Devices.h"
#include "writers/WriterSupport.h"

namespace lumacap::test {
namespace {

class MicrophoneRecording : public SimTest {
protected:
    void TearDown() override {
        if (grabber) grabber->SetCallback(nullptr, 1);
        if (control) control->Stop();
        grabber.Reset();
        control.Reset();
        graph.Reset();
        SimTest::TearDown();
    }
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<ISampleGrabber> grabber;
};

TEST_F(MicrophoneRecording, VoiceFormatArrivesInBuffersOfAThousandSamples) {
    const std::string path = TempDir() + "/voice.avi";
    struct Lengths : FrameCollector {
        STDMETHODIMP BufferCB(double t, BYTE* buffer, long length) override {
            {
                std::lock_guard<std::mutex> lock(m);
                lengths.push_back(length);
            }
            return FrameCollector::BufferCB(t, buffer, length);
        }
        std::mutex m;
        std::vector<long> lengths;
    } collector;
    {
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IGraphBuilder, graph.Out()),
                  S_OK);
        graph->QueryInterface(IID_IMediaControl, control.Out());
        ComPtr<IBaseFilter> camera(BindDevice(CLSID_VideoInputDeviceCategory, 0));
        ComPtr<IBaseFilter> microphone(BindDevice(CLSID_AudioInputDeviceCategory, 0));
        ASSERT_NE(microphone.p, nullptr);
        ComPtr<IPin> capture(FindPinByDirection(camera, PINDIR_OUTPUT));
        ComPtr<IAMStreamConfig> cameraConfig;
        capture->QueryInterface(IID_IAMStreamConfig, cameraConfig.Out());
        AM_MEDIA_TYPE* rgb = CameraCapability(camera, "RGB24", 320, 240);
        ASSERT_EQ(cameraConfig->SetFormat(rgb), S_OK);
        DeleteMediaType(rgb);
        ComPtr<IPin> sound(FindPinByDirection(microphone, PINDIR_OUTPUT));
        ChooseVoiceFormat(sound);

        ASSERT_EQ(CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_ISampleGrabber, grabber.Out()),
                  S_OK);
        AM_MEDIA_TYPE pcm{};
        pcm.majortype = MEDIATYPE_Audio;
        pcm.subtype = MEDIASUBTYPE_PCM;
        grabber->SetMediaType(&pcm);
        grabber->SetBufferSamples(TRUE);
        grabber->SetOneShot(FALSE);
        grabber->SetCallback(&collector, 1);
        ComPtr<IBaseFilter> grabberFilter;
        grabber->QueryInterface(IID_IBaseFilter, grabberFilter.Out());
        ComPtr<IBaseFilter> mux(CreateFilter(CLSID_AviDest));
        ComPtr<IBaseFilter> writer(CreateFilter(CLSID_FileWriter));
        graph->AddFilter(camera, L"Camera");
        graph->AddFilter(microphone, L"Audio");
        graph->AddFilter(grabberFilter, L"Sample Grabber2");
        graph->AddFilter(mux, L"AVI Mux");
        graph->AddFilter(writer, L"File Writer");
        ASSERT_EQ(graph->Connect(sound, GetPin(grabberFilter, 1, nullptr)), S_OK);
        ASSERT_EQ(graph->Connect(GetPin(mux, 0, nullptr), GetPin(writer, 1, nullptr)), S_OK);
        ASSERT_EQ(graph->Connect(capture, GetUnconnectedPin(mux, 1)), S_OK);
        ASSERT_EQ(graph->Connect(GetPin(grabberFilter, 0, nullptr), GetUnconnectedPin(mux, 1)),
                  S_OK);
        ASSERT_EQ(SetOutputFile(writer, path), S_OK);

        ComPtr<IAMBufferNegotiation> negotiation;
        sound->QueryInterface(IID_IAMBufferNegotiation, negotiation.Out());
        ALLOCATOR_PROPERTIES granted{};
        ASSERT_EQ(negotiation->GetAllocatorProperties(&granted), S_OK);
        EXPECT_EQ(granted.cBuffers, 6);
        EXPECT_EQ(granted.cbBuffer, 2048);
        EXPECT_EQ(granted.cbAlign, 2);

        ASSERT_EQ(control->Run(), S_OK);
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        ASSERT_EQ(control->Stop(), S_OK);
        grabber->SetCallback(nullptr, 1);
    }
    {
        std::lock_guard<std::mutex> lock(collector.m);
        ASSERT_GE(collector.lengths.size(), 10u);
        for (long length : collector.lengths) EXPECT_EQ(length, 2048);
    }
    const auto probe = Probe(path);
    EXPECT_EQ(Field(probe, "streams.stream.1.codec_name"), "pcm_s16le");
    EXPECT_EQ(Field(probe, "streams.stream.1.sample_rate"), "11025");
    EXPECT_EQ(Field(probe, "streams.stream.1.channels"), "1");
    const auto chunks = Packets(path, 1);
    ASSERT_GE(chunks.size(), 10u);
    for (const PacketInfo& chunk : chunks) EXPECT_EQ(chunk.size, 2048);

    // Sound and pictures cover the same time, and the tone is there at its level.
    const auto frames = DecodedFrameNumbers(path, 320, 240);
    const auto samples = DecodeAudio(path, 1);
    ASSERT_FALSE(frames.empty());
    const double videoSeconds = static_cast<double>(frames.size()) / 30.0;
    const double audioSeconds = static_cast<double>(samples.size()) / 11025.0;
    EXPECT_NEAR(audioSeconds, videoSeconds, 0.35);
    int peak = 0;
    for (int16_t s : samples) peak = std::max(peak, std::abs(static_cast<int>(s)));
    EXPECT_NEAR(peak, 16384, 200);
}

}  // namespace
}  // namespace lumacap::test
