// A sound-server microphone, measured against a real PulseAudio server started here with a pipe
// source fed a tone in real time by a child process:
//  - CPU seconds per recorded second of our capture filter (into a sample grabber whose callback
//    writes the sound to a file) at 44,100 Hz stereo and at 11,025 Hz mono, against parec writing
//    the same source in the same format, with the same fragment size, to a file at the same time;
//  - the delay from a loudness step written into the pipe to the recorder's level message that
//    shows it, in buffers of 1,024 samples (the recorder's own buffer at 11,025 Hz).
//
// usage: bench_microphone_bench [--seconds N] [--trials N]   (default 5 trials of 6 s per format;
//        other flags ignored)
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <lumacap/lumacap.h>
#include <lumacap/sim.h>
#include <mmreg.h>
#include <qedit.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRate = 44100, kChannels = 2;

std::string g_dir;

double CpuSeconds(const rusage& u) {
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double SelfCpu() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return CpuSeconds(u);
}

pid_t Spawn(const std::vector<std::string>& args, const std::string& out = "/dev/null") {
    // Everything the child needs is made before the fork: it may not allocate once threads run.
    std::vector<std::string> env = {"PULSE_SERVER=unix:" + g_dir + "/native",
                                    "XDG_RUNTIME_DIR=" + g_dir, "HOME=" + g_dir};
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "PULSE_SERVER=", 13) && std::strncmp(*e, "XDG_RUNTIME_DIR=", 16) &&
            std::strncmp(*e, "HOME=", 5))
            env.push_back(*e);
    std::vector<char*> argv, envp;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 1);
        dup2(fd, 2);
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    return pid;
}

// Writes a 440 Hz tone into the pipe in real time until `stop`; with `steps` quiet and loud in
// alternate seconds from `start` (loud in the odd ones). Like a microphone nobody listens to, the
// pipe keeps little and drops the rest while the server does not read it.
void WriteTone(bool steps, Clock::time_point start, const std::atomic<bool>* stop) {
    const int fd = open((g_dir + "/mic.fifo").c_str(), O_WRONLY | O_NONBLOCK);
    fcntl(fd, F_SETPIPE_SZ, 4096);
    const int chunk = kRate / 100;
    std::vector<int16_t> frames(static_cast<size_t>(chunk * kChannels));
    for (int64_t n = 0; !stop || !*stop; n += chunk) {
        const bool loud = !steps || (n / kRate) % 2 == 1;
        const double a = (loud ? 0.5 : 0.01) * 32767;
        for (int i = 0; i < chunk; ++i) {
            const auto v =
                static_cast<int16_t>(a * std::sin(2 * M_PI * 440 * double(n + i) / kRate));
            frames[static_cast<size_t>(2 * i)] = frames[static_cast<size_t>(2 * i + 1)] = v;
        }
        if (write(fd, frames.data(), frames.size() * 2) < 0 && errno != EAGAIN) break;
        std::this_thread::sleep_until(start +
                                      std::chrono::microseconds((n + chunk) * 1000000 / kRate));
    }
    close(fd);
}

pid_t g_server = 0;

bool StartServer() {
    char templ[] = "/tmp/lumacap-bench-pulse-XXXXXX";
    if (!mkdtemp(templ)) return false;
    g_dir = templ;
    g_server = Spawn(
        {"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no", "-L",
         "module-native-protocol-unix auth-anonymous=1 socket=" + g_dir + "/native", "-L",
         "module-pipe-source source_name=mic format=s16le rate=44100 channels=2 file=" + g_dir +
             "/mic.fifo"},
        g_dir + "/server.log");
    for (int i = 0; i < 100; ++i) {
        const std::string probe =
            "PULSE_SERVER=unix:" + g_dir + "/native pactl info >/dev/null 2>&1";
        if (std::system(probe.c_str()) == 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// Writes every buffer that reaches the grabber to a file, as parec does.
class FileCallback final : public ISampleGrabberCB {
public:
    explicit FileCallback(FILE* file) : m_file(file) {}
    STDMETHODIMP QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP SampleCB(double, IMediaSample*) override { return S_OK; }
    STDMETHODIMP BufferCB(double, BYTE* buffer, long length) override {
        std::fwrite(buffer, 1, static_cast<size_t>(length), m_file);
        return S_OK;
    }

private:
    FILE* m_file;
};

template <class T>
T* Create(REFCLSID clsid, REFIID iid) {
    T* p = nullptr;
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, reinterpret_cast<void**>(&p));
    return p;
}

IBaseFilter* FirstMicrophone() {
    auto* devices = Create<ICreateDevEnum>(CLSID_SystemDeviceEnum, IID_ICreateDevEnum);
    IEnumMoniker* monikers = nullptr;
    IMoniker* moniker = nullptr;
    IBaseFilter* filter = nullptr;
    if (devices->CreateClassEnumerator(CLSID_AudioInputDeviceCategory, &monikers, 0) == S_OK &&
        monikers->Next(1, &moniker, nullptr) == S_OK) {
        moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter));
        moniker->Release();
    }
    if (monikers) monikers->Release();
    devices->Release();
    return filter;
}

