// Where the V4L2 tests' cameras come from: the in-process double, fakecam, or the machine's own.
#include "CameraBackends.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/system/hw/v4l2/FakeApi.h"
#include "platform/system/hw/v4l2/V4l2Node.h"

#ifndef LUMACAP_FAKECAM
#define LUMACAP_FAKECAM ""
#endif

namespace lumacap::test {
namespace {

using hw::v4l2::Api;

class InProcessBackend final : public CameraBackend {
public:
    int Start(const sim::V4l2CameraConfig& config, std::string*) override {
        sim::UseV4l2Double();
        m_node = sim::AddV4l2Camera(config);
        return 0;
    }
    std::string Node() const override { return m_node; }
    std::shared_ptr<Api> Seam() const override { return hw::v4l2::FakeApi::Instance(); }
    bool Unplug() override { return sim::UnplugV4l2Camera(m_node); }
    bool Replug() override { return sim::ReplugV4l2Camera(m_node); }
    bool SetFaults(const sim::V4l2Faults& faults) override {
        return sim::SetV4l2Faults(m_node, faults);
    }

private:
    std::string m_node;
};

std::string FaultsCommand(const sim::V4l2Faults& f) {
    char text[256];
    std::snprintf(text, sizeof(text),
                  "faults deny-open=%d error=%d empty=%d truncated=%d corrupt=%d refuse=%s "
                  "unplug-at=%s",
                  f.denyOpen ? 1 : 0, f.errorEvery, f.emptyEvery, f.truncatedEvery, f.corruptEvery,
                  f.refuseFourcc.empty() ? "-" : f.refuseFourcc.c_str(),
                  f.unplugAt.empty() ? "-" : f.unplugAt.c_str());
    return text;
}

// The fakecam program, told what to serve on its command line and what to do on its input.
class ServedBackend final : public CameraBackend {
public:
    explicit ServedBackend(std::string dir) : m_dir(std::move(dir)) {}
    ~ServedBackend() override {
        if (m_pid <= 0) return;
        Command("quit");
        for (int i = 0; i < 300 && waitpid(m_pid, nullptr, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (waitpid(m_pid, nullptr, WNOHANG) == 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        close(m_in);
        close(m_out);
    }

    int Start(const sim::V4l2CameraConfig& config, std::string* reason) override {
        if (access("/dev/fuse", R_OK | W_OK) != 0) {
            *reason = "no usable /dev/fuse here";
            return 1;
        }
        if (!*LUMACAP_FAKECAM) {
            *reason = "fakecam was not built (tools are off)";
            return 1;
        }
        std::vector<std::string> args = {LUMACAP_FAKECAM, "--card",     config.card,   "--driver",
                                         config.driver,   "--bus-info", config.busInfo};
        char usb[32];
        std::snprintf(usb, sizeof(usb), "%04x:%04x", config.vendorId, config.productId);
        if (config.vendorId) {
            args.insert(args.end(), {"--usb", usb});
        } else {
            args.push_back("--no-usb");
        }
        if (!config.metadataNode) args.push_back("--no-metadata");
        for (const sim::V4l2FormatSpec& f : config.formats) {
            std::string spec = f.fourcc + ":";
            if (f.maxWidth > 0) {
                spec += std::to_string(f.minWidth) + "x" + std::to_string(f.minHeight) + "-" +
                        std::to_string(f.maxWidth) + "x" + std::to_string(f.maxHeight) + "/" +
                        std::to_string(f.stepWidth) + "x" + std::to_string(f.stepHeight);
            } else {
                for (size_t i = 0; i < f.sizes.size(); ++i)
                    spec += (i ? "," : "") + std::to_string(f.sizes[i].first) + "x" +
                            std::to_string(f.sizes[i].second);
            }
            for (size_t i = 0; i < f.framesPerSecond.size(); ++i)
                spec += (i ? "," : "@") + std::to_string(f.framesPerSecond[i]);
            args.insert(args.end(), {"--format", spec});
        }
        for (const sim::V4l2ControlSpec& c : config.controls) {
            std::string spec = c.name + "=" + std::to_string(c.minimum) + ":" +
                               std::to_string(c.maximum) + ":" + std::to_string(c.step) + ":" +
                               std::to_string(c.defaultValue);
            for (size_t i = 0; i < c.menuItems.size(); ++i)
                spec += (i ? "/" : ":") + std::to_string(c.menuItems[i]);
            args.insert(args.end(), {"--control", spec});
        }
        args.push_back(m_dir);
        if (!Spawn(args)) {
            *reason = "cannot start fakecam";
            return -1;
        }
        const std::string ready = ReadLine(10000);
        if (ready.rfind("ready ", 0) != 0) {
            *reason = "fakecam did not start: '" + ready + "'";
            return -1;
        }
        sim::UseV4l2Directory((m_dir + "/dev").c_str(), (m_dir + "/sys").c_str());
        m_seam = hw::v4l2::MakeSystemApi(m_dir + "/dev", m_dir + "/sys");
        return SetFaults(config.faults) ? 0 : -1;
    }
    std::string Node() const override { return "video0"; }
    std::shared_ptr<Api> Seam() const override { return m_seam; }
    bool Unplug() override { return Command("unplug"); }
    bool Replug() override { return Command("replug"); }
    bool SetFaults(const sim::V4l2Faults& faults) override {
        return Command(FaultsCommand(faults));
    }

private:
    bool Spawn(const std::vector<std::string>& args) {
        // A command to a program that has died must fail, not end the test program.
        signal(SIGPIPE, SIG_IGN);
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0) return false;
        if (pipe2(out, O_CLOEXEC) != 0) return false;
        const pid_t parent = getpid();
        m_pid = fork();
        if (m_pid < 0) return false;
        if (m_pid == 0) {
            // It ends with the test program, whatever happens to the test.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (getppid() != parent) _exit(1);
            dup2(in[0], 0);
            dup2(out[1], 1);
            std::vector<char*> argv;
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        m_in = in[1];
        m_out = out[0];
        return true;
    }
    std::string ReadLine(int timeoutMs) {
        std::string line;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            pollfd p{m_out, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) return line;
            char c;
            if (read(m_out, &c, 1) != 1) return line;
            if (c == '\n') return line;
            line += c;
        }
    }
    bool Command(const std::string& command) {
        const std::string line = command + "\n";
        if (write(m_in, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
            return false;
        return command == "quit" || ReadLine(10000) == "ok";
    }

    std::string m_dir;
    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
    std::shared_ptr<Api> m_seam;
};

// The machine's first camera (or vivid's), when it has one: LUMACAP_TEST_V4L2_DIR, else /dev.
class RealBackend final : public CameraBackend {
public:
    int Start(const sim::V4l2CameraConfig&, std::string* reason) override {
        const char* dir = std::getenv("LUMACAP_TEST_V4L2_DIR");
        const std::string directory = dir && *dir ? dir : "/dev";
        m_seam = hw::v4l2::MakeSystemApi(directory, "/sys");
        for (const std::string& name : m_seam->ListNodes()) {
            hw::v4l2::NodeInfo info;
            if (hw::v4l2::ProbeNode(*m_seam, name, &info) == 0) {
                m_node = name;
                sim::UseV4l2Directory(directory.c_str());
                return 0;
            }
        }
        *reason = "no V4L2 capture device in " + directory + " (no camera, no vivid)";
        return 1;
    }
    std::string Node() const override { return m_node; }
    std::shared_ptr<Api> Seam() const override { return m_seam; }
    bool IsDouble() const override { return false; }
    bool Unplug() override { return false; }
    bool Replug() override { return false; }
    bool SetFaults(const sim::V4l2Faults&) override { return false; }

private:
    std::shared_ptr<Api> m_seam;
    std::string m_node;
};

}  // namespace

std::unique_ptr<CameraBackend> MakeBackend(const std::string& kind, const std::string& dir) {
    if (kind == "served") return std::make_unique<ServedBackend>(dir);
    if (kind == "real") return std::make_unique<RealBackend>();
    return std::make_unique<InProcessBackend>();
}

}  // namespace lumacap::test
