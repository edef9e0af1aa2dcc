// lumacap record: records cameras and windows side by side, with sound if asked, to an AVI or ASF
// file through CDXRecorder, showing its progress, and reads the file back with ffprobe.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <lumacap/lumacap.h>
#include <lumacap/sim.h>

#include "CaptureCommon.h"
#include "Commands.h"
#include "Microphones.h"
#include "Options.h"

namespace lumacap::tool {
namespace {

void PrintHelp() {
    std::printf(
        "usage: lumacap record -o FILE [options]\n"
        "\n"
        "Records cameras and windows into one video, each in its own rectangle, with sound from\n"
        "the first microphone if asked, and reads the file back with ffprobe at the end.\n"
        "\n"
        "  -o, --output FILE      the file to write: .avi (AVI), .asf or .wmv (ASF)\n"
        "  --seconds N            how long to record (default 5)\n"
        "  --camera DEV[:FMT][@X,Y,W,H]\n"
        "                         a camera: DEV is its position or part of its name, FMT a\n"
        "                         format index or WxH (default: the first format); repeatable\n"
        "  --window screen|HANDLE|TEXT[@X,Y,W,H]\n"
        "                         the whole screen, or a window by its handle or by (part of)\n"
        "                         its title or class (see 'lumacap windows'); repeatable\n"
        "  --size WxH             the video's size (default 640x480 for one source, 320x240\n"
        "                         per source side by side otherwise)\n"
        "  --fps 10|20|30         frames per second (default 10)\n"
        "  --audio                record sound from the first microphone (the sound server's\n"
        "                         default one when a server is reachable)\n"
        "  --microphone NAME      record sound from this microphone instead (its name, part of\n"
        "                         it, or its display name; see 'lumacap devices')\n"
        "  --compressor NAME      video compressor by name (see 'lumacap devices'); AVI only\n"
        "                         (ASF files are always Windows Media Video)\n"
        "  --bitrate KBPS         ASF video bit rate (default 185)\n"
        "\n"
        "Sources are laid out side by side in the order given, unless a rectangle follows them\n"
        "with '@'. Without any source the default camera is recorded (the screen when there is\n"
        "no camera).\n");
}

// The file format code for StartRecord: .wmv is ASF too, named explicitly.
int FormatOf(const std::string& path) {
    const size_t dot = path.rfind('.');
    std::string ext = dot == std::string::npos ? "" : path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == "avi") return RecorderFormat_AVI;
    if (ext == "asf" || ext == "wmv") return RecorderFormat_ASF;
    return -1;
}

// ---- the host window: parent of the cameras and receiver of the sound level ---------------------

std::atomic<int> g_level{INT32_MIN};
std::atomic<int> g_levelMessages{0};

LRESULT CALLBACK HostProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_RECORDER_AUDIOLEVEL) {
        g_level = static_cast<int>(lParam);
        ++g_levelMessages;
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

HWND CreateRecordHost() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = HostProc;
    wc.lpszClassName = "LumacapRecordHost";
    RegisterClassA(&wc);
    return CreateWindowExA(0, "LumacapRecordHost", "lumacap record", WS_OVERLAPPEDWINDOW, 0, 0, 640,
                           480, nullptr, nullptr, nullptr, nullptr);
}

// ---- cameras ------------------------------------------------------------------------------------