// Our filter and parec recording the same source in the same format for `seconds`; CPU seconds
// per recorded second of each.
bool MeasureCpu(int rate, int channels, double seconds, double* ours, double* parec) {
    const int frame = 2 * channels, buffer = 1024 * frame;
    IBaseFilter* mic = FirstMicrophone();
    if (!mic) return false;
    auto* graph = Create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    auto* grabber = Create<ISampleGrabber>(CLSID_SampleGrabber, IID_ISampleGrabber);
    auto* renderer = Create<IBaseFilter>(CLSID_NullRenderer, IID_IBaseFilter);
    IBaseFilter* grabberFilter = nullptr;
    grabber->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&grabberFilter));
    IPin *micOut = nullptr, *grabIn = nullptr, *grabOut = nullptr, *renderIn = nullptr;
    mic->FindPin(L"Capture", &micOut);
    IAMStreamConfig* config = nullptr;
    IAMBufferNegotiation* negotiation = nullptr;
    micOut->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(&config));
    micOut->QueryInterface(IID_IAMBufferNegotiation, reinterpret_cast<void**>(&negotiation));
    AM_MEDIA_TYPE* mt = nullptr;
    config->GetFormat(&mt);
    auto* wfx = reinterpret_cast<WAVEFORMATEX*>(mt->pbFormat);
    wfx->nSamplesPerSec = static_cast<DWORD>(rate);
    wfx->nChannels = static_cast<WORD>(channels);
    wfx->nBlockAlign = static_cast<WORD>(frame);
    wfx->nAvgBytesPerSec = static_cast<DWORD>(rate * frame);
    config->SetFormat(mt);
    DeleteMediaType(mt);
    ALLOCATOR_PROPERTIES props{6, buffer, frame, 0};
    negotiation->SuggestAllocatorProperties(&props);
    graph->AddFilter(mic, L"Audio");
    graph->AddFilter(grabberFilter, L"Grabber");
    graph->AddFilter(renderer, L"Null Renderer");
    IEnumPins* pins = nullptr;
    grabberFilter->EnumPins(&pins);
    pins->Next(1, &grabIn, nullptr);
    pins->Next(1, &grabOut, nullptr);
    pins->Release();
    renderer->EnumPins(&pins);
    pins->Next(1, &renderIn, nullptr);
    pins->Release();
    const std::string ourFile = g_dir + "/ours.raw", parecFile = g_dir + "/parec.raw";
    FILE* file = std::fopen(ourFile.c_str(), "wb");
    FileCallback callback(file);
    grabber->SetCallback(&callback, 1);
    bool ok =
        SUCCEEDED(graph->Connect(micOut, grabIn)) && SUCCEEDED(graph->Connect(grabOut, renderIn));
    IMediaControl* control = nullptr;
    graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
    const pid_t parecPid =
        Spawn({"parec", "-d", "mic", "--raw", "--format=s16le", "--rate=" + std::to_string(rate),
               "--channels=" + std::to_string(channels), "--latency=" + std::to_string(buffer)},
              parecFile);
    const double before = SelfCpu();
    ok = ok && SUCCEEDED(control->Run());
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    control->Stop();
    *ours = (SelfCpu() - before) / seconds;
    kill(parecPid, SIGINT);
    rusage usage{};
    wait4(parecPid, nullptr, 0, &usage);
    *parec = CpuSeconds(usage) / seconds;
    std::fclose(file);
    // A capture that lost its sound would look cheap: both must have recorded the whole time.
    const auto recorded = [&](const std::string& path) {
        return double(std::ifstream(path, std::ios::ate | std::ios::binary).tellg()) /
               (rate * frame);
    };
    ok = ok && recorded(ourFile) > seconds * 0.9 && recorded(parecFile) > seconds * 0.9;
    for (IUnknown* u :
         std::initializer_list<IUnknown*>{micOut, grabIn, grabOut, renderIn, config, negotiation,
                                          control, grabberFilter, renderer, mic, grabber, graph})
        if (u) u->Release();
    return ok;
}

std::vector<std::pair<Clock::time_point, int>> g_levels;

