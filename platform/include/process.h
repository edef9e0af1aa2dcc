// C runtime threads. A thread handle is a kernel handle: CloseHandle detaches it, and
// WaitForSingleObject waits for the thread to end.
#pragma once

#include "windef.h"

typedef unsigned(__stdcall* _beginthreadex_proc_type)(void*);
LUMACAP_API uintptr_t __cdecl _beginthreadex(void* security, unsigned stack_size,
                                             _beginthreadex_proc_type start_address, void* arglist,
                                             unsigned initflag, unsigned* thrdaddr);
LUMACAP_API void __cdecl _endthreadex(unsigned retval);
