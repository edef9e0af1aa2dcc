#include <cstdio>
#include <cstring>

#include "Commands.h"

namespace lumacap::tool {

int RunRecord(int argc, char** argv) {
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("usage: lumacap record\n\nrecords cameras and windows, with sound, to an AVI or ASF file.\n\nNot available yet in this version.\n");
        return 0;
    }
    std::fprintf(stderr, "lumacap record: not available yet in this version of Lumacap\n");
    return 2;
}

}  // namespace lumacap::tool
