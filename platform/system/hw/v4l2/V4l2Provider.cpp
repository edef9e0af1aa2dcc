// The V4L2 camera provider and its setting.
#include "platform/system/hw/v4l2/V4l2Provider.h"

#include <cstdlib>
#include <mutex>

#include <uuids.h>

#include "platform/system/com/DeviceRegistry.h"
#include "platform/system/hw/v4l2/V4l2Capture.h"
#include "platform/system/hw/v4l2/V4l2Node.h"
#include "platform/system/win/CodePage.h"

namespace lumacap::hw::v4l2 {
namespace {

constexpr unsigned kUtf8 = 65001;

std::mutex g_mutex;
std::shared_ptr<Api>& Current() {
    static std::shared_ptr<Api> api = ApiFromEnvironment();
    return api;
}

void ProvideCameras(std::vector<com::DeviceEntry>& out) {
    const std::shared_ptr<Api> api = CurrentApi();
    if (!api) return;
    for (const std::string& name : api->ListNodes()) {
        NodeInfo info;
        const int r = ProbeNode(*api, name, &info);
        if (r != 0 && !info.inaccessible) continue;
        com::DeviceEntry entry;
        entry.displayName = win::ToWide(info.displayName, kUtf8);
        entry.properties = {
            {L"FriendlyName", win::ToWide(info.friendlyName, kUtf8)},
            {L"DevicePath", win::ToWide(api->NodePath(name), kUtf8)},
            {L"Description",
             win::ToWide(
                 "V4L2 camera" + (info.driver.empty() ? std::string() : " (" + info.driver + ")"),
                 kUtf8)}};
        entry.bind = [api, info](REFIID riid, void** ppv) -> HRESULT {
            if (!ppv) return E_POINTER;
            *ppv = nullptr;
            // A node that could not be opened when listed may have been made accessible since.
            NodeInfo current = info;
            if (info.inaccessible) {
                const int r = ProbeNode(*api, info.name, &current);
                if (r != 0) return HresultFromErrno(-r);
            }
            return CreateV4l2CaptureFilter(api, current, riid, ppv);
        };
        out.push_back(std::move(entry));
    }
}

// Real cameras come before the virtual ones (order 100).
const com::DeviceProviderRegistration s_cameras(CLSID_VideoInputDeviceCategory, 50, ProvideCameras);

}  // namespace

std::shared_ptr<Api> ApiFromEnvironment() {
    const char* dir = std::getenv("LUMACAP_V4L2_DIR");
    if (dir && !*dir) return nullptr;
    const char* sysfs = std::getenv("LUMACAP_V4L2_SYSFS");
    return MakeSystemApi(dir ? dir : "/dev", sysfs && *sysfs ? sysfs : "/sys");
}

std::shared_ptr<Api> CurrentApi() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return Current();
}

void UseApi(std::shared_ptr<Api> api) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Current() = std::move(api);
}

}  // namespace lumacap::hw::v4l2
