// An AVI file past 1 GiB: the mux goes on in OpenDML form (RIFF 'AVIX' chunks, standard and super
// indexes) and every frame stays reachable. 180 uncompressed 1080p frames make 1.1 GB; they go to
// memory-backed storage where the machine has it, so the test takes seconds.
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include <lumacap/sim.h>

#include "devices/Devices.h"
#include "writers/WriterSupport.h"

namespace lumacap::test {
namespace {

class OpenDml : public SimTest {
protected:
    void TearDown() override {
        std::error_code ec;
        if (!m_path.empty()) std::filesystem::remove(m_path, ec);
        SimTest::TearDown();
    }

    // /dev/shm when it has room (it is RAM), else the test's own folder.
    std::string BigFilePath() {
        struct statvfs st;
        if (statvfs("/dev/shm", &st) == 0 &&
            static_cast<uint64_t>(st.f_bavail) * st.f_frsize > (3ULL << 30)) {
            char name[64];
            std::snprintf(name, sizeof(name), "/dev/shm/lumacap-opendml-%d.avi",
                          static_cast<int>(::getpid()));
            m_path = name;
        } else {
            m_path = TempDir() + "/big.avi";
        }
        return m_path;
    }

    std::string m_path;
};

// Where the four-character code `tag` occurs in the file, from `from` on (-1 if nowhere).
long long FindTag(FILE* file, const char* tag, long long from) {
    std::vector<char> buffer(1 << 20);
    long long offset = from;
    for (;;) {
        if (fseeko(file, offset, SEEK_SET) != 0) return -1;
        const size_t n = fread(buffer.data(), 1, buffer.size(), file);
        if (n < 4) return -1;
        for (size_t i = 0; i + 4 <= n; ++i)
            if (std::memcmp(buffer.data() + i, tag, 4) == 0)
                return offset + static_cast<long long>(i);
        offset += static_cast<long long>(n) - 3;
    }
}

TEST_F(OpenDml, PastOneGibibyteTheFileContinuesInOpenDmlForm) {
    const std::string path = BigFilePath();
    constexpr int kFrames = 180;
    {
        ComPtr<IGraphBuilder> graph;
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IGraphBuilder, graph.Out()),
                  S_OK);
        ComPtr<IMediaControl> control;
        graph->QueryInterface(IID_IMediaControl, control.Out());
        SourceScript script;
        script.width = 1920;
        script.height = 1080;
        script.frameLength = 333333;
        script.starts = RegularStarts(kFrames, 333333);
        ComPtr<IBaseFilter> source(CreateScriptedSource(script));
        ComPtr<IBaseFilter> mux(CreateFilter(CLSID_AviDest));
        ComPtr<IBaseFilter> writer(CreateFilter(CLSID_FileWriter));
        graph->AddFilter(source, L"Source");
        graph->AddFilter(mux, L"AVI Mux");
        graph->AddFilter(writer, L"File Writer");
        ASSERT_EQ(graph->Connect(GetPin(mux, 0, nullptr), GetPin(writer, 1, nullptr)), S_OK);
        ASSERT_EQ(graph->Connect(GetPin(source, 0, nullptr), GetUnconnectedPin(mux, 1)), S_OK);
        ASSERT_EQ(SetOutputFile(writer, path), S_OK);
        ASSERT_EQ(control->Run(), S_OK);
        // A gibibyte through the mux takes seconds here and minutes under a sanitizer on a loaded
        // machine; the bound is for a hang only.
        ASSERT_TRUE(WaitForScript(source, 600000));
        ASSERT_EQ(WaitForCompletion(graph, 600000), EC_COMPLETE);
        ASSERT_EQ(control->Stop(), S_OK);
    }
    ASSERT_GT(std::filesystem::file_size(path), 1ULL << 30);

    // The second RIFF chunk, and the indexes that make the file one.
    FILE* file = std::fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    const long long avix = FindTag(file, "AVIX", 0);
    EXPECT_GT(avix, 1LL << 29);
    EXPECT_LT(avix, (1LL << 30) + (64LL << 20));
    EXPECT_GT(FindTag(file, "odml", 0), 0);
    EXPECT_GT(FindTag(file, "indx", 0), 0);
    EXPECT_GT(FindTag(file, "ix00", avix), avix);
    std::fclose(file);

    const auto probe = Probe(path);
    EXPECT_EQ(Field(probe, "streams.stream.0.nb_frames"), std::to_string(kFrames));
    EXPECT_NEAR(NumberField(probe, "format.duration"), kFrames / 30.0, 0.01);
    // A frame in the second chunk is found through the index and is the right one.
    const auto pictures = DecodePicturesAt(path, 1920, 1080, 175 / 30.0 + 0.001, 1);
    ASSERT_EQ(pictures.size(), 1u);
    EXPECT_EQ(sim::ReadFrameNumber(pictures[0].data(), 1920, 1080), 175);
}

}  // namespace
}  // namespace lumacap::test
