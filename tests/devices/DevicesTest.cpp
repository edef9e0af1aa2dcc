// Device and codec lookup: devices by position, filters by friendly name, pins by direction and
// name, with the log lines each step writes.
#include <lumacap/sim.h>

#include "common/GraphFixture.h"
#include "devices/Devices.h"
#include "log/Log.h"

namespace lumacap::test {
namespace {

class Lookup : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        ResetLogStateForTesting();
    }
    void TearDown() override {
        ResetLogStateForTesting();
        SimTest::TearDown();
    }
    // Everything logged so far in this test.
    std::string Log() {
        const std::string path = sim::HostPath(GetCurrentLogPath());
        return path.empty() ? std::string() : ReadWholeFile(path);
    }
    bool Logged(const std::string& text) { return Log().find(text) != std::string::npos; }

    static sim::VirtualCameraConfig Camera(const char* name, const char* display, long width) {
        sim::VirtualCameraConfig c = sim::DefaultCameraConfig();
        c.friendlyName = name;
        c.displayName = display;
        c.capabilities = {{"YUY2", width, 240, 30, false}};
        return c;
    }
    static long FirstWidth(IBaseFilter* filter) {
        ComPtr<IPin> pin(FindPinByDirection(filter, PINDIR_OUTPUT));
        ComPtr<IEnumMediaTypes> types;
        pin->EnumMediaTypes(&types);
        AM_MEDIA_TYPE* mt = nullptr;
        if (types->Next(1, &mt, nullptr) != S_OK) return -1;
        const long width = reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat)->bmiHeader.biWidth;
        DeleteMediaType(mt);
        return width;
    }
};

TEST_F(Lookup, CaptureDevicesByPosition) {
    sim::VirtualMicrophoneConfig second = sim::DefaultMicrophoneConfig();
    second.friendlyName = "Headset";
    second.displayName = "@device:cm:{33D9A762-90C8-11D0-BD43-00A0C911CE86}\\wave:headset";
    sim::AddMicrophone(second);

    ComPtr<IBaseFilter> first(CreateAVDevice(CLSID_AudioInputDeviceCategory, 0));
    ASSERT_NE(first.p, nullptr);
    EXPECT_TRUE(Logged("CreateAVDevice,friendlyName,Lumacap Virtual Microphone"));
    EXPECT_TRUE(Logged(
        "CreateAVDevice,GetDisplayName,@device:cm:{33D9A762-90C8-11D0-BD43-00A0C911CE86}\\wave:"));
    // The search stops at the device found.
    EXPECT_FALSE(Logged("Headset"));

    ComPtr<IBaseFilter> past(CreateAVDevice(CLSID_AudioInputDeviceCategory, 2));
    EXPECT_EQ(past.p, nullptr);
    EXPECT_TRUE(Logged("CreateAVDevice,friendlyName,Headset"));

    ComPtr<IBaseFilter> camera(CreateAVDevice(CLSID_VideoInputDeviceCategory, 0));
    EXPECT_NE(camera.p, nullptr);
    // Compressors are listed but never bound by position.
    ComPtr<IBaseFilter> compressor(CreateAVDevice(CLSID_VideoCompressorCategory, 0));
    EXPECT_EQ(compressor.p, nullptr);
    EXPECT_TRUE(Logged("CreateAVDevice,friendlyName,MJPEG Compressor"));
}

TEST_F(Lookup, EmptyCategoryLogsOnlyThroughCreateAVDevice) {
    sim::RemoveAllMicrophones();
    EXPECT_EQ(CreateAVDevice(CLSID_AudioInputDeviceCategory, 0), nullptr);
    EXPECT_TRUE(Logged("CreateAVDevice,enumMoniker==null"));
    const size_t before = Log().size();
    EXPECT_EQ(CreateHardwareFilter(CLSID_AudioInputDeviceCategory, "Anything"), nullptr);
    const std::string log = Log().substr(before);
    EXPECT_NE(log.find("CreateHardwareFilter,inFriendlyName=Anything"), std::string::npos);
    EXPECT_EQ(log.find("enumMoniker"), std::string::npos);
}

