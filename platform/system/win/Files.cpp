// Files, directories and disk space over the drive map.
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include <io.h>
#include <windows.h>

#include "platform/system/win/Drives.h"
#include "platform/system/win/KernelObject.h"

namespace lumacap::win {
namespace {

class FileObject final : public KernelObject {
public:
    explicit FileObject(int fd) : KernelObject(Kind::File), m_fd(fd) {}
    ~FileObject() override {
        if (m_fd >= 0) ::close(m_fd);
    }
    int Fd() const { return m_fd; }

    // File objects are made and dropped for every log line: a few freed ones are kept for the
    // next, so writing a line does not allocate.
    static void* operator new(size_t size) {
        {
            std::lock_guard<std::mutex> lock(SpareMutex());
            if (size == sizeof(FileObject) && s_spareCount > 0) return s_spare[--s_spareCount];
        }
        return ::operator new(size);
    }
    static void operator delete(void* p, size_t size) {
        {
            std::lock_guard<std::mutex> lock(SpareMutex());
            if (size == sizeof(FileObject) && s_spareCount < kSpares) {
                s_spare[s_spareCount++] = p;
                return;
            }
        }
        ::operator delete(p);
    }

private:
    static constexpr int kSpares = 8;
    // Never destroyed: a file may be closed while the process runs its exit handlers.
    static std::mutex& SpareMutex() {
        static auto* m = new std::mutex;
        return *m;
    }
    static inline void* s_spare[kSpares] = {};
    static inline int s_spareCount = 0;

