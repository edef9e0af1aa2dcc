// Modules, libraries, resources, version records and message texts.
#include "platform/system/win/Modules.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <tuple>

#include <windows.h>
#include <winver.h>

#include "platform/system/win/Drives.h"
#include "platform/system/win/MessageTables.h"

#define ERROR_MR_MID_NOT_FOUND 317L

namespace lumacap::win {
namespace {

// The network message module has no code of its own here: loading it yields this handle.
struct NetMsgModule {
    int unused;
} g_netmsg;
HMODULE NetMsgHandle() {
    return reinterpret_cast<HMODULE>(&g_netmsg);
}

struct ModuleInfo {
    bool found = false;
    bool isMain = false;
    std::string path;
};

ModuleInfo DescribeModule(uintptr_t base) {
    struct Query {
        uintptr_t base;
        ModuleInfo info;
        int index;
    } q{base, {}, 0};
    dl_iterate_phdr(
        [](struct dl_phdr_info* info, size_t, void* data) -> int {
            auto* q = static_cast<Query*>(data);
            uintptr_t start = UINTPTR_MAX;
            for (int i = 0; i < info->dlpi_phnum; ++i)
                if (info->dlpi_phdr[i].p_type == PT_LOAD)
                    start =
                        std::min<uintptr_t>(start, info->dlpi_addr + info->dlpi_phdr[i].p_vaddr);
            const bool isMain = q->index++ == 0;
            if (start != q->base && info->dlpi_addr != q->base) return 0;
            q->info.found = true;
            q->info.isMain = isMain;
            q->info.path = info->dlpi_name ? info->dlpi_name : "";
            return 1;
        },
        &q);
    if (q.info.found && (q.info.isMain || q.info.path.empty())) {
        char exe[PATH_MAX];
        const ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
        q.info.path = n > 0 ? std::string(exe, static_cast<size_t>(n)) : std::string();
    } else if (q.info.found) {
        if (char* real = realpath(q.info.path.c_str(), nullptr)) {
            q.info.path = real;
            std::free(real);
        }
    }
    return q.info;
}

HMODULE MainModule() {
    struct Query {
        uintptr_t start = UINTPTR_MAX;
    } q;
    dl_iterate_phdr(
        [](struct dl_phdr_info* info, size_t, void* data) -> int {
            auto* q = static_cast<Query*>(data);
            for (int i = 0; i < info->dlpi_phnum; ++i)
                if (info->dlpi_phdr[i].p_type == PT_LOAD)
                    q->start =
                        std::min<uintptr_t>(q->start, info->dlpi_addr + info->dlpi_phdr[i].p_vaddr);
            return 1;  // the first object is the program itself
        },
        &q);
    return reinterpret_cast<HMODULE>(q.start);
}

// ---- resources ----
struct ResourceKey {
    HMODULE module;
    uintptr_t type;
    WORD id;
    bool operator<(const ResourceKey& o) const {
        return std::tie(module, type, id) < std::tie(o.module, o.type, o.id);
    }
};
struct Resource {
    const void* data;
    size_t size;
};
std::mutex g_resourceMutex;
std::map<ResourceKey, Resource>& Resources() {
    static std::map<ResourceKey, Resource> resources;
    return resources;
}

}  // namespace

HMODULE ModuleOfAddress(const void* address) {
    Dl_info info;
    if (!address || !dladdr(address, &info)) return nullptr;
    return reinterpret_cast<HMODULE>(info.dli_fbase);
}

void RegisterResource(HMODULE module, LPCSTR type, WORD id, const void* data, size_t size) {
    std::lock_guard<std::mutex> lock(g_resourceMutex);
    Resources()[{module, reinterpret_cast<uintptr_t>(type), id}] = {data, size};
}

}  // namespace lumacap::win

using namespace lumacap::win;

