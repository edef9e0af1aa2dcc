// The parts of the Microsoft C runtime the library uses that the host's C library lacks or spells
// differently. Library code reads the wall clock with _time64 (what MSVC's time() is), so that it
// follows the replaceable clock.
#pragma once

#include <cstdarg>
#include <ctime>

#include "windef.h"

// MSVC semantics: at most `count` bytes are written; when the output does not fit, no terminator
// is written and the result is -1.
LUMACAP_API int __cdecl _vsnprintf(char* buffer, size_t count, const char* format, va_list args);
LUMACAP_API int __cdecl _snprintf(char* buffer, size_t count, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
LUMACAP_API time_t __cdecl _time64(time_t* destTime);
LUMACAP_API int __cdecl _stricmp(const char* a, const char* b);
LUMACAP_API int __cdecl _strnicmp(const char* a, const char* b, size_t n);