TEST_F(Lookup, FiltersByExactFriendlyName) {
    sim::RemoveAllCameras();
    sim::AddCamera(Camera("Studio Cam", "usb#vid_0001&pid_0001", 320));
    sim::AddCamera(Camera("Studio Cam", "usb#vid_0001&pid_0002", 640));
    // Letter case matters.
    EXPECT_EQ(CreateHardwareFilter(CLSID_VideoInputDeviceCategory, "studio cam"), nullptr);
    EXPECT_EQ(CreateHardwareFilter(CLSID_VideoInputDeviceCategory, "Studio"), nullptr);
    // Two devices of one name: the first in enumeration order is bound.
    ComPtr<IBaseFilter> found(CreateHardwareFilter(CLSID_VideoInputDeviceCategory, "Studio Cam"));
    ASSERT_NE(found.p, nullptr);
    EXPECT_EQ(FirstWidth(found), 320);
    EXPECT_TRUE(Logged("CreateHardwareFilter,DisplayName=usb#vid_0001&pid_0001"));
    EXPECT_TRUE(Logged("CreateHardwareFilter,friendName=Studio Cam"));

    ComPtr<IBaseFilter> compressor(CreateCompressor(1, "MPEG-4 Video Compressor"));
    EXPECT_NE(compressor.p, nullptr);
    EXPECT_TRUE(Logged("CreateCompressor,video"));
    EXPECT_EQ(CreateCompressor(1, "No Such Codec"), nullptr);
    EXPECT_EQ(CreateCompressor(0, "MJPEG Compressor"), nullptr);
    EXPECT_TRUE(Logged("CreateCompressor,audio"));
}

TEST_F(Lookup, FailuresAreLoggedWithTheirCodes) {
    sim::ArmCreateFault(CLSID_SystemDeviceEnum, E_OUTOFMEMORY);
    EXPECT_EQ(CreateAVDevice(CLSID_VideoInputDeviceCategory, 0), nullptr);
    EXPECT_TRUE(Logged("CreateAVDevice,CoCreateInstance,8007000e"));
    EXPECT_EQ(CreateHardwareFilter(CLSID_VideoInputDeviceCategory, "Lumacap Virtual Camera"),
              nullptr);
    EXPECT_TRUE(Logged("CreateHardwareFilter,CoCreateInstance,8007000e"));
    sim::DisarmFaults();

    sim::ArmFault("IMoniker::BindToObject", E_ACCESSDENIED);
    EXPECT_EQ(CreateAVDevice(CLSID_VideoInputDeviceCategory, 0), nullptr);
    EXPECT_TRUE(Logged("CreateAVDevice,BindToObject,80070005"));
    EXPECT_EQ(CreateHardwareFilter(CLSID_VideoInputDeviceCategory, "Lumacap Virtual Camera"),
              nullptr);
    EXPECT_TRUE(Logged("CreateHardwareFilter,BindToObject,80070005"));
    sim::DisarmFaults();

    sim::ArmFault("IPropertyBag::Read", E_FAIL);
    EXPECT_EQ(CreateAVDevice(CLSID_VideoInputDeviceCategory, 0), nullptr);
    EXPECT_TRUE(Logged("CreateAVDevice,propertyBag->Read,80004005"));
    sim::DisarmFaults();

    sim::ArmFault("IMoniker::GetDisplayName", E_FAIL);
    EXPECT_EQ(CreateAVDevice(CLSID_VideoInputDeviceCategory, 0), nullptr);
    EXPECT_TRUE(Logged("CreateAVDevice,GetDisplayName,80004005"));
    // The name is still read, so the filter is still found.
    ComPtr<IBaseFilter> found(
        CreateHardwareFilter(CLSID_VideoInputDeviceCategory, "Lumacap Virtual Camera"));
    EXPECT_NE(found.p, nullptr);
    EXPECT_TRUE(Logged("CreateHardwareFilter,GetDisplayName,80004005"));
}

