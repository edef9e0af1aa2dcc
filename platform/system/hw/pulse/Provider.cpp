// The sound server's sources as audio capture devices, listed before the virtual microphones.
#include "platform/system/hw/pulse/Provider.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <vector>

#include <strmif.h>
#include <uuids.h>
#include <windows.h>

#include "platform/sim/ResetHooks.h"
#include "platform/system/com/DeviceRegistry.h"
#include "platform/system/hw/pulse/MicrophoneFilter.h"
#include "platform/system/hw/pulse/PulseServer.h"
#include "platform/system/win/CodePage.h"
#include "platform/system/win/Trace.h"

namespace lumacap::hw::pulse {
namespace {

constexpr char kDisplayPrefix[] = "@device:cm:{33D9A762-90C8-11D0-BD43-00A0C911CE86}\\pulse:";
constexpr unsigned kUtf8 = 65001;

struct Settings {
    bool enabled = true;
    std::string server;
    std::shared_ptr<SoundServer> object;
    std::string preferred;
    std::shared_ptr<SoundServer> connection;
    std::string lastProblem;
};

std::mutex& SettingsMutex() {
    static std::mutex m;
    return m;
}
Settings& TheSettings() {
    static Settings s;
    return s;
}

std::mutex& TraceMutex() {
    static std::mutex m;
    return m;
}
std::string& TheLastTrace() {
    static std::string s;
    return s;
}

// Says once why no microphone of the server is listed, not at every enumeration.
void NoteProblem(Settings& s, const std::string& problem) {
    if (problem == s.lastProblem) return;
    s.lastProblem = problem;
    if (!problem.empty()) Trace("no microphones from the sound server: " + problem);
}

std::shared_ptr<SoundServer> CurrentServer() {
    std::lock_guard<std::mutex> lock(SettingsMutex());
    Settings& s = TheSettings();
    if (s.object) return s.object;
    if (!s.enabled) return nullptr;
    if (s.connection && s.connection->Alive()) return s.connection;
    std::string error;
    s.connection = ConnectPulse(s.server, &error);
    NoteProblem(s, s.connection ? "" : error);
    return s.connection;
}

std::string Preferred() {
    std::lock_guard<std::mutex> lock(SettingsMutex());
    return TheSettings().preferred;
}

bool MonitorsWanted() {
    const char* value = std::getenv("LUMACAP_AUDIO_MONITORS");
    return value && std::string(value) == "1";
}

HRESULT Bind(const std::shared_ptr<SoundServer>& server, const std::string& name, REFIID riid,
             void** ppv) {
    // Asked afresh: the source may have gone since it was listed, or its format changed.
    ServerState state;
    if (!server->Alive() || !server->Query(&state, nullptr))
        return HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
    const auto it = std::find_if(state.sources.begin(), state.sources.end(),
                                 [&](const SourceInfo& s) { return s.name == name; });
    if (it == state.sources.end()) return HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
    return CreatePulseMicrophoneFilter(server, *it, riid, ppv);
}

void ProvideMicrophones(std::vector<com::DeviceEntry>& out) {
    const std::shared_ptr<SoundServer> server = CurrentServer();
    if (!server) return;
    ServerState state;
    std::string error;
    const bool answered = server->Query(&state, &error);
    {
        std::lock_guard<std::mutex> lock(SettingsMutex());
        NoteProblem(TheSettings(), answered ? "" : error);
    }
    if (!answered) return;
    const bool monitors = MonitorsWanted();
    std::vector<const SourceInfo*> listed;
    for (const SourceInfo& s : state.sources)
        if (!s.monitor || monitors) listed.push_back(&s);
    // The recorder takes the first microphone, so the one the user chose comes first: the
    // preferred source if it is there, otherwise the server's default.
    const std::string preferred = Preferred();
    auto first = std::find_if(listed.begin(), listed.end(), [&](const SourceInfo* s) {
        return !preferred.empty() && (s->name == preferred || DisplayNameOf(s->name) == preferred);
    });
    if (first == listed.end())
        first = std::find_if(listed.begin(), listed.end(),
                             [&](const SourceInfo* s) { return s->name == state.defaultSource; });
    if (first != listed.end()) std::rotate(listed.begin(), first, first + 1);
    for (const SourceInfo* s : listed) {
        com::DeviceEntry entry;
        entry.displayName = win::ToWide(DisplayNameOf(s->name), kUtf8);
        entry.properties = {{L"FriendlyName", win::ToWide(s->description, kUtf8)},
                            {L"Description", L"Sound server source"},
                            {L"DevicePath", win::ToWide("pulse:" + s->name, kUtf8)}};
        const std::string name = s->name;
        entry.bind = [server, name](REFIID riid, void** ppv) {
            return Bind(server, name, riid, ppv);
        };
        out.push_back(std::move(entry));
    }
}

void Restore() {
    std::shared_ptr<SoundServer> old;
    {
        std::lock_guard<std::mutex> lock(SettingsMutex());
        Settings& s = TheSettings();
        old = std::move(s.connection);
        s = Settings{};
        s.enabled = false;
    }
}

// Before the virtual microphones (order 100), which always come last.
const com::DeviceProviderRegistration s_provider(CLSID_AudioInputDeviceCategory, 20,
                                                 ProvideMicrophones);
const sim::detail::ResetHookRegistration s_reset(Restore);

}  // namespace

void UseServer(const std::string& server) {
    std::shared_ptr<SoundServer> old;
    std::lock_guard<std::mutex> lock(SettingsMutex());
    Settings& s = TheSettings();
    if (s.enabled && !s.object && s.server == server) return;
    old = std::move(s.connection);
    s.enabled = true;
    s.server = server;
    s.object.reset();
    s.lastProblem.clear();
}

void UseNoServer() {
    std::shared_ptr<SoundServer> old;
    std::lock_guard<std::mutex> lock(SettingsMutex());
    Settings& s = TheSettings();
    old = std::move(s.connection);
    s.enabled = false;
    s.object.reset();
}

void UseServerObject(std::shared_ptr<SoundServer> server) {
    std::shared_ptr<SoundServer> old;
    std::lock_guard<std::mutex> lock(SettingsMutex());
    Settings& s = TheSettings();
    old = std::move(s.connection);
    s.enabled = server != nullptr;
    s.object = std::move(server);
}

void PreferSource(const std::string& name) {
    std::lock_guard<std::mutex> lock(SettingsMutex());
    TheSettings().preferred = name;
}

std::string DisplayNameOf(const std::string& sourceName) {
    return kDisplayPrefix + sourceName;
}

void Trace(const std::string& line) {
    {
        std::lock_guard<std::mutex> lock(TraceMutex());
        TheLastTrace() = line;
    }
    LUMACAP_TRACE(kHw, "%s", line.c_str());
}

std::string LastTrace() {
    std::lock_guard<std::mutex> lock(TraceMutex());
    return TheLastTrace();
}

}  // namespace lumacap::hw::pulse
