// Kernel services: critical sections, threads and waits, events, the clock, files and the drive
// map, modules and resources, message texts, code pages, last error.
#pragma once

#include <pthread.h>

#include "windef.h"
#include "winerror.h"

#define INFINITE 0xFFFFFFFF
#define WAIT_OBJECT_0 0x00000000L
#define WAIT_ABANDONED 0x00000080L
#define WAIT_FAILED 0xFFFFFFFFL

// ---- last error ---------------------------------------------------------------------------------
LUMACAP_API DWORD WINAPI GetLastError();
LUMACAP_API void WINAPI SetLastError(DWORD dwErrCode);

// ---- critical sections (recursive, as on Windows) -----------------------------------------------
typedef struct _RTL_CRITICAL_SECTION {
    pthread_mutex_t Mutex;
    int Initialized;
} CRITICAL_SECTION, *LPCRITICAL_SECTION, *PCRITICAL_SECTION;

LUMACAP_API void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
LUMACAP_API void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
LUMACAP_API void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
LUMACAP_API void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
LUMACAP_API BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);

// ---- interlocked --------------------------------------------------------------------------------
inline LONG InterlockedIncrement(LONG volatile* p) {
    return __atomic_add_fetch(p, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedDecrement(LONG volatile* p) {
    return __atomic_sub_fetch(p, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchange(LONG volatile* p, LONG v) {
    return __atomic_exchange_n(p, v, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedCompareExchange(LONG volatile* p, LONG exchange, LONG comparand) {
    __atomic_compare_exchange_n(p, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;
}

// ---- processes, threads, waits, events ----------------------------------------------------------
typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID lpThreadParameter);
#define CREATE_SUSPENDED 0x00000004
#define STILL_ACTIVE 259

LUMACAP_API DWORD WINAPI GetCurrentProcessId();
LUMACAP_API DWORD WINAPI GetCurrentThreadId();
LUMACAP_API HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                                       LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                                       DWORD dwCreationFlags, LPDWORD lpThreadId);
LUMACAP_API DWORD WINAPI ResumeThread(HANDLE hThread);
LUMACAP_API BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode);
LUMACAP_API DWORD WINAPI GetThreadId(HANDLE hThread);
LUMACAP_API HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset,
                                       BOOL bInitialState, LPCSTR lpName);
#define CreateEvent CreateEventA
LUMACAP_API BOOL WINAPI SetEvent(HANDLE hEvent);
LUMACAP_API BOOL WINAPI ResetEvent(HANDLE hEvent);
LUMACAP_API DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
LUMACAP_API DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles,
                                                BOOL bWaitAll, DWORD dwMilliseconds);
LUMACAP_API BOOL WINAPI CloseHandle(HANDLE hObject);

// ---- time (through the replaceable clock) -------------------------------------------------------
LUMACAP_API void WINAPI Sleep(DWORD dwMilliseconds);
LUMACAP_API DWORD WINAPI GetTickCount();
LUMACAP_API void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime);
LUMACAP_API void WINAPI GetSystemTime(LPSYSTEMTIME lpSystemTime);

// ---- files --------------------------------------------------------------------------------------
// Paths with a drive letter ("c:\kqllog\x.log") are mapped to the drive's directory; Z: is the
// root of the host file system; paths without a drive letter pass unchanged.
#define GENERIC_READ 0x80000000L
#define GENERIC_WRITE 0x40000000L
#define GENERIC_EXECUTE 0x20000000L
#define GENERIC_ALL 0x10000000L
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_HIDDEN 0x00000002
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_FLAG_SEQUENTIAL_SCAN 0x08000000
#define FILE_FLAG_WRITE_THROUGH 0x80000000
#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2
#define INVALID_SET_FILE_POINTER ((DWORD)-1)
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFF)
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)

typedef struct _OVERLAPPED OVERLAPPED, *LPOVERLAPPED;

typedef struct _WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    CHAR cFileName[MAX_PATH];
    CHAR cAlternateFileName[14];
} WIN32_FIND_DATAA, *PWIN32_FIND_DATAA, *LPWIN32_FIND_DATAA;
typedef WIN32_FIND_DATAA WIN32_FIND_DATA;

LUMACAP_API HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                      LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                                      DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                                      HANDLE hTemplateFile);
LUMACAP_API DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove,
                                        PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod);
LUMACAP_API BOOL WINAPI SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove,
                                         PLARGE_INTEGER lpNewFilePointer, DWORD dwMoveMethod);
