// The sound server's microphones, against the double and against a real PulseAudio server: how
// they are listed, what they offer, and what a recording made from one holds (read back by
// ffmpeg): the signal, its level messages, its alignment with the picture, and its loss.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>

#include <lumacap/lumacap.h>
#include <mmreg.h>

#include "common/UiTest.h"
#include "devices/Devices.h"
#include "platform/system/hw/pulse/Provider.h"
#include "pulse/SoundBackends.h"

namespace lumacap::test {
namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

std::string Utf8(const wchar_t* text) {
    char out[1024] = {};
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof(out) - 1, nullptr, nullptr);
    return out;
}

struct Listed {
    std::string name, display;
};

// The audio capture devices in enumeration order.
std::vector<Listed> Microphones() {
    std::vector<Listed> out;
    ICreateDevEnum* devices = nullptr;
    IEnumMoniker* monikers = nullptr;
    CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                     reinterpret_cast<void**>(&devices));
    if (devices->CreateClassEnumerator(CLSID_AudioInputDeviceCategory, &monikers, 0) == S_OK) {
        for (IMoniker* m = nullptr; monikers->Next(1, &m, nullptr) == S_OK; m->Release()) {
            LPOLESTR display = nullptr;
            IPropertyBag* bag = nullptr;
            VARIANT name;
            VariantInit(&name);
            m->GetDisplayName(nullptr, nullptr, &display);
            m->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag));
            bag->Read(L"FriendlyName", &name, nullptr);
            out.push_back({Utf8(name.bstrVal), Utf8(display)});
            CoTaskMemFree(display);
            VariantClear(&name);
            bag->Release();
        }
        monikers->Release();
    }
    devices->Release();
    return out;
}

std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const Listed& l : Microphones()) names.push_back(l.name);
    return names;
}

std::string Run(const std::string& command) {
    std::string out;
    FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    char buf[4096];
    size_t n;
    while (pipe && (n = std::fread(buf, 1, sizeof(buf), pipe)) > 0) out.append(buf, n);
    if (pipe) pclose(pipe);
    return out;
}

// The file's sound as ffmpeg decodes it: 16-bit mono at 11,025 samples a second.
std::vector<int16_t> Sound(const std::string& path) {
    const std::string raw = Run("ffmpeg -v error -i '" + path + "' -map 0:a:0 -f s16le -");
    std::vector<int16_t> samples(raw.size() / 2);
    std::memcpy(samples.data(), raw.data(), samples.size() * 2);
    return samples;
}

int VideoFrames(const std::string& path) {
    return std::atoi(Run("ffprobe -v error -count_packets -select_streams v:0 -show_entries "
                         "stream=nb_read_packets -of csv=p=0 '" +
                         path + "'")
                         .c_str());
}

// The level the recorder reports for a sine of this amplitude: 20 log10 of a quarter of the mean
// absolute sample.
int LevelOf(double amplitude) {
    return static_cast<int>(20 * std::log10(amplitude * 32767 * 2 / M_PI / 4));
}

class MicrophoneTest : public UiTest, public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override {
        UiTest::SetUp();
        m_backend = MakeSoundBackend(GetParam());
        if (const std::string missing = m_backend->Unavailable(); !missing.empty())
            GTEST_SKIP() << missing;
        ASSERT_EQ(m_backend->Use(), "");
        m_backend->AddMicrophone("desk", "Desk microphone", 44100, 2);
        m_backend->SetDefault("desk");
    }
    void TearDown() override {
        m_backend.reset();
        UiTest::TearDown();
    }

    // Records a window with sound from the first microphone, calling `during` with the seconds
    // since the start every 10 ms until it returns false; the level messages land in m_levels.
    void Record(const std::string& path, const std::function<bool(CDXRecorder&, double)>& during) {
        HWND notify = CreateRecorder(WS_POPUP | WS_VISIBLE, 0, 0, 64, 48);
        MessageLog::Get().SetHandler([this](HWND, UINT msg, WPARAM, LPARAM level, LRESULT*) {
            if (msg == WM_RECORDER_AUDIOLEVEL)
                m_levels.push_back({Since(m_start), static_cast<int>(level)});
            return false;
        });
        CDXRecorder recorder;
        recorder.SetVideoSize(64, 48);
        // A window as small as the picture keeps composing cheap, so frames are not late.
        recorder.AddWindowSource(notify, RECT{0, 0, 64, 48});
        recorder.SetAudioRecord(TRUE);
        recorder.SetNotifyWnd(notify);
        ASSERT_TRUE(recorder.StartRecord(path.c_str(), 0))
            << sim::GbkToUtf8(recorder.GetErrorMsg());
        m_start = Clock::now();
        while (during(recorder, Since(m_start))) {
            sim::PumpMessages();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        const auto closing = Clock::now();
        m_closedAt = Since(m_start);
        recorder.CloseRecord();
        EXPECT_LT(Since(closing), 1.5) << "closing the recording waited for the microphone";
        sim::PumpMessages();
        MessageLog::Get().SetHandler(nullptr);
        DestroyWindow(notify);
    }

    std::string Path(const char* name) const { return TempDir() + "/" + name; }

    std::shared_ptr<SoundBackend> m_backend;
    Clock::time_point m_start;                     // when the recording started running
    double m_closedAt = 0;                         // seconds after it, when it was closed
    std::vector<std::pair<double, int>> m_levels;  // seconds since the start, level
};