LRESULT CALLBACK LevelProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_RECORDER_AUDIOLEVEL) g_levels.push_back({Clock::now(), static_cast<int>(lParam)});
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// Delays, in buffers, from each quiet-to-loud step of the tone to the first level message that
// shows it, through a real recording.
std::vector<double> MeasureLatency(double seconds) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = LevelProc;
    wc.lpszClassName = "MicrophoneBench";
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, "MicrophoneBench", "", WS_OVERLAPPEDWINDOW, 0, 0, 64, 64,
                                  nullptr, nullptr, nullptr, nullptr);
    CDXRecorder recorder;
    recorder.SetVideoSize(64, 48);
    recorder.AddWindowSource(nullptr, RECT{0, 0, 64, 48});
    recorder.SetAudioRecord(TRUE);
    recorder.SetNotifyWnd(window);
    std::atomic<bool> stop{false};
    const auto start = Clock::now();
    std::thread writer(WriteTone, true, start, &stop);
    recorder.StartRecord((g_dir + "/latency.avi").c_str(), 0);
    while (Clock::now() - start < std::chrono::duration<double>(seconds)) {
        lumacap::sim::PumpMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    recorder.CloseRecord();
    stop = true;
    writer.join();
    DestroyWindow(window);
    const double bufferSeconds = 1024.0 / 11025;
    std::vector<double> delays;
    for (int s = 1; s < seconds - 1; s += 2) {
        const auto step = start + std::chrono::seconds(s);
        for (const auto& [when, level] : g_levels)
            if (when > step && level > 50) {
                delays.push_back(std::chrono::duration<double>(when - step).count() /
                                 bufferSeconds);
                break;
            }
    }
    return delays;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 6;
    int trials = 5;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atof(argv[++i]);
        if (std::strcmp(argv[i], "--trials") == 0) trials = std::max(1, std::atoi(argv[++i]));
    }
    if (std::system("command -v pulseaudio >/dev/null && command -v parec >/dev/null") != 0) {
        std::printf("skipped: pulseaudio and parec are needed\n");
        return 0;
    }
    if (!StartServer()) {
        std::printf("pulseaudio did not start (log in %s)\n", g_dir.c_str());
        return 1;
    }
    // The writer of the CPU measurements is a process of its own, so its time is not ours; it
    // starts before any thread of ours exists.
    const pid_t writer = fork();
    if (writer == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        WriteTone(false, Clock::now(), nullptr);
        _exit(0);
    }
    CoInitialize(nullptr);
    lumacap::sim::UseSoundServer(("unix:" + g_dir + "/native").c_str());
    // A first, unmeasured run pays for what a process does once (the connection to the server,
    // first allocations), so the measured runs show the steady cost.
    double ours = 0, parec = 0;
    MeasureCpu(44100, 2, 2, &ours, &parec);
    // Small loads on a shared machine measure noisily: the median ratio of several trials, each
    // ours and parec side by side, is what is reported.
    std::printf(
        "CPU per recorded second, the filter against parec on the same source "
        "(median of %d trials of %.0f s):\n",
        trials, seconds);
    int status = 0;
    for (const auto& [rate, channels] : {std::pair{44100, 2}, std::pair{11025, 1}}) {
        std::vector<double> ratios, oursAll, parecAll;
        for (int t = 0; t < trials; ++t) {
            if (!MeasureCpu(rate, channels, seconds, &ours, &parec) || parec <= 0) continue;
            ratios.push_back(ours / parec);
            oursAll.push_back(ours);
            parecAll.push_back(parec);
        }
        if (ratios.empty()) {
            std::printf("  %d Hz x %d: could not record\n", rate, channels);
            status = 1;
            continue;
        }
        auto median = [](std::vector<double> v) {
            std::sort(v.begin(), v.end());
            return v[v.size() / 2];
        };
        std::printf(
            "  %5d Hz x %d: ours %.2f ms/s, parec %.2f ms/s, ratio %.2f (%.2f to %.2f; "
            "goal <= 1.5)\n",
            rate, channels, median(oursAll) * 1e3, median(parecAll) * 1e3, median(ratios),
            *std::min_element(ratios.begin(), ratios.end()),
            *std::max_element(ratios.begin(), ratios.end()));
    }
    kill(writer, SIGKILL);
    waitpid(writer, nullptr, 0);
    const std::vector<double> delays = MeasureLatency(12);
    if (delays.empty()) {
        std::printf("no level message showed a loudness step\n");
        status = 1;
    } else {
        std::printf("Loudness step to level message, in buffers of 1,024 samples: ");
        for (double d : delays) std::printf("%.2f ", d);
        std::printf("(max %.2f; goal <= 2)\n", *std::max_element(delays.begin(), delays.end()));
    }
    CoUninitialize();
    kill(g_server, SIGTERM);
    waitpid(g_server, nullptr, 0);
    std::system(("rm -rf '" + g_dir + "'").c_str());
    return status;
}