    int m_fd;
};

// Returns the file behind a handle with a reference, or null with ERROR_INVALID_HANDLE.
FileObject* FileFromHandle(HANDLE h) {
    KernelObject* obj = KernelObject::FromHandle(h);
    if (!obj || obj->GetKind() != KernelObject::Kind::File) {
        if (obj) obj->Release();
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return static_cast<FileObject*>(obj);
}

void SetLastErrorFromErrno() {
    SetLastError(static_cast<DWORD>(ErrnoToWin32(errno)));
}

bool Resolve(LPCSTR path, std::string* host) {
    if (!path || !*path) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    if (!MapPath(path, host)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    return true;
}

void FileTimeFromTimespec(const struct timespec& ts, FILETIME* ft) {
    // 100-ns intervals since 1601-01-01.
    const uint64_t v = (static_cast<uint64_t>(ts.tv_sec) + 11644473600ULL) * 10000000ULL +
                       static_cast<uint64_t>(ts.tv_nsec) / 100;
    ft->dwLowDateTime = static_cast<DWORD>(v);
    ft->dwHighDateTime = static_cast<DWORD>(v >> 32);
}

void FillFindData(const std::string& name, const struct stat& st, WIN32_FIND_DATAA* data) {
    std::memset(data, 0, sizeof(*data));
    data->dwFileAttributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    if (!S_ISDIR(st.st_mode) && access(name.c_str(), W_OK) != 0 && errno == EACCES)
        data->dwFileAttributes |= FILE_ATTRIBUTE_READONLY;
    FileTimeFromTimespec(st.st_ctim, &data->ftCreationTime);
    FileTimeFromTimespec(st.st_atim, &data->ftLastAccessTime);
    FileTimeFromTimespec(st.st_mtim, &data->ftLastWriteTime);
    data->nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(st.st_size) >> 32);
    data->nFileSizeLow = static_cast<DWORD>(st.st_size);
    const size_t slash = name.find_last_of('/');
    const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    std::strncpy(data->cFileName, base.c_str(), MAX_PATH - 1);
}

struct FindState {
    std::string dir;
    std::vector<std::string> names;  // full host paths of the remaining matches
    size_t next = 0;
};

std::mutex g_findMutex;
std::unordered_set<FindState*>& FindHandles() {
    static std::unordered_set<FindState*> handles;
    return handles;
}

bool HasWildcard(const std::string& s) {
    return s.find_first_of("*?") != std::string::npos;
}

}  // namespace
}  // namespace lumacap::win

using namespace lumacap::win;

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD, LPSECURITY_ATTRIBUTES,
                          DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE) {
    // Kept per thread: a thread that opens files often (every log line opens its file) maps the
    // path into the same buffer.
    thread_local std::string host;
    if (!Resolve(lpFileName, &host)) return INVALID_HANDLE_VALUE;
    int flags = O_CLOEXEC;
    const bool read = dwDesiredAccess & (GENERIC_READ | GENERIC_ALL);
    const bool write = dwDesiredAccess & (GENERIC_WRITE | GENERIC_ALL);
    flags |= read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY;
    switch (dwCreationDisposition) {
        case CREATE_NEW:
            flags |= O_CREAT | O_EXCL;
            break;
        case CREATE_ALWAYS:
            flags |= O_CREAT | O_TRUNC;
            break;
        case OPEN_EXISTING:
            break;
        case OPEN_ALWAYS:
            flags |= O_CREAT;
            break;
        case TRUNCATE_EXISTING:
            flags |= O_TRUNC;
            break;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
    }
    struct stat st;
    if (::stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    const bool existed = ::access(host.c_str(), F_OK) == 0;
    const mode_t mode = (dwFlagsAndAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    const int fd = ::open(host.c_str(), flags, mode);
    if (fd < 0) {
        const int err = errno;
        SetLastErrorFromErrno();
        if (err == EEXIST) SetLastError(ERROR_FILE_EXISTS);
        // Windows tells a missing directory from a missing file.
        if (err == ENOENT) {
            const size_t slash = host.find_last_of('/');
            if (slash != std::string::npos && slash > 0 &&
                ::access(host.substr(0, slash).c_str(), F_OK) != 0)
                SetLastError(ERROR_PATH_NOT_FOUND);
        }
        return INVALID_HANDLE_VALUE;
    }
    // Windows reports that an "always" disposition met an existing file.
    SetLastError((existed &&
                  (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS))
                     ? ERROR_ALREADY_EXISTS
                     : ERROR_SUCCESS);
    return (new FileObject(fd))->ToHandle();
}

BOOL WINAPI SetFilePointerEx(HANDLE hFile, LARGE_INTEGER dist, PLARGE_INTEGER newPos,
                             DWORD method) {
    FileObject* f = FileFromHandle(hFile);
    if (!f) return FALSE;
    const int whence = method == FILE_BEGIN     ? SEEK_SET
                       : method == FILE_CURRENT ? SEEK_CUR
                                                : SEEK_END;
    const off_t pos = ::lseek(f->Fd(), static_cast<off_t>(dist.QuadPart), whence);
    if (pos < 0) SetLastErrorFromErrno();
    f->Release();
    if (pos < 0) return FALSE;
    if (newPos) newPos->QuadPart = pos;
    return TRUE;
}

DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                            DWORD dwMoveMethod) {
    LARGE_INTEGER dist, pos;
    dist.QuadPart =
        lpDistanceToMoveHigh
            ? static_cast<LONGLONG>(
                  (static_cast<uint64_t>(static_cast<DWORD>(*lpDistanceToMoveHigh)) << 32) |
                  static_cast<DWORD>(lDistanceToMove))
            : lDistanceToMove;
    if (!SetFilePointerEx(hFile, dist, &pos, dwMoveMethod)) return INVALID_SET_FILE_POINTER;
    if (lpDistanceToMoveHigh) *lpDistanceToMoveHigh = pos.HighPart;
    SetLastError(ERROR_SUCCESS);
    return pos.LowPart;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD n, LPDWORD written, LPOVERLAPPED) {
    if (written) *written = 0;
    FileObject* f = FileFromHandle(hFile);
    if (!f) return FALSE;
    if (!lpBuffer && n) {
        f->Release();
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const char* p = static_cast<const char*>(lpBuffer);
    DWORD done = 0;
    while (done < n) {
        const ssize_t w = ::write(f->Fd(), p + done, n - done);
        if (w < 0) {
            if (errno == EINTR) continue;
            SetLastErrorFromErrno();
            break;
        }
        done += static_cast<DWORD>(w);
    }
    f->Release();
    if (written) *written = done;
    return done == n ? TRUE : FALSE;
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD n, LPDWORD readCount, LPOVERLAPPED) {
    if (readCount) *readCount = 0;
    FileObject* f = FileFromHandle(hFile);
    if (!f) return FALSE;
    char* p = static_cast<char*>(lpBuffer);
    DWORD done = 0;
    bool ok = true;
    while (done < n) {
        const ssize_t r = ::read(f->Fd(), p + done, n - done);
        if (r < 0) {
            if (errno == EINTR) continue;
            SetLastErrorFromErrno();
            ok = false;
            break;
        }
        if (r == 0) break;
        done += static_cast<DWORD>(r);
    }
    f->Release();
    if (readCount) *readCount = done;
    return ok ? TRUE : FALSE;
}

DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
    FileObject* f = FileFromHandle(hFile);
    if (!f) return INVALID_FILE_SIZE;
    struct stat st;
    const int rc = ::fstat(f->Fd(), &st);
    if (rc != 0) SetLastErrorFromErrno();
    f->Release();
    if (rc != 0) return INVALID_FILE_SIZE;
    if (lpFileSizeHigh)
        *lpFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(st.st_size) >> 32);
    return static_cast<DWORD>(st.st_size);
}