TEST_P(MicrophoneTest, ListsMicrophonesDefaultFirstBeforeTheVirtualOneAndFollowsTheServer) {
    m_backend->AddMicrophone("headset", "Headset", 16000, 1);
    m_backend->AddOutput("hdmi");
    m_backend->SetDefault("headset");
    const auto listed = Microphones();
    ASSERT_EQ(Names(), (std::vector<std::string>{"Headset", "Desk microphone",
                                                 "Lumacap Virtual Microphone"}));
    EXPECT_EQ(listed[0].display, hw::pulse::DisplayNameOf("headset"));

    setenv("LUMACAP_AUDIO_MONITORS", "1", 1);
    bool monitorListed = false;
    for (const Listed& l : Microphones())
        monitorListed |= l.display == hw::pulse::DisplayNameOf("hdmi.monitor");
    unsetenv("LUMACAP_AUDIO_MONITORS");
    EXPECT_TRUE(monitorListed) << "monitors are listed when asked for";

    // Sources come and go between enumerations; one that returns keeps its display name.
    m_backend->AddMicrophone("usb", "USB microphone", 48000, 1);
    m_backend->Remove("desk");
    EXPECT_EQ(Names(), (std::vector<std::string>{"Headset", "USB microphone",
                                                 "Lumacap Virtual Microphone"}));
    m_backend->Remove("headset");
    m_backend->AddMicrophone("headset", "Headset", 16000, 1);
    for (const Listed& l : Microphones())
        if (l.name == "Headset") {
            EXPECT_EQ(l.display, listed[0].display);
        }

    sim::UseSoundServer("unix:/nonexistent/lumacap/native");
    EXPECT_EQ(Names(), std::vector<std::string>{"Lumacap Virtual Microphone"});
    sim::UseNoSoundServer();
    EXPECT_EQ(Names(), std::vector<std::string>{"Lumacap Virtual Microphone"});
}

TEST_P(MicrophoneTest, OffersTheSourcesOwnFormatFirstAndElevenKilohertzMono) {
    m_backend->AddMicrophone("headset", "Headset", 16000, 1);
    m_backend->SetDefault("headset");
    IBaseFilter* filter = CreateAVDevice(CLSID_AudioInputDeviceCategory, 0);
    ASSERT_NE(filter, nullptr);
    IPin* pin = nullptr;
    IAMStreamConfig* config = nullptr;
    ASSERT_EQ(filter->FindPin(L"Capture", &pin), S_OK);
    ASSERT_EQ(pin->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(&config)), S_OK);
    int count = 0, size = 0;
    config->GetNumberOfCapabilities(&count, &size);
    std::vector<std::string> formats;
    for (int i = 0; i < count; ++i) {
        AM_MEDIA_TYPE* mt = nullptr;
        AUDIO_STREAM_CONFIG_CAPS caps;
        ASSERT_EQ(config->GetStreamCaps(i, &mt, reinterpret_cast<BYTE*>(&caps)), S_OK);
        const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(mt->pbFormat);
        if (mt->cbFormat == 18)  // what the recorder's format choice takes
            formats.push_back(std::to_string(wfx->nSamplesPerSec) + "/" +
                              std::to_string(wfx->wBitsPerSample) + "/" +
                              std::to_string(wfx->nChannels));
        DeleteMediaType(mt);
    }
    config->Release();
    pin->Release();
    filter->Release();
    ASSERT_FALSE(formats.empty());
    EXPECT_EQ(formats[0], "16000/16/1");
    EXPECT_NE(std::find(formats.begin(), formats.end(), "11025/16/1"), formats.end());
    EXPECT_NE(std::find(formats.begin(), formats.end(), "44100/16/2"), formats.end());
}

