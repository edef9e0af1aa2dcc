// The virtual devices as a driver user sees them: capabilities and formats, controls, the frame
// stamp's robustness, the microphone's formats, buffers and tone, and configuration via sim.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include <lumacap/sim.h>

#include "common/GraphFixture.h"
#include "platform/system/codecs/Codecs.h"
#include "platform/system/hw/TestPattern.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/pixdesc.h>
}

namespace lumacap::test {
namespace {

class VirtualDevices : public SimTest {};

IAMStreamConfig* StreamConfigOf(IBaseFilter* filter) {
    ComPtr<IPin> pin(FindPinByDirection(filter, PINDIR_OUTPUT));
    IAMStreamConfig* config = nullptr;
    if (pin) pin->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(&config));
    return config;
}

TEST_F(VirtualDevices, CameraReportsItsCapabilitiesInRealRecords) {
    ComPtr<IBaseFilter> camera(BindDevice(CLSID_VideoInputDeviceCategory, 0));
    ASSERT_NE(camera.p, nullptr);
    ComPtr<IAMStreamConfig> config(StreamConfigOf(camera));
    ASSERT_NE(config.p, nullptr);
    int count = 0, size = 0;
    ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    EXPECT_EQ(size, 128);
    const auto expected = sim::DefaultCameraConfig().capabilities;
    ASSERT_EQ(count, static_cast<int>(expected.size()));
    bool sizes320 = false, sizes1080 = false;
    for (int i = 0; i < count; ++i) {
        VIDEO_STREAM_CONFIG_CAPS caps;
        AM_MEDIA_TYPE* mt = nullptr;
        ASSERT_EQ(config->GetStreamCaps(i, &mt, reinterpret_cast<BYTE*>(&caps)), S_OK);
        ASSERT_EQ(mt->formattype, FORMAT_VideoInfo);
        const auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat);
        EXPECT_EQ(vih->bmiHeader.biWidth, expected[i].width);
        EXPECT_EQ(caps.InputSize.cx, expected[i].width);
        EXPECT_EQ(caps.MaxOutputSize.cy, expected[i].height);
        EXPECT_EQ(vih->AvgTimePerFrame,
                  static_cast<REFERENCE_TIME>(10000000.0 / expected[i].framesPerSecond));
        EXPECT_EQ(caps.MinFrameInterval, vih->AvgTimePerFrame);
        sizes320 |= vih->bmiHeader.biWidth == 320;
        sizes1080 |= vih->bmiHeader.biHeight == 1080;
        DeleteMediaType(mt);
    }
    EXPECT_TRUE(sizes320 && sizes1080);
    AM_MEDIA_TYPE* mt = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps;
    EXPECT_EQ(config->GetStreamCaps(count, &mt, reinterpret_cast<BYTE*>(&caps)), S_FALSE);
    EXPECT_EQ(config->GetStreamCaps(-1, &mt, reinterpret_cast<BYTE*>(&caps)), E_INVALIDARG);
    EXPECT_EQ(config->GetStreamCaps(0, nullptr, reinterpret_cast<BYTE*>(&caps)), E_POINTER);

    // The current format is the default one until SetFormat chooses another.
    ASSERT_EQ(config->GetFormat(&mt), S_OK);
    EXPECT_EQ(mt->subtype, MEDIASUBTYPE_YUY2);
    DeleteMediaType(mt);
    AM_MEDIA_TYPE* mjpg = CameraCapability(camera, "MJPG", 1280, 720);
    ASSERT_EQ(config->SetFormat(mjpg), S_OK);
    ASSERT_EQ(config->GetFormat(&mt), S_OK);
    EXPECT_EQ(mt->subtype, MEDIASUBTYPE_MJPG);
    EXPECT_EQ(reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat)->bmiHeader.biWidth, 1280);
    DeleteMediaType(mt);
    // A size the camera does not have is refused.
    reinterpret_cast<VIDEOINFOHEADER*>(mjpg->pbFormat)->bmiHeader.biWidth = 1000;
    EXPECT_EQ(config->SetFormat(mjpg), VFW_E_INVALIDMEDIATYPE);
    EXPECT_EQ(config->SetFormat(nullptr), E_POINTER);
    DeleteMediaType(mjpg);
}

