// The platform's resource compiler: turns a module's resource script (.rc) into a C++ source that
// adds those resources to the module when it is loaded, so LoadCursorA, FindResource and
// GetFileVersionInfoA find them as they would in a Windows module built by rc.exe.
//
// It reads the subset of the script language a library needs: `#include "header"` for numeric
// `#define`s, `id CURSOR "file.cur"`, and one `id VERSIONINFO` with its fixed fields and its
// StringFileInfo values. Anything else is an error with the line it stands on.
//
//   lumacap-rc [-I dir]... input.rc output.cpp
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

enum class Kind { Name, Number, String, Comma, End };

struct Token {
    Kind kind;
    std::string text;
    uint32_t number = 0;
    int line = 0;
};

class Script {
public:
    Script(std::vector<fs::path> searchDirs) : m_searchDirs(std::move(searchDirs)) {}

    void Read(const fs::path& path) {
        std::ifstream in(path);
        if (!in) throw Error("cannot open " + path.string());
        std::stringstream text;
        text << in.rdbuf();
        m_file = path.string();
        Tokenize(text.str(), path.parent_path());
    }

    const Token& Peek() const { return m_tokens[m_pos]; }
    Token Next() {
        Token t = m_tokens[m_pos];
        if (t.kind != Kind::End) ++m_pos;
        return t;
    }
    [[noreturn]] void Fail(const Token& at, const std::string& what) const {
        throw Error(m_file + ":" + std::to_string(at.line) + ": " + what);
    }
    uint32_t ExpectNumber() {
        Token t = Next();
        if (t.kind == Kind::Name) {
            auto it = m_defines.find(t.text);
            if (it == m_defines.end()) Fail(t, "unknown name " + t.text);
            return it->second;
        }
        if (t.kind != Kind::Number) Fail(t, "a number was expected");
        return t.number;
    }
    std::string ExpectString() {
        Token t = Next();
        if (t.kind != Kind::String) Fail(t, "a quoted string was expected");
        return t.text;
    }
    void ExpectName(const char* name) {
        Token t = Next();
        if (t.kind != Kind::Name || t.text != name) Fail(t, std::string("expected ") + name);
    }
    bool TakeComma() {
        if (Peek().kind != Kind::Comma) return false;
        Next();
        return true;
    }
    fs::path Find(const std::string& name, const Token& at) const {
        for (const fs::path& dir : m_searchDirs)
            if (fs::exists(dir / name)) return dir / name;
        Fail(at, "cannot find " + name);
    }

private:
    void Tokenize(const std::string& s, const fs::path& dir) {
        int line = 1;
        size_t i = 0;
        bool lineStart = true;
        while (i < s.size()) {
            const char c = s[i];
            if (c == '\n') {
                ++line;
                ++i;
                lineStart = true;
                continue;
            }
            if (std::isspace(static_cast<unsigned char>(c))) {
                ++i;
                continue;
            }
            if (s.compare(i, 2, "//") == 0) {
                i = s.find('\n', i);
                if (i == std::string::npos) i = s.size();
                continue;
            }
            if (s.compare(i, 2, "/*") == 0) {
                const size_t end = s.find("*/", i + 2);
                for (size_t k = i; k < std::min(end, s.size()); ++k) line += s[k] == '\n';
                i = end == std::string::npos ? s.size() : end + 2;
                continue;
            }
            if (c == '#' && lineStart) {
                size_t end = s.find('\n', i);
                if (end == std::string::npos) end = s.size();
                Directive(s.substr(i, end - i), dir, line);
                i = end;
                continue;
            }
            lineStart = false;
            Token t{Kind::End, {}, 0, line};
            if (c == '"') {
                t.kind = Kind::String;
                for (++i; i < s.size() && s[i] != '"'; ++i) {
                    if (s[i] == '\\' && i + 1 < s.size()) {
                        const char e = s[++i];
                        t.text += e == 'n' ? '\n' : e == 't' ? '\t' : e == '0' ? '\0' : e;
                    } else {
                        t.text += s[i];
                    }
                }
                ++i;
            } else if (c == ',') {
                t.kind = Kind::Comma;
                ++i;
            } else if (std::isdigit(static_cast<unsigned char>(c))) {
                char* end = nullptr;
                t.kind = Kind::Number;
                t.number = static_cast<uint32_t>(std::strtoul(s.c_str() + i, &end, 0));
                i = static_cast<size_t>(end - s.c_str());
                while (i < s.size() && (s[i] == 'L' || s[i] == 'l' || s[i] == 'U' || s[i] == 'u'))
                    ++i;
            } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
                t.kind = Kind::Name;
                while (i < s.size() &&
                       (std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '_'))
                    t.text += s[i++];
            } else {
                throw Error(m_file + ":" + std::to_string(line) + ": unexpected '" + c + "'");
            }
            m_tokens.push_back(t);
        }
        m_tokens.push_back({Kind::End, {}, 0, line});
    }

    // `#include "x"` reads the numeric definitions of a header of ours; system headers (<...>)
    // only define what this compiler already knows.
    void Directive(const std::string& text, const fs::path& dir, int line) {
        std::istringstream in(text.substr(1));
        std::string word;
        in >> word;
        if (word == "include") {
            std::string name;
            in >> name;
            if (name.size() < 2 || name.front() != '"') return;
            name = name.substr(1, name.size() - 2);
            std::vector<fs::path> dirs{dir};
            dirs.insert(dirs.end(), m_searchDirs.begin(), m_searchDirs.end());
            for (const fs::path& d : dirs)
                if (fs::exists(d / name)) return ReadDefines(d / name);
            throw Error(m_file + ":" + std::to_string(line) + ": cannot find " + name);
        }
        if (word == "define") DefineFrom(in);
    }

    void ReadDefines(const fs::path& header) {
        std::ifstream in(header);
        std::string l;
        while (std::getline(in, l)) {
            std::istringstream words(l);
            std::string hash;
            words >> hash;
            if (hash == "#define") DefineFrom(words);
        }
    }

    void DefineFrom(std::istream& in) {
        std::string name, value;
        in >> name >> value;
        if (value.empty() || !std::isdigit(static_cast<unsigned char>(value[0]))) return;
        m_defines[name] = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 0));
    }

    std::vector<fs::path> m_searchDirs;
    std::string m_file;
    std::vector<Token> m_tokens;
    size_t m_pos = 0;
    std::map<std::string, uint32_t> m_defines;
};

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(Bytes& b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}
uint32_t Get16(const Bytes& b, size_t at) {
    return b[at] | (b[at + 1] << 8);
}
uint32_t Get32(const Bytes& b, size_t at) {
    return Get16(b, at) | (Get16(b, at + 2) << 16);
}

