// Parsing the lumacap commands' options.
#include "Options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace lumacap::tool {
namespace {

// Walks the arguments after the command's name; an option's value is the argument after it.
class Args {
public:
    Args(int argc, const char* const* argv) : m_argc(argc), m_argv(argv) {}

    bool Next() { return ++m_index < m_argc; }
    std::string Option() const { return m_argv[m_index]; }
    bool Is(const char* a, const char* b = nullptr) const {
        return std::strcmp(m_argv[m_index], a) == 0 || (b && std::strcmp(m_argv[m_index], b) == 0);
    }
    bool IsHelp() const { return Is("--help", "-h"); }
    // Takes the option's value; false when the option is the last argument.
    bool Value(std::string* value) {
        if (m_index + 1 >= m_argc) return false;
        *value = m_argv[++m_index];
        return true;
    }

private:
    int m_argc;
    const char* const* m_argv;
    int m_index = 0;
};

Parsed Help() {
    return {Parsed::kHelp, {}};
}
Parsed Error(const std::string& message) {
    return {Parsed::kError, message};
}
Parsed Unknown(const Args& args) {
    return Error("unknown option '" + args.Option() + "'");
}

// A number from 0 up for the current option; the error names the option.
bool Index(Args& args, long* out, Parsed* error) {
    const std::string option = args.Option();
    std::string text;
    if (!args.Value(&text)) {
        *error = Error(option + " needs a value");
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0' || v < 0) {
        *error = Error(option + " takes a number from 0 up, not '" + text + "'");
        return false;
    }
    *out = v;
    return true;
}

// "L,T,R,B" with L < R and T < B.
bool ParseEdges(const std::string& text, RECT* rect) {
    long v[4];
    char tail = 0;
    if (std::sscanf(text.c_str(), "%ld,%ld,%ld,%ld%c", &v[0], &v[1], &v[2], &v[3], &tail) != 4)
        return false;
    *rect = RECT{static_cast<LONG>(v[0]), static_cast<LONG>(v[1]), static_cast<LONG>(v[2]),
                 static_cast<LONG>(v[3])};
    return rect->right > rect->left && rect->bottom > rect->top;
}

// "SPEC@X,Y,W,H": splits off the rectangle, which is optional.
bool SplitPlacement(const std::string& text, RecordSource* source) {
    const size_t at = text.find('@');
    source->spec = text.substr(0, at);
    if (at == std::string::npos) return true;
    int x, y, w, h;
    char tail = 0;
    if (std::sscanf(text.c_str() + at + 1, "%d,%d,%d,%d%c", &x, &y, &w, &h, &tail) != 4 || w <= 0 ||
        h <= 0)
        return false;
    source->hasRect = true;
    source->rect = RECT{x, y, x + w, y + h};
    return true;
}

}  // namespace

bool ParseSize(const std::string& text, int* width, int* height) {
    char tail = 0;
    return std::sscanf(text.c_str(), "%dx%d%c", width, height, &tail) == 2 && *width > 0 &&
           *height > 0;
}

Parsed ParseNoOptions(int argc, const char* const* argv) {
    Args args(argc, argv);
    if (args.Next()) return args.IsHelp() ? Help() : Unknown(args);
    return {};
}

Parsed ParseSnapshot(int argc, const char* const* argv, SnapshotOptions* o) {
    Args args(argc, argv);
    Parsed error;
    while (args.Next()) {
        if (args.IsHelp()) return Help();
        if (args.Is("-d", "--device")) {
            if (!Index(args, &o->device, &error)) return error;
        } else if (args.Is("-f", "--format")) {
            if (!Index(args, &o->format, &error)) return error;
        } else if (args.Is("-o", "--output")) {
            const std::string option = args.Option();
            if (!args.Value(&o->output) || o->output.empty())
                return Error(option + " needs a file name");
        } else {
            return Unknown(args);
        }
    }
    if (o->output.empty()) return Error("no output file; give one with -o FILE.bmp");
    return {};
}

