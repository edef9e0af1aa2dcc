// Listing and choosing microphones for lumacap record.
#include "Microphones.h"

#include <algorithm>
#include <cctype>

#include <lumacap/lumacap.h>
#include <lumacap/sim.h>

namespace lumacap::tool {
namespace {

std::string Utf8Of(const wchar_t* text) {
    if (!text) return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return std::string();
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    out.resize(static_cast<size_t>(size - 1));
    return out;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

std::vector<Microphone> ListMicrophones() {
    std::vector<Microphone> out;
    ICreateDevEnum* devEnum = nullptr;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ICreateDevEnum, reinterpret_cast<void**>(&devEnum))))
        return out;
    IEnumMoniker* monikers = nullptr;
    if (devEnum->CreateClassEnumerator(CLSID_AudioInputDeviceCategory, &monikers, 0) == S_OK &&
        monikers) {
        IMoniker* moniker = nullptr;
        while (monikers->Next(1, &moniker, nullptr) == S_OK && moniker) {
            Microphone m;
            LPOLESTR display = nullptr;
            if (SUCCEEDED(moniker->GetDisplayName(nullptr, nullptr, &display))) {
                m.displayName = Utf8Of(display);
                CoTaskMemFree(display);
            }
            IPropertyBag* bag = nullptr;
            if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                                 reinterpret_cast<void**>(&bag)))) {
                VARIANT var;
                VariantInit(&var);
                var.vt = VT_BSTR;
                if (bag->Read(L"FriendlyName", &var, nullptr) == S_OK) m.name = Utf8Of(var.bstrVal);
                VariantClear(&var);
                bag->Release();
            }
            out.push_back(m);
            moniker->Release();
            moniker = nullptr;
        }
        monikers->Release();
    }
    devEnum->Release();
    return out;
}

bool ChooseMicrophone(const std::string& wanted, Microphone* chosen, std::string* error) {
    const std::vector<Microphone> all = ListMicrophones();
    auto it =
        std::find_if(all.begin(), all.end(), [&](const Microphone& m) { return m.name == wanted; });
    if (it == all.end())
        it = std::find_if(all.begin(), all.end(), [&](const Microphone& m) {
            return Lower(m.name).find(Lower(wanted)) != std::string::npos;
        });
    if (it == all.end())
        it = std::find_if(all.begin(), all.end(),
                          [&](const Microphone& m) { return m.displayName == wanted; });
    if (it == all.end()) {
        *error = "no microphone '" + wanted + "'; there are:";
        for (const Microphone& m : all) *error += "\n  " + m.name;
        if (all.empty()) *error += " none";
        return false;
    }
    *chosen = *it;
    // A virtual microphone comes after every real one, so choosing it sets the real ones aside
    // and moves it to the front of its own list; a real one is made the preferred device.
    for (int i = 0; i < sim::MicrophoneCount(); ++i) {
        if (sim::GetMicrophoneConfig(i).displayName != chosen->displayName) continue;
        sim::UseNoSoundServer();
        sim::MoveMicrophone(i, 0);
        return true;
    }
    sim::PreferSoundServerMicrophone(chosen->displayName.c_str());
    return true;
}

}  // namespace lumacap::tool
