// The installed video compressors: RGB frames in, compressed pictures out that a decoder (not
// ours) turns back into the same frames.
#include <cstring>

#include <lumacap/sim.h>

#include "common/GraphFixture.h"
#include "devices/Devices.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

namespace lumacap::test {
namespace {

struct CompressorCase {
    const char* name;
    AVCodecID codec;
    uint32_t fourcc;
};

class Compressors : public SimTest, public ::testing::WithParamInterface<CompressorCase> {};

TEST_P(Compressors, CompressedFramesDecodeToTheCameraFrames) {
    const CompressorCase c = GetParam();
    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               graph.Out()),
              S_OK);
    ComPtr<IBaseFilter> camera(BindDevice(CLSID_VideoInputDeviceCategory, 0));
    AM_MEDIA_TYPE* rgb = CameraCapability(camera, "RGB24", 320, 240);
    ComPtr<IPin> capture(FindPinByDirection(camera, PINDIR_OUTPUT));
    ComPtr<IAMStreamConfig> config;
    capture->QueryInterface(IID_IAMStreamConfig, config.Out());
    ASSERT_EQ(config->SetFormat(rgb), S_OK);
    DeleteMediaType(rgb);
    ComPtr<IBaseFilter> compressor(CreateCompressor(1, c.name));
    ASSERT_NE(compressor.p, nullptr);
    ComPtr<ISampleGrabber> grabber;
    CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_ISampleGrabber,
                     grabber.Out());
    ComPtr<IBaseFilter> grabberFilter;
    grabber->QueryInterface(IID_IBaseFilter, grabberFilter.Out());
    ComPtr<IBaseFilter> renderer;
    CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                     renderer.Out());
    graph->AddFilter(camera, L"Video Capture");
    graph->AddFilter(compressor, L"VideoCompressor");
    graph->AddFilter(grabberFilter, L"Grabber");
    graph->AddFilter(renderer, L"Renderer");
    ASSERT_EQ(graph->Connect(capture, GetPin(compressor, 1, nullptr)), S_OK);
    ASSERT_EQ(graph->Connect(GetPin(compressor, 0, nullptr), GetPin(grabberFilter, 1, nullptr)),
              S_OK);
    ASSERT_EQ(graph->Connect(GetPin(grabberFilter, 0, nullptr), GetPin(renderer, 1, nullptr)),
              S_OK);
    AM_MEDIA_TYPE mt{};
    ASSERT_EQ(grabber->GetConnectedMediaType(&mt), S_OK);
    EXPECT_EQ(mt.subtype.Data1, c.fourcc);
    EXPECT_EQ(reinterpret_cast<VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader.biCompression, c.fourcc);
    // Codec set-up bytes, where the codec has them, follow the bitmap header.
    const std::vector<uint8_t> extradata(mt.pbFormat + sizeof(VIDEOINFOHEADER),
                                         mt.pbFormat + mt.cbFormat);
    EXPECT_EQ(reinterpret_cast<VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader.biSize,
              sizeof(BITMAPINFOHEADER) + extradata.size());
    FreeMediaType(mt);

    struct Keep : FrameCollector {
        STDMETHODIMP SampleCB(double t, IMediaSample* s) override {
            std::lock_guard<std::mutex> lock(m);
            BYTE* p = nullptr;
            s->GetPointer(&p);
            packets.emplace_back(p, p + s->GetActualDataLength());
            sync.push_back(s->IsSyncPoint() == S_OK);
            REFERENCE_TIME start = 0, stop = 0;
            starts.push_back(s->GetTime(&start, &stop) == S_OK && stop > start ? start : -1);
            return FrameCollector::SampleCB(t, s);
        }
        std::mutex m;
        std::vector<std::vector<uint8_t>> packets;
        std::vector<bool> sync;
        std::vector<REFERENCE_TIME> starts;
    } keep;
    grabber->SetCallback(&keep, 0);
    ComPtr<IMediaControl> control;
    graph->QueryInterface(IID_IMediaControl, control.Out());
    ASSERT_EQ(control->Run(), S_OK);
    ASSERT_TRUE(keep.WaitFor(5));
    ASSERT_EQ(control->Stop(), S_OK);
    grabber->SetCallback(nullptr, 0);

    // Decode with FFmpeg's decoder and read the stamps back.
    const AVCodec* codec = avcodec_find_decoder(c.codec);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    ctx->width = 320;
    ctx->height = 240;
    ctx->codec_tag = c.fourcc;
    if (!extradata.empty()) {
        ctx->extradata =
            static_cast<uint8_t*>(av_mallocz(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        std::memcpy(ctx->extradata, extradata.data(), extradata.size());
        ctx->extradata_size = static_cast<int>(extradata.size());
    }
    ASSERT_EQ(avcodec_open2(ctx, codec, nullptr), 0);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    std::vector<uint8_t> bgr(320 * 240 * 3);
    ASSERT_TRUE(keep.sync[0]) << "the first picture is a key frame";
    // Encoded on a thread of the compressor's own, the pictures keep the camera's order and
    // stamps.
    for (size_t i = 1; i < 5; ++i) EXPECT_GT(keep.starts[i], keep.starts[i - 1]) << i;
    for (size_t i = 0; i < 5; ++i) {
        std::vector<uint8_t> data = keep.packets[i];
        data.resize(data.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        pkt->data = data.data();
        pkt->size = static_cast<int>(keep.packets[i].size());
        ASSERT_EQ(avcodec_send_packet(ctx, pkt), 0);
        ASSERT_EQ(avcodec_receive_frame(ctx, frame), 0);
        SwsContext* sws =
            sws_getContext(320, 240, static_cast<AVPixelFormat>(frame->format), 320, 240,
                           AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
        uint8_t* dst[4] = {bgr.data() + 239 * 960, nullptr, nullptr, nullptr};
        int dstStride[4] = {-960, 0, 0, 0};
        sws_scale(sws, frame->data, frame->linesize, 0, 240, dst, dstStride);
        sws_freeContext(sws);
        EXPECT_EQ(sim::ReadFrameNumber(bgr.data(), 320, 240), static_cast<long>(i));
    }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
}

INSTANTIATE_TEST_SUITE_P(
    Installed, Compressors,
    ::testing::Values(CompressorCase{"MJPEG Compressor", AV_CODEC_ID_MJPEG, 0x47504A4D},
                      CompressorCase{"MPEG-4 Video Compressor", AV_CODEC_ID_MPEG4, 0x34504D46},
                      CompressorCase{"H.264 Video Compressor", AV_CODEC_ID_H264, 0x34363248},
                      CompressorCase{"Ut Video Lossless Compressor", AV_CODEC_ID_UTVIDEO,
                                     0x47524C55}),
    [](const ::testing::TestParamInfo<CompressorCase>& info) {
        switch (info.param.codec) {
            case AV_CODEC_ID_MJPEG:
                return std::string("Mjpeg");
            case AV_CODEC_ID_MPEG4:
                return std::string("Mpeg4");
            case AV_CODEC_ID_H264:
                return std::string("H264");
            default:
                return std::string("UtVideo");
        }
    });

// The category lists every compressor by its friendly name, in a fixed order.
class CompressorCategory : public SimTest {};

TEST_F(CompressorCategory, ListsTheInstalledCompressorsByName) {
    std::vector<std::string> names;
    ComPtr<ICreateDevEnum> devEnum;
    ASSERT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ICreateDevEnum, devEnum.Out()),
              S_OK);
    ComPtr<IEnumMoniker> monikers;
    ASSERT_EQ(devEnum->CreateClassEnumerator(CLSID_VideoCompressorCategory, &monikers, 0), S_OK);
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, &moniker, nullptr) == S_OK) {
        ComPtr<IPropertyBag> bag;
        ASSERT_EQ(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.Out()), S_OK);
        VARIANT name;
        VariantInit(&name);
        ASSERT_EQ(bag->Read(L"FriendlyName", &name, nullptr), S_OK);
        names.emplace_back(name.bstrVal, name.bstrVal + SysStringLen(name.bstrVal));
        VariantClear(&name);
    }
    const std::vector<std::string> expected = {"MJPEG Compressor", "MPEG-4 Video Compressor",
                                               "H.264 Video Compressor",
                                               "Ut Video Lossless Compressor"};
    EXPECT_EQ(names, expected);
}

}  // namespace
}  // namespace lumacap::test
