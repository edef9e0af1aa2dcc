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
        "  - video capture devices (cameras), real ones (V4L2) first: position, ID, name, where\n"
        "    the device is, its capture formats (index, width x height, subtype, frame rates)\n"
        "    and its controls (range, default and current value, automatic or manual);\n"
        "  - audio capture devices (microphones): position, name, display name;\n"
        "  - video and audio compressors: position and name.\n"
        "\n"
        "The position of a camera is what CDXCamera::SetCameraIndex takes; the index of a format\n"
        "is what CDXCamera::SetResolutionIndex takes; a control's number is what\n"
        "CDXCamera::GetVideoPropertyValue takes. A compressor is chosen by its name with\n"
        "CDXRecorder::SetVideoCompressor. Negative heights are listed as the device reports "
        "them.\n"
        "V4L2 cameras are looked for in $LUMACAP_V4L2_DIR (default /dev; empty: none).\n");
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

// The filter of the camera at `position` in the video input category, or null.
IBaseFilter* BindCamera(long position, std::string* where) {
    ICreateDevEnum* devEnum = nullptr;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ICreateDevEnum, reinterpret_cast<void**>(&devEnum))))
        return nullptr;
    IEnumMoniker* monikers = nullptr;
    IBaseFilter* filter = nullptr;
    if (devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0) == S_OK &&
        monikers) {
        IMoniker* moniker = nullptr;
        for (long i = 0; monikers->Next(1, &moniker, nullptr) == S_OK && moniker; ++i) {
            if (i == position) {
                IPropertyBag* bag = nullptr;
                if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                                     reinterpret_cast<void**>(&bag)))) {
                    for (const wchar_t* key : {L"DevicePath", L"Description"}) {
                        VARIANT var;
                        VariantInit(&var);
                        var.vt = VT_BSTR;
                        if (bag->Read(key, &var, nullptr) == S_OK && var.bstrVal) {
                            if (!where->empty()) *where += ", ";
                            *where += Narrow(var.bstrVal);
                        }
                        VariantClear(&var);
                    }
                    bag->Release();
                }
                moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                      reinterpret_cast<void**>(&filter));
            }
            moniker->Release();
            moniker = nullptr;
            if (i == position) break;
        }
        monikers->Release();
    }
    devEnum->Release();
    return filter;
}

// The stream configuration of the filter's first output pin, or null.
IAMStreamConfig* StreamConfigOf(IBaseFilter* filter) {
    IEnumPins* pins = nullptr;
    IAMStreamConfig* config = nullptr;
    if (FAILED(filter->EnumPins(&pins))) return nullptr;
    IPin* pin = nullptr;
    while (!config && pins->Next(1, &pin, nullptr) == S_OK && pin) {
        PIN_DIRECTION direction;
        if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == PINDIR_OUTPUT)
            pin->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(&config));
        pin->Release();
        pin = nullptr;
    }
    pins->Release();
    return config;
}

std::string SubtypeText(const GUID& subtype) {
    if (subtype == MEDIASUBTYPE_RGB24) return "RGB24";
    if (subtype == MEDIASUBTYPE_RGB32) return "RGB32";
    std::string text(4, ' ');
    for (int i = 0; i < 4; ++i) text[i] = static_cast<char>((subtype.Data1 >> (8 * i)) & 0xFF);
    return text;
}

// Formats as the library counts them (video-info capabilities only), with their frame rates.
void PrintFormats(IAMStreamConfig* config) {
    int count = 0, size = 0;
    if (FAILED(config->GetNumberOfCapabilities(&count, &size)) ||
        size != sizeof(VIDEO_STREAM_CONFIG_CAPS) || count <= 0) {
        std::printf("      no capture formats reported\n");
        return;
    }
    std::printf("      %5s  %-13s %-8s %s\n", "index", "size", "subtype", "frames per second");
    int index = 0;
    for (int i = 0; i < count; ++i) {
        AM_MEDIA_TYPE* mt = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps{};
        if (config->GetStreamCaps(i, &mt, reinterpret_cast<BYTE*>(&caps)) != S_OK || !mt) break;
        if (mt->formattype == FORMAT_VideoInfo && mt->pbFormat) {
            const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt->pbFormat);
            const std::string dims = std::to_string(vih->bmiHeader.biWidth) + " x " +
                                     std::to_string(vih->bmiHeader.biHeight);
            const double fast = caps.MinFrameInterval > 0 ? 1e7 / caps.MinFrameInterval : 0;
            const double slow = caps.MaxFrameInterval > 0 ? 1e7 / caps.MaxFrameInterval : 0;
            char rates[64];
            if (fast - slow < 0.01)
                std::snprintf(rates, sizeof(rates), "%.4g", fast);
            else
                std::snprintf(rates, sizeof(rates), "%.4g to %.4g", slow, fast);
            std::printf("      %5d  %-13s %-8s %s\n", index++, dims.c_str(),
                        SubtypeText(mt->subtype).c_str(), rates);
        }
        DeleteMediaType(mt);
    }
}