// A moniker list whose first answer is S_OK with no moniker, as a broken driver's may be.
class NullFirstMonikers : public IEnumMoniker {
public:
    explicit NullFirstMonikers(IEnumMoniker* real) : m_real(real) {}
    STDMETHODIMP QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP Next(ULONG count, IMoniker** monikers, ULONG* fetched) override {
        if (m_nullGiven) return m_real->Next(count, monikers, fetched);
        m_nullGiven = true;
        monikers[0] = nullptr;
        if (fetched) *fetched = 1;
        return S_OK;
    }
    STDMETHODIMP Skip(ULONG) override { return E_NOTIMPL; }
    STDMETHODIMP Reset() override { return E_NOTIMPL; }
    STDMETHODIMP Clone(IEnumMoniker**) override { return E_NOTIMPL; }

private:
    IEnumMoniker* m_real;
    bool m_nullGiven = false;
};

TEST_F(Lookup, ANullMonikerIsPassedOverWithoutALogLine) {
    ComPtr<ICreateDevEnum> devices;
    ASSERT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_ALL, IID_ICreateDevEnum,
                               devices.Out()),
              S_OK);
    ComPtr<IEnumMoniker> cameras;
    ASSERT_EQ(devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &cameras, 0), S_OK);
    NullFirstMonikers list(cameras);
    ComPtr<IBaseFilter> found(FindFilterByFriendlyName(&list, "Lumacap Virtual Camera"));
    EXPECT_NE(found.p, nullptr);
    EXPECT_FALSE(Logged("moniker==null"));
}

TEST_F(Lookup, PinsByDirectionAndNamePart) {
    ComPtr<IBaseFilter> tee;
    ASSERT_EQ(
        CoCreateInstance(CLSID_SmartTee, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, tee.Out()),
        S_OK);
    // Outputs "Capture" then "Preview": the name part picks the later one.
    IPin* preview = GetPin(tee, 0, "Prev");
    ASSERT_NE(preview, nullptr);
    PIN_INFO info{};
    preview->QueryPinInfo(&info);
    EXPECT_STREQ(info.achName, L"Preview");
    info.pFilter->Release();
    IPin* firstOutput = GetPin(tee, 0, nullptr);
    ASSERT_NE(firstOutput, nullptr);
    firstOutput->QueryPinInfo(&info);
    EXPECT_STREQ(info.achName, L"Capture");
    info.pFilter->Release();
    EXPECT_EQ(GetPin(tee, 1, "Prev"), nullptr);  // no input of that name
    EXPECT_EQ(GetPin(tee, 0, "prev"), nullptr);  // case-sensitive
    EXPECT_NE(GetPin(tee, 1, nullptr), nullptr);
    EXPECT_EQ(GetPin(nullptr, 0, nullptr), nullptr);

    // Unconnected pins: once the capture output is connected, the preview output is next.
    ComPtr<IGraphBuilder> graph;
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                     graph.Out());
    ComPtr<IBaseFilter> camera(BindDevice(CLSID_VideoInputDeviceCategory, 0));
    ComPtr<IBaseFilter> renderer;
    CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                     renderer.Out());
    graph->AddFilter(camera, L"Video Capture");
    graph->AddFilter(tee, L"Smart Tee");
    graph->AddFilter(renderer, L"Renderer");
    ASSERT_EQ(graph->Connect(GetPin(camera, 0, nullptr), GetUnconnectedPin(tee, 1)), S_OK);
    EXPECT_EQ(GetUnconnectedPin(tee, 1), nullptr);
    IPin* out = GetUnconnectedPin(tee, 0);
    ASSERT_EQ(out, firstOutput);
    ASSERT_EQ(graph->Connect(out, GetUnconnectedPin(renderer, 1)), S_OK);
    EXPECT_EQ(GetUnconnectedPin(tee, 0), preview);
    EXPECT_EQ(GetUnconnectedPin(camera, 0), nullptr);
    EXPECT_EQ(GetUnconnectedPin(nullptr, 0), nullptr);
}

}  // namespace
}  // namespace lumacap::test