TEST_P(MicrophoneTest, RecordingCarriesTheSignalAndLevelMessagesFollowItsLoudness) {
    {
        ToneWriter tone(*m_backend, "desk", 44100, 2, 1000, 0.05);
        Record(Path("tone.avi"), [&](CDXRecorder&, double t) {
            if (t >= 1.5) tone.SetAmplitude(0.4);
            return t < 3.0;
        });
    }
    int quiet = 0, loud = 0;
    for (const auto& [t, level] : m_levels) {
        if (t > 0.4 && t < 1.4) {
            EXPECT_NEAR(level, LevelOf(0.05), 2) << "quiet, at " << t << " s";
        }
        if (t > 2.0) {
            EXPECT_NEAR(level, LevelOf(0.4), 2) << "loud, at " << t << " s";
        }
        quiet += t < 1.5;
        loud += t > 2.0;
    }
    // One message per buffer of 1,024 samples (93 ms).
    EXPECT_NEAR(quiet, 16, 4);
    EXPECT_GE(loud, 8);

    const std::vector<int16_t> sound = Sound(Path("tone.avi"));
    ASSERT_GT(sound.size(), 11025u * 5 / 2);
    const size_t from = 11025 * 2, n = 11025 / 2;  // half a second of the loud part
    double sum = 0;
    int crossings = 0;
    for (size_t i = from; i < from + n; ++i) {
        sum += double(sound[i]) * sound[i];
        crossings += (sound[i - 1] < 0) != (sound[i] < 0);
    }
    EXPECT_NEAR(std::sqrt(sum / n), 0.4 * 32767 / std::sqrt(2.0), 0.4 * 32767 * 0.05);
    EXPECT_NEAR(crossings / 2.0 / (double(n) / 11025), 1000, 10);
}

TEST_P(MicrophoneTest, SoundFollowsTheRunningTimeAcrossThreePausesAsThePictureDoes) {
    ToneWriter tone(*m_backend, "desk", 44100, 2, 440, 0.3);
    int changes = 0;       // even: running, odd: paused; 0.6 s running, 0.4 s paused
    double running = 0;    // seconds the recording ran, as this thread saw it
    double changedAt = 0;  // when it last started running
    Record(Path("paused.avi"), [&](CDXRecorder& recorder, double t) {
        const bool pauseDue = t - std::floor(t) >= 0.6;
        if (changes % 2 == (pauseDue ? 0 : 1) && (changes < 6 || !pauseDue)) {
            pauseDue ? recorder.Pause() : recorder.Run();
            const double at = (t + Since(m_start)) / 2;  // the call took effect in between
            running += pauseDue ? at - changedAt : 0;
            changedAt = pauseDue ? changedAt : at;
            ++changes;
        }
        return t < 3.6;
    });
    running += m_closedAt - changedAt;
    EXPECT_EQ(changes, 6);
    const double sound = Sound(Path("paused.avi")).size() / 11025.0;
    const double picture = VideoFrames(Path("paused.avi")) / 10.0;
    // The sound holds at each pause: it is within one buffer (the one the server still held at
    // the end) of the time the recording ran. The picture may be a frame longer for the start,
    // the end and each pause, as the frame source finishes the frame it was making each time.
    EXPECT_NEAR(sound, running, 1024 / 11025.0 + 0.05);
    EXPECT_NEAR(picture, running, 0.1 * 5);
}

TEST_P(MicrophoneTest, LosingTheSourceOrTheServerEndsTheSoundButNotTheRecording) {
    for (const bool serverGoes : {false, true}) {
        SCOPED_TRACE(serverGoes ? "server gone" : "source removed");
        const std::string path = Path(serverGoes ? "server.avi" : "source.avi");
        {
            ToneWriter tone(*m_backend, "desk", 44100, 2, 440, 0.3);
            bool lost = false;
            Record(path, [&](CDXRecorder&, double t) {
                if (t >= 1.0 && !lost) serverGoes ? m_backend->GoAway() : m_backend->Remove("desk");
                lost = t >= 1.0;
                return t < 2.0;
            });
        }
        EXPECT_NEAR(VideoFrames(path) / 10.0, 2.0, 0.3);
        EXPECT_NEAR(Sound(path).size() / 11025.0, 1.0, 0.25);
        EXPECT_NE(hw::pulse::LastTrace().find(serverGoes ? "went away" : "was removed"),
                  std::string::npos)
            << hw::pulse::LastTrace();
        m_backend->AddMicrophone("desk", "Desk microphone", 44100, 2);
        m_backend->SetDefault("desk");
    }
    EXPECT_EQ(Names(), std::vector<std::string>{"Lumacap Virtual Microphone"});
}

INSTANTIATE_TEST_SUITE_P(Servers, MicrophoneTest, ::testing::Values("double", "pulseaudio"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
}  // namespace lumacap::test
