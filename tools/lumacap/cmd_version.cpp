// lumacap version: the library's version record, read the way a Windows host reads a module's.
#include <cstdio>
#include <cstring>
#include <vector>

#include <lumacap/lumacap.h>
#include <winver.h>

#include "Commands.h"
#include "Options.h"

namespace lumacap::tool {

namespace {
void PrintHelp() {
    std::printf(
        "usage: lumacap version\n\nShows the library's version record: product, version, "
        "file.\n");
}
}  // namespace

int RunVersion(int argc, char** argv) {
    if (const int status = ReportParsed("version", ParseNoOptions(argc, argv), PrintHelp);
        status >= 0)
        return status;
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCSTR>(&GetErrorCodeText), &module)) {
        std::fprintf(stderr, "lumacap version: cannot find the library module\n");
        return 1;
    }
    char path[MAX_PATH];
    GetModuleFileNameA(module, path, sizeof(path));
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &handle);
    std::vector<char> record(size);
    if (size == 0 || !GetFileVersionInfoA(path, handle, size, record.data())) {
        std::fprintf(stderr, "lumacap version: the library at %s has no version record\n", path);
        return 1;
    }
    auto value = [&](const char* key) -> const char* {
        char query[128];
        std::snprintf(query, sizeof(query), "\\StringFileInfo\\040904b0\\%s", key);
        void* text = nullptr;
        UINT len = 0;
        return VerQueryValueA(record.data(), query, &text, &len) ? static_cast<const char*>(text)
                                                                 : "";
    };
    std::printf("%s %s\n", value("ProductName"), value("ProductVersion"));
    std::printf("  %s\n", value("FileDescription"));
    std::printf("  file: %s\n", path);
    return 0;
}

}  // namespace lumacap::tool