TEST_F(VirtualDevices, ControlsHaveWebcamRangesAndBrightnessChangesThePicture) {
    ComPtr<IBaseFilter> camera(BindDevice(CLSID_VideoInputDeviceCategory, 0));
    ComPtr<IAMVideoProcAmp> procAmp;
    ComPtr<IAMCameraControl> cameraControl;
    ASSERT_EQ(camera->QueryInterface(IID_IAMVideoProcAmp, procAmp.Out()), S_OK);
    ASSERT_EQ(camera->QueryInterface(IID_IAMCameraControl, cameraControl.Out()), S_OK);
    long min, max, step, def, flags, value;
    ASSERT_EQ(procAmp->GetRange(VideoProcAmp_Brightness, &min, &max, &step, &def, &flags), S_OK);
    EXPECT_EQ(min, -64);
    EXPECT_EQ(max, 64);
    EXPECT_EQ(def, 0);
    EXPECT_EQ(flags, VideoProcAmp_Flags_Manual);
    ASSERT_EQ(procAmp->GetRange(VideoProcAmp_WhiteBalance, &min, &max, &step, &def, &flags), S_OK);
    EXPECT_EQ(min, 2800);
    EXPECT_EQ(max, 6500);
    EXPECT_EQ(flags, VideoProcAmp_Flags_Auto | VideoProcAmp_Flags_Manual);
    ASSERT_EQ(procAmp->Get(VideoProcAmp_WhiteBalance, &value, &flags), S_OK);
    EXPECT_EQ(flags, VideoProcAmp_Flags_Auto);
    // The two interfaces are distinct controls: exposure is a camera control only.
    ASSERT_EQ(cameraControl->GetRange(CameraControl_Exposure, &min, &max, &step, &def, &flags),
              S_OK);
    EXPECT_EQ(min, -13);
    EXPECT_EQ(max, -1);
    EXPECT_EQ(procAmp->GetRange(CameraControl_Exposure, &min, &max, &step, &def, &flags),
              S_OK);  // property 4 = sharpness
    EXPECT_EQ(max, 7);
    EXPECT_EQ(cameraControl->Set(CameraControl_Exposure, -20, CameraControl_Flags_Manual),
              E_INVALIDARG);
    EXPECT_EQ(procAmp->Set(VideoProcAmp_Brightness, 10, VideoProcAmp_Flags_Auto), E_INVALIDARG);
    EXPECT_EQ(procAmp->Set(VideoProcAmp_ColorEnable, 1, VideoProcAmp_Flags_Manual),
              HRESULT_FROM_WIN32(ERROR_NOT_FOUND));
    ASSERT_EQ(cameraControl->Set(CameraControl_Exposure, -5, CameraControl_Flags_Manual), S_OK);
    long exposure = 0;
    ASSERT_TRUE(sim::GetCameraControl(0, true, CameraControl_Exposure, &exposure, &flags));
    EXPECT_EQ(exposure, -5);
    EXPECT_EQ(flags, CameraControl_Flags_Manual);

    ComPtr<ISpecifyPropertyPages> pages;
    ASSERT_EQ(camera->QueryInterface(IID_ISpecifyPropertyPages, pages.Out()), S_OK);
    CAUUID list{};
    ASSERT_EQ(pages->GetPages(&list), S_OK);
    EXPECT_GE(list.cElems, 1u);
    CoTaskMemFree(list.pElems);

    // Brightness brightens the bars of the next frames; the stamp stays readable.
    auto whiteBar = [](int brightness) {
        hw::FrameRenderer renderer;
        hw::PatternAdjust adjust;
        adjust.brightness = brightness;
        EXPECT_TRUE(renderer.Configure(AV_PIX_FMT_BGR24, false, 320, 240, adjust));
        std::vector<uint8_t> frame(static_cast<size_t>(renderer.MaxSize()));
        renderer.Render(7, frame.data(), static_cast<long>(frame.size()));
        EXPECT_EQ(sim::ReadFrameNumber(frame.data(), 320, 240), 7);
        return frame[(239 - 100) * 960 + 10 * 3];  // bar 0, blue byte
    };
    EXPECT_EQ(whiteBar(0), 191);
    EXPECT_EQ(whiteBar(40), 231);
    EXPECT_EQ(whiteBar(-64), 127);
}

