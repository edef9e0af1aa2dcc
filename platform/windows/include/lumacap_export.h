// Symbol export for the Windows build: the check links the library statically, so nothing is
// marked; a DLL build would export with __declspec(dllexport) here.
#pragma once

#define LUMACAP_API