// Opens the camera a --camera value names; on failure says why.
bool OpenCamera(const std::string& spec, HWND parent, CDXCamera* camera, std::string* error) {
    const size_t colon = spec.find(':');
    const std::string device = spec.substr(0, colon);
    const std::string format = colon == std::string::npos ? "" : spec.substr(colon + 1);
    const long count = CDXCamera::GetCameraCount();
    long index = -1;
    char* end = nullptr;
    const long number = std::strtol(device.c_str(), &end, 10);
    if (!device.empty() && end && *end == 0) {
        index = number;
    } else {
        for (long i = 0; i < count && index < 0; ++i) {
            CDXCAMERAPROPERTY property;
            CDXCamera::GetCameraProperty(static_cast<int>(i), &property);
            if (Utf8(property.GetName()).find(device) != std::string::npos) index = i;
        }
    }
    if (index < 0 || index >= count) {
        *error = "no camera '" + device + "' (" + std::to_string(count) +
                 " found; see 'lumacap devices')";
        return false;
    }
    if (!camera->SetCameraIndex(index)) {
        *error = "camera " + std::to_string(index) + ": " + Utf8(camera->GetLastError());
        return false;
    }
    long formatIndex = 0;
    if (!format.empty()) {
        int w = 0, h = 0;
        const long n = std::strtol(format.c_str(), &end, 10);
        if (end && *end == 0) {
            formatIndex = n;
        } else if (ParseSize(format, &w, &h)) {
            formatIndex = -1;
            for (unsigned f = 0; f < camera->GetVideoInfoCount() && formatIndex < 0; ++f) {
                long fw = 0, fh = 0;
                camera->GetVideoSize(static_cast<int>(f), &fw, &fh);
                if (fw == w && std::labs(fh) == h) formatIndex = static_cast<long>(f);
            }
            if (formatIndex < 0) {
                *error = "camera " + std::to_string(index) + " has no " + format + " format";
                return false;
            }
        } else {
            *error = "bad camera format '" + format + "' (an index or WxH)";
            return false;
        }
    }
    if (formatIndex < 0 || formatIndex >= static_cast<long>(camera->GetVideoInfoCount())) {
        *error =
            "camera " + std::to_string(index) + " has no format " + std::to_string(formatIndex);
        return false;
    }
    if (!camera->SetResolutionIndex(formatIndex)) {
        *error = "camera " + std::to_string(index) + ": " + Utf8(camera->GetLastError());
        return false;
    }
    camera->SetParentWnd(parent);
    camera->SetRenderMode(1);  // frames reach the recorder through the grabber; nothing is shown
    camera->Open();
    if (camera->GetCameraStatus() != 3) {
        *error =
            "camera " + std::to_string(index) + " did not open: " + Utf8(camera->GetLastError());
        return false;
    }
    return true;
}

// ---- windows ------------------------------------------------------------------------------------

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The window a --window value names: a handle, or the topmost other program's window whose title
// or class contains the text (in any case); null with the reason otherwise.
HWND FindWindowSource(const std::string& spec, std::string* error) {
    char* end = nullptr;
    const unsigned long long handle = std::strtoull(spec.c_str(), &end, 0);
    if (!spec.empty() && end && *end == 0) {
        HWND window = reinterpret_cast<HWND>(static_cast<uintptr_t>(handle));
        if (IsWindow(window)) return window;
        *error = "'" + spec + "' is not a window (see 'lumacap windows')";
        return nullptr;
    }
    std::vector<HWND> windows;
    EnumWindows(
        [](HWND h, LPARAM p) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    const std::string wanted = Lower(spec);
    for (HWND h : windows) {
        DWORD pid = 0;
        GetWindowThreadProcessId(h, &pid);
        if (pid == GetCurrentProcessId() || !IsWindowVisible(h)) continue;  // not the tool's own
        char title[256] = "", cls[128] = "";
        GetWindowTextA(h, title, sizeof(title));
        GetClassNameA(h, cls, sizeof(cls));
        if (Lower(Utf8(title)).find(wanted) != std::string::npos ||
            Lower(cls).find(wanted) != std::string::npos)
            return h;
    }
    *error = "no window's title or class contains '" + spec + "' (see 'lumacap windows')";
    return nullptr;
}

// ---- late frames: the library logs each one -----------------------------------------------------

// Counts the frame source's "frame delay" lines added to the library's log files since Start.
class LateFrameCounter {
public:
    void Start() {
        for (const std::string& file : LogFiles()) m_offsets[file] = FileSize(file);
    }
    int Count() {
        for (const std::string& file : LogFiles()) {
            std::ifstream in(file, std::ios::binary);
            auto& offset = m_offsets[file];
            in.seekg(static_cast<std::streamoff>(offset));
            std::string line;
            while (std::getline(in, line)) {
                if (in.eof()) break;  // an unfinished line is read next time
                offset += line.size() + 1;
                if (line.find("recorder,frame delay:") != std::string::npos) ++m_late;
            }
        }
        return m_late;
    }

private:
    static std::vector<std::string> LogFiles() {
        std::vector<std::string> files;
        for (const char* dir : {"c:\\kqllog\\", "d:\\kqllog\\"}) {
            const std::string host = sim::HostPath(dir);
            std::error_code ec;
            if (host.empty() || !std::filesystem::is_directory(host, ec)) continue;
            for (const auto& entry : std::filesystem::directory_iterator(host, ec))
                if (entry.path().extension() == ".log") files.push_back(entry.path().string());
        }
        return files;
    }
    static size_t FileSize(const std::string& file) {
        struct stat st;
        return ::stat(file.c_str(), &st) == 0 ? static_cast<size_t>(st.st_size) : 0;
    }
    std::map<std::string, size_t> m_offsets;
    int m_late = 0;
};

// ---- progress and summary -----------------------------------------------------------------------

std::string LevelMeter(bool audio) {
    if (!audio) return "";
    if (g_levelMessages == 0) return "  sound  (waiting)";
    const int level = g_level;
    if (level == INT32_MIN) return "  sound  [....................]  silent";
    // Full scale reads about 78 dB; the meter shows the top 60 dB.
    const int bars = std::max(0, std::min(20, (level - 18) / 3));
    char text[64];
    std::snprintf(text, sizeof(text), "  sound  [%s%s] %3d dB",
                  std::string(static_cast<size_t>(bars), '#').c_str(),
                  std::string(static_cast<size_t>(20 - bars), '.').c_str(), level);
    return text;
}

std::string ShellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// ffprobe's view of the file as key=value pairs; empty when ffprobe cannot read it.
std::map<std::string, std::string> Probe(const std::string& path, std::string* error) {
    std::map<std::string, std::string> values;
    const std::string command =
        "ffprobe -v error -count_packets -show_entries "
        "format=duration,size,format_name:stream=index,codec_type,codec_name,width,height,"
        "r_frame_rate,nb_read_packets,sample_rate,channels -of flat " +
        ShellQuote(path) + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        *error = "cannot run ffprobe";
        return values;
    }
    char line[512];
    std::string output;
    while (std::fgets(line, sizeof(line), pipe)) {
        output += line;
        std::string text = line;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        const size_t eq = text.find('=');
        if (eq == std::string::npos) continue;
        std::string value = text.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
        values[text.substr(0, eq)] = value;
    }
    const int status = pclose(pipe);
    if (status != 0 || !values.count("format.duration")) {
        *error = status == 127 * 256 ? "ffprobe is not installed"
                                     : "ffprobe could not read the file: " + output;
        values.clear();
    }
    return values;
}

