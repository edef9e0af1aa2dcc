// Multimedia timer: the millisecond clock that frame pacing reads (through the replaceable clock).
#pragma once

#include "windef.h"

LUMACAP_API DWORD WINAPI timeGetTime();
LUMACAP_API UINT WINAPI timeBeginPeriod(UINT uPeriod);
LUMACAP_API UINT WINAPI timeEndPeriod(UINT uPeriod);
#define TIMERR_NOERROR 0
