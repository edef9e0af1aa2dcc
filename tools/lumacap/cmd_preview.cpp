#include <cstdio>
#include <cstring>

#include "Commands.h"

namespace lumacap::tool {

int RunPreview(int argc, char** argv) {
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("usage: lumacap preview\n\npreviews a camera in a window and writes a picture of it.\n\nNot available yet in this version.\n");
        return 0;
    }
    std::fprintf(stderr, "lumacap preview: not available yet in this version of Lumacap\n");
    return 2;
}

}  // namespace lumacap::tool
