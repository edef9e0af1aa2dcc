// Log files and lines.
//
// The path state is process-wide. A small mutex guards it while a line brings it up to date, so
// two threads writing the first line, or crossing the 300-second check together, agree on one
// directory and one file; the file itself is opened, appended to and closed per line without any
// lock, so lines from several threads and processes share one file (and may interleave).
#include "log/Log.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <ctime>
#include <mutex>

#include <io.h>
#include <windows.h>

namespace {

std::mutex g_pathMutex;
char g_logDirectory[MAX_PATH] = "";
bool g_directoryChosen = false;
char g_logPath[MAX_PATH] = "";
bool g_initialised = false;
bool g_checkTimeSet = false;
time_t g_lastCheckTime = 0;
char g_lastFileName[MAX_PATH] = "";

const char* LevelPrefix(LogLevel level) {
    switch (level) {
        case LOG_LEVEL_DEBUG:
            return "Debug> ";
        case LOG_LEVEL_WARN:
            return "Warn> ";
        case LOG_LEVEL_ERROR:
            return "Error> ";
        default:
            return "Info> ";
    }
}

// Copies at most size-1 bytes and terminates.
void CopyText(char* dest, size_t size, const char* src) {
    const size_t n = std::min(std::strlen(src), size - 1);
    std::memcpy(dest, src, n);
    dest[n] = '\0';
}

void JoinPath(char* dest, const char* dir, const char* file) {
    _snprintf(dest, MAX_PATH - 1, "%s%s", dir, file);
    dest[MAX_PATH - 1] = '\0';
}

// "<executable>_<year>-<month>-<day>.log" for the current local date.
void BuildFileName(char* out, size_t size) {
    char image[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, image, sizeof(image));
    const char* slash = std::strrchr(image, '\\');
    const char* exe = slash ? slash + 1 : image;
    SYSTEMTIME st;
    GetLocalTime(&st);
    _snprintf(out, size - 1, "%s_%d-%02d-%02d.log", exe, st.wYear, st.wMonth, st.wDay);
    out[size - 1] = '\0';
}

int FormatAndLog(LogLevel level, const char* format, va_list args) {
    try {
        if (!format) return 0;
        char buffer[4096];
        std::memset(buffer, 0, sizeof(buffer));
        const int n = _vsnprintf(buffer, sizeof(buffer), format, args);
        if (buffer[sizeof(buffer) - 1] != '\0') {
            // The text filled the buffer: keep its first 4095 bytes.
            buffer[sizeof(buffer) - 1] = '\0';
        } else if (n <= 0) {
            return 0;
        }
        LogMessage(buffer, level, reinterpret_cast<const void*>(&FormatAndLog));
    } catch (...) {
    }
    return 0;
}

}  // namespace

int LogInfo(const char* format, ...) {
    va_list args;
    va_start(args, format);
    FormatAndLog(LOG_LEVEL_INFO, format, args);
    va_end(args);
    return 0;
}

int LogWarn(const char* format, ...) {
    va_list args;
    va_start(args, format);
    FormatAndLog(LOG_LEVEL_WARN, format, args);
    va_end(args);
    return 0;
}

int LogError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    FormatAndLog(LOG_LEVEL_ERROR, format, args);
    va_end(args);
    return 0;
}

int LogWarnText(const char* text) {
    if (!text) return -1;
    return LogMessage(text, LOG_LEVEL_WARN, nullptr);
}

int LogErrorText(const char* text) {
    if (!text) return -1;
    return LogMessage(text, LOG_LEVEL_ERROR, nullptr);
}

int LogMessage(const char* text, LogLevel level, const void* codeAddress) {
    if (!text) return -1;
    char module[200] = "";
    if (codeAddress == reinterpret_cast<const void*>(&FormatAndLog)) {
        // The formatting functions' own module, looked up once: the lookup allocates, and a line
        // is written from streaming threads that otherwise allocate nothing per frame.
        struct Own {
            char name[200] = "";
            Own() {
                GetModuleNameFromAddress(reinterpret_cast<const void*>(&FormatAndLog), name,
                                         sizeof(name));
            }
        };
        static const Own own;
        CopyText(module, sizeof(module), own.name);
    } else if (codeAddress) {
        GetModuleNameFromAddress(codeAddress, module, sizeof(module));
    }
    if (level >= LOG_LEVEL_INFO)
        WriteLogLine(text, static_cast<int>(std::strlen(text)), level, module);
    return 0;
}

int GetModuleNameFromAddress(const void* codeAddress, char* name, int size) {
    if (!name || size <= 0) return 0;
    name[0] = '\0';
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            static_cast<LPCSTR>(codeAddress), &module))
        return 0;
    char path[MAX_PATH] = "";
    if (GetModuleFileNameA(module, path, sizeof(path)) == 0) return 0;
    const char* slash = std::strrchr(path, '\\');
    if (!slash) return 0;
    CopyText(name, static_cast<size_t>(size), slash + 1);
    return 1;
}

