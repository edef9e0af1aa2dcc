// The frame source filter as the media graph sees it: its pin, the types it proposes and accepts,
// its buffers, its frame lengths, and the pixels it delivers over each kind of connection.
#include <chrono>
#include <cstring>
#include <thread>

#include <lumacap/lumacap.h>

#include "common/GraphFixture.h"
#include "common/SimTest.h"
#include "common/TestAccess.h"
#include "framesource/FrameSourceSupport.h"

namespace lumacap::test {
namespace {

class FrameSourceTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        HRESULT hr = E_FAIL;
        m_filter = new CVideoMergeFilter(nullptr, &hr);
        m_filter->NonDelegatingAddRef();
        ASSERT_EQ(hr, S_OK);
        m_pin = m_filter->Pin();
        m_pin->SetRecorder(&m_recorder);
    }
    void TearDown() override {
        m_filter->NonDelegatingRelease();
        SimTest::TearDown();
    }

    CMediaType Proposed(int position) {
        CMediaType mt;
        EXPECT_EQ(m_pin->GetMediaType(position, &mt), S_OK);
        return mt;
    }
    static BITMAPINFOHEADER& Header(CMediaType& mt) {
        return reinterpret_cast<VIDEOINFOHEADER*>(mt.Format())->bmiHeader;
    }

    CDXRecorder m_recorder;
    CVideoMergeFilter* m_filter = nullptr;
    CVideoMergePin* m_pin = nullptr;
};

TEST_F(FrameSourceTest, OneOutPinProposesFourRgbTypesOfTheRecorderSizeInOrder) {
    CLSID clsid{};
    m_filter->GetClassID(&clsid);
    EXPECT_EQ(clsid, CLSID_VideoMergeFilter);
    ComPtr<IPin> pin;
    ASSERT_EQ(m_filter->FindPin(L"Out", &pin), S_OK);
    EXPECT_EQ(static_cast<IPin*>(pin), static_cast<IPin*>(m_pin));
    EXPECT_EQ(m_filter->GetPinCount(), 1);

    struct Expected {
        GUID subtype;
        WORD bits;
        DWORD compression;
        DWORD masks[3];
        DWORD sizeImage;
    };
    const Expected expected[] = {
        {MEDIASUBTYPE_RGB24, 24, BI_RGB, {0, 0, 0}, 921600},
        {MEDIASUBTYPE_RGB32, 32, BI_RGB, {0, 0, 0}, 1228800},
        {MEDIASUBTYPE_RGB565, 16, BI_BITFIELDS, {0xF800, 0x07E0, 0x001F}, 614400},
        {MEDIASUBTYPE_RGB555, 16, BI_BITFIELDS, {0x7C00, 0x03E0, 0x001F}, 614400},
    };
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        CMediaType mt = Proposed(i);
        EXPECT_EQ(mt.majortype, MEDIATYPE_Video);
        EXPECT_EQ(mt.subtype, expected[i].subtype);
        EXPECT_TRUE(mt.formattype == FORMAT_VideoInfo && mt.IsFixedSize() &&
                    !mt.IsTemporalCompressed());
        ASSERT_EQ(mt.FormatLength(), sizeof(VIDEOINFO));
        const auto* vi = reinterpret_cast<const VIDEOINFO*>(mt.Format());
        EXPECT_TRUE(vi->bmiHeader.biSize == 40 && vi->bmiHeader.biPlanes == 1);
        EXPECT_EQ(vi->bmiHeader.biWidth, 640);
        EXPECT_EQ(vi->bmiHeader.biHeight, 480) << "positive: bottom-up";
        EXPECT_EQ(vi->bmiHeader.biBitCount, expected[i].bits);
        EXPECT_EQ(vi->bmiHeader.biCompression, expected[i].compression);
        EXPECT_EQ(vi->bmiHeader.biSizeImage, expected[i].sizeImage);
        EXPECT_EQ(mt.GetSampleSize(), expected[i].sizeImage);
        EXPECT_EQ(vi->bmiHeader.biClrUsed, 0u);
        for (int m = 0; m < 3; ++m) EXPECT_EQ(vi->dwBitMasks[m], expected[i].masks[m]);
    }
    CMediaType mt;
    EXPECT_EQ(m_pin->GetMediaType(4, &mt), VFW_S_NO_MORE_ITEMS);
    EXPECT_EQ(m_pin->GetMediaType(-1, &mt), E_INVALIDARG);
    EXPECT_EQ(m_pin->GetMediaType(0, nullptr), E_POINTER);

    // Rows are padded to whole words; the size follows the recorder.
    m_recorder.SetVideoSize(638, 477);
    CMediaType odd = Proposed(0);
    EXPECT_EQ(Header(odd).biSizeImage, 1916u * 477u);
    // A size no frame can have offers nothing.
    m_recorder.SetVideoSize(0, 480);
    EXPECT_EQ(m_pin->GetMediaType(0, &mt), VFW_S_NO_MORE_ITEMS);
}

