// C runtime file access test, over the drive map.
#pragma once

#include "windef.h"

LUMACAP_API int __cdecl _access(const char* path, int mode);