// The frame number survives what recording and composition do to a picture.
TEST_F(VirtualDevices, FrameNumberSurvivesScalingAndCompression) {
    hw::FrameRenderer renderer;
    ASSERT_TRUE(renderer.Configure(AV_PIX_FMT_BGR24, false, 640, 480, {}));
    std::vector<uint8_t> frame(static_cast<size_t>(renderer.MaxSize()));
    for (long number : {0L, 1L, 123456L, 16777215L}) {
        ASSERT_GT(renderer.Render(number, frame.data(), static_cast<long>(frame.size())), 0);
        EXPECT_EQ(sim::ReadFrameNumber(frame.data(), 640, 480), number);
        // Reduced by whole factors.
        for (int factor : {2, 3, 4}) {
            const int w = 640 / factor, h = 480 / factor;
            std::vector<uint8_t> small(codecs::BufferSize(AV_PIX_FMT_BGR24, w, h));
            uint8_t* src[4];
            int srcStride[4];
            uint8_t* dst[4];
            int dstStride[4];
            codecs::DescribeBuffer(AV_PIX_FMT_BGR24, 640, 480, true, frame.data(), src, srcStride);
            codecs::DescribeBuffer(AV_PIX_FMT_BGR24, w, h, true, small.data(), dst, dstStride);
            codecs::Scaler scaler;
            ASSERT_TRUE(scaler.Convert(AV_PIX_FMT_BGR24, 640, 480, src, srcStride, AV_PIX_FMT_BGR24,
                                       w, h, dst, dstStride));
            EXPECT_EQ(sim::ReadFrameNumber(small.data(), w, h), number) << "reduced by " << factor;
        }
        // Through a lossy MPEG-4 encode at a low bit rate and back.
        codecs::VideoEncoder encoder;
        ASSERT_TRUE(
            encoder.Open(AV_CODEC_ID_MPEG4, AV_PIX_FMT_YUV420P, 640, 480, 0, 300000, 30, 1));
        std::vector<uint8_t> yuv(codecs::BufferSize(AV_PIX_FMT_YUV420P, 640, 480));
        uint8_t* src[4];
        int srcStride[4];
        uint8_t* planes[4];
        int strides[4];
        codecs::DescribeBuffer(AV_PIX_FMT_BGR24, 640, 480, true, frame.data(), src, srcStride);
        codecs::DescribeBuffer(AV_PIX_FMT_YUV420P, 640, 480, false, yuv.data(), planes, strides);
        codecs::Scaler toYuv;
        ASSERT_TRUE(toYuv.Convert(AV_PIX_FMT_BGR24, 640, 480, src, srcStride, AV_PIX_FMT_YUV420P,
                                  640, 480, planes, strides));
        std::vector<uint8_t> packet;
        const uint8_t* const cplanes[4] = {planes[0], planes[1], planes[2], planes[3]};
        ASSERT_TRUE(encoder.Encode(cplanes, strides, 0, packet, nullptr));
        ASSERT_FALSE(packet.empty());
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
        AVCodecContext* ctx = avcodec_alloc_context3(codec);
        ASSERT_EQ(avcodec_open2(ctx, codec, nullptr), 0);
        packet.resize(packet.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        AVPacket* pkt = av_packet_alloc();
        pkt->data = packet.data();
        pkt->size = static_cast<int>(packet.size() - AV_INPUT_BUFFER_PADDING_SIZE);
        AVFrame* decoded = av_frame_alloc();
        ASSERT_EQ(avcodec_send_packet(ctx, pkt), 0);
        avcodec_send_packet(ctx, nullptr);
        ASSERT_EQ(avcodec_receive_frame(ctx, decoded), 0);
        std::vector<uint8_t> back(frame.size());
        codecs::DescribeBuffer(AV_PIX_FMT_BGR24, 640, 480, true, back.data(), planes, strides);
        codecs::Scaler toRgb;
        ASSERT_TRUE(toRgb.Convert(static_cast<AVPixelFormat>(decoded->format), 640, 480,
                                  decoded->data, decoded->linesize, AV_PIX_FMT_BGR24, 640, 480,
                                  planes, strides));
        EXPECT_EQ(sim::ReadFrameNumber(back.data(), 640, 480), number) << "after MPEG-4";
        av_frame_free(&decoded);
        av_packet_free(&pkt);
        avcodec_free_context(&ctx);
    }
    // A picture without a stamp reads as none.
    std::vector<uint8_t> grey(frame.size(), 128);
    EXPECT_EQ(sim::ReadFrameNumber(grey.data(), 640, 480), -1);
    EXPECT_EQ(sim::ReadFrameNumber(nullptr, 640, 480), -1);
    EXPECT_EQ(sim::ReadFrameNumber(grey.data(), 8, 8), -1);
}

// Every uncompressed layout the camera may list carries a readable stamp, RGB in either row order.
TEST_F(VirtualDevices, EveryDrawableLayoutCarriesTheStamp) {
    struct Case {
        AVPixelFormat format;
        bool bottomUp;
    };
    for (const Case& c : {Case{AV_PIX_FMT_BGR24, false},
                          {AV_PIX_FMT_BGRA, true},
                          {AV_PIX_FMT_UYVY422, true},
                          {AV_PIX_FMT_YUV420P, true},
                          {AV_PIX_FMT_NV12, true}}) {
        SCOPED_TRACE(av_get_pix_fmt_name(c.format));
        hw::FrameRenderer renderer;
        ASSERT_TRUE(renderer.Configure(c.format, false, 320, 240, {}, c.bottomUp));
        std::vector<uint8_t> frame(static_cast<size_t>(renderer.MaxSize()));
        ASSERT_GT(renderer.Render(4321, frame.data(), static_cast<long>(frame.size())), 0);
        std::vector<uint8_t> bgr(codecs::BufferSize(AV_PIX_FMT_BGR24, 320, 240));
        uint8_t *src[4], *dst[4];
        int srcStride[4], dstStride[4];
        codecs::DescribeBuffer(c.format, 320, 240, c.bottomUp, frame.data(), src, srcStride);
        codecs::DescribeBuffer(AV_PIX_FMT_BGR24, 320, 240, true, bgr.data(), dst, dstStride);
        codecs::Scaler scaler;
        ASSERT_TRUE(scaler.Convert(c.format, 320, 240, src, srcStride, AV_PIX_FMT_BGR24, 320, 240,
                                   dst, dstStride));
        EXPECT_EQ(sim::ReadFrameNumber(bgr.data(), 320, 240), 4321);
    }
}

TEST_F(VirtualDevices, MicrophoneHonoursFormatAndBufferNegotiation) {
    ComPtr<IBaseFilter> microphone(BindDevice(CLSID_AudioInputDeviceCategory, 0));
    ASSERT_NE(microphone.p, nullptr);
    ComPtr<IPin> pin(FindPinByDirection(microphone, PINDIR_OUTPUT));
    ComPtr<IAMStreamConfig> config;
    ComPtr<IAMBufferNegotiation> negotiation;
    ASSERT_EQ(pin->QueryInterface(IID_IAMStreamConfig, config.Out()), S_OK);
    ASSERT_EQ(pin->QueryInterface(IID_IAMBufferNegotiation, negotiation.Out()), S_OK);
    int count = 0, size = 0;
    ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    EXPECT_EQ(size, static_cast<int>(sizeof(AUDIO_STREAM_CONFIG_CAPS)));

    // The 11,025 Hz 16-bit mono type, found the way a recorder looks for it.
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(pin->EnumMediaTypes(&types), S_OK);
    AM_MEDIA_TYPE* chosen = nullptr;
    AM_MEDIA_TYPE* mt = nullptr;
    while (!chosen && types->Next(1, &mt, nullptr) == S_OK) {
        const auto* wfx = reinterpret_cast<WAVEFORMATEX*>(mt->pbFormat);
        if (mt->formattype == FORMAT_WaveFormatEx && mt->cbFormat == 18 &&
            wfx->nSamplesPerSec == 11025 && wfx->wBitsPerSample == 16 && wfx->nChannels == 1)
            chosen = mt;
        else
            DeleteMediaType(mt);
    }
    ASSERT_NE(chosen, nullptr);
    ALLOCATOR_PROPERTIES props{6, 2048, 2, 0};
    ASSERT_EQ(negotiation->SuggestAllocatorProperties(&props), S_OK);
    ASSERT_EQ(config->SetFormat(chosen), S_OK);
    DeleteMediaType(chosen);

    ComPtr<IGraphBuilder> graph;
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                     graph.Out());
    ComPtr<ISampleGrabber> grabber;
    CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_ISampleGrabber,
                     grabber.Out());
    AM_MEDIA_TYPE pcm{};
    pcm.majortype = MEDIATYPE_Audio;
    pcm.subtype = MEDIASUBTYPE_PCM;
    grabber->SetMediaType(&pcm);
    ComPtr<IBaseFilter> grabberFilter;
    grabber->QueryInterface(IID_IBaseFilter, grabberFilter.Out());
    ComPtr<IBaseFilter> renderer;
    CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                     renderer.Out());
    graph->AddFilter(microphone, L"Audio");
    graph->AddFilter(grabberFilter, L"Sample Grabber2");
    graph->AddFilter(renderer, L"Renderer");
    ComPtr<IPin> grabIn(FindPinByDirection(grabberFilter, PINDIR_INPUT));
    ComPtr<IPin> grabOut(FindPinByDirection(grabberFilter, PINDIR_OUTPUT));
    ComPtr<IPin> rendIn(FindPinByDirection(renderer, PINDIR_INPUT));
    ASSERT_EQ(graph->Connect(pin, grabIn), S_OK);
    ASSERT_EQ(graph->Connect(grabOut, rendIn), S_OK);
    ALLOCATOR_PROPERTIES actual{};
    ASSERT_EQ(negotiation->GetAllocatorProperties(&actual), S_OK);
    EXPECT_EQ(actual.cbBuffer, 2048);
    EXPECT_EQ(actual.cBuffers, 6);

    FrameCollector buffers;
    grabber->SetCallback(&buffers, 1);
    ComPtr<IMediaControl> control;
    graph->QueryInterface(IID_IMediaControl, control.Out());
    ASSERT_EQ(control->Run(), S_OK);
    // 1,024 samples at 11,025 Hz: a buffer every 93 ms, in real time.
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(buffers.WaitFor(3, 3000));
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(250));
    ASSERT_EQ(control->Stop(), S_OK);
    grabber->SetCallback(nullptr, 1);
    const std::vector<uint8_t> last = buffers.LastFrame();
    ASSERT_EQ(last.size(), 2048u);
    // A 440 Hz tone at half scale: mean absolute value 0.5 * 32767 * 2 / pi.
    double sum = 0;
    for (size_t i = 0; i + 1 < last.size(); i += 2) {
        int16_t s;
        std::memcpy(&s, &last[i], 2);
        sum += std::abs(s);
    }
    EXPECT_NEAR(sum / 1024.0, 0.5 * 32767.0 * 2.0 / M_PI, 600.0);
}

