// The double and a real PulseAudio server for the microphone tests.
#include "pulse/SoundBackends.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>

#include <lumacap/sim.h>

#include "pulse/FakeSoundServer.h"

namespace lumacap::test {
namespace {

// One server for the whole test program, started when first needed and again after GoAway.
struct PulseProcess {
    std::string dir;
    pid_t pid = 0;

    ~PulseProcess() { Kill(); }

    std::string Socket() const { return dir + "/native"; }

    // Runs pactl against this server; its output, or "" with `ok` false.
    std::string Pactl(const std::string& args, bool* ok = nullptr) const {
        const std::string command = "PULSE_SERVER=unix:" + Socket() + " pactl " + args + " 2>&1";
        std::string out;
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe) return "";
        char buf[256];
        while (std::fgets(buf, sizeof(buf), pipe)) out += buf;
        const int status = pclose(pipe);
        if (ok) *ok = status == 0;
        return out;
    }

    std::string Start() {
        if (pid > 0) return "";
        char templ[] = "/tmp/lumacap-pulse-XXXXXX";
        if (!mkdtemp(templ)) return "cannot create a directory for the sound server";
        dir = templ;
        // A user-mode server confined to the directory (its runtime files, its state, its
        // socket, on which anyone is let in), with no default script: only what is loaded here.
        const std::vector<std::string> args = {
            "env",
            "XDG_RUNTIME_DIR=" + dir,
            "PULSE_RUNTIME_PATH=" + dir,
            "HOME=" + dir,
            "pulseaudio",
            "-n",
            "--daemonize=no",
            "--exit-idle-time=-1",
            "--use-pid-file=no",
            "-L",
            "module-native-protocol-unix auth-anonymous=1 socket=" + Socket(),
            "-L",
            "module-null-sink sink_name=speakers"};
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        const std::string log = dir + "/server.log";
        pid = fork();
        if (pid == 0) {
            // The server goes with the test program, however that ends.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(fd, 1);
            dup2(fd, 2);
            execvp("env", argv.data());
            _exit(127);
        }
        if (pid < 0) {
            pid = 0;
            return "cannot start pulseaudio: " + std::string(std::strerror(errno));
        }
        for (int i = 0; i < 200; ++i) {
            bool ok = false;
            Pactl("info", &ok);
            if (ok) return "";
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        Kill();
        return "pulseaudio did not start (see its log in " + dir + ")";
    }

    void Kill() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            pid = 0;
        }
        std::error_code ec;
        if (!dir.empty() && !std::getenv("LUMACAP_KEEP_TEST_FILES"))
            std::filesystem::remove_all(dir, ec);
    }
};

PulseProcess& Pulse() {
    static PulseProcess process;
    return process;
}

class PulseAudioBackend final : public SoundBackend {
public:
    // A pipe whose server has gone must fail the write, not end the test program.
    PulseAudioBackend() { signal(SIGPIPE, SIG_IGN); }
    ~PulseAudioBackend() override {
        for (auto& [name, module] : m_modules) {
            if (module.fd >= 0) close(module.fd);
            if (Pulse().pid > 0) Pulse().Pactl("unload-module " + module.index);
        }
    }

    std::string Unavailable() override {
        if (std::system("command -v pulseaudio >/dev/null 2>&1") != 0)
            return "pulseaudio is not installed (scripts/install-deps.sh installs it)";
        return "";
    }

    std::string Use() override {
        const std::string error = Pulse().Start();
        sim::UseSoundServer(("unix:" + Pulse().Socket()).c_str());
        return error;
    }

    void AddMicrophone(const std::string& name, const std::string& description, int rate,
                       int channels) override {
        const std::string fifo = Pulse().dir + "/" + name + ".fifo";
        Load(name, "module-pipe-source source_name=" + name + " file=" + fifo +
                       " format=s16le rate=" + std::to_string(rate) +
                       " channels=" + std::to_string(channels) +
                       " \"source_properties=\\\"device.description='" + description + "'\\\"\"");
        // The server holds the pipe open for reading, so this does not wait for a reader. It
        // reads only while someone records, unlike a microphone, which goes on capturing: a
        // small pipe whose overflow is dropped keeps what it holds meanwhile under 25 ms.
        const int fd = open(fifo.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
        fcntl(fd, F_SETPIPE_SZ, 4096);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_modules[name].fd = fd;
    }

    void AddOutput(const std::string& sink) override {
        Load(sink + ".monitor", "module-null-sink sink_name=" + sink);
    }

    void Remove(const std::string& name) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_modules.find(name);
        if (it == m_modules.end()) return;
        if (it->second.fd >= 0) close(it->second.fd);
        Pulse().Pactl("unload-module " + it->second.index);
        m_modules.erase(it);
    }

    void SetDefault(const std::string& source) override {
        Pulse().Pactl("set-default-source " + source);
    }

    void Write(const std::string& name, const std::vector<int16_t>& frames) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_modules.find(name);
        if (it == m_modules.end() || it->second.fd < 0) return;
        // Writes of a page or less are all or nothing, so whole frames are dropped.
        if (write(it->second.fd, frames.data(), frames.size() * sizeof(int16_t)) < 0) return;
    }

    void GoAway() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto& [name, module] : m_modules)
            if (module.fd >= 0) close(module.fd);
        m_modules.clear();
        Pulse().Kill();
    }

private:
    struct Module {
        std::string index;
        int fd = -1;
    };
    void Load(const std::string& name, const std::string& args) {
        std::string index = Pulse().Pactl("load-module " + args);
        while (!index.empty() && std::isspace(static_cast<unsigned char>(index.back())))
            index.pop_back();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_modules[name].index = index;
    }

    // Writers run on a thread of their own.
    std::mutex m_mutex;
    std::map<std::string, Module> m_modules;
};

}  // namespace

std::shared_ptr<SoundBackend> MakeSoundBackend(const std::string& kind) {
    if (kind == "pulseaudio") return std::make_shared<PulseAudioBackend>();
    return std::make_shared<FakeSoundServer>();
}

ToneWriter::ToneWriter(SoundBackend& backend, std::string name, int rate, int channels, double hz,
                       double amplitude)
    : m_amplitude(amplitude) {
    m_thread = std::thread([this, &backend, name, rate, channels, hz] {
        const auto start = std::chrono::steady_clock::now();
        const int chunk = rate / 100;
        std::vector<int16_t> frames(static_cast<size_t>(chunk * channels));
        for (int64_t n = 0; !m_stop; n += chunk) {
            const double a = m_amplitude * 32767.0;
            for (int i = 0; i < chunk; ++i) {
                const double v = a * std::sin(2 * M_PI * hz * static_cast<double>(n + i) / rate);
                for (int c = 0; c < channels; ++c)
                    frames[static_cast<size_t>(i * channels + c)] =
                        static_cast<int16_t>(std::lround(v));
            }
            backend.Write(name, frames);
            std::this_thread::sleep_until(start +
                                          std::chrono::microseconds((n + chunk) * 1000000 / rate));
        }
    });
}

ToneWriter::~ToneWriter() {
    m_stop = true;
    m_thread.join();
}

}  // namespace lumacap::test
