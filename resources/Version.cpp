// The library's version record: a fixed file-information block and its strings, registered as
// the module's version resource so hosts read it as they would on Windows.
#include <cstring>

#include <windows.h>
#include <winver.h>

#include "platform/win/Modules.h"

namespace {

#define LUMACAP_STRINGS                                                 \
    "CompanyName\0Lumacap developers\0"                                 \
    "FileDescription\0Lumacap camera capture, preview and recording\0" \
    "FileVersion\0" LUMACAP_VERSION_STRING "\0"                         \
    "InternalName\0Lumacap\0"                                           \
    "OriginalFilename\0liblumacap.so\0"                                 \
    "ProductName\0Lumacap\0"                                            \
    "ProductVersion\0" LUMACAP_VERSION_STRING "\0"

struct VersionRecord {
    VS_FIXEDFILEINFO fixed;
    char strings[sizeof(LUMACAP_STRINGS) + 1];
};

constexpr DWORD kVersionMS = (LUMACAP_VERSION_MAJOR << 16) | LUMACAP_VERSION_MINOR;
constexpr DWORD kVersionLS = LUMACAP_VERSION_PATCH << 16;

const VersionRecord kRecord = {
    {VS_FFI_SIGNATURE, 0x00010000, kVersionMS, kVersionLS, kVersionMS, kVersionLS, 0x3F, 0, 0x00040004, VFT_DLL, 0, 0, 0},
    LUMACAP_STRINGS "\0",
};

struct RegisterVersion {
    RegisterVersion() {
        lumacap::win::RegisterResource(lumacap::win::ModuleOfAddress(&kRecord), RT_VERSION, 1, &kRecord,
                                       sizeof(kRecord));
    }
} s_registerVersion;

}  // namespace
