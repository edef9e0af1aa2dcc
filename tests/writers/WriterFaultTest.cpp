// Failures of the writers' methods, as the recorder's fault tests arm them, and a file that stops
// taking bytes in the middle of a recording.
#include <lumacap/sim.h>

#include "devices/Devices.h"
#include "writers/WriterSupport.h"

namespace lumacap::test {
namespace {

class WriterFaults : public SimTest {};

TEST_F(WriterFaults, ArmedMethodsFailWithTheArmedCode) {
    ComPtr<IBaseFilter> fileWriter(CreateFilter(CLSID_FileWriter));
    ComPtr<IBaseFilter> asf(CreateFilter(CLSID_WMAsfWriter));
    ComPtr<IConfigAsfWriter> config;
    ASSERT_EQ(asf->QueryInterface(IID_IConfigAsfWriter, config.Out()), S_OK);
    ComPtr<IWMProfile> profile;
    ASSERT_EQ(config->GetCurrentProfile(&profile), S_OK);
    ComPtr<IWMStreamConfig> stream;
    ASSERT_EQ(profile->GetStream(1, &stream), S_OK);
    ComPtr<IWMMediaProps> props;
    ASSERT_EQ(stream->QueryInterface(IID_IWMMediaProps, props.Out()), S_OK);
    DWORD size = 0;
    props->GetMediaType(nullptr, &size);
    std::vector<BYTE> type(size);
    ASSERT_EQ(props->GetMediaType(reinterpret_cast<WM_MEDIA_TYPE*>(type.data()), &size), S_OK);

    struct Case {
        const char* point;
        std::function<HRESULT()> call;
    };
    const std::vector<Case> cases = {
        {"IBaseFilter::QueryInterface",
         [&] { return fileWriter->QueryInterface(IID_IFileSinkFilter, ComPtr<IUnknown>().Out()); }},
        {"IFileSinkFilter::SetFileName", [&] { return SetOutputFile(fileWriter, "/tmp/x.avi"); }},
        {"IFileSinkFilter::GetCurFile",
         [&] {
             ComPtr<IFileSinkFilter> sink;
             asf->QueryInterface(IID_IFileSinkFilter, sink.Out());
             LPOLESTR name = nullptr;
             const HRESULT hr = sink->GetCurFile(&name, nullptr);
             CoTaskMemFree(name);
             return hr;
         }},
        {"IConfigAsfWriter::GetCurrentProfile",
         [&] { return config->GetCurrentProfile(&ComPtr<IWMProfile>()); }},
        {"IConfigAsfWriter::ConfigureFilterUsingProfile",
         [&] { return config->ConfigureFilterUsingProfile(profile); }},
        {"IWMProfile::GetStreamCount",
         [&] {
             DWORD count = 0;
             return profile->GetStreamCount(&count);
         }},
        {"IWMProfile::GetStream",
         [&] { return profile->GetStream(0, &ComPtr<IWMStreamConfig>()); }},
        {"IWMProfile::RemoveStreamByNumber", [&] { return profile->RemoveStreamByNumber(1); }},
        {"IWMProfile::ReconfigStream", [&] { return profile->ReconfigStream(stream); }},
        {"IWMStreamConfig::SetBitrate", [&] { return stream->SetBitrate(1000); }},
        {"IWMStreamConfig::QueryInterface",
         [&] { return stream->QueryInterface(IID_IWMMediaProps, ComPtr<IUnknown>().Out()); }},
        {"IWMMediaProps::GetMediaType",
         [&] {
             DWORD n = 0;
             return props->GetMediaType(nullptr, &n);
         }},
        {"IWMMediaProps::SetMediaType",
         [&] { return props->SetMediaType(reinterpret_cast<WM_MEDIA_TYPE*>(type.data())); }},
    };
    HRESULT code = static_cast<HRESULT>(0x80041000);
    for (const Case& c : cases) {
        sim::ArmFault(c.point, code);
        EXPECT_EQ(c.call(), code) << c.point;
        EXPECT_EQ(sim::FaultHits(c.point), 1) << c.point;
        sim::DisarmFaults();
        EXPECT_TRUE(SUCCEEDED(c.call())) << c.point;
        ++code;
    }

    // The writer reads a profile of its own without going through the methods the application
    // calls, so a failure armed there does not reach the configuration.
    sim::ArmFault("IWMProfile::GetStream", E_FAIL);
    sim::ArmFault("IWMMediaProps::GetMediaType", E_FAIL);
    ComPtr<IWMProfile> fresh;
    ASSERT_EQ(config->GetCurrentProfile(&fresh), S_OK);
    EXPECT_EQ(config->ConfigureFilterUsingProfile(fresh), S_OK);
    sim::DisarmFaults();
}

// The disk fills up: the recording stops with an error event, the graph stops cleanly, and the
// next run, with room again, writes a good file.
TEST_F(WriterFaults, AFileThatStopsTakingBytesAbortsTheRecording) {
    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               graph.Out()),
              S_OK);
    ComPtr<IMediaControl> control;
    graph->QueryInterface(IID_IMediaControl, control.Out());
    ComPtr<IMediaEventEx> events;
    graph->QueryInterface(IID_IMediaEventEx, events.Out());
    SourceScript script;
    script.starts = RegularStarts(30, 1000000);
    script.endOfStream = false;
    ComPtr<IBaseFilter> source(CreateScriptedSource(script));
    ComPtr<IBaseFilter> mux(CreateFilter(CLSID_AviDest));
    ComPtr<IBaseFilter> writer(CreateFilter(CLSID_FileWriter));
    graph->AddFilter(source, L"Source");
    graph->AddFilter(mux, L"AVI Mux");
    graph->AddFilter(writer, L"File Writer");
    ASSERT_EQ(graph->Connect(GetPin(mux, 0, nullptr), GetPin(writer, 1, nullptr)), S_OK);
    ASSERT_EQ(graph->Connect(GetPin(source, 0, nullptr), GetUnconnectedPin(mux, 1)), S_OK);
    const std::string path = TempDir() + "/full.avi";
    ASSERT_EQ(SetOutputFile(writer, path), S_OK);

    const HRESULT full = HRESULT_FROM_WIN32(ERROR_DISK_FULL);
    sim::ArmFault("IStream::Write", full, 12);
    ASSERT_EQ(control->Run(), S_OK);
    long code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 10000), S_OK);
    EXPECT_EQ(code, EC_ERRORABORT);
    EXPECT_EQ(static_cast<HRESULT>(p1), full);
    events->FreeEventParams(code, p1, p2);
    EXPECT_EQ(control->Stop(), full);
    EXPECT_EQ(sim::FaultHits("IStream::Write"), 1);
    sim::DisarmFaults();

    // The source is spent; a new one records into a fresh file.
    graph->RemoveFilter(source);
    ComPtr<IBaseFilter> again(CreateScriptedSource(script));
    graph->AddFilter(again, L"Source 2");
    ASSERT_EQ(graph->Connect(GetPin(again, 0, nullptr), GetUnconnectedPin(mux, 1)), S_OK);
    ASSERT_EQ(control->Run(), S_OK);
    ASSERT_TRUE(WaitForScript(again));
    ASSERT_EQ(control->Stop(), S_OK);
    EXPECT_EQ(DecodedFrameNumbers(path, 320, 240).size(), 30u);
}

}  // namespace
}  // namespace lumacap::test