TEST_F(FrameSourceTest, AcceptsUncompressedRgbOfTheRecorderSizeOnly) {
    EXPECT_EQ(m_pin->CheckMediaType(nullptr), E_POINTER);
    // Whatever is offered is accepted.
    CMediaType offered;
    for (int i = 0; m_pin->GetMediaType(i, &offered) == S_OK; ++i)
        EXPECT_EQ(m_pin->CheckMediaType(&offered), S_OK) << i;
    // Palettised frames cannot be carried.
    CMediaType rgb8 = Proposed(0);
    rgb8.SetSubtype(&MEDIASUBTYPE_RGB8);
    Header(rgb8).biBitCount = 8;
    EXPECT_EQ(m_pin->CheckMediaType(&rgb8), E_INVALIDARG);

    struct Case {
        const char* what;
        void (*change)(CMediaType&);
    };
    const Case refused[] = {
        {"audio", [](CMediaType& mt) { mt.SetType(&MEDIATYPE_Audio); }},
        {"variable size", [](CMediaType& mt) { mt.SetVariableSize(); }},
        {"YUY2", [](CMediaType& mt) { mt.SetSubtype(&MEDIASUBTYPE_YUY2); }},
        {"no format", [](CMediaType& mt) { mt.ResetFormatBuffer(); }},
        {"short format", [](CMediaType& mt) { mt.ReallocFormatBuffer(40); }},
        {"one pixel wider", [](CMediaType& mt) { Header(mt).biWidth = 641; }},
        {"one row shorter", [](CMediaType& mt) { Header(mt).biHeight = 479; }},
        {"top-down", [](CMediaType& mt) { Header(mt).biHeight = -480; }},
    };
    for (const Case& c : refused) {
        CMediaType mt = Proposed(0);
        c.change(mt);
        EXPECT_EQ(m_pin->CheckMediaType(&mt), E_INVALIDARG) << c.what;
    }
    // The format type itself is not what decides.
    CMediaType other = Proposed(1);
    other.SetFormatType(&FORMAT_WaveFormatEx);
    EXPECT_EQ(m_pin->CheckMediaType(&other), S_OK);
    // A type of the old size no longer fits once the recorder's size changes.
    CMediaType old = Proposed(0);
    m_recorder.SetVideoSize(320, 240);
    EXPECT_EQ(m_pin->CheckMediaType(&old), E_INVALIDARG);
}

TEST_F(FrameSourceTest, TheAgreedTypeKeepsItsBitDepthAndGetsOneBufferOfItsPicture) {
    CMediaType rgb32 = Proposed(1);
    EXPECT_EQ(m_pin->SetMediaType(&rgb32), S_OK);
    EXPECT_EQ(CVideoMergePinTestAccess::BitDepth(*m_pin), 32);
    CMediaType twelve = Proposed(0);
    Header(twelve).biBitCount = 12;
    EXPECT_EQ(m_pin->SetMediaType(&twelve), E_INVALIDARG);
    EXPECT_EQ(CVideoMergePinTestAccess::BitDepth(*m_pin), 32);
    CMediaType none = Proposed(0);
    none.ResetFormatBuffer();
    EXPECT_EQ(m_pin->SetMediaType(&none), E_UNEXPECTED);

    CMediaType rgb24 = Proposed(0);
    ASSERT_EQ(m_pin->SetMediaType(&rgb24), S_OK);
    ALLOCATOR_PROPERTIES request{4, 10, 16, 8};
    GrantingAllocator exact(921600), less(921599), more(1 << 20);
    EXPECT_EQ(m_pin->DecideBufferSize(&exact, &request), S_OK);
    EXPECT_EQ(exact.requested.cBuffers, 1);
    EXPECT_EQ(exact.requested.cbBuffer, 921600);
    EXPECT_EQ(exact.requested.cbAlign, 16) << "alignment stays as downstream asked";
    EXPECT_EQ(exact.requested.cbPrefix, 8);
    EXPECT_EQ(m_pin->DecideBufferSize(&less, &request), E_FAIL);
    EXPECT_EQ(m_pin->DecideBufferSize(&more, &request), S_OK);
    GrantingAllocator failing(921600);
    failing.result = VFW_E_ALREADY_COMMITTED;
    EXPECT_EQ(m_pin->DecideBufferSize(&failing, &request), VFW_E_ALREADY_COMMITTED);

    // A type that leaves its image size out still gets a buffer that holds the picture.
    CMediaType unsized = Proposed(1);
    Header(unsized).biSizeImage = 0;
    ASSERT_EQ(m_pin->SetMediaType(&unsized), S_OK);
    EXPECT_EQ(m_pin->DecideBufferSize(&exact, &request), E_FAIL);
    EXPECT_EQ(exact.requested.cbBuffer, 1228800);
}

