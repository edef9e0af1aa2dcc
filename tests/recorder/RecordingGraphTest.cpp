// Building the recording graph: requests refused before anything is built, and every step that
// can fail, each leaving its own text, a closed recorder and no object behind.
#include <string>

#include <dshowasf.h>
#include <lumacap/lumacap.h>

#include "common/GraphFixture.h"
#include "common/SimTest.h"
#include "common/TestAccess.h"
#include "recorder/RecorderFixture.h"

namespace lumacap::test {
namespace {

using Access = CDXRecorderTestAccess;

class RecordingGraphTest : public RecorderFixture {
protected:
    void ExpectClosed() {
        EXPECT_EQ(m_recorder.GetStatus(), RecorderStatus_Closed);
        for (const void* p : Access::Interfaces(m_recorder)) EXPECT_EQ(p, nullptr);
    }
};

TEST_F(RecordingGraphTest, BadRequestsAreRefusedBeforeAnythingIsBuilt) {
    const long objects = sim::LiveObjects();
    EXPECT_FALSE(m_recorder.StartRecord(nullptr, 0));
    EXPECT_STREQ(m_recorder.GetErrorMsg(), "无效的目标影像文件路径。");
    EXPECT_FALSE(m_recorder.StartRecord("", 1));
    EXPECT_STREQ(m_recorder.GetErrorMsg(), "无效的目标影像文件路径。");
    EXPECT_FALSE(m_recorder.StartRecord(Path("movie.wmv").c_str(), 0));
    EXPECT_STREQ(m_recorder.GetErrorMsg(), "不支持指定的影像文件格式。");
    EXPECT_FALSE(m_recorder.StartRecord(Path("movie").c_str(), 0));
    EXPECT_STREQ(m_recorder.GetErrorMsg(), "不支持指定的影像文件格式。");

    // An empty source list fails after the frame count is reset.
    std::vector<BYTE> frame(160 * 120 * 3);
    Access::GetImageBuffer(m_recorder, frame.data());
    ASSERT_EQ(m_recorder.GetRealFramesCount(), 1);
    CDXRecorder empty;
    Access::GetImageBuffer(empty, nullptr);
    EXPECT_FALSE(empty.StartRecord(Path("a.avi").c_str(), 0));
    EXPECT_STREQ(empty.GetErrorMsg(), "Please set a Video Source at first.");
    EXPECT_EQ(empty.GetRealFramesCount(), 0);

    // A size no frame can have.
    m_recorder.SetVideoSize(0, 120);
    EXPECT_FALSE(m_recorder.StartRecord(Path("a.avi").c_str(), 0));
    EXPECT_STREQ(m_recorder.GetErrorMsg(), "无效的影像尺寸。");
    m_recorder.SetVideoSize(20000, 120);
    EXPECT_FALSE(m_recorder.StartRecord(Path("a.avi").c_str(), 0));
    EXPECT_EQ(m_recorder.GetRealFramesCount(), 0);

    EXPECT_EQ(sim::LiveObjects(), objects) << "nothing was created";
    ExpectClosed();
}

TEST_F(RecordingGraphTest, AnUnknownFormatCodeIsRefusedOnceTheGraphExists) {
    EXPECT_FALSE(m_recorder.StartRecord(Path("movie.avi").c_str(), 3));
    EXPECT_STREQ(m_recorder.GetErrorMsg(), "Not Support This Format.");
    ExpectClosed();
    EXPECT_FALSE(FileExists(Path("movie.avi")));
}

TEST_F(RecordingGraphTest, TheFormatIsTheExtensionWhateverItsCase) {
    const std::pair<const char*, int> cases[] = {
        {"movie.avi", 1},     {"C:\\a.b\\movie.AvI", 1},
        {"x.ASF", 2},         {"x.asf", 2},
        {"x.wmv", 0},         {"noext", 0},
        {"dir.avi\\file", 0}, {"trailing.", 0},
        {"中文.avi", 1},
    };
    for (auto [path, format] : cases)
        EXPECT_EQ(Access::GetFileFormat(m_recorder, path), format) << path;
}

// One step made to fail, and the text it must leave.
struct Failure {
    const char* name;
    int format;
    const char* compressor;
    bool audio;
    void (*arm)();
    const char* text;  // the step text; a code follows unless it ends the text ("=")
};

const char kUnspecified[] = ". ErrorCode=0x80004005:Unspecified error\r\n";

class RecordingFailureTest : public RecordingGraphTest,
                             public ::testing::WithParamInterface<Failure> {};

TEST_P(RecordingFailureTest, LeavesItsTextAClosedRecorderAndNoObjects) {
    const Failure& f = GetParam();
    if (f.compressor) m_recorder.SetVideoCompressor(f.compressor);
    m_recorder.SetAudioRecord(f.audio);
    f.arm();
    const std::string path = Path(f.format == 2 ? "movie.asf" : "movie.avi");
    EXPECT_FALSE(m_recorder.StartRecord(path.c_str(), f.format));
    std::string expected = f.text;
    if (!expected.empty() && expected.back() == '=')
        expected.pop_back();
    else
        expected += kUnspecified;
    EXPECT_EQ(sim::GbkToUtf8(m_recorder.GetErrorMsg()), expected);
    ExpectClosed();
    sim::DisarmFaults();
}

void ArmCreate(REFCLSID clsid) {
    sim::ArmCreateFault(clsid, E_FAIL);
}

const Failure kFailures[] = {
    {"FilterGraph", 1, nullptr, false, [] { ArmCreate(CLSID_FilterGraph); },
     " Failed to create FilterGraph."},
    {"MediaControl", 1, nullptr, false,
     [] { sim::ArmFault("IGraphBuilder::QueryInterface", E_FAIL); },
     " Failed to QI IMediaControl."},
    {"AddFrameSource", 1, nullptr, false,
     [] { sim::ArmFault("IGraphBuilder::AddFilter", E_FAIL, 1); }, "="},  // no text of its own
    {"NoCompressor", 1, "No Such Compressor", false, [] {}, "Failed to Create VideoCompressor="},
    {"AddCompressor", 1, "MJPEG Compressor", false,
     [] { sim::ArmFault("IGraphBuilder::AddFilter", E_FAIL, 2); },
     "Failed to Add VideoCompressor."},
    {"NoMicrophone", 1, nullptr, true, [] { sim::RemoveAllMicrophones(); },
     "Failed to Create AVDeviceFilter="},
    {"AddMicrophone", 1, nullptr, true,
     [] { sim::ArmFault("IGraphBuilder::AddFilter", E_FAIL, 2); }, "Failed to Add AVDeviceFilter."},
    {"Grabber", 1, nullptr, false, [] { ArmCreate(CLSID_SampleGrabber); },
     " Failed to create RecordSampleGrabber."},
    {"GrabberType", 1, nullptr, false,
     [] { sim::ArmFault("ISampleGrabber::SetMediaType", E_FAIL); },
     " Failed to SetRecordMediaType."},
    {"AddGrabber", 1, nullptr, false, [] { sim::ArmFault("IGraphBuilder::AddFilter", E_FAIL, 2); },
     " Failed to Add Record Sample Grabber Filter."},
    {"ConnectCompressor", 1, "MJPEG Compressor", false,
     [] { sim::ArmFault("IGraphBuilder::Connect", E_FAIL, 1); }, "Failed to ConnectFilter"},
    {"ConnectMicrophone", 2, nullptr, true,
     [] { sim::ArmFault("IGraphBuilder::Connect", E_FAIL, 1); }, "Failed to ConnectFilter"},
    {"Mux", 1, nullptr, false, [] { ArmCreate(CLSID_AviDest); }, "Failed to Create AviMuxFilter"},
    {"AddMux", 1, nullptr, false, [] { sim::ArmFault("IGraphBuilder::AddFilter", E_FAIL, 3); },
     "Failed to Add AviMuxFilter"},
    {"FileWriter", 1, nullptr, false, [] { ArmCreate(CLSID_FileWriter); },
     "Failed to Create File Writer"},
    {"AddFileWriter", 1, nullptr, false,
     [] { sim::ArmFault("IGraphBuilder::AddFilter", E_FAIL, 4); }, "Failed to Add File Writer"},
    {"ConnectMux", 1, nullptr, false, [] { sim::ArmFault("IGraphBuilder::Connect", E_FAIL, 1); },
     "Failed to Connect AVIFilter"},
    {"ConnectVideoToMux", 1, nullptr, false,
     [] { sim::ArmFault("IGraphBuilder::Connect", E_FAIL, 2); },
     "Failed to Connect FileWriterFilter"},
    {"ConnectSoundToMux", 1, nullptr, true,
     [] { sim::ArmFault("IGraphBuilder::Connect", E_FAIL, 4); },
     "Failed to Connect AudidoFilter to FileWriterFilter"},
    {"AsfWriter", 2, nullptr, false, [] { ArmCreate(CLSID_WMAsfWriter); },
     "Failed to Create ASFWriter"},
    {"AddAsfWriter", 2, nullptr, false,
     [] { sim::ArmFault("IGraphBuilder::AddFilter", E_FAIL, 3); }, "Failed to Add ASFWriter"},
    {"ConnectVideoToAsf", 2, nullptr, false,
     [] { sim::ArmFault("IGraphBuilder::Connect", E_FAIL, 1); },
     "Failed to Connect FileWriterFilter"},
    {"ConnectSoundToAsf", 2, nullptr, true,
     [] { sim::ArmFault("IGraphBuilder::Connect", E_FAIL, 3); },
     "Failed to Connect AudidoFilter to FileWriterFilter"},
    {"AsfConfiguration", 2, nullptr, false,
     [] { sim::ArmFault("IBaseFilter::QueryInterface", E_FAIL, 1); },
     "Failed to Get IConfigAsfWriter"},
    {"AsfProfile", 2, nullptr, false,
     [] { sim::ArmFault("IConfigAsfWriter::GetCurrentProfile", E_FAIL); },
     "Failed to ConfigAsfWriter"},
    {"AsfStreams", 2, nullptr, false, [] { sim::ArmFault("IWMProfile::GetStreamCount", E_FAIL); },
     "Failed to ConfigAsfWriter"},
    {"AsfNoSoundStream", 2, nullptr, false,
     [] { sim::ArmFault("IWMProfile::RemoveStreamByNumber", E_FAIL); },
     "Failed to ConfigAsfWriter"},
    {"AsfConfigure", 2, nullptr, false,
     [] { sim::ArmFault("IConfigAsfWriter::ConfigureFilterUsingProfile", E_FAIL); },
     "Failed to ConfigAsfWriter"},
    {"AviFileSink", 1, nullptr, false,
     [] { sim::ArmFault("IBaseFilter::QueryInterface", E_FAIL, 1); },
     "Failed to Get FileSinkFilter"},
    {"AsfFileSink", 2, nullptr, false,
     [] { sim::ArmFault("IBaseFilter::QueryInterface", E_FAIL, 2); },
     "Failed to Get FileSinkFilter"},
    {"BufferSamples", 1, nullptr, false,
     [] { sim::ArmFault("ISampleGrabber::SetBufferSamples", E_FAIL); },
     " Failed to SetRecordBufferSamples."},
    {"OneShot", 1, nullptr, false, [] { sim::ArmFault("ISampleGrabber::SetOneShot", E_FAIL); },
     " Failed to SetRecordOneShot."},
    {"Callback", 1, nullptr, false, [] { sim::ArmFault("ISampleGrabber::SetCallback", E_FAIL); },
     " Failed to SeRecordtCallback."},
    {"Run", 1, nullptr, false, [] { sim::ArmFault("IMediaControl::Run", E_FAIL); },
     "Failed to Run"},
    {"RunAsf", 2, nullptr, true, [] { sim::ArmFault("IMediaControl::Run", E_FAIL); },
     "Failed to Run"},
};

// The profile the ASF writer is given: the video stream takes the recording's size, rate and bit
// rate; the sound stream stays only when sound is recorded.
TEST_F(RecordingGraphTest, TheAsfProfileTakesTheRecordingsVideoAndLosesSoundWhenThereIsNone) {
    for (BOOL audio : {FALSE, TRUE}) {
        SCOPED_TRACE(audio);
        ComPtr<IBaseFilter> writer;
        ASSERT_EQ(CoCreateInstance(CLSID_WMAsfWriter, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IBaseFilter, writer.Out()),
                  S_OK);
        ComPtr<IConfigAsfWriter> config;
        ASSERT_EQ(writer->QueryInterface(IID_IConfigAsfWriter, config.Out()), S_OK);
        ComPtr<IWMProfile> before;
        ASSERT_EQ(config->GetCurrentProfile(&before), S_OK);
        DWORD streamsBefore = 0;
        before->GetStreamCount(&streamsBefore);
        ASSERT_GE(streamsBefore, 2u);

        ASSERT_EQ(Access::ConfigAsfWriter(m_recorder, config, 320, 240, 300, 20, audio), S_OK);
        ComPtr<IWMProfile> profile;
        ASSERT_EQ(config->GetCurrentProfile(&profile), S_OK);
        DWORD streams = 0;
        profile->GetStreamCount(&streams);
        EXPECT_EQ(streams, audio ? streamsBefore : streamsBefore - 1);
        bool sawVideo = false, sawAudio = false;
        for (DWORD i = 0; i < streams; ++i) {
            ComPtr<IWMStreamConfig> stream;
            ASSERT_EQ(profile->GetStream(i, &stream), S_OK);
            WORD number = 0;
            stream->GetStreamNumber(&number);
            ComPtr<IWMMediaProps> props;
            ASSERT_EQ(stream->QueryInterface(IID_IWMMediaProps, props.Out()), S_OK);
            DWORD size = 0;
            props->GetMediaType(nullptr, &size);
            std::vector<BYTE> buffer(size);
            auto* type = reinterpret_cast<WM_MEDIA_TYPE*>(buffer.data());
            ASSERT_EQ(props->GetMediaType(type, &size), S_OK);
            if (type->majortype == WMMEDIATYPE_Audio) {
                sawAudio = true;
                EXPECT_EQ(number, 1) << "stream 1 is the sound";
                continue;
            }
            ASSERT_EQ(type->majortype, WMMEDIATYPE_Video);
            sawVideo = true;
            const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
            EXPECT_EQ(vih->bmiHeader.biWidth, 320);
            EXPECT_EQ(vih->bmiHeader.biHeight, 240);
            EXPECT_EQ(vih->rcSource.right, 320);
            EXPECT_EQ(vih->rcTarget.bottom, 240);
            EXPECT_EQ(vih->dwBitRate, 300000u);
            EXPECT_EQ(vih->AvgTimePerFrame, 500000);
            EXPECT_EQ(vih->bmiHeader.biSizeImage, GetBitmapSize(&vih->bmiHeader));
            EXPECT_EQ(type->lSampleSize, vih->bmiHeader.biSizeImage);
            DWORD bitrate = 0;
            stream->GetBitrate(&bitrate);
            EXPECT_EQ(bitrate, 300000u);
        }
        EXPECT_TRUE(sawVideo);
        EXPECT_EQ(sawAudio, audio != FALSE);
    }
    EXPECT_EQ(Access::ConfigAsfWriter(m_recorder, nullptr, 320, 240, 300, 20, FALSE), E_POINTER);
}

INSTANTIATE_TEST_SUITE_P(Steps, RecordingFailureTest, ::testing::ValuesIn(kFailures),
                         [](const ::testing::TestParamInfo<Failure>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace lumacap::test
