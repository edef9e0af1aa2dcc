// lumacap devices: what capture devices and compressors this machine offers, as the library
// sees them: cameras with their capture formats, microphones, and the compressors a recording
// can use by name.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <lumacap/lumacap.h>
#include <lumacap/sim.h>

#include "Commands.h"
#include "Options.h"

namespace lumacap::tool {
namespace {

void PrintHelp() {
    std::printf(
        "usage: lumacap devices [--help]\n"
        "\n"
        "Lists what Lumacap can capture from and compress with:\n"
        "  - video capture devices (cameras): position, ID, name, and the capture formats\n"
        "    (index, width x height, subtype);\n"
        "  - audio capture devices (microphones): position, name, display name;\n"
        "  - video and audio compressors: position and name.\n"
        "\n"
        "The position of a camera is what CDXCamera::SetCameraIndex takes; the index of a format\n"
        "is what CDXCamera::SetResolutionIndex takes. A compressor is chosen by its name with\n"
        "CDXRecorder::SetVideoCompressor. Negative heights are listed as the device reports "
        "them.\n");
}

std::string Utf8(const char* gbk) {
    return sim::GbkToUtf8(gbk);
}

std::string Narrow(const wchar_t* text) {
    if (!text) return std::string();
    const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::string();
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), size, nullptr, nullptr);
    out.resize(std::strlen(out.c_str()));
    return Utf8(out.c_str());
}

const char* SubtypeName(unsigned int code) {
    switch (code) {
        case 1:
            return "YUY2";
        case 2:
            return "RGB24";
        case 3:
            return "MJPG";
        default:
            return "other";
    }
}

struct Entry {
    std::string friendlyName;
    std::string displayName;
};

// Friendly and display names of a category's members; false if the enumerator cannot be made.
bool ListCategory(REFCLSID category, std::vector<Entry>& out) {
    ICreateDevEnum* devEnum = nullptr;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ICreateDevEnum, reinterpret_cast<void**>(&devEnum))))
        return false;
    IEnumMoniker* monikers = nullptr;
    const HRESULT hr = devEnum->CreateClassEnumerator(category, &monikers, 0);
    if (hr == S_OK && monikers) {
        IMoniker* moniker = nullptr;
        while (monikers->Next(1, &moniker, nullptr) == S_OK && moniker) {
            Entry entry;
            LPOLESTR display = nullptr;
            if (SUCCEEDED(moniker->GetDisplayName(nullptr, nullptr, &display))) {
                entry.displayName = Narrow(display);
                CoTaskMemFree(display);
            }
            IPropertyBag* bag = nullptr;
            if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                                 reinterpret_cast<void**>(&bag)))) {
                VARIANT var;
                VariantInit(&var);
                var.vt = VT_BSTR;
                if (bag->Read(L"FriendlyName", &var, nullptr) == S_OK)
                    entry.friendlyName = Narrow(var.bstrVal);
                VariantClear(&var);
                bag->Release();
            }
            out.push_back(entry);
            moniker->Release();
            moniker = nullptr;
        }
        monikers->Release();
    }
    devEnum->Release();
    return SUCCEEDED(hr);
}

void PrintCameras() {
    const long count = CDXCamera::GetCameraCount();
    std::printf("Video capture devices: %ld\n", count);
    for (long i = 0; i < count; ++i) {
        CDXCAMERAPROPERTY property;
        const long hr = CDXCamera::GetCameraProperty(static_cast<int>(i), &property);
        std::printf("\n  [%ld] %s\n", i, Utf8(property.GetName()).c_str());
        std::printf("      ID: %s\n", Utf8(property.GetID()).c_str());
        if (hr != 0)
            std::printf("      (could not be read completely: code 0x%08lX)\n",
                        static_cast<unsigned long>(hr));
        const unsigned int formats = property.GetVideoInfoCount();
        if (formats == 0) {
            std::printf("      no capture formats reported\n");
            continue;
        }
        std::printf("      %5s  %-13s %s\n", "index", "size", "subtype");
        for (unsigned int f = 0; f < formats; ++f) {
            long width = 0, height = 0;
            property.GetVideoSize(static_cast<int>(f), &width, &height);
            const std::string size = std::to_string(width) + " x " + std::to_string(height);
            std::printf("      %5u  %-13s %s\n", f, size.c_str(),
                        SubtypeName(property.GetVideoFormat(static_cast<int>(f))));
        }
    }
}

void PrintCategory(const char* title, REFCLSID category, bool showDisplayName) {
    std::vector<Entry> entries;
    if (!ListCategory(category, entries)) {
        std::printf("\n%s: cannot be listed\n", title);
        return;
    }
    std::printf("\n%s: %zu\n", title, entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        std::printf("  [%zu] %s\n", i, entries[i].friendlyName.c_str());
        if (showDisplayName)
            std::printf("      display name: %s\n", entries[i].displayName.c_str());
    }
}

}  // namespace

int RunDevices(int argc, char** argv) {
    if (const int status = ReportParsed("devices", ParseNoOptions(argc, argv), PrintHelp);
        status >= 0)
        return status;
    CoInitialize(nullptr);
    PrintCameras();
    PrintCategory("Audio capture devices", CLSID_AudioInputDeviceCategory, true);
    PrintCategory("Video compressors", CLSID_VideoCompressorCategory, false);
    PrintCategory("Audio compressors", CLSID_AudioCompressorCategory, false);
    CoUninitialize();
    return 0;
}

}  // namespace lumacap::tool
