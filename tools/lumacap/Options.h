// The command lines of the lumacap commands, parsed apart from running them: each parser fills
// its command's options or says, in words, what is wrong.
#pragma once

#include <string>
#include <vector>

#include <windows.h>

namespace lumacap::tool {

// What parsing decided: run the command, show its help, or refuse (`error` says why, without the
// command's name).
struct Parsed {
    enum Outcome { kRun, kHelp, kError };
    Outcome outcome = kRun;
    std::string error;
};

struct SnapshotOptions {
    long device = 0;
    long format = -1;  // the camera's first format
    std::string output;
};

struct PreviewOptions {
    long device = 0;
    long format = -1;
    long seconds = -1;  // unset: until the window is closed on a display, 5 without one
    long mode = 2;      // the library draws the preview itself
    bool rotate = false;
    std::vector<RECT> rects;  // overlay rectangles in picture pixels
    std::string shot;
};

struct RecordSource {
    bool camera = false;
    std::string spec;  // DEV[:FMT] for a camera; "screen", a handle, a title or class for a window
    bool hasRect = false;
    RECT rect{};
};

struct RecordOptions {
    std::string output;
    double seconds = 5;
    std::vector<RecordSource> sources;
    int width = 0, height = 0;  // 0: from the number of sources
    unsigned fps = 10;
    bool audio = false;
    std::string microphone;  // recorded instead of the first one (implies audio)
    std::string compressor;
    unsigned bitrate = 185;  // kbit/s, ASF only
};

// argv[0] is the command's name; the options follow.
Parsed ParseSnapshot(int argc, const char* const* argv, SnapshotOptions* options);
Parsed ParsePreview(int argc, const char* const* argv, PreviewOptions* options);
Parsed ParseRecord(int argc, const char* const* argv, RecordOptions* options);
// A command that takes no options besides --help.
Parsed ParseNoOptions(int argc, const char* const* argv);

// "640x480": both numbers above 0.
bool ParseSize(const std::string& text, int* width, int* height);

// Prints the help (to stdout) or the error (to stderr, as "lumacap COMMAND: ..."). Answers -1 when
// the command should run, otherwise the exit status to return: 0 after the help, 2 after an error.
int ReportParsed(const char* command, const Parsed& parsed, void (*printHelp)());

}  // namespace lumacap::tool