TEST_F(FrameSourceTest, FrameLengthFollowsTheRateInTensAndQualityChangesNothing) {
    // Tens, rounded halves up, within 10 to 30.
    const std::pair<UINT, REFERENCE_TIME> cases[] = {{0, 1000000}, {14, 1000000}, {15, 500000},
                                                     {24, 500000}, {25, 333333},  {1000, 333333}};
    for (auto [fps, length] : cases) {
        m_pin->SetFrameRate(fps);
        EXPECT_EQ(CVideoMergePinTestAccess::FrameLength(*m_pin), length) << fps;
    }
    EXPECT_EQ(m_pin->Notify(m_filter, Quality{Famine, 500, -10000, 0}), E_FAIL);
    EXPECT_EQ(CVideoMergePinTestAccess::FrameLength(*m_pin), 333333);
}

// Paints four pure colours and a grey into the first five pixels of the bottom row of each frame.
long PaintKnownPixels(unsigned char* buffer, long, void*) {
    const unsigned char bgr[5][3] = {
        {0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {255, 255, 255}, {0x84, 0x84, 0x84}};
    std::memcpy(buffer, bgr, sizeof(bgr));
    return 0;
}

struct Connection {
    const GUID* subtype;
    int bytesPerPixel;
    uint32_t pixels[5];
};

std::string ConnectionName(const ::testing::TestParamInfo<Connection>& info) {
    static const char* const names[] = {"Rgb24", "Rgb32", "Rgb565", "Rgb555"};
    return names[info.index];
}

class FrameSourceConnectionTest : public FrameSourceTest,
                                  public ::testing::WithParamInterface<Connection> {};

TEST_P(FrameSourceConnectionTest, DeliversComposedFramesConvertedForTheConnection) {
    const Connection& c = GetParam();
    m_recorder.SetVideoSize(6, 2);
    m_recorder.SetDxRecorderBuffCB(PaintKnownPixels, nullptr);
    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               graph.Out()),
              S_OK);
    auto* sink = new TestSink(c.subtype);
    sink->NonDelegatingAddRef();
    ASSERT_EQ(graph->AddFilter(m_filter, L"VideoMergeFilter"), S_OK);
    ASSERT_EQ(graph->AddFilter(sink, L"Sink"), S_OK);
    ASSERT_EQ(graph->Connect(m_pin, sink->GetPin(0)), S_OK);
    EXPECT_EQ(sink->ConnectedSubtype(), *c.subtype);
    ComPtr<IMediaControl> control;
    ASSERT_EQ(graph->QueryInterface(IID_IMediaControl, control.Out()), S_OK);
    ASSERT_EQ(control->Run(), S_OK);
    for (int i = 0; i < 500 && sink->Count() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    control->Stop();
    ASSERT_GE(sink->Count(), 2u);
    const std::vector<BYTE> data = sink->LastSample();
    const size_t stride = GDI_WIDTHBYTES(6 * c.bytesPerPixel * 8);
    ASSERT_GE(data.size(), stride * 2);
    for (int i = 0; i < 5; ++i) {
        uint32_t value = 0;
        std::memcpy(&value, data.data() + static_cast<size_t>(i) * c.bytesPerPixel,
                    static_cast<size_t>(c.bytesPerPixel));
        EXPECT_EQ(value, c.pixels[i]) << "pixel " << i;
    }
    graph.Reset();
    sink->NonDelegatingRelease();
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, FrameSourceConnectionTest,
    ::testing::Values(
        Connection{&MEDIASUBTYPE_RGB24, 3, {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x848484}},
        Connection{
            &MEDIASUBTYPE_RGB32, 4, {0x00FF0000, 0x0000FF00, 0x000000FF, 0x00FFFFFF, 0x00848484}},
        Connection{&MEDIASUBTYPE_RGB565, 2, {0xF800, 0x07E0, 0x001F, 0xFFFF, 0x8430}},
        Connection{&MEDIASUBTYPE_RGB555, 2, {0x7C00, 0x03E0, 0x001F, 0x7FFF, 0x4210}}),
    ConnectionName);

}  // namespace
}  // namespace lumacap::test
