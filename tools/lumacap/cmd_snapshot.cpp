#include <cstdio>
#include <cstring>

#include "Commands.h"

namespace lumacap::tool {

int RunSnapshot(int argc, char** argv) {
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("usage: lumacap snapshot\n\ntakes a snapshot from a camera and writes it as a BMP file.\n\nNot available yet in this version.\n");
        return 0;
    }
    std::fprintf(stderr, "lumacap snapshot: not available yet in this version of Lumacap\n");
    return 2;
}

}  // namespace lumacap::tool
