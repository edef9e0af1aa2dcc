// The drive map: drive roots, path mapping both ways, and free space per drive.
#include "platform/system/win/Drives.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>

#include <windows.h>

namespace lumacap::win {
namespace {

struct DriveState {
    std::map<char, std::string> roots;
    std::map<char, int64_t> freeSpace;
};

std::mutex g_mutex;

std::string DataHome() {
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) return xdg;
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::string(home) + "/.local/share";
    return "/tmp";
}

std::string DefaultRoot(char letter) {
    const char* env =
        letter == 'C' ? std::getenv("LUMACAP_DRIVE_C") : std::getenv("LUMACAP_DRIVE_D");
    if (env && *env) return env;
    return DataHome() + "/lumacap/drives/" + static_cast<char>(std::tolower(letter));
}

DriveState MakeDefaults() {
    DriveState s;
    s.roots['C'] = DefaultRoot('C');
    s.roots['D'] = DefaultRoot('D');
    s.roots['Z'] = "/";
    return s;
}

DriveState& State() {
    static DriveState state = MakeDefaults();
    return state;
}

std::string StripTrailingSlash(std::string s) {
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

}  // namespace

char DriveLetterOf(const char* path) {
    if (!path || !std::isalpha(static_cast<unsigned char>(path[0])) || path[1] != ':') return 0;
    return static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
}

bool MapPath(const char* path, std::string* hostPath) {
    if (!path) return false;
    const char letter = DriveLetterOf(path);
    if (!letter) {
        *hostPath = path;
        return true;
    }
    // Built in the caller's string, whose capacity a caller that maps paths often (a log line's
    // open) keeps: mapping a path then allocates nothing.
    std::string& result = *hostPath;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto it = State().roots.find(letter);
        if (it == State().roots.end()) return false;
        result.assign(it->second);
    }
    if (letter == 'C') {
        // Drive C: is always there, as on Windows.
        struct stat st;
        if (::stat(result.c_str(), &st) != 0) {
            std::error_code ec;
            std::filesystem::create_directories(result, ec);
        }
    }
    while (result.size() > 1 && result.back() == '/') result.pop_back();
    const char* rest = path + 2;
    while (*rest == '\\' || *rest == '/') ++rest;
    if (*rest) {
        if (result.empty() || result.back() != '/') result += '/';
        for (; *rest; ++rest) result += *rest == '\\' ? '/' : *rest;
    }
    // Keep a trailing separator: "c:\kqllog\" and "c:\kqllog" are different requests.
    const size_t len = std::strlen(path);
    if (len > 2 && (path[len - 1] == '\\' || path[len - 1] == '/') &&
        (result.empty() || result.back() != '/'))
        result += '/';
    return true;
}

std::string ToWindowsPath(const std::string& hostPath) {
    std::string best;
    char bestLetter = 'Z';
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        for (const auto& [letter, root] : State().roots) {
            if (letter == 'Z') continue;
            const std::string r = StripTrailingSlash(root);
            if (hostPath.size() >= r.size() && hostPath.compare(0, r.size(), r) == 0 &&
                (hostPath.size() == r.size() || hostPath[r.size()] == '/') &&
                r.size() > best.size()) {
                best = r;
                bestLetter = letter;
            }
        }
    }
    std::string rest = bestLetter == 'Z' ? hostPath : hostPath.substr(best.size());
    for (char& c : rest)
        if (c == '/') c = '\\';
    if (rest.empty() || rest[0] != '\\') rest = "\\" + rest;
    return std::string(1, bestLetter) + ":" + rest;
}

void SetDriveRoot(char letter, const char* directory) {
    letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!directory || !*directory) {
        State().roots.erase(letter);
    } else {
        State().roots[letter] = directory;
    }
}

std::string GetDriveRoot(char letter) {
    letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = State().roots.find(letter);
    return it == State().roots.end() ? std::string() : it->second;
}

void SetDriveFreeSpace(char letter, int64_t bytes) {
    letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    std::lock_guard<std::mutex> lock(g_mutex);
    if (bytes < 0) {
        State().freeSpace.erase(letter);
    } else {
        State().freeSpace[letter] = bytes;
    }
}

bool QueryDriveSpace(char letter, uint64_t* freeToCaller, uint64_t* total, uint64_t* totalFree) {
    letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    std::string root;
    int64_t forced = -1;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto it = State().roots.find(letter);
        if (it == State().roots.end()) return false;
        root = it->second;
        if (auto f = State().freeSpace.find(letter); f != State().freeSpace.end())
            forced = f->second;
    }
    uint64_t avail = 0, size = 0, free = 0;
    if (!QueryHostSpace(root, &avail, &size, &free)) return false;
    if (forced >= 0) {
        avail = free = static_cast<uint64_t>(forced);
        if (size < free) size = free;
    }
    if (freeToCaller) *freeToCaller = avail;
    if (total) *total = size;
    if (totalFree) *totalFree = free;
    return true;
}

bool QueryHostSpace(const std::string& hostPath, uint64_t* freeToCaller, uint64_t* total,
                    uint64_t* totalFree) {
    struct statvfs vfs;
    if (statvfs(hostPath.c_str(), &vfs) != 0) return false;
    const uint64_t unit = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
    if (freeToCaller) *freeToCaller = static_cast<uint64_t>(vfs.f_bavail) * unit;
    if (total) *total = static_cast<uint64_t>(vfs.f_blocks) * unit;
    if (totalFree) *totalFree = static_cast<uint64_t>(vfs.f_bfree) * unit;
    return true;
}

void ResetDrives() {
    std::lock_guard<std::mutex> lock(g_mutex);
    State() = MakeDefaults();
}

unsigned long ErrnoToWin32(int err) {
    switch (err) {
        case 0:
            return ERROR_SUCCESS;
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
            return ERROR_ACCESS_DENIED;
        case EEXIST:
            return ERROR_ALREADY_EXISTS;
        case ENOSPC:
        case EDQUOT:
            return ERROR_DISK_FULL;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case EISDIR:
            return ERROR_ACCESS_DENIED;
        case ENOTEMPTY:
            return ERROR_DIR_NOT_EMPTY;
        case EBUSY:
            return ERROR_BUSY;
        case EIO:
            return ERROR_GEN_FAILURE;
        default:
            return ERROR_GEN_FAILURE;
    }
}

}  // namespace lumacap::win