HMODULE WINAPI LoadLibraryExA(LPCSTR lpLibFileName, HANDLE, DWORD) {
    if (!lpLibFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // Only the message module is known by name; the platform has no loader for other code.
    const char* base = std::strrchr(lpLibFileName, '\\');
    base = base ? base + 1 : lpLibFileName;
    if (_stricmp(base, "netmsg.dll") == 0 || _stricmp(base, "netmsg") == 0) return NetMsgHandle();
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
    return LoadLibraryExA(lpLibFileName, nullptr, 0);
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
    if (!hLibModule) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI GetModuleHandleExA(DWORD dwFlags, LPCSTR lpModuleName, HMODULE* phModule) {
    if (!phModule) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *phModule = nullptr;
    if (dwFlags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) {
        *phModule = ModuleOfAddress(lpModuleName);
    } else if (!lpModuleName) {
        *phModule = MainModule();
    } else {
        *phModule = GetModuleHandleA(lpModuleName);
    }
    if (!*phModule) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    return TRUE;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
    if (!lpModuleName) return MainModule();
    const char* base = std::strrchr(lpModuleName, '\\');
    base = base ? base + 1 : lpModuleName;
    if (_stricmp(base, "netmsg.dll") == 0) return NetMsgHandle();
    // A loaded shared object by its file name.
    if (void* h = dlopen(base, RTLD_LAZY | RTLD_NOLOAD)) {
        void* sym = nullptr;
        struct link_map* map = nullptr;
        if (dlinfo(h, RTLD_DI_LINKMAP, &map) == 0 && map) sym = reinterpret_cast<void*>(map->l_ld);
        HMODULE m = ModuleOfAddress(sym);
        dlclose(h);
        if (m) return m;
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
    if (!lpFilename || nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    ModuleInfo info = DescribeModule(reinterpret_cast<uintptr_t>(hModule ? hModule : MainModule()));
    if (!info.found) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        lpFilename[0] = '\0';
        return 0;
    }
    const std::string path = ToWindowsPath(info.path);
    // As on Windows: a name that does not fit is cut and still terminated.
    if (path.size() >= nSize) {
        std::memcpy(lpFilename, path.data(), nSize - 1);
        lpFilename[nSize - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    std::memcpy(lpFilename, path.c_str(), path.size() + 1);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(path.size());
}

// ---- resources ----

HRSRC WINAPI FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType) {
    if (!IS_INTRESOURCE(lpName) || !IS_INTRESOURCE(lpType)) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    if (!hModule) hModule = MainModule();
    std::lock_guard<std::mutex> lock(g_resourceMutex);
    auto it = Resources().find({hModule, reinterpret_cast<uintptr_t>(lpType),
                                static_cast<WORD>(reinterpret_cast<uintptr_t>(lpName))});
    if (it == Resources().end()) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<HRSRC>(&it->second);
}

HGLOBAL WINAPI LoadResource(HMODULE, HRSRC hResInfo) {
    if (!hResInfo) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return const_cast<void*>(reinterpret_cast<Resource*>(hResInfo)->data);
}

LPVOID WINAPI LockResource(HGLOBAL hResData) {
    return hResData;
}

DWORD WINAPI SizeofResource(HMODULE, HRSRC hResInfo) {
    return hResInfo ? static_cast<DWORD>(reinterpret_cast<Resource*>(hResInfo)->size) : 0;
}

// ---- version records ----

namespace {

// The version record of the module stored at a Windows path, found among loaded modules.
const Resource* VersionRecordOf(LPCSTR fileName) {
    if (!fileName) return nullptr;
    std::lock_guard<std::mutex> lock(g_resourceMutex);
    for (auto& [key, res] : Resources()) {
        if (key.type != reinterpret_cast<uintptr_t>(RT_VERSION) || key.id != 1) continue;
        char path[MAX_PATH];
        if (GetModuleFileNameA(key.module, path, sizeof(path)) == 0) continue;
        const char* a = std::strrchr(path, '\\');
        const char* b = std::strrchr(fileName, '\\');
        if (_stricmp(path, fileName) == 0 || (!b && a && _stricmp(a + 1, fileName) == 0))
            return &res;
    }
    return nullptr;
}

}  // namespace

DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR lptstrFilename, LPDWORD lpdwHandle) {
    if (lpdwHandle) *lpdwHandle = 0;
    const Resource* r = VersionRecordOf(lptstrFilename);
    if (!r) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return 0;
    }
    return static_cast<DWORD>(r->size);
}

BOOL WINAPI GetFileVersionInfoA(LPCSTR lptstrFilename, DWORD, DWORD dwLen, LPVOID lpData) {
    const Resource* r = VersionRecordOf(lptstrFilename);
    if (!r || !lpData) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return FALSE;
    }
    if (dwLen < r->size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(lpData, r->data, r->size);
    return TRUE;
}

BOOL WINAPI VerQueryValueA(LPCVOID pBlock, LPCSTR lpSubBlock, LPVOID* lplpBuffer, PUINT puLen) {
    if (!pBlock || !lpSubBlock || !lplpBuffer) return FALSE;
    auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(pBlock);
    if (fixed->dwSignature != VS_FFI_SIGNATURE) return FALSE;
    if (std::strcmp(lpSubBlock, "\\") == 0) {
        *lplpBuffer = const_cast<VS_FIXEDFILEINFO*>(fixed);
        if (puLen) *puLen = sizeof(VS_FIXEDFILEINFO);
        return TRUE;
    }
    // "\StringFileInfo\<language>\<key>"
    const char* prefix = "\\StringFileInfo\\";
    if (_strnicmp(lpSubBlock, prefix, std::strlen(prefix)) != 0) return FALSE;
    const char* key = std::strrchr(lpSubBlock, '\\') + 1;
    const char* p = reinterpret_cast<const char*>(fixed + 1);
    while (*p) {
        const char* value = p + std::strlen(p) + 1;
        if (_stricmp(p, key) == 0) {
            *lplpBuffer = const_cast<char*>(value);
            if (puLen) *puLen = static_cast<UINT>(std::strlen(value) + 1);
            return TRUE;
        }
        p = value + std::strlen(value) + 1;
    }
    return FALSE;
}

// ---- message texts ----

DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD,
                            LPSTR lpBuffer, DWORD nSize, void*) {
    const char* text = nullptr;
    if (dwFlags & FORMAT_MESSAGE_FROM_STRING) {
        text = static_cast<const char*>(lpSource);
    } else {
        if (dwFlags & FORMAT_MESSAGE_FROM_HMODULE) {
            if (lpSource == NetMsgHandle()) text = NetworkMessageText(dwMessageId);
        }
        if (!text && (dwFlags & FORMAT_MESSAGE_FROM_SYSTEM)) text = SystemMessageText(dwMessageId);
    }
    if (!text) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    const size_t len = std::strlen(text);
    if (!lpBuffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        auto* out = static_cast<char*>(LocalAlloc(LMEM_FIXED, std::max<size_t>(len + 1, nSize)));
        if (!out) return 0;
        std::memcpy(out, text, len + 1);
        *reinterpret_cast<char**>(lpBuffer) = out;
        return static_cast<DWORD>(len);
    }
    if (len + 1 > nSize) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(lpBuffer, text, len + 1);
    return static_cast<DWORD>(len);
}