TEST_F(VirtualDevices, SilentMicrophoneDeliversZerosAndReportsItsRemoval) {
    sim::VirtualMicrophoneConfig quiet = sim::DefaultMicrophoneConfig();
    quiet.silence = true;
    quiet.formats = {{8000, 16, 1}};
    sim::ConfigureMicrophone(0, quiet);
    ComPtr<IGraphBuilder> graph;
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                     graph.Out());
    ComPtr<IBaseFilter> microphone(BindDevice(CLSID_AudioInputDeviceCategory, 0));
    ComPtr<ISampleGrabber> grabber;
    CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_ISampleGrabber,
                     grabber.Out());
    ComPtr<IBaseFilter> grabberFilter;
    grabber->QueryInterface(IID_IBaseFilter, grabberFilter.Out());
    graph->AddFilter(microphone, L"Audio");
    graph->AddFilter(grabberFilter, L"Grabber");
    ComPtr<IPin> out(FindPinByDirection(microphone, PINDIR_OUTPUT));
    ComPtr<IPin> in(FindPinByDirection(grabberFilter, PINDIR_INPUT));
    ComPtr<IAMBufferNegotiation> negotiation;
    out->QueryInterface(IID_IAMBufferNegotiation, negotiation.Out());
    ALLOCATOR_PROPERTIES props{4, 800, 2, 0};  // 50 ms buffers
    ASSERT_EQ(negotiation->SuggestAllocatorProperties(&props), S_OK);
    ASSERT_EQ(graph->Connect(out, in), S_OK);
    EXPECT_EQ(negotiation->SuggestAllocatorProperties(&props), VFW_E_ALREADY_CONNECTED);
    FrameCollector buffers;
    grabber->SetCallback(&buffers, 1);
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEvent> events;
    graph->QueryInterface(IID_IMediaControl, control.Out());
    graph->QueryInterface(IID_IMediaEvent, events.Out());
    ASSERT_EQ(control->Run(), S_OK);
    ASSERT_TRUE(buffers.WaitFor(2, 3000));
    const std::vector<uint8_t> last = buffers.LastFrame();
    ASSERT_EQ(last.size(), 800u);
    EXPECT_TRUE(std::all_of(last.begin(), last.end(), [](uint8_t b) { return b == 0; }));
    ASSERT_TRUE(sim::UnplugMicrophone(0));
    long code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 1000), S_OK);
    EXPECT_EQ(code, EC_DEVICE_LOST);
    EXPECT_EQ(p2, 0);
    events->FreeEventParams(code, p1, p2);
    ASSERT_EQ(control->Stop(), S_OK);
    grabber->SetCallback(nullptr, 1);
}

