// Probing V4L2 nodes: capture capability, names and identity.
#include "platform/system/hw/v4l2/V4l2Node.h"

#include <linux/videodev2.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace lumacap::hw::v4l2 {
namespace {

// The usbInterface class of video capture devices in device paths.
constexpr char kCaptureInterface[] = "{65e8773d-8f56-11d0-a3b9-00a0c9223196}";

std::string Text(const uint8_t* bytes, size_t size) {
    return std::string(reinterpret_cast<const char*>(bytes),
                       strnlen(reinterpret_cast<const char*>(bytes), size));
}

// Characters that separate the parts of a device path cannot appear inside one.
std::string PathPart(std::string text) {
    for (char& c : text)
        if (c == '#' || c == '\\' || c == '/') c = '_';
    return text;
}

uint32_t Capabilities(const v4l2_capability& cap) {
    return (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
}

// "usb:v046Dp0825d0012dcEFdsc02dp01ic0Eisc01ip00in00" -> vendor, product, usbInterface.
bool ParseUsbAlias(const std::string& alias, unsigned* vendor, unsigned* product,
                   unsigned* usbInterface) {
    if (std::sscanf(alias.c_str(), "usb:v%4Xp%4X", vendor, product) != 2) return false;
    const size_t in = alias.rfind("in");
    *usbInterface = 0;
    if (in != std::string::npos) std::sscanf(alias.c_str() + in, "in%2X", usbInterface);
    return true;
}

}  // namespace

int ProbeNode(Api& api, const std::string& name, NodeInfo* info) {
    *info = NodeInfo{};
    info->name = name;
    const int fd = api.Open(name);
    if (fd < 0) {
        std::string index;
        // A node that cannot be opened is listed when sysfs says it is a camera's first node.
        if (fd == -EACCES || fd == -EPERM) {
            if (api.ReadAttribute(name, "index", &index) && index != "0") return -ENODEV;
            if (!api.ReadAttribute(name, "name", &info->card)) info->card = name;
            info->friendlyName = info->card;
            info->displayName = std::string("@device:pnp:\\\\?\\v4l2#") + PathPart(name) + "#" +
                                kCaptureInterface + "\\global";
            info->inaccessible = true;
        }
        return fd;
    }
    v4l2_capability cap{};
    const int r = api.Ioctl(fd, VIDIOC_QUERYCAP, &cap);
    api.Close(fd);
    if (r < 0) return r == -ENODEV ? -ENOENT : -ENOTTY;
    const uint32_t caps = Capabilities(cap);
    if (!(caps & V4L2_CAP_VIDEO_CAPTURE) || !(caps & V4L2_CAP_STREAMING)) return -ENODEV;
    info->driver = Text(cap.driver, sizeof(cap.driver));
    info->card = Text(cap.card, sizeof(cap.card));
    info->busInfo = Text(cap.bus_info, sizeof(cap.bus_info));
    info->friendlyName = info->card.empty() ? name : info->card;

    std::string alias;
    unsigned vendor = 0, product = 0, usbInterface = 0;
    char usb[64] = "";
    if (api.ReadAttribute(name, "device/modalias", &alias) &&
        ParseUsbAlias(alias, &vendor, &product, &usbInterface))
        std::snprintf(usb, sizeof(usb), "usb#vid_%04x&pid_%04x&mi_%02x#", vendor, product,
                      usbInterface);
    info->displayName = std::string("@device:pnp:\\\\?\\") +
                        (usb[0] ? std::string(usb) : "v4l2#" + PathPart(info->driver) + "#") +
                        PathPart(info->busInfo) + "#" + kCaptureInterface + "\\global";
    return 0;
}

bool SameCamera(Api& api, int fd, const std::string& key) {
    v4l2_capability cap{};
    if (api.Ioctl(fd, VIDIOC_QUERYCAP, &cap) < 0) return false;
    NodeInfo info;
    info.driver = Text(cap.driver, sizeof(cap.driver));
    info.card = Text(cap.card, sizeof(cap.card));
    info.busInfo = Text(cap.bus_info, sizeof(cap.bus_info));
    return info.Key() == key;
}

}  // namespace lumacap::hw::v4l2
