// Running out of file descriptors or memory while a camera opens or a recording starts: the call
// fails with its failure text (or succeeds), and nothing crashes. Each attempt runs in a child
// process of its own (this program again), whose limits are lowered just around the call.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "stress/StressSupport.h"

namespace lumacap::test {
namespace {

constexpr char kChildVariable[] = "LUMACAP_STRESS_EXHAUST";

long HighestDescriptor() {
    long highest = 2;
    for (long fd = 0; fd < 65536; ++fd)
        if (fcntl(static_cast<int>(fd), F_GETFD) != -1) highest = fd;
    return highest;
}

long AddressSpace() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmSize:", 0) == 0) return std::atol(line.c_str() + 7) * 1024;
    return 0;
}

// Lowers a limit for the life of the object. For descriptors, the free numbers below the limit
// are taken too, so that exactly `spare` are left.
class Limit {
public:
    Limit(int resource, rlim_t soft, long spare) : m_resource(resource) {
        getrlimit(resource, &m_saved);
        rlimit lowered = m_saved;
        lowered.rlim_cur = soft;
        setrlimit(resource, &lowered);
        if (resource != RLIMIT_NOFILE) return;
        for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) m_taken.push_back(fd);
        for (long i = 0; i < spare && !m_taken.empty(); ++i) {
            close(m_taken.back());
            m_taken.pop_back();
        }
    }
    ~Limit() {
        for (int fd : m_taken) close(fd);
        setrlimit(m_resource, &m_saved);
    }

private:
    int m_resource;
    rlimit m_saved;
    std::vector<int> m_taken;
};

class ExhaustionTest : public StressTest {
protected:
    // In the child: runs `what` ("descriptors" or "memory", "open" or "record", and how much is
    // left) and prints "OUTCOME <result> <status> <text>".
    void RunChild(const std::string& spec) {
        char resource[16] = {}, operation[16] = {};
        long spare = 0;
        ASSERT_EQ(std::sscanf(spec.c_str(), "%15[a-z]:%15[a-z]:%ld", resource, operation, &spare),
                  3);
        const bool memory = std::string(resource) == "memory";
        ConfigureCamera(0, 640, 480);
        auto camera = MakeCamera(0, 2);
        CDXRecorder recorder;
        const bool record = std::string(operation) == "record";
        if (record) {
            ASSERT_EQ(camera->Open(), 0);
            recorder.SetAudioRecord(TRUE);
            recorder.SetVideoCompressor("MJPEG Compressor");
            recorder.AddVideoSource(camera.get(), RECT{0, 0, 640, 480});
            recorder.AddWindowSource(nullptr, RECT{0, 0, 320, 240});
        }
        long result = 0;
        int status = 0;
        std::string text;
        {
            Limit limit(memory ? RLIMIT_AS : RLIMIT_NOFILE,
                        memory ? static_cast<rlim_t>(AddressSpace() + spare)
                               : static_cast<rlim_t>(HighestDescriptor() + 1 + spare),
                        spare);
            if (record) {
                result = recorder.StartRecord(Path("exhausted.avi").c_str(), 0);
                status = recorder.GetStatus();
                text = recorder.GetErrorMsg();
            } else {
                result = camera->Open();
                status = camera->GetCameraStatus();
                text = camera->GetLastError();
            }
        }
        recorder.CloseRecord();
        camera->Close();
        std::printf("OUTCOME %ld %d %s\n", result, status, sim::GbkToUtf8(text.c_str()).c_str());
        std::fflush(stdout);
    }

    // Runs one attempt in a child; answers its outcome line ("" when it printed none).
    std::string Attempt(const std::string& spec, int* exitStatus) {
        const std::string command = std::string(kChildVariable) + "=" + spec + " /proc/" +
                                    std::to_string(getpid()) +
                                    "/exe --gtest_filter=ExhaustionTest.* 2>&1";
        std::string out;
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe) return "";
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) out.append(buffer, n);
        *exitStatus = pclose(pipe);
        const size_t at = out.find("OUTCOME ");
        if (at == std::string::npos) {
            ADD_FAILURE() << spec << " printed no outcome:\n" << out;
            return "";
        }
        return out.substr(at + 8, out.find('\n', at) - at - 8);
    }
};

TEST_F(ExhaustionTest, RunningOutGivesTheFailureTextAndNeverACrash) {
    if (const char* spec = std::getenv(kChildVariable)) return RunChild(spec);
    // The sanitizers' runtimes need resources of their own: UBSan probes the object of every
    // virtual call through a pipe, and reports the call when no descriptor is left for it; the
    // shadow memory takes terabytes of address space. What running out does is checked by the
    // plain build.
    if (kSanitized) GTEST_SKIP() << "the sanitizers' runtimes cannot run out of descriptors";

    std::vector<std::string> specs;
    for (const char* operation : {"open", "record"}) {
        for (long spare : {0, 1, 2, 4, 8, 16, 32})
            specs.push_back(std::string("descriptors:") + operation + ":" + std::to_string(spare));
        for (long mib : {0, 4, 16, 64, 256})
            specs.push_back(std::string("memory:") + operation + ":" + std::to_string(mib << 20));
    }
    for (const std::string& spec : specs) {
        int exitStatus = -1;
        const std::string outcome = Attempt(spec, &exitStatus);
        EXPECT_TRUE(WIFEXITED(exitStatus) && WEXITSTATUS(exitStatus) == 0)
            << spec << ": the child ended with status " << exitStatus;
        long result = -1;
        int status = -1, consumed = 0;
        ASSERT_EQ(std::sscanf(outcome.c_str(), "%ld %d %n", &result, &status, &consumed), 2)
            << spec << ": " << outcome;
        const std::string text = outcome.substr(static_cast<size_t>(consumed));
        const bool record = spec.find(":record:") != std::string::npos;
        const bool succeeded = record ? result == TRUE : result == 0;
        if (succeeded) {
            EXPECT_EQ(status, 3) << spec;
        } else {
            EXPECT_EQ(status, 0) << spec << ": a failed call leaves no graph";
            // A step's text with the code and its system text, or one of the plain texts.
            EXPECT_TRUE(text.find("ErrorCode=0x") != std::string::npos ||
                        text.rfind("Failed to Create ", 0) == 0)
                << spec << ": " << text;
        }
    }
}

}  // namespace
}  // namespace lumacap::test