TEST_F(VirtualDevices, SimulationAddsReordersAndConfiguresDevices) {
    EXPECT_EQ(sim::CameraCount(), 1);
    sim::VirtualCameraConfig second = sim::DefaultCameraConfig();
    second.friendlyName = "Second Camera";
    second.displayName = "@device:pnp:\\\\?\\usb#vid_046d&pid_0825&mi_00#abc";
    second.capabilities = {{"MJPG", 320, 240, 15.0, false}, {"YUY2", 160, 120, 30.0, true}};
    EXPECT_EQ(sim::AddCamera(second, 0), 0);
    EXPECT_EQ(CountDevices(CLSID_VideoInputDeviceCategory), 2);
    {
        ComPtr<IBaseFilter> first(BindDevice(CLSID_VideoInputDeviceCategory, 0));
        ComPtr<IAMStreamConfig> config(StreamConfigOf(first));
        int count = 0, size = 0;
        config->GetNumberOfCapabilities(&count, &size);
        EXPECT_EQ(count, 2);
        VIDEO_STREAM_CONFIG_CAPS caps;
        AM_MEDIA_TYPE* mt = nullptr;
        ASSERT_EQ(config->GetStreamCaps(1, &mt, reinterpret_cast<BYTE*>(&caps)), S_OK);
        EXPECT_EQ(mt->formattype, FORMAT_VideoInfo2);
        EXPECT_EQ(caps.guid, FORMAT_VideoInfo2);
        DeleteMediaType(mt);
    }
    ASSERT_TRUE(sim::MoveCamera(0, 1));
    EXPECT_EQ(sim::GetCameraConfig(1).friendlyName, "Second Camera");
    EXPECT_FALSE(sim::MoveCamera(0, 5));
    EXPECT_FALSE(sim::RemoveCamera(7));
    ASSERT_TRUE(sim::RemoveCamera(0));
    EXPECT_EQ(sim::GetCameraConfig(0).friendlyName, "Second Camera");

    // An unplugged device leaves the enumeration; a moniker taken before cannot bind it.
    ComPtr<ICreateDevEnum> devEnum;
    CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                     devEnum.Out());
    ComPtr<IEnumMoniker> monikers;
    ASSERT_EQ(devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0), S_OK);
    ComPtr<IMoniker> moniker;
    ASSERT_EQ(monikers->Next(1, &moniker, nullptr), S_OK);
    ASSERT_TRUE(sim::UnplugCamera(0));
    EXPECT_EQ(CountDevices(CLSID_VideoInputDeviceCategory), 0);
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.Out()),
              HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED));
    ASSERT_TRUE(sim::ReplugCamera(0));
    EXPECT_EQ(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.Out()), S_OK);

    sim::Reset();
    EXPECT_EQ(sim::CameraCount(), 1);
    EXPECT_EQ(sim::GetCameraConfig(0).friendlyName, "Lumacap Virtual Camera");
    EXPECT_EQ(sim::MicrophoneCount(), 1);
}

}  // namespace
}  // namespace lumacap::test
