// Recorder call sequences in any order: sources added, moved and removed, sizes, rates,
// compressors, sound and paths of every kind, start, pause, run, stop and close, with the cameras
// it composes from opened and closed meanwhile. The status always follows the calls, refused
// changes leave the sources alone, nothing crashes, and when all is destroyed the component
// objects, windows and drawing objects are back to what they were.
//
// Input: a sequence of calls, a byte each, with their arguments.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include <lumacap/lumacap.h>
#include <lumacap/sim.h>

#include "common/FuzzSupport.h"

namespace {

using namespace lumacap;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "recorder_calls: %s\n", what);
    std::abort();
}

long __cdecl TouchFrame(unsigned char* buffer, long length, void*) {
    // A host callback that reads and changes the picture it is given.
    if (buffer && length > 0) buffer[length - 1] ^= 0xFF;
    return 0;
}

const char* const kCompressors[] = {"",
                                    "MJPEG Compressor",
                                    "MPEG-4 Video Compressor",
                                    "H.264 Video Compressor",
                                    "Ut Video Lossless Compressor",
                                    "No Such Compressor"};

int Size(fuzz::FuzzInput& in) {
    static const int kExtremes[] = {0, -1, 1, 2, 3, 65535, 0x7FFFFFFF, -0x7FFFFFFF - 1};
    if (in.Byte() < 16) return kExtremes[in.Pick(8)];
    return in.Range(-8, 1280);
}

RECT Place(fuzz::FuzzInput& in) {
    RECT r;
    r.left = in.Range(-100, 1400);
    r.top = in.Range(-100, 800);
    r.right = in.Range(-100, 1400);
    r.bottom = in.Range(-100, 800);
    return r;
}

class Session {
public:
    Session() {
        HWND host = fuzz::HostWindow();
        for (auto& camera : m_cameras) {
            camera = std::make_unique<CDXCamera>();
            camera->SetCameraIndex(0);
            camera->SetResolutionIndex(1);
            camera->SetRenderMode(1);
            camera->SetParentWnd(host);
        }
        MakeChild();
    }
    ~Session() {
        m_recorder.reset();
        for (auto& camera : m_cameras) camera.reset();
        if (IsWindow(m_child)) DestroyWindow(m_child);
        sim::PumpMessages();
    }

    void Step(fuzz::FuzzInput& in) {
        CDXRecorder& r = *m_recorder;
        const int statusBefore = r.GetStatus();
        const int countBefore = r.GetSourceCount();
        bool changesSources = false;
        switch (in.Byte() % 22) {
            case 0: {
                const uint32_t which = in.Pick(3);
                r.AddVideoSource(which < 2 ? m_cameras[which].get() : nullptr, Place(in));
                changesSources = true;
                break;
            }
            case 1: {
                const HWND window = Window(in);
                r.AddWindowSource(window, Place(in));
                changesSources = true;
                break;
            }
            case 2:
                r.RemoveSourceAt(in.Range(-2, 6));
                changesSources = true;
                break;
            case 3:
                r.RemoveAll();
                changesSources = true;
                break;
            case 4: {
                const int index = in.Range(-2, 6);
                r.SetSourcePosition(index, Place(in));
                break;
            }
            case 5: {
                const int w = Size(in);
                r.SetVideoSize(w, Size(in));
                break;
            }
            case 6:
                r.SetFPS(in.Dword());
                break;
            case 7:
                r.SetVideoCompressor(kCompressors[in.Pick(6)]);
                break;
            case 8:
                r.SetAudioRecord(in.Flag());
                break;
            case 9:
                r.SetAsfBitrate(in.Dword());
                break;
            case 10:
            case 11:
                Start(in);
                break;
            case 12:
                r.Run();
                break;
            case 13:
                r.Pause();
                break;
            case 14:
                r.Stop();
                break;
            case 15:
                r.CloseRecord();
                if (r.GetStatus() != 0) Fail("CloseRecord leaves a status");
                break;
            case 16: {
                CDXCamera& camera = *m_cameras[in.Pick(2)];
                if (camera.GetCameraStatus() == 0)
                    camera.Open();
                else
                    camera.Close();
                break;
            }
            case 17:
                r.SetDxRecorderBuffCB(in.Flag() ? TouchFrame : nullptr, nullptr);
                break;
            case 18:
                r.SetNotifyWnd(Window(in));
                break;
            case 19:
                // Time for frames and sound to flow.
                sim::PumpMessagesUntil([] { return false; }, in.Range(0, 40));
                break;
            case 20:
                if (IsWindow(m_child))
                    DestroyWindow(m_child);
                else
                    MakeChild();
                break;
            case 21: {
                const int index = in.Range(-2, 6);
                r.GetSourceCore(index);
                r.GetSourceType(index);
                r.GetSourcePosition(index);
                break;
            }
        }
        const int status = r.GetStatus();
        if (status < 0 || status > 3) Fail("status out of range");
        if (changesSources && statusBefore != 0 && r.GetSourceCount() != countBefore)
            Fail("the sources changed while a recording was open");
        if (!r.GetErrorMsg()) Fail("no error text");
    }