void PrintSummary(const std::string& path, const std::map<std::string, std::string>& v) {
    auto get = [&](const std::string& key) {
        auto it = v.find(key);
        return it == v.end() ? std::string("?") : it->second;
    };
    const double bytes = std::atof(get("format.size").c_str());
    char size[32];
    if (bytes >= 1e6)
        std::snprintf(size, sizeof(size), "%.1f MB", bytes / 1e6);
    else
        std::snprintf(size, sizeof(size), "%.0f kB", bytes / 1e3);
    std::printf("%s: %s, %.2f s, %s\n", path.c_str(), get("format.format_name").c_str(),
                std::atof(get("format.duration").c_str()), size);
    for (int i = 0; v.count("streams.stream." + std::to_string(i) + ".codec_type"); ++i) {
        const std::string p = "streams.stream." + std::to_string(i) + ".";
        if (get(p + "codec_type") == "video") {
            std::printf("  stream %d: video %s %sx%s at %s fps, %s frames\n", i,
                        get(p + "codec_name").c_str(), get(p + "width").c_str(),
                        get(p + "height").c_str(), get(p + "r_frame_rate").c_str(),
                        get(p + "nb_read_packets").c_str());
        } else {
            std::printf("  stream %d: %s %s, %s Hz, %s channel(s), %s packets\n", i,
                        get(p + "codec_type").c_str(), get(p + "codec_name").c_str(),
                        get(p + "sample_rate").c_str(), get(p + "channels").c_str(),
                        get(p + "nb_read_packets").c_str());
        }
    }
}

}  // namespace