struct Resource {
    const char* type;  // the RT_ constant's name
    uint32_t id;
    Bytes data;
};

// A .cur file holds a directory of images, each with its hot spot; a module holds each image as an
// RT_CURSOR (hot spot, then the DIB) and the directory as an RT_GROUP_CURSOR naming them.
void AddCursor(std::vector<Resource>& out, uint32_t groupId, const fs::path& file,
               uint32_t& nextImageId) {
    std::ifstream in(file, std::ios::binary);
    Bytes cur((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (cur.size() < 6 || Get16(cur, 0) != 0 || Get16(cur, 2) != 2)
        throw Error(file.string() + ": not a cursor file");
    const uint32_t count = Get16(cur, 4);
    Bytes group;
    Put16(group, 0);
    Put16(group, 2);
    Put16(group, count);
    for (uint32_t i = 0; i < count; ++i) {
        const size_t entry = 6 + 16 * i;
        if (entry + 16 > cur.size()) throw Error(file.string() + ": truncated directory");
        const uint32_t size = Get32(cur, entry + 8), offset = Get32(cur, entry + 12);
        if (size < 40 || offset + size > cur.size())
            throw Error(file.string() + ": truncated image");
        Resource image{"RT_CURSOR", nextImageId++, {}};
        Put16(image.data, Get16(cur, entry + 4));  // hot spot
        Put16(image.data, Get16(cur, entry + 6));
        image.data.insert(image.data.end(), cur.begin() + offset, cur.begin() + offset + size);
        Put16(group, Get32(cur, offset + 4));   // width
        Put16(group, Get32(cur, offset + 8));   // height (colour and mask rows)
        Put16(group, Get16(cur, offset + 12));  // planes
        Put16(group, Get16(cur, offset + 14));  // bits per pixel
        Put32(group, static_cast<uint32_t>(image.data.size()));
        Put16(group, image.id);
        out.push_back(std::move(image));
    }
    out.push_back({"RT_GROUP_CURSOR", groupId, std::move(group)});
}

// The version record as this platform's VerQueryValueA reads it: the fixed block, then
// "key\0value\0" pairs of the string table, ended by an empty key.
void AddVersion(std::vector<Resource>& out, uint32_t id, Script& script) {
    uint32_t fixed[13] = {0xFEEF04BD, 0x00010000};
    std::string strings;
    auto version = [&](uint32_t* ms) {
        uint32_t v[4];
        for (int i = 0; i < 4; ++i) {
            v[i] = script.ExpectNumber();
            if (i < 3 && !script.TakeComma())
                script.Fail(script.Peek(), "four version numbers expected");
        }
        ms[0] = (v[0] << 16) | v[1];
        ms[1] = (v[2] << 16) | v[3];
    };
    for (;;) {
        const Token t = script.Next();
        if (t.kind != Kind::Name) script.Fail(t, "a VERSIONINFO statement was expected");
        if (t.text == "BEGIN") break;
        if (t.text == "FILEVERSION")
            version(&fixed[2]);
        else if (t.text == "PRODUCTVERSION")
            version(&fixed[4]);
        else if (t.text == "FILEFLAGSMASK")
            fixed[6] = script.ExpectNumber();
        else if (t.text == "FILEFLAGS")
            fixed[7] = script.ExpectNumber();
        else if (t.text == "FILEOS")
            fixed[8] = script.ExpectNumber();
        else if (t.text == "FILETYPE")
            fixed[9] = script.ExpectNumber();
        else if (t.text == "FILESUBTYPE")
            fixed[10] = script.ExpectNumber();
        else
            script.Fail(t, "unknown VERSIONINFO statement " + t.text);
    }
    // Blocks nest; values inside StringFileInfo are strings, others (Translation) are numbers.
    int depth = 1;
    bool inStrings = false;
    while (depth > 0) {
        const Token t = script.Next();
        if (t.kind != Kind::Name) script.Fail(t, "BLOCK, VALUE or END expected");
        if (t.text == "BLOCK") {
            const std::string name = script.ExpectString();
            if (depth == 1) inStrings = name == "StringFileInfo";
            script.ExpectName("BEGIN");
            ++depth;
        } else if (t.text == "END") {
            --depth;
        } else if (t.text == "VALUE") {
            const std::string key = script.ExpectString();
            while (script.TakeComma()) {
                if (script.Peek().kind == Kind::String) {
                    const std::string value = script.ExpectString();
                    if (inStrings) strings += key + '\0' + value + '\0';
                } else {
                    script.ExpectNumber();
                }
            }
        } else {
            script.Fail(t, "unknown statement " + t.text);
        }
    }
    strings += '\0';
    Resource r{"RT_VERSION", id, {}};
    for (uint32_t v : fixed) Put32(r.data, v);
    r.data.insert(r.data.end(), strings.begin(), strings.end());
    out.push_back(std::move(r));
}

std::string Emit(const std::vector<Resource>& resources, const std::string& source) {
    std::ostringstream o;
    o << "// Generated by the platform's resource compiler from " << source << "; do not edit.\n"
      << "#include <windows.h>\n\n#include \"platform/system/win/Modules.h\"\n\nnamespace {\n\n";
    for (size_t i = 0; i < resources.size(); ++i) {
        o << "alignas(4) const unsigned char kResource" << i << "[] = {";
        for (size_t k = 0; k < resources[i].data.size(); ++k)
            o << (k % 16 ? " " : "\n    ") << static_cast<unsigned>(resources[i].data[k]) << ",";
        o << "\n};\n";
    }
    o << "\nstruct RegisterResources {\n    RegisterResources() {\n"
      << "        const HMODULE module = lumacap::win::ModuleOfAddress(kResource0);\n";
    for (size_t i = 0; i < resources.size(); ++i)
        o << "        lumacap::win::RegisterResource(module, " << resources[i].type << ", "
          << resources[i].id << ", kResource" << i << ", sizeof(kResource" << i << "));\n";
    o << "    }\n} s_registerResources;\n\n}  // namespace\n";
    return o.str();
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<fs::path> dirs;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-I" && i + 1 < argc)
            dirs.emplace_back(argv[++i]);
        else if (a.rfind("-I", 0) == 0)
            dirs.emplace_back(a.substr(2));
        else
            files.push_back(a);
    }
    if (files.size() != 2) {
        std::fprintf(stderr, "usage: lumacap-rc [-I dir]... input.rc output.cpp\n");
        return 2;
    }
    try {
        dirs.insert(dirs.begin(), fs::path(files[0]).parent_path());
        Script script(dirs);
        script.Read(files[0]);
        std::vector<Resource> resources;
        uint32_t nextImageId = 1;
        while (script.Peek().kind != Kind::End) {
            const uint32_t id = script.ExpectNumber();
            const Token type = script.Next();
            if (type.kind == Kind::Name && type.text == "CURSOR") {
                const Token at = script.Peek();
                AddCursor(resources, id, script.Find(script.ExpectString(), at), nextImageId);
            } else if (type.kind == Kind::Name && type.text == "VERSIONINFO") {
                AddVersion(resources, id, script);
            } else {
                script.Fail(type, "unsupported resource type " + type.text);
            }
        }
        if (resources.empty()) throw Error(files[0] + ": no resources");
        const std::string text = Emit(resources, fs::path(files[0]).filename().string());
        std::ofstream out(files[1]);
        out << text;
        if (!out) throw Error("cannot write " + files[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lumacap-rc: %s\n", e.what());
        return 1;
    }
    return 0;
}
