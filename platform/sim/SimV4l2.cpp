// Simulation controls of V4L2 cameras: which directory the provider lists, and the in-process
// double's cameras.
#include <lumacap/sim_devices.h>

#include "platform/sim/ResetHooks.h"
#include "platform/system/hw/v4l2/FakeApi.h"
#include "platform/system/hw/v4l2/V4l2Provider.h"

namespace lumacap::sim {
namespace {

using hw::v4l2::FakeApi;

// A test sees no V4L2 camera (neither the machine's nor a double's) until it asks for one.
const detail::ResetHookRegistration s_reset([] {
    hw::v4l2::UseApi(nullptr);
    FakeApi::Instance()->Clear();
});

V4l2ControlSpec Control(const char* name, long min, long max, long step, long def,
                        std::vector<long> menu = {}) {
    V4l2ControlSpec c;
    c.name = name;
    c.minimum = min;
    c.maximum = max;
    c.step = step;
    c.defaultValue = def;
    c.menuItems = std::move(menu);
    return c;
}

}  // namespace

V4l2CameraConfig DefaultV4l2CameraConfig() {
    V4l2CameraConfig config;
    V4l2FormatSpec yuyv;
    yuyv.fourcc = "YUYV";
    yuyv.sizes = {{640, 480}, {320, 240}, {1280, 720}};
    yuyv.framesPerSecond = {30, 15};
    V4l2FormatSpec mjpg;
    mjpg.fourcc = "MJPG";
    mjpg.sizes = {{640, 480}, {1280, 720}};
    mjpg.framesPerSecond = {30, 15};
    config.formats = {yuyv, mjpg};
    config.controls = {
        Control("brightness", 0, 255, 1, 128),
        Control("contrast", 0, 255, 1, 32),
        Control("saturation", 0, 255, 1, 32),
        Control("hue", -180, 180, 1, 0),
        Control("gamma", 90, 150, 1, 120),
        Control("gain", 0, 255, 1, 0),
        Control("sharpness", 0, 255, 1, 24),
        Control("backlight_compensation", 0, 1, 1, 0),
        Control("power_line_frequency", 0, 2, 1, 2),
        Control("white_balance_automatic", 0, 1, 1, 1),
        Control("white_balance_temperature", 2800, 6500, 10, 4000),
        Control("auto_exposure", 0, 3, 1, 3, {1, 3}),
        Control("exposure_time_absolute", 1, 10000, 1, 166),
        Control("focus_automatic_continuous", 0, 1, 1, 1),
        Control("focus_absolute", 0, 250, 5, 0),
        Control("zoom_absolute", 100, 500, 1, 100),
        Control("pan_absolute", -36000, 36000, 3600, 0),
        Control("tilt_absolute", -36000, 36000, 3600, 0),
    };
    return config;
}

void UseV4l2Directory(const char* directory, const char* sysfsRoot) {
    hw::v4l2::UseApi(directory ? hw::v4l2::MakeSystemApi(directory, sysfsRoot ? sysfsRoot : "/sys")
                               : nullptr);
}

void UseV4l2Double() {
    hw::v4l2::UseApi(FakeApi::Instance());
}

void DisableV4l2() {
    hw::v4l2::UseApi(nullptr);
}

std::string AddV4l2Camera(const V4l2CameraConfig& config) {
    return FakeApi::Instance()->AddCamera(config);
}

bool UnplugV4l2Camera(const std::string& node) {
    return FakeApi::Instance()->Unplug(node);
}

bool ReplugV4l2Camera(const std::string& node) {
    return FakeApi::Instance()->Replug(node);
}

bool SetV4l2Faults(const std::string& node, const V4l2Faults& faults) {
    return FakeApi::Instance()->SetFaults(node, faults);
}

}  // namespace lumacap::sim
