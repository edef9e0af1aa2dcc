// Multibyte-aware string functions of the C runtime, in the active code page (936, GBK): a lead
// byte and its trail byte are one character and are never case-folded.
#pragma once

#include "windef.h"

LUMACAP_API int __cdecl _mbsicmp(const unsigned char* a, const unsigned char* b);
LUMACAP_API int __cdecl _mbsicoll(const unsigned char* a, const unsigned char* b);
LUMACAP_API unsigned char* __cdecl _mbsupr(unsigned char* s);
LUMACAP_API const unsigned char* __cdecl _mbsrchr(const unsigned char* s, unsigned int c);