int RunRecord(int argc, char** argv) {
    RecordOptions o;
    if (const int status = ReportParsed("record", ParseRecord(argc, argv, &o), PrintHelp);
        status >= 0)
        return status;
    const int format = FormatOf(o.output);
    if (format < 0) {
        std::fprintf(stderr, "lumacap record: '%s' is neither .avi nor .asf/.wmv\n",
                     o.output.c_str());
        return 2;
    }

    CoInitialize(nullptr);
    ReportDisplay("record");
    HWND host = CreateRecordHost();
    if (o.sources.empty()) {
        RecordSource s;
        s.camera = CDXCamera::GetCameraCount() > 0;
        s.spec = s.camera ? "0" : "screen";
        o.sources.push_back(s);
    }
    const int n = static_cast<int>(o.sources.size());
    if (o.width == 0) {
        o.width = n == 1 ? 640 : std::min(1920, 320 * n);
        o.height = n == 1 ? 480 : 240;
    }

    int status = 0;
    std::vector<std::unique_ptr<CDXCamera>> cameras;
    auto recorder = std::make_unique<CDXRecorder>();
    recorder->SetVideoSize(o.width, o.height);
    recorder->SetFPS(o.fps);
    recorder->SetAudioRecord(o.audio);
    recorder->SetAsfBitrate(o.bitrate);
    recorder->SetNotifyWnd(host);
    if (!o.compressor.empty())
        recorder->SetVideoCompressor(sim::Utf8ToGbk(o.compressor.c_str()).c_str());

    std::string error;
    for (int i = 0; i < n && error.empty(); ++i) {
        const RecordSource& s = o.sources[static_cast<size_t>(i)];
        const RECT side{o.width * i / n, 0, o.width * (i + 1) / n, o.height};
        const RECT rect = s.hasRect ? s.rect : side;
        if (s.camera) {
            cameras.push_back(std::make_unique<CDXCamera>());
            if (!OpenCamera(s.spec, host, cameras.back().get(), &error)) break;
            recorder->AddVideoSource(cameras.back().get(), rect);
        } else {
            HWND window = nullptr;
            if (s.spec != "screen" && !(window = FindWindowSource(s.spec, &error))) break;
            recorder->AddWindowSource(window, rect);
        }
        std::printf("source %d: %s %s at (%ld, %ld) %ldx%ld\n", i, s.camera ? "camera" : "window",
                    s.spec.c_str(), static_cast<long>(rect.left), static_cast<long>(rect.top),
                    static_cast<long>(rect.right - rect.left),
                    static_cast<long>(rect.bottom - rect.top));
    }

    if (error.empty() && o.audio) {
        Microphone microphone;
        if (!o.microphone.empty()) {
            ChooseMicrophone(o.microphone, &microphone, &error);
        } else {
            const std::vector<Microphone> all = ListMicrophones();
            if (all.empty())
                error = "no microphone to record sound from";
            else
                microphone = all.front();
        }
        if (error.empty()) std::printf("sound from: %s\n", microphone.name.c_str());
    }

    LateFrameCounter late;
    bool stalled = false;
    if (error.empty()) {
        late.Start();
        std::printf("recording %dx%d at %u fps%s to %s for %.1f s\n", o.width, o.height,
                    recorder->GetFPs(), o.audio ? " with sound" : "", o.output.c_str(), o.seconds);
        if (!recorder->StartRecord(sim::Utf8ToGbk(o.output.c_str()).c_str(), format))
            error = "recording did not start: " + Utf8(recorder->GetErrorMsg());
    }
    if (error.empty()) {
        const bool tty = isatty(STDOUT_FILENO);
        const auto start = std::chrono::steady_clock::now();
        double elapsed = 0, lastPrinted = -1;
        // The recorder is not told when its graph fails (a full disk ends the file's stream): its
        // frame count then stops advancing, which is what is watched here. The limits are far
        // beyond a frame's interval, so a loaded machine (or a sanitizer's slowdown) that delays
        // a frame is not taken for a failure; starting the graph gets longer still.
        int lastFrames = -1;
        double lastAdvance = 0;
        const double stallLimit = 3.0, startLimit = 10.0;
        while (elapsed < o.seconds) {
            sim::PumpMessages();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const int frames = recorder->GetRealFramesCount();
            if (frames != lastFrames) {
                lastFrames = frames;
                lastAdvance = elapsed;
            } else if (elapsed - lastAdvance >= (frames > 0 ? stallLimit : startLimit)) {
                stalled = true;
                break;
            }
            if (tty ? elapsed - lastPrinted >= 0.2
                    : std::floor(elapsed) > std::floor(lastPrinted)) {
                lastPrinted = elapsed;
                std::printf("%s  %6.1f s  frames %6d  late %4d%s%s", tty ? "\r" : "",
                            std::min(elapsed, o.seconds), recorder->GetRealFramesCount(),
                            late.Count(), LevelMeter(o.audio).c_str(), tty ? "" : "\n");
                std::fflush(stdout);
            }
        }
        recorder->CloseRecord();
        sim::PumpMessages();
        std::printf("%sdone: %d frames composed, %d late\n", tty ? "\n" : "",
                    recorder->GetRealFramesCount(), late.Count());
        if (stalled) {
            std::fprintf(stderr,
                         "lumacap record: the recording stopped advancing after %d frames "
                         "(%.1f s); the file was closed with what had been written\n",
                         lastFrames, lastAdvance);
            status = 1;
        }
    }
    recorder.reset();
    for (auto& camera : cameras) camera->Close();
    cameras.clear();
    DestroyWindow(host);
    CoUninitialize();

    if (!error.empty()) {
        // The system's texts for codes end with a line break of their own.
        while (!error.empty() && (error.back() == '\n' || error.back() == '\r')) error.pop_back();
        std::fprintf(stderr, "lumacap record: %s\n", error.c_str());
        return 1;
    }
    std::string probeError;
    const auto values = Probe(o.output, &probeError);
    if (values.empty()) {
        std::fprintf(stderr, "lumacap record: %s\n", probeError.c_str());
        status = 1;
    } else {
        PrintSummary(o.output, values);
    }
    return status;
}

}  // namespace lumacap::tool