BOOL WINAPI FlushFileBuffers(HANDLE hFile) {
    FileObject* f = FileFromHandle(hFile);
    if (!f) return FALSE;
    const int rc = ::fsync(f->Fd());
    f->Release();
    return rc == 0 ? TRUE : FALSE;
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
    std::string host;
    if (!Resolve(lpFileName, &host)) return FALSE;
    if (::unlink(host.c_str()) != 0) {
        SetLastErrorFromErrno();
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES) {
    std::string host;
    if (!Resolve(lpPathName, &host)) return FALSE;
    // A bare drive ("c:") names no directory that could be created.
    if (DriveLetterOf(lpPathName) && std::strlen(lpPathName) <= 3) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    while (host.size() > 1 && host.back() == '/') host.pop_back();
    if (::mkdir(host.c_str(), 0777) != 0) {
        SetLastErrorFromErrno();
        if (errno == ENOENT) SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName) {
    std::string host;
    if (!Resolve(lpPathName, &host)) return FALSE;
    if (::rmdir(host.c_str()) != 0) {
        SetLastErrorFromErrno();
        return FALSE;
    }
    return TRUE;
}

DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
    std::string host;
    if (!Resolve(lpFileName, &host)) return INVALID_FILE_ATTRIBUTES;
    struct stat st;
    if (::stat(host.c_str(), &st) != 0) {
        SetLastErrorFromErrno();
        return INVALID_FILE_ATTRIBUTES;
    }
    return S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}

HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA data) {
    std::string host;
    if (!data) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (!Resolve(lpFileName, &host)) return INVALID_HANDLE_VALUE;
    // As on Windows, a search names an entry inside a directory: a bare drive, a drive root or a
    // path ending in a separator finds nothing.
    const size_t len = std::strlen(lpFileName);
    const char last = lpFileName[len - 1];
    if (last == '\\' || last == '/' || (DriveLetterOf(lpFileName) && len <= 2)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    auto* state = new FindState();
    const size_t slash = host.find_last_of('/');
    state->dir = slash == std::string::npos ? "." : host.substr(0, slash == 0 ? 1 : slash);
    const std::string pattern = slash == std::string::npos ? host : host.substr(slash + 1);
    if (HasWildcard(pattern)) {
        if (DIR* d = ::opendir(state->dir.c_str())) {
            while (dirent* e = ::readdir(d)) {
                if (fnmatch(pattern.c_str(), e->d_name, 0) == 0)
                    state->names.push_back(state->dir + (state->dir == "/" ? "" : "/") + e->d_name);
            }
            ::closedir(d);
        }
    } else {
        struct stat st;
        if (::stat(host.c_str(), &st) == 0) state->names.push_back(host);
    }
    if (state->names.empty()) {
        delete state;
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    {
        std::lock_guard<std::mutex> lock(g_findMutex);
        FindHandles().insert(state);
    }
    if (!FindNextFileA(reinterpret_cast<HANDLE>(state), data)) {
        FindClose(reinterpret_cast<HANDLE>(state));
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return reinterpret_cast<HANDLE>(state);
}

BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA data) {
    std::lock_guard<std::mutex> lock(g_findMutex);
    auto* state = reinterpret_cast<FindState*>(hFindFile);
    if (!FindHandles().count(state) || !data) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    while (state->next < state->names.size()) {
        const std::string& name = state->names[state->next++];
        struct stat st;
        if (::stat(name.c_str(), &st) == 0) {
            FillFindData(name, st, data);
            return TRUE;
        }
    }
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
}

BOOL WINAPI FindClose(HANDLE hFindFile) {
    std::lock_guard<std::mutex> lock(g_findMutex);
    auto* state = reinterpret_cast<FindState*>(hFindFile);
    if (!FindHandles().erase(state)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete state;
    return TRUE;
}

BOOL WINAPI GetDiskFreeSpaceExA(LPCSTR lpDirectoryName, PULARGE_INTEGER freeToCaller,
                                PULARGE_INTEGER total, PULARGE_INTEGER totalFree) {
    // The space of the drive a path lies on; without a drive letter, the drive of the host path.
    char letter = DriveLetterOf(lpDirectoryName);
    if (!lpDirectoryName) letter = 'C';
    uint64_t a = 0, t = 0, f = 0;
    bool ok;
    if (letter) {
        ok = QueryDriveSpace(letter, &a, &t, &f);
        std::string root = GetDriveRoot(letter);
        if (ok && ::access(root.c_str(), F_OK) != 0) ok = false;
    } else {
        std::string host;
        ok = Resolve(lpDirectoryName, &host);
        ok = ok && QueryHostSpace(host, &a, &t, &f);
    }
    if (!ok) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    if (freeToCaller) freeToCaller->QuadPart = a;
    if (total) total->QuadPart = t;
    if (totalFree) totalFree->QuadPart = f;
    return TRUE;
}

int __cdecl _access(const char* path, int mode) {
    std::string host;
    if (!path || !MapPath(path, &host)) {
        errno = ENOENT;
        return -1;
    }
    int m = F_OK;
    if (mode & 2) m |= W_OK;
    if (mode & 4) m |= R_OK;
    return ::access(host.c_str(), m) == 0 ? 0 : -1;
}
