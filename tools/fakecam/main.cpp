// fakecam: a V4L2 camera without hardware. It serves a camera double's device nodes through FUSE
// in a directory, with sysfs attributes beside them, so that Lumacap (or any V4L2 program that
// takes a device path) finds and streams it as it would a webcam. Frames carry the test pattern
// with the frame number in the pixels, as the virtual camera's do.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include <lumacap/sim.h>

#include "ServedCamera.h"

namespace {

using lumacap::sim::V4l2CameraConfig;
using lumacap::sim::V4l2ControlSpec;
using lumacap::sim::V4l2Faults;
using lumacap::sim::V4l2FormatSpec;

void PrintHelp() {
    std::printf(
        "usage: fakecam [options] DIR\n"
        "\n"
        "Serves a camera double as V4L2 device nodes in DIR/dev (video0, and video1 for its\n"
        "metadata) with sysfs attributes in DIR/sys, until it is told to quit. Point Lumacap at\n"
        "it with\n"
        "  LUMACAP_V4L2_DIR=DIR/dev LUMACAP_V4L2_SYSFS=DIR/sys lumacap devices\n"
        "Needs /dev/fuse (and fusermount3 when not run as root).\n"
        "\n"
        "options:\n"
        "  --card NAME            what the camera calls itself (\"Lumacap Test Webcam\")\n"
        "  --driver NAME          its driver's name (uvcvideo)\n"
        "  --bus-info TEXT        its bus position (usb-0000:00:14.0-1)\n"
        "  --usb VID:PID          USB ids in hexadecimal (046d:0825); --no-usb for none\n"
        "  --format SPEC          a pixel format, repeatable (replaces the default list):\n"
        "                           FOURCC:WxH[,WxH...][@FPS[,FPS...]]     discrete sizes\n"
        "                           FOURCC:WxH-WxH[/SWxSH][@FPS[,FPS...]]  a stepwise range\n"
        "                         FOURCC is YUYV, MJPG, NV12, YU12, RGB3 or BGR3\n"
        "  --control NAME=MIN:MAX:STEP:DEFAULT[:ITEM/ITEM...]\n"
        "                         a control by its v4l2-ctl name, repeatable (replaces the\n"
        "                         default list); menu controls may list the items they offer\n"
        "  --no-metadata          no metadata node\n"
        "  --first-node N         number of the first node (0)\n"
        "  --prerender N          draw N frames per format once and replay them\n"
        "  --help\n"
        "\n"
        "Commands on standard input, one a line (each answered with \"ok\" or \"error: ...\"):\n"
        "  unplug | replug | quit\n"
        "  faults [deny-open=0|1] [error=N] [empty=N] [truncated=N] [corrupt=N]\n"
        "         [refuse=FOURCC] [unplug-at=S_FMT|REQBUFS|STREAMON]\n"
        "         every N-th frame flagged as an error, empty, cut in half, or not a picture\n"
        "When it is ready it prints \"ready DIR/dev DIR/sys\".\n");
}

bool ParseSize(const std::string& text, long* w, long* h) {
    return std::sscanf(text.c_str(), "%ldx%ld", w, h) == 2 && *w > 0 && *h > 0;
}

bool ParseFormat(const std::string& spec, V4l2FormatSpec* format) {
    const size_t colon = spec.find(':');
    if (colon == std::string::npos || colon == 0 || colon > 4) return false;
    format->fourcc = spec.substr(0, colon);
    std::string sizes = spec.substr(colon + 1);
    format->framesPerSecond = {30.0};
    if (const size_t at = sizes.find('@'); at != std::string::npos) {
        format->framesPerSecond.clear();
        std::stringstream rates(sizes.substr(at + 1));
        for (std::string rate; std::getline(rates, rate, ',');) {
            const double fps = std::atof(rate.c_str());
            if (fps <= 0) return false;
            format->framesPerSecond.push_back(fps);
        }
        sizes.resize(at);
    }
    format->sizes.clear();
    if (const size_t dash = sizes.find('-'); dash != std::string::npos) {
        std::string to = sizes.substr(dash + 1);
        format->stepWidth = format->stepHeight = 1;
        if (const size_t slash = to.find('/'); slash != std::string::npos) {
            if (!ParseSize(to.substr(slash + 1), &format->stepWidth, &format->stepHeight))
                return false;
            to.resize(slash);
        }
        return ParseSize(sizes.substr(0, dash), &format->minWidth, &format->minHeight) &&
               ParseSize(to, &format->maxWidth, &format->maxHeight);
    }
    std::stringstream list(sizes);
    for (std::string size; std::getline(list, size, ',');) {
        long w, h;
        if (!ParseSize(size, &w, &h)) return false;
        format->sizes.emplace_back(w, h);
    }
    return !format->sizes.empty();
}

bool ParseControl(const std::string& spec, V4l2ControlSpec* control) {
    const size_t eq = spec.find('=');
    if (eq == std::string::npos) return false;
    control->name = spec.substr(0, eq);
    if (!lumacap::hw::v4l2::FindControlName(control->name)) return false;
    char items[256] = "";
    const int n = std::sscanf(spec.c_str() + eq + 1, "%ld:%ld:%ld:%ld:%255s", &control->minimum,
                              &control->maximum, &control->step, &control->defaultValue, items);
    if (n < 4) return false;
    std::stringstream list(items);
    for (std::string item; std::getline(list, item, '/');)
        control->menuItems.push_back(std::atol(item.c_str()));
    return true;
}

bool ParseFaults(std::istringstream& in, V4l2Faults* faults) {
    for (std::string word; in >> word;) {
        const size_t eq = word.find('=');
        if (eq == std::string::npos) return false;
        const std::string key = word.substr(0, eq), value = word.substr(eq + 1);
        const int n = std::atoi(value.c_str());
        if (key == "deny-open")
            faults->denyOpen = n != 0;
        else if (key == "error")
            faults->errorEvery = n;
        else if (key == "empty")
            faults->emptyEvery = n;
        else if (key == "truncated")
            faults->truncatedEvery = n;
        else if (key == "corrupt")
            faults->corruptEvery = n;
        else if (key == "refuse")
            faults->refuseFourcc = value == "-" ? "" : value;
        else if (key == "unplug-at")
            faults->unplugAt = value == "-" ? "" : value;
        else
            return false;
    }
    return true;
}

volatile sig_atomic_t g_signalled = 0;

}  // namespace