Parsed ParsePreview(int argc, const char* const* argv, PreviewOptions* o) {
    Args args(argc, argv);
    Parsed error;
    while (args.Next()) {
        if (args.IsHelp()) return Help();
        if (args.Is("-d", "--device")) {
            if (!Index(args, &o->device, &error)) return error;
        } else if (args.Is("-f", "--format")) {
            if (!Index(args, &o->format, &error)) return error;
        } else if (args.Is("--seconds")) {
            if (!Index(args, &o->seconds, &error)) return error;
        } else if (args.Is("--mode")) {
            if (!Index(args, &o->mode, &error)) return error;
            if (o->mode > 2) return Error("--mode is 0, 1 or 2, not " + std::to_string(o->mode));
        } else if (args.Is("--rotate")) {
            o->rotate = true;
        } else if (args.Is("--rect")) {
            std::string text;
            RECT r;
            if (!args.Value(&text) || !ParseEdges(text, &r))
                return Error("--rect takes L,T,R,B with L < R and T < B, not '" + text + "'");
            o->rects.push_back(r);
        } else if (args.Is("--shot")) {
            if (!args.Value(&o->shot) || o->shot.empty()) return Error("--shot needs a file name");
        } else {
            return Unknown(args);
        }
    }
    if (!o->rects.empty() && o->mode != 2)
        return Error("overlay rectangles need the self-drawn preview (--mode 2)");
    return {};
}

Parsed ParseRecord(int argc, const char* const* argv, RecordOptions* o) {
    Args args(argc, argv);
    while (args.Next()) {
        const std::string option = args.Option();
        std::string v;
        if (args.IsHelp()) return Help();
        if (args.Is("-o", "--output")) {
            if (!args.Value(&o->output) || o->output.empty()) return Error("-o needs a file name");
        } else if (args.Is("--seconds")) {
            if (!args.Value(&v)) return Error("--seconds needs a number");
            char* end = nullptr;
            o->seconds = std::strtod(v.c_str(), &end);
            if (end == v.c_str() || *end || !(o->seconds > 0) || o->seconds > 24 * 3600)
                return Error("--seconds: '" + v + "' is not a duration");
        } else if (args.Is("--camera", "--window")) {
            RecordSource s;
            s.camera = option == "--camera";
            if (!args.Value(&v) || v.empty()) return Error(option + " needs a value");
            if (!SplitPlacement(v, &s))
                return Error(option + ": bad rectangle in '" + v + "' (use @X,Y,W,H)");
            if (s.spec.empty()) return Error(option + ": '" + v + "' names no source");
            o->sources.push_back(s);
        } else if (args.Is("--size")) {
            if (!args.Value(&v) || !ParseSize(v, &o->width, &o->height))
                return Error("--size needs WxH, for example 1280x720");
        } else if (args.Is("--fps")) {
            if (!args.Value(&v) || (v != "10" && v != "20" && v != "30"))
                return Error("--fps takes 10, 20 or 30");
            o->fps = static_cast<unsigned>(std::atoi(v.c_str()));
        } else if (args.Is("--audio")) {
            o->audio = true;
        } else if (args.Is("--microphone")) {
            if (!args.Value(&o->microphone) || o->microphone.empty())
                return Error("--microphone needs a name");
            o->audio = true;
        } else if (args.Is("--compressor")) {
            if (!args.Value(&o->compressor) || o->compressor.empty())
                return Error("--compressor needs a name");
        } else if (args.Is("--bitrate")) {
            if (!args.Value(&v)) return Error("--bitrate needs a number");
            char* end = nullptr;
            const long kbps = std::strtol(v.c_str(), &end, 10);
            if (end == v.c_str() || *end || kbps <= 0 || kbps > 100000)
                return Error("--bitrate: '" + v + "' is not a bit rate in kbit/s");
            o->bitrate = static_cast<unsigned>(kbps);
        } else {
            return Unknown(args);
        }
    }
    if (o->output.empty()) return Error("no output file (-o FILE)");
    return {};
}

int ReportParsed(const char* command, const Parsed& parsed, void (*printHelp)()) {
    switch (parsed.outcome) {
        case Parsed::kRun:
            return -1;
        case Parsed::kHelp:
            printHelp();
            return 0;
        case Parsed::kError:
            break;
    }
    std::fprintf(stderr, "lumacap %s: %s (see 'lumacap %s --help')\n", command,
                 parsed.error.c_str(), command);
    return 2;
}

}  // namespace lumacap::tool
