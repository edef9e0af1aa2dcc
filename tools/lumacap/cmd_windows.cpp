// lumacap windows: lists the top-level windows a host can name (this tool's and, on an X display,
// every other program's), with the handle 'lumacap record --window' takes.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <lumacap/lumacap.h>
#include <lumacap/sim.h>

#include "CaptureCommon.h"
#include "Commands.h"

namespace lumacap::tool {
namespace {

void PrintHelp() {
    std::printf(
        "usage: lumacap windows [--all]\n"
        "\n"
        "Lists the top-level windows on the display, topmost first: handle, size and position\n"
        "of the client area, class and title. Hidden windows are left out unless --all is given.\n"
        "Without an X display (DISPLAY) there are no other programs' windows to list.\n");
}

BOOL CALLBACK Collect(HWND hwnd, LPARAM p) {
    reinterpret_cast<std::vector<HWND>*>(p)->push_back(hwnd);
    return TRUE;
}

}  // namespace

int RunWindows(int argc, char** argv) {
    bool all = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            PrintHelp();
            return 0;
        } else if (std::strcmp(argv[i], "--all") == 0) {
            all = true;
        } else {
            std::fprintf(stderr,
                         "lumacap windows: unknown option '%s' (see 'lumacap windows --help')\n",
                         argv[i]);
            return 2;
        }
    }
    ReportDisplay("windows");
    std::vector<HWND> windows;
    EnumWindows(&Collect, reinterpret_cast<LPARAM>(&windows));
    std::printf("Display: %s\n", sim::DisplayName().c_str());
    std::printf("%-10s  %-9s  %-11s  %-20s  %s\n", "handle", "size", "position", "class", "title");
    int shown = 0;
    for (HWND hwnd : windows) {
        if (!all && !IsWindowVisible(hwnd)) continue;
        RECT client{};
        POINT origin{0, 0};
        char title[256] = "", cls[128] = "";
        if (!GetClientRect(hwnd, &client) || !ClientToScreen(hwnd, &origin)) continue;
        GetWindowTextA(hwnd, title, sizeof(title));
        GetClassNameA(hwnd, cls, sizeof(cls));
        char size[32], position[32];
        std::snprintf(size, sizeof(size), "%ldx%ld", static_cast<long>(client.right),
                      static_cast<long>(client.bottom));
        std::snprintf(position, sizeof(position), "%ld,%ld", static_cast<long>(origin.x),
                      static_cast<long>(origin.y));
        std::printf("%#-10llx  %-9s  %-11s  %-20s  %s%s\n",
                    static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(hwnd)), size,
                    position, cls, Utf8(title).c_str(), IsIconic(hwnd) ? "  (minimized)" : "");
        ++shown;
    }
    if (shown == 0) std::printf("(no windows)\n");
    return 0;
}

}  // namespace lumacap::tool