int main(int argc, char** argv) {
    V4l2CameraConfig config = lumacap::sim::DefaultV4l2CameraConfig();
    bool formatsGiven = false, controlsGiven = false;
    int firstNode = 0, prerender = 0;
    std::string dir;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= argc) return false;
            *out = argv[++i];
            return true;
        };
        std::string v;
        if (arg == "--help" || arg == "-h") {
            PrintHelp();
            return 0;
        } else if (arg == "--card" && value(&v)) {
            config.card = v;
        } else if (arg == "--driver" && value(&v)) {
            config.driver = v;
        } else if (arg == "--bus-info" && value(&v)) {
            config.busInfo = v;
        } else if (arg == "--usb" && value(&v)) {
            if (std::sscanf(v.c_str(), "%x:%x", &config.vendorId, &config.productId) != 2) {
                std::fprintf(stderr, "fakecam: --usb wants VID:PID in hexadecimal, not '%s'\n",
                             v.c_str());
                return 2;
            }
        } else if (arg == "--no-usb") {
            config.vendorId = config.productId = 0;
        } else if (arg == "--format" && value(&v)) {
            V4l2FormatSpec format;
            if (!ParseFormat(v, &format)) {
                std::fprintf(stderr, "fakecam: cannot read the format '%s'\n", v.c_str());
                return 2;
            }
            if (!formatsGiven) config.formats.clear();
            formatsGiven = true;
            config.formats.push_back(format);
        } else if (arg == "--control" && value(&v)) {
            V4l2ControlSpec control;
            if (!ParseControl(v, &control)) {
                std::fprintf(stderr, "fakecam: cannot read the control '%s'\n", v.c_str());
                return 2;
            }
            if (!controlsGiven) config.controls.clear();
            controlsGiven = true;
            config.controls.push_back(control);
        } else if (arg == "--no-metadata") {
            config.metadataNode = false;
        } else if (arg == "--first-node" && value(&v)) {
            firstNode = std::max(0, std::atoi(v.c_str()));
        } else if (arg == "--prerender" && value(&v)) {
            prerender = std::max(0, std::atoi(v.c_str()));
        } else if (!arg.empty() && arg[0] != '-' && dir.empty()) {
            dir = arg;
        } else {
            std::fprintf(stderr, "fakecam: unknown or incomplete option '%s' (see --help)\n",
                         arg.c_str());
            return 2;
        }
    }
    if (dir.empty()) {
        std::fprintf(stderr, "fakecam: which directory? (see --help)\n");
        return 2;
    }
    const std::string devDir = dir + "/dev", sysDir = dir + "/sys";
    std::error_code ec;
    std::filesystem::create_directories(devDir, ec);
    std::filesystem::create_directories(sysDir, ec);
    if (ec) {
        std::fprintf(stderr, "fakecam: cannot create %s: %s\n", dir.c_str(), ec.message().c_str());
        return 1;
    }

    // Ends cleanly (nodes unmounted) when interrupted or when the parent that started it dies.
    struct sigaction action {};
    action.sa_handler = [](int) { g_signalled = 1; };
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    {
        auto served = std::make_unique<lumacap::fakecam::ServedCamera>(config, devDir, sysDir,
                                                                       firstNode, prerender);
        lumacap::fakecam::ServedCamera& camera = *served;
        std::string error;
        if (!camera.Plug(&error)) {
            std::fprintf(stderr, "fakecam: %s\n", error.c_str());
            return 1;
        }
        std::printf("ready %s %s\n", devDir.c_str(), sysDir.c_str());
        std::fflush(stdout);
        std::string line;
        while (!g_signalled) {
            if (!std::getline(std::cin, line)) {
                // No more commands: serve until a signal comes.
                while (!g_signalled) pause();
                break;
            }
            std::istringstream in(line);
            std::string command;
            in >> command;
            if (command.empty()) continue;
            if (command == "quit") break;
            if (command == "unplug") {
                camera.Unplug();
            } else if (command == "replug") {
                if (!camera.Plug(&error)) {
                    std::printf("error: %s\n", error.c_str());
                    std::fflush(stdout);
                    continue;
                }
            } else if (command == "faults") {
                V4l2Faults faults;
                if (!ParseFaults(in, &faults)) {
                    std::printf("error: cannot read the faults\n");
                    std::fflush(stdout);
                    continue;
                }
                camera.SetFaults(faults);
            } else {
                std::printf("error: unknown command '%s'\n", command.c_str());
                std::fflush(stdout);
                continue;
            }
            std::printf("ok\n");
            std::fflush(stdout);
        }
        if (!camera.Shutdown(1000)) {
            // A program still holds a node open: its requests are still being answered, so end
            // here, without tearing down what they use; exiting ends their connections.
            std::filesystem::remove_all(sysDir, ec);
            std::fflush(stdout);
            _exit(0);
        }
    }
    std::filesystem::remove_all(sysDir, ec);
    return 0;
}
