// Last error, critical sections, local memory and debug output.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <windows.h>

namespace {
thread_local DWORD t_lastError = ERROR_SUCCESS;
}

DWORD WINAPI GetLastError() {
    return t_lastError;
}
void WINAPI SetLastError(DWORD dwErrCode) {
    t_lastError = dwErrCode;
}

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION cs) {
    if (!cs) return;
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&cs->Mutex, &attr);
    pthread_mutexattr_destroy(&attr);
    cs->Initialized = 1;
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION cs) {
    if (!cs || !cs->Initialized) return;
    pthread_mutex_destroy(&cs->Mutex);
    cs->Initialized = 0;
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION cs) {
    if (cs) pthread_mutex_lock(&cs->Mutex);
}

void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION cs) {
    if (cs) pthread_mutex_unlock(&cs->Mutex);
}

BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION cs) {
    return cs && pthread_mutex_trylock(&cs->Mutex) == 0 ? TRUE : FALSE;
}

HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes) {
    void* p = (uFlags & LMEM_ZEROINIT) ? std::calloc(1, uBytes ? uBytes : 1)
                                       : std::malloc(uBytes ? uBytes : 1);
    if (!p) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return p;
}

HLOCAL WINAPI LocalFree(HLOCAL hMem) {
    std::free(hMem);
    return nullptr;
}

void WINAPI OutputDebugStringA(LPCSTR text) {
    // There is no debugger channel; developers can ask for the text on standard error.
    static const bool enabled = std::getenv("LUMACAP_DEBUG_OUTPUT") != nullptr;
    if (enabled && text) std::fputs(text, stderr);
}