    void Replace() { m_recorder = std::make_unique<CDXRecorder>(); }

private:
    void MakeChild() {
        m_child = CreateWindowExA(0, "FuzzHost", "child", WS_CHILD | WS_VISIBLE, 10, 10, 200, 150,
                                  fuzz::HostWindow(), nullptr, nullptr, nullptr);
    }

    HWND Window(fuzz::FuzzInput& in) {
        switch (in.Pick(4)) {
            case 0:
                return nullptr;  // the whole screen
            case 1:
                return fuzz::HostWindow();
            case 2:
                return m_child;  // possibly destroyed by now
            default:
                return reinterpret_cast<HWND>(static_cast<uintptr_t>(in.Dword()));
        }
    }

    void Start(fuzz::FuzzInput& in) {
        const std::string dir = fuzz::ScratchDirectory();
        const std::string paths[] = {dir + "/a.avi",         dir + "/b.asf", dir + "/c.wmv",
                                     dir + "/noextension",   dir + "/d.AVI", "",
                                     dir + "/missing/e.avi", "/proc/f.avi",  "C:\\g.asf"};
        const std::string& path = paths[in.Pick(9)];
        const int format = in.Range(-1, 3);
        CDXRecorder& r = *m_recorder;
        const int before = r.GetStatus();
        const BOOL started = r.StartRecord(in.Flag() ? nullptr : path.c_str(), format);
        if (started && r.GetStatus() != 3) Fail("a started recording does not run");
        if (!started && before == 0 && r.GetStatus() != 0) Fail("a failed start leaves a status");
        if (!started && !*r.GetErrorMsg()) Fail("a failed start says nothing");
    }

    std::unique_ptr<CDXCamera> m_cameras[2];
    std::unique_ptr<CDXRecorder> m_recorder = std::make_unique<CDXRecorder>();
    HWND m_child = nullptr;
};

void RemoveRecordings() {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(fuzz::ScratchDirectory(), ec))
        if (entry.is_regular_file()) std::filesystem::remove(entry.path(), ec);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::InitializeMachine();
    fuzz::HostWindow();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const long objects = sim::LiveObjects();
    const int windows = sim::WindowCount();
    const long gdi = sim::GdiObjectCount();
    {
        fuzz::FuzzInput in(data, size);
        Session session;
        for (int calls = 0; calls < 64 && !in.Empty(); ++calls) {
            session.Step(in);
            // Now and then the recorder is destroyed in whatever state it is in.
            if (in.Byte() == 0xFF) session.Replace();
        }
    }
    // Streaming threads release what they hold as they wind down.
    const bool clean = sim::PumpMessagesUntil(
        [&] {
            return sim::LiveObjects() == objects && sim::WindowCount() == windows &&
                   sim::GdiObjectCount() == gdi;
        },
        5000);
    if (!clean) {
        std::fprintf(stderr, "objects %ld -> %ld, windows %d -> %d, GDI objects %ld -> %ld\n",
                     objects, sim::LiveObjects(), windows, sim::WindowCount(), gdi,
                     sim::GdiObjectCount());
        Fail("objects left behind");
    }
    RemoveRecordings();
    return 0;
}
