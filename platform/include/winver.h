// Version records of modules. A module's record is its RT_VERSION resource 1; the platform keeps
// it as a VS_FIXEDFILEINFO followed by "key\0value\0" string pairs (ended by an empty key).
#pragma once

#include "windef.h"

typedef UINT* PUINT;

typedef struct tagVS_FIXEDFILEINFO {
    DWORD dwSignature;  // 0xFEEF04BD
    DWORD dwStrucVersion;
    DWORD dwFileVersionMS;
    DWORD dwFileVersionLS;
    DWORD dwProductVersionMS;
    DWORD dwProductVersionLS;
    DWORD dwFileFlagsMask;
    DWORD dwFileFlags;
    DWORD dwFileOS;
    DWORD dwFileType;
    DWORD dwFileSubtype;
    DWORD dwFileDateMS;
    DWORD dwFileDateLS;
} VS_FIXEDFILEINFO;
#define VS_FFI_SIGNATURE 0xFEEF04BDL
#define VFT_DLL 0x00000002L

LUMACAP_API DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR lptstrFilename, LPDWORD lpdwHandle);
LUMACAP_API BOOL WINAPI GetFileVersionInfoA(LPCSTR lptstrFilename, DWORD dwHandle, DWORD dwLen,
                                            LPVOID lpData);
// "\\" gives the VS_FIXEDFILEINFO; "\\StringFileInfo\\040904b0\\ProductName" and the like give
// the string values (any language block matches).
LUMACAP_API BOOL WINAPI VerQueryValueA(LPCVOID pBlock, LPCSTR lpSubBlock, LPVOID* lplpBuffer,
                                       PUINT puLen);
