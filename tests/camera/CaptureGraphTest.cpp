// Opening and closing the capture graph: refusals, every failing step with its text, the device
// check, both topologies, and what Close keeps.
#include <cctype>
#include <filesystem>
#include <functional>
#include <string>

#include <dshow.h>
#include <qedit.h>
#include <rotatefilter.h>

#include "CaptureFixture.h"

namespace lumacap::test {
namespace {

using CaptureGraphTest = CaptureTest;

// The names of the filters in a graph.
std::vector<std::string> FilterNames(IGraphBuilder* graph) {
    std::vector<std::string> names;
    IEnumFilters* filters = nullptr;
    if (!graph || FAILED(graph->EnumFilters(&filters))) return names;
    IBaseFilter* f = nullptr;
    while (filters->Next(1, &f, nullptr) == S_OK) {
        FILTER_INFO info{};
        f->QueryFilterInfo(&info);
        std::string name;
        for (const wchar_t* c = info.achName; *c; ++c) name += static_cast<char>(*c);
        names.push_back(name);
        if (info.pGraph) info.pGraph->Release();
        f->Release();
    }
    filters->Release();
    return names;
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The name of the filter a filter's first input pin is connected to.
std::string UpstreamOf(IGraphBuilder* graph, const wchar_t* filterName) {
    IBaseFilter* filter = nullptr;
    if (FAILED(graph->FindFilterByName(filterName, &filter))) return "";
    std::string name;
    IEnumPins* pins = nullptr;
    filter->EnumPins(&pins);
    IPin* pin = nullptr;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_DIRECTION dir;
        pin->QueryDirection(&dir);
        IPin* peer = nullptr;
        if (dir == PINDIR_INPUT && SUCCEEDED(pin->ConnectedTo(&peer))) {
            PIN_INFO info{};
            peer->QueryPinInfo(&info);
            FILTER_INFO fi{};
            info.pFilter->QueryFilterInfo(&fi);
            for (const wchar_t* c = fi.achName; *c; ++c) name += static_cast<char>(*c);
            if (fi.pGraph) fi.pGraph->Release();
            info.pFilter->Release();
            peer->Release();
        }
        pin->Release();
    }
    pins->Release();
    filter->Release();
    return name;
}

TEST_F(CaptureGraphTest, OpenRefusesAnUnconfiguredCameraAndLogsFirst) {
    for (unsigned mode : {0u, 1u, 2u}) {
        CDXCamera camera;
        camera.SetRenderMode(mode);
        ASSERT_EQ(camera.SetCameraIndex(0), 1);
        ASSERT_EQ(camera.SetResolutionIndex(0), 1);
        // Without a parent window, in every render mode.
        EXPECT_EQ(camera.Open(), 1);
        EXPECT_STREQ(camera.GetLastError(), "设备参数未初始化。");
        EXPECT_EQ(camera.GetCameraStatus(), CameraStatus_Closed);
    }
    CDXCamera noFormat;
    noFormat.SetCameraIndex(0);
    noFormat.SetParentWnd(m_parent);
    EXPECT_EQ(noFormat.Open(), 1);
    EXPECT_STREQ(noFormat.GetLastError(), "设备参数未初始化。");

    std::string logText;
    for (const auto& entry : std::filesystem::directory_iterator(DriveC() + "/kqllog"))
        logText += ReadWholeFile(entry.path().string());
    for (const char* line :
         {"DX Open,RenderMode:0", "DX Open,RenderMode:1", "DX Open,RenderMode:2"})
        EXPECT_NE(logText.find(line), std::string::npos) << line;
}

TEST_F(CaptureGraphTest, OpenOnARunningCameraKeepsItsGraph) {
    auto camera = MakeCamera(kYuy2_640x480, RenderMode_NullRenderer);
    ASSERT_EQ(camera->Open(), 0);
    IGraphBuilder* graph = CDXCameraTestAccess::Graph(*camera);
    EXPECT_EQ(camera->Open(), 0);
    EXPECT_STREQ(camera->GetLastError(), "设备已经在运行。");
    EXPECT_EQ(CDXCameraTestAccess::Graph(*camera), graph);
    // Paused, it is built again from scratch.
    ASSERT_EQ(camera->Pause(), 0);
    ASSERT_EQ(camera->Open(), 0);
    EXPECT_EQ(camera->GetCameraStatus(), CameraStatus_Running);
}

struct FailureCase {
    const char* name;
    std::function<void()> arm;
    const char* step;
    unsigned mode;
    bool rotate;
    HRESULT code;
};

TEST_F(CaptureGraphTest, EveryFailingStepLeavesItsTextAClosedCameraAndNoObjects) {
    const HRESULT E = E_FAIL;
    const HRESULT NOPE = VFW_E_CANNOT_CONNECT;
    const FailureCase cases[] = {
        {"graph", [&] { sim::ArmCreateFault(CLSID_FilterGraph, E); },
         " Failed to create FilterGraph.", 1, false, E},
        {"builder", [&] { sim::ArmCreateFault(CLSID_CaptureGraphBuilder2, E); },
         " Failed to create CaptureGraphBuilder2.", 1, false, E},
        {"set graph", [&] { sim::ArmFault("ICaptureGraphBuilder2::SetFiltergraph", E); },
         " Failed to SetFiltergraph.", 1, false, E},
        {"event", [&] { sim::ArmFault("IGraphBuilder::QueryInterface", E_NOINTERFACE, 1); },
         " Failed to QI IMediaEventEx.", 1, false, E_NOINTERFACE},
        {"control", [&] { sim::ArmFault("IGraphBuilder::QueryInterface", E_NOINTERFACE, 2); },
         " Failed to QI IMediaControl.", 1, false, E_NOINTERFACE},
        {"window", [&] { sim::ArmFault("IGraphBuilder::QueryInterface", E_NOINTERFACE, 3); },
         " Failed to  QI IVideoWindow.", 1, false, E_NOINTERFACE},
        {"enumerator", [&] { sim::ArmCreateFault(CLSID_SystemDeviceEnum, E); },
         " Failed to BindFilter.", 1, false, E},
        {"bind", [&] { sim::ArmFault("IMoniker::BindToObject", E); }, " Failed to BindFilter.", 1,
         false, E},
        {"add source", [&] { sim::ArmFault("IGraphBuilder::AddFilter", E, 1); },
         " Failed to Add Source Filter.", 1, false, E},
        {"format", [&] { sim::ArmFault("IAMStreamConfig::SetFormat", E); },
         " Failed to InitVideoSize.", 1, false, E},
        {"grabber", [&] { sim::ArmCreateFault(CLSID_SampleGrabber, E); },
         " Failed to create SampleGrabber.", 1, false, E},
        {"type", [&] { sim::ArmFault("ISampleGrabber::SetMediaType", E); },
         " Failed to SetMediaType.", 1, false, E},
        {"add grabber", [&] { sim::ArmFault("IGraphBuilder::AddFilter", E, 2); },
         " Failed to Add Sample Grabber Filter.", 1, false, E},
        {"video renderer", [&] { sim::ArmCreateFault(CLSID_VideoRenderer, E); },
         " Failed to create NullRenderer.", 0, false, E},
        {"null renderer", [&] { sim::ArmCreateFault(CLSID_NullRenderer, E); },
         " Failed to create NullRenderer.", 2, false, E},
        {"add video renderer", [&] { sim::ArmFault("IGraphBuilder::AddFilter", E, 3); },
         " Failed to Add  VideoRenderer Filter.", 0, false, E},
        {"add null renderer", [&] { sim::ArmFault("IGraphBuilder::AddFilter", E, 3); },
         " Failed to Add Null Renderer Filter.", 1, false, E},
        {"rotate", [&] { sim::ArmCreateFault(CLSID_RotateFilter, E); },
         " Failed to create Rotate90Filter.", 1, true, E},
        {"add rotate", [&] { sim::ArmFault("IGraphBuilder::AddFilter", E, 4); },
         " Failed to Add Rotate90Filter.", 1, true, E},
        {"connect 1", [&] { sim::ArmFault("IGraphBuilder::Connect", NOPE, 1); },
         " Failed to ConnectFilters,code=001.", 0, true, NOPE},
        {"connect 2", [&] { sim::ArmFault("IGraphBuilder::Connect", NOPE, 2); },
         " Failed to ConnectFilters,code=002.", 0, true, NOPE},
        {"connect 3", [&] { sim::ArmFault("IGraphBuilder::Connect", NOPE, 3); },
         " Failed to ConnectFilters,code=003.", 0, true, NOPE},
        {"no renderer to reach", [] {}, " Failed to ConnectFilters,code=003.", 7, true, E_POINTER},
        {"render stream", [&] { sim::ArmFault("ICaptureGraphBuilder2::RenderStream", NOPE); },
         " Failed to RenderStream.", 2, false, NOPE},
        {"buffer", [&] { sim::ArmFault("ISampleGrabber::SetBufferSamples", E); },
         " Failed to SetBufferSamples.", 1, false, E},
        {"one shot", [&] { sim::ArmFault("ISampleGrabber::SetOneShot", E); },
         " Failed to SetOneShot.", 1, false, E},
        {"callback", [&] { sim::ArmFault("ISampleGrabber::SetCallback", E); },
         " Failed to SetCallback.", 1, false, E},
        {"owner", [&] { sim::ArmFault("IVideoWindow::put_Owner", E); },
         " Failed to InitVideoWindowPos.", 0, false, E},
        {"visible", [&] { sim::ArmFault("IVideoWindow::put_Visible", E); },
         " Failed to InitVideoWindowPos.", 0, true, E},
        {"run", [&] { sim::ArmFault("IMediaControl::Run", E); }, " Failed to Run.", 2, false, E},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto camera = MakeCamera(kYuy2_640x480, c.mode);
        camera->SetRotatePreview(c.rotate ? 1 : 0);
        const long baseline = sim::LiveObjects();
        c.arm();
        EXPECT_EQ(camera->Open(), c.code);
        sim::DisarmFaults();
        EXPECT_EQ(sim::GbkToUtf8(camera->GetLastError()),
                  sim::GbkToUtf8(StepText(c.step, c.code).c_str()));
        EXPECT_EQ(camera->GetCameraStatus(), CameraStatus_Closed);
        EXPECT_FALSE(CDXCameraTestAccess::HoldsAnyInterface(*camera));
        EXPECT_EQ(sim::LiveObjects(), baseline) << "objects left by the failed open";
        EXPECT_FALSE(IsWindowVisible(PreviewOf(*camera)));
        EXPECT_EQ(RendererWindowIn(m_parent), nullptr);
    }
}

TEST_F(CaptureGraphTest, OnlyTheChosenDeviceIsOpened) {
    auto camera = MakeCamera(kYuy2_640x480, RenderMode_NullRenderer);
    // The identifier is compared without regard to case.
    std::string lower = camera->GetID();
    ASSERT_EQ(lower, "VID_1D6B&PID_0102");
    for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    CDXCameraTestAccess::ID(*camera) = lower.c_str();
    ASSERT_EQ(camera->Open(), 0);
    camera->Close();

    // Another device now stands at the chosen position.
    sim::VirtualCameraConfig other = sim::DefaultCameraConfig();
    other.displayName = "@device:pnp:\\\\?\\usb#vid_046d&pid_0825&mi_00#other";
    sim::AddCamera(other, 0);
    EXPECT_EQ(camera->Open(), 1);
    EXPECT_STREQ(camera->GetLastError(), "指定的设备未找到。");
    EXPECT_EQ(camera->GetCameraStatus(), CameraStatus_Closed);
    EXPECT_FALSE(CDXCameraTestAccess::HoldsAnyInterface(*camera));

    // Nothing at all at the position.
    sim::RemoveAllCameras();
    EXPECT_EQ(camera->Open(), 1);
    EXPECT_STREQ(camera->GetLastError(), "指定的设备未找到。");
}

TEST_F(CaptureGraphTest, TopologiesWithAndWithoutTheRotateFilter) {
    // Without rotation the builder renders the preview stream: the device has only a capture pin,
    // so a smart tee splits it, and a converter makes RGB for the grabber.
    auto plain = MakeCamera(kYuy2_640x480, RenderMode_NullRenderer);
    ASSERT_EQ(plain->Open(), 0);
    std::vector<std::string> names = FilterNames(CDXCameraTestAccess::Graph(*plain));
    for (const char* n :
         {"Video Capture", "Sample Grabber", "VideoRender", "Color Space Converter"})
        EXPECT_TRUE(Contains(names, n)) << n;
    EXPECT_FALSE(Contains(names, "RotateFilter"));
    EXPECT_EQ(UpstreamOf(CDXCameraTestAccess::Graph(*plain), L"VideoRender"), "Sample Grabber");
    plain->Close();

    // With rotation: capture -> grabber -> rotate -> renderer.
    auto rotated = MakeCamera(kMjpg_640x480, RenderMode_NullRenderer);
    rotated->SetRotatePreview(1);
    ASSERT_EQ(rotated->Open(), 0);
    IGraphBuilder* graph = CDXCameraTestAccess::Graph(*rotated);
    EXPECT_EQ(UpstreamOf(graph, L"VideoRender"), "RotateFilter");
    EXPECT_EQ(UpstreamOf(graph, L"RotateFilter"), "Sample Grabber");
    EXPECT_TRUE(Contains(FilterNames(graph), "MJPEG Decompressor"));

    // A render mode without a renderer and without rotation: the builder completes the stream.
    auto other = MakeCamera(kRgb24_640x480, 7);
    EXPECT_EQ(other->GetRenderMode(), 7u);
    EXPECT_EQ(other->Open(), 0) << sim::GbkToUtf8(other->GetLastError());
}

TEST_F(CaptureGraphTest, AFormatTheMediaTypesDoNotReachOpensInTheDevicesFormat) {
    FrameLog log(640, 480);  // outlives the camera, which streams into it until destroyed
    auto camera = MakeCamera(kYuy2_640x480, RenderMode_SelfDrawn);
    // The camera's list claims one more format than the device's pin offers.
    auto& list = CDXCameraTestAccess::VideoInfo(*camera);
    list.push_back({1024, 768, 1});
    ASSERT_EQ(camera->SetResolutionIndex(static_cast<long>(list.size()) - 1), 1);
    camera->SetLumacapBuffCB(&FrameLog::Callback, &log);
    ASSERT_EQ(camera->Open(), 0);
    ASSERT_TRUE(log.WaitFor(3));
    EXPECT_EQ(log.Lengths().back(), 640 * 480 * 3) << "the device's own format";
    EXPECT_GE(log.Numbers().back(), 0);
    // The self-drawn preview skips frames of another size than it was set up for.
    PumpUntil([] { return false; }, 100);
}

// A filter whose pin list answers S_OK without handing out a pin, as a broken driver's may.
class PinlessFilter : public IBaseFilter, public IEnumPins {
public:
    STDMETHODIMP QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetClassID(CLSID*) override { return E_NOTIMPL; }
    STDMETHODIMP Stop() override { return E_NOTIMPL; }
    STDMETHODIMP Pause() override { return E_NOTIMPL; }
    STDMETHODIMP Run(REFERENCE_TIME) override { return E_NOTIMPL; }
    STDMETHODIMP GetState(DWORD, FILTER_STATE*) override { return E_NOTIMPL; }
    STDMETHODIMP SetSyncSource(IReferenceClock*) override { return E_NOTIMPL; }
    STDMETHODIMP GetSyncSource(IReferenceClock**) override { return E_NOTIMPL; }
    STDMETHODIMP EnumPins(IEnumPins** ppEnum) override {
        *ppEnum = this;
        return S_OK;
    }
    STDMETHODIMP FindPin(LPCWSTR, IPin**) override { return E_NOTIMPL; }
    STDMETHODIMP QueryFilterInfo(FILTER_INFO*) override { return E_NOTIMPL; }
    STDMETHODIMP JoinFilterGraph(IFilterGraph*, LPCWSTR) override { return E_NOTIMPL; }
    STDMETHODIMP QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP Next(ULONG, IPin** pins, ULONG* fetched) override {
        pins[0] = nullptr;
        if (fetched) *fetched = 1;
        return S_OK;
    }
    STDMETHODIMP Skip(ULONG) override { return E_NOTIMPL; }
    STDMETHODIMP Reset() override { return S_OK; }
    STDMETHODIMP Clone(IEnumPins**) override { return E_NOTIMPL; }
};

TEST_F(CaptureGraphTest, APinListWithoutPinsIsAFailureNotACrash) {
    PinlessFilter filter;
    IPin* pin = reinterpret_cast<IPin*>(0x1);
    EXPECT_LT(CDXCameraTestAccess::FindPIN(&filter, PINDIR_OUTPUT, &pin), 0);
    EXPECT_EQ(pin, reinterpret_cast<IPin*>(0x1)) << "nothing handed out";
    EXPECT_LT(CDXCameraTestAccess::InitVideoSize(&filter, 0), 0);
}

TEST_F(CaptureGraphTest, CloseKeepsTheConfigurationAndTheCallbacks) {
    FrameLog log(320, 240);
    auto camera = MakeCamera(kYuy2_320x240, RenderMode_NullRenderer);
    EXPECT_EQ(camera->Close(), 0) << "closing a closed camera is harmless";
    camera->SetResolutionIndex(99);  // leaves a last error
    camera->SetLumacapBuffCB(&FrameLog::Callback, &log);
    ConnectLog connects;
    camera->SetLumacapConnectCB(&ConnectLog::Callback, &connects);
    camera->SetBrgihtness(12);
    ASSERT_EQ(camera->Open(), 0);
    ASSERT_TRUE(log.WaitFor(2));
    EXPECT_EQ(camera->Close(), 0);
    EXPECT_EQ(camera->GetCameraStatus(), CameraStatus_Closed);
    EXPECT_FALSE(CDXCameraTestAccess::HoldsAnyInterface(*camera));
    EXPECT_EQ(camera->GetCameraIndex(), 0);
    EXPECT_EQ(camera->GetResolutionIndex(), kYuy2_320x240);
    EXPECT_EQ(camera->GetParentWnd(), m_parent);
    EXPECT_EQ(camera->GetRenderMode(), 1u);
    EXPECT_EQ(camera->GetBrgihtness(), 12);
    EXPECT_STREQ(camera->GetLastError(), "错误的分辨率索引参数。");
    EXPECT_EQ(CDXCameraTestAccess::PreviewWidth(*camera), 0);
    // Reopened, the same callbacks receive again.
    const size_t before = log.Count();
    ASSERT_EQ(camera->Open(), 0);
    EXPECT_TRUE(log.WaitFor(before + 3));
    ASSERT_TRUE(sim::UnplugCamera(0));
    EXPECT_TRUE(PumpUntil([&] { return connects.Count() == 1; }));
}

}  // namespace
}  // namespace lumacap::test