int WriteLogLine(const char* text, int length, LogLevel level, const char* moduleName) {
    if (!text || length < 1) return 0;
    try {
        UpdateLogPath();
        char path[MAX_PATH];
        {
            std::lock_guard<std::mutex> lock(g_pathMutex);
            CopyText(path, sizeof(path), g_logPath);
        }
        HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return 0;
        SetFilePointer(file, 0, nullptr, FILE_END);

        SYSTEMTIME st;
        GetLocalTime(&st);
        char prefix[100];
        _snprintf(prefix, sizeof(prefix) - 1, "[%02d:%02d:%02d %03d][%-5d:%-5d]\t", st.wHour,
                  st.wMinute, st.wSecond, st.wMilliseconds, static_cast<int>(GetCurrentProcessId()),
                  static_cast<int>(GetCurrentThreadId()));
        prefix[sizeof(prefix) - 1] = '\0';
        const char* levelText = LevelPrefix(level);
        DWORD written = 0;
        WriteFile(file, prefix, static_cast<DWORD>(std::strlen(prefix)), &written, nullptr);
        WriteFile(file, levelText, static_cast<DWORD>(std::strlen(levelText)), &written, nullptr);
        if (moduleName && *moduleName)
            WriteFile(file, moduleName, static_cast<DWORD>(std::strlen(moduleName)), &written,
                      nullptr);
        WriteFile(file, "> ", 2, &written, nullptr);
        WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr);
        WriteFile(file, "\r\n", 2, &written, nullptr);
        CloseHandle(file);
    } catch (...) {
    }
    return 0;
}

int UpdateLogPath() {
    std::lock_guard<std::mutex> lock(g_pathMutex);
    if (!g_checkTimeSet) {
        g_lastCheckTime = _time64(nullptr);
        g_checkTimeSet = true;
    }
    const time_t now = _time64(nullptr);
    if (!g_initialised) {
        char fileName[MAX_PATH];
        BuildFileName(fileName, sizeof(fileName));
        SelectLogDirectory(fileName);
    } else if (now - g_lastCheckTime > 300) {
        // The date is looked at again only now and then; a new day starts a new file.
        g_lastCheckTime = now;
        char fileName[MAX_PATH];
        BuildFileName(fileName, sizeof(fileName));
        if (std::strcmp(fileName, g_lastFileName) != 0) {
            CopyText(g_lastFileName, sizeof(g_lastFileName), fileName);
            JoinPath(g_logPath, g_logDirectory, fileName);
        }
    }
    g_initialised = true;
    return 0;
}

int SelectLogDirectory(const char* fileName) {
    if (!g_directoryChosen) {
        g_directoryChosen = true;
        const char* chosen = "c:\\kqllog\\";
        if (_access("d:\\", 0) == 0) {
            ULARGE_INTEGER freeToCaller;
            // A drive whose free space cannot be read counts as full.
            if (GetDiskFreeSpaceExA("d:\\", &freeToCaller, nullptr, nullptr) &&
                (freeToCaller.QuadPart >> 20) > 1024)
                chosen = "d:\\kqllog\\";
        }
        CopyText(g_logDirectory, sizeof(g_logDirectory), chosen);
        MakeDirectoryPath(g_logDirectory);
    }
    JoinPath(g_logPath, g_logDirectory, fileName ? fileName : "");
    return 0;
}

int MakeDirectoryPath(const char* path) {
    if (!path) return 1;
    const size_t length = std::strlen(path);
    size_t position = 0;
    while (position < length) {
        const char* start = path + position;
        const char* separator = std::strchr(start, '\\');
        if (!separator) separator = std::strchr(start, '/');
        if (!separator) break;
        char part[MAX_PATH];
        const size_t partLength = static_cast<size_t>(separator - path);
        if (partLength < sizeof(part)) {
            std::memcpy(part, path, partLength);
            part[partLength] = '\0';
            if (!IsDirectory(part)) CreateDirectoryA(part, nullptr);
        }
        position = partLength + 1;
    }
    if (!IsDirectory(path)) CreateDirectoryA(path, nullptr);
    return 1;
}

int IsDirectory(const char* path) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(path, &data);
    if (find == INVALID_HANDLE_VALUE) return 0;
    const bool directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    FindClose(find);
    return directory ? 1 : 0;
}

const char* GetCurrentLogPath() {
    return g_logPath;
}

void ResetLogStateForTesting() {
    std::lock_guard<std::mutex> lock(g_pathMutex);
    g_logDirectory[0] = '\0';
    g_directoryChosen = false;
    g_logPath[0] = '\0';
    g_initialised = false;
    g_checkTimeSet = false;
    g_lastCheckTime = 0;
    g_lastFileName[0] = '\0';
}