LUMACAP_API BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                                  LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);
LUMACAP_API BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                                 LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped);
LUMACAP_API DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh);
LUMACAP_API BOOL WINAPI FlushFileBuffers(HANDLE hFile);
LUMACAP_API BOOL WINAPI DeleteFileA(LPCSTR lpFileName);
LUMACAP_API BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName,
                                         LPSECURITY_ATTRIBUTES lpSecurityAttributes);
LUMACAP_API BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName);
LUMACAP_API DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName);
LUMACAP_API HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData);
LUMACAP_API BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData);
LUMACAP_API BOOL WINAPI FindClose(HANDLE hFindFile);
LUMACAP_API BOOL WINAPI GetDiskFreeSpaceExA(LPCSTR lpDirectoryName,
                                            PULARGE_INTEGER lpFreeBytesAvailableToCaller,
                                            PULARGE_INTEGER lpTotalNumberOfBytes,
                                            PULARGE_INTEGER lpTotalNumberOfFreeBytes);
#define CreateFile CreateFileA
#define DeleteFile DeleteFileA
#define CreateDirectory CreateDirectoryA
#define FindFirstFile FindFirstFileA
#define FindNextFile FindNextFileA
#define GetDiskFreeSpaceEx GetDiskFreeSpaceExA
#define GetFileAttributes GetFileAttributesA

// ---- modules, libraries, resources --------------------------------------------------------------
#define GET_MODULE_HANDLE_EX_FLAG_PIN 0x00000001
#define GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT 0x00000002
#define GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS 0x00000004
#define DONT_RESOLVE_DLL_REFERENCES 0x00000001
#define LOAD_LIBRARY_AS_DATAFILE 0x00000002

// Module file names come back in Windows form ("Z:\usr\lib\liblumacap.so.0").
LUMACAP_API DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
LUMACAP_API BOOL WINAPI GetModuleHandleExA(DWORD dwFlags, LPCSTR lpModuleName, HMODULE* phModule);
LUMACAP_API HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName);
LUMACAP_API HMODULE WINAPI LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags);
LUMACAP_API HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName);
LUMACAP_API BOOL WINAPI FreeLibrary(HMODULE hLibModule);
#define GetModuleFileName GetModuleFileNameA
#define GetModuleHandleEx GetModuleHandleExA
#define LoadLibraryEx LoadLibraryExA

#define RT_CURSOR MAKEINTRESOURCE(1)
#define RT_BITMAP MAKEINTRESOURCE(2)
#define RT_ICON MAKEINTRESOURCE(3)
#define RT_RCDATA MAKEINTRESOURCE(10)
#define RT_GROUP_CURSOR MAKEINTRESOURCE(12)
#define RT_VERSION MAKEINTRESOURCE(16)
LUMACAP_API HRSRC WINAPI FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType);
LUMACAP_API HGLOBAL WINAPI LoadResource(HMODULE hModule, HRSRC hResInfo);
LUMACAP_API LPVOID WINAPI LockResource(HGLOBAL hResData);
LUMACAP_API DWORD WINAPI SizeofResource(HMODULE hModule, HRSRC hResInfo);
#define FindResource FindResourceA

// ---- memory -------------------------------------------------------------------------------------
#define LMEM_FIXED 0x0000
#define LMEM_ZEROINIT 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)
LUMACAP_API HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes);
LUMACAP_API HLOCAL WINAPI LocalFree(HLOCAL hMem);

// ---- message texts ------------------------------------------------------------------------------
#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_STRING 0x00000400
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FF
// Answers from the system's message table, or from a message module such as "netmsg.dll".
// With FORMAT_MESSAGE_ALLOCATE_BUFFER, lpBuffer is really an LPSTR* receiving a LocalAlloc'ed
// text that the caller frees with LocalFree.
LUMACAP_API DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId,
                                        DWORD dwLanguageId, LPSTR lpBuffer, DWORD nSize,
                                        void* Arguments);
#define FormatMessage FormatMessageA

// ---- code pages ---------------------------------------------------------------------------------
// The system's ANSI code page is 936 (GBK), so the library's texts are native.
#define CP_ACP 0
#define CP_OEMCP 1
#define CP_UTF8 65001
#define CP_GBK 936
#define CP_GB18030 54936
#define MB_ERR_INVALID_CHARS 0x00000008
LUMACAP_API UINT WINAPI GetACP();
LUMACAP_API int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr,
                                           int cbMultiByte, LPWSTR lpWideCharStr, int cchWideChar);
LUMACAP_API int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr,
                                           int cchWideChar, LPSTR lpMultiByteStr, int cbMultiByte,
                                           LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar);

// ---- debugging ----------------------------------------------------------------------------------
LUMACAP_API void WINAPI OutputDebugStringA(LPCSTR lpOutputString);
#define OutputDebugString OutputDebugStringA