// Controls by the number GetVideoPropertyValue takes: video processing below 100, camera control
// from 100.
void PrintControls(IBaseFilter* filter) {
    static const char* const kProcAmp[] = {
        "brightness",    "contrast",      "hue",
        "saturation",    "sharpness",     "gamma",
        "colour enable", "white balance", "backlight compensation",
        "gain"};
    static const char* const kCamera[] = {"pan",      "tilt", "roll", "zoom",
                                          "exposure", "iris", "focus"};
    IAMVideoProcAmp* procAmp = nullptr;
    IAMCameraControl* camera = nullptr;
    filter->QueryInterface(IID_IAMVideoProcAmp, reinterpret_cast<void**>(&procAmp));
    filter->QueryInterface(IID_IAMCameraControl, reinterpret_cast<void**>(&camera));
    bool any = false;
    auto show = [&](auto* control, long property, long number, const char* name) {
        long min, max, step, def, caps, value, flags;
        if (!control || FAILED(control->GetRange(property, &min, &max, &step, &def, &caps))) return;
        if (!any)
            std::printf("      %6s  %-24s %-22s %7s  %s\n", "number", "control", "range", "default",
                        "value");
        any = true;
        char range[48];
        std::snprintf(range, sizeof(range), "%ld..%ld step %ld", min, max, step);
        char now[48] = "?";
        if (SUCCEEDED(control->Get(property, &value, &flags)))
            std::snprintf(now, sizeof(now), "%ld%s", value, flags == 1 ? " (auto)" : "");
        std::printf("      %6ld  %-24s %-22s %7ld  %s\n", number, name, range, def, now);
    };
    for (long p = 0; p < 10; ++p) show(procAmp, p, p, kProcAmp[p]);
    show(procAmp, 13, 13, "power line frequency");
    for (long p = 0; p < 7; ++p) show(camera, p, 100 + p, kCamera[p]);
    if (!any) std::printf("      no controls\n");
    if (procAmp) procAmp->Release();
    if (camera) camera->Release();
}

void PrintCameras() {
    const long count = CDXCamera::GetCameraCount();
    std::printf("Video capture devices: %ld\n", count);
    for (long i = 0; i < count; ++i) {
        CDXCAMERAPROPERTY property;
        const long hr = CDXCamera::GetCameraProperty(static_cast<int>(i), &property);
        std::printf("\n  [%ld] %s\n", i, Utf8(property.GetName()).c_str());
        std::printf("      ID: %s\n", Utf8(property.GetID()).c_str());
        std::string where;
        IBaseFilter* filter = BindCamera(i, &where);
        if (!where.empty()) std::printf("      device: %s\n", where.c_str());
        if (hr != 0)
            std::printf("      (could not be read completely: code 0x%08lX, %s)\n",
                        static_cast<unsigned long>(hr),
                        Utf8(GetErrorCodeText(static_cast<DWORD>(hr)).GetString()).c_str());
        IAMStreamConfig* config = filter ? StreamConfigOf(filter) : nullptr;
        if (config) {
            PrintFormats(config);
            config->Release();
        } else if (property.GetVideoInfoCount() == 0) {
            std::printf("      no capture formats reported\n");
        } else {
            std::printf("      %5s  %-13s %s\n", "index", "size", "subtype");
            for (unsigned int f = 0; f < property.GetVideoInfoCount(); ++f) {
                long width = 0, height = 0;
                property.GetVideoSize(static_cast<int>(f), &width, &height);
                const std::string size = std::to_string(width) + " x " + std::to_string(height);
                std::printf("      %5u  %-13s %s\n", f, size.c_str(),
                            SubtypeName(property.GetVideoFormat(static_cast<int>(f))));
            }
        }
        if (filter) {
            PrintControls(filter);
            filter->Release();
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
