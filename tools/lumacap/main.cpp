// lumacap: the command-line host of the library.
#include <cstdio>
#include <cstring>

#include "Commands.h"

namespace {

struct Command {
    const char* name;
    int (*run)(int argc, char** argv);
    const char* summary;
};

const Command kCommands[] = {
    {"devices", lumacap::tool::RunDevices, "list capture devices, their formats, and compressors"},
    {"snapshot", lumacap::tool::RunSnapshot, "take a snapshot from a camera into a BMP file"},
    {"preview", lumacap::tool::RunPreview, "preview a camera in a window"},
    {"record", lumacap::tool::RunRecord, "record cameras and windows, with sound, to AVI or ASF"},
    {"windows", lumacap::tool::RunWindows, "list the windows on the display, to record them"},
    {"version", lumacap::tool::RunVersion, "show the library's version record"},
};

void PrintUsage(FILE* out) {
    std::fprintf(out,
                 "usage: lumacap <command> [options]\n\n"
                 "Lumacap captures, previews and records video from cameras and windows.\n\n"
                 "commands:\n");
    for (const Command& c : kCommands) std::fprintf(out, "  %-10s %s\n", c.name, c.summary);
    std::fprintf(out, "\n'lumacap <command> --help' describes a command.\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
        std::strcmp(argv[1], "help") == 0) {
        PrintUsage(argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    for (const Command& c : kCommands) {
        if (std::strcmp(argv[1], c.name) == 0) return c.run(argc - 1, argv + 1);
    }
    std::fprintf(stderr, "lumacap: unknown command '%s'\n\n", argv[1]);
    PrintUsage(stderr);
    return 2;
}
