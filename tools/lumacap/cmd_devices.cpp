#include <cstdio>
#include <cstring>

#include "Commands.h"

namespace lumacap::tool {

int RunDevices(int argc, char** argv) {
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("usage: lumacap devices\n\nlists the video and audio capture devices, their formats, and the compressors.\n\nNot available yet in this version.\n");
        return 0;
    }
    std::fprintf(stderr, "lumacap devices: not available yet in this version of Lumacap\n");
    return 2;
}

}  // namespace lumacap::tool
