// TEMPORARY until the log lands: weak stand-ins so the library links; the real log overrides them.
#include "log/Log.h"

__attribute__((weak)) int LogInfo(const char*, ...) { return 0; }
__attribute__((weak)) int LogWarn(const char*, ...) { return 0; }
__attribute__((weak)) int LogError(const char*, ...) { return 0; }
__attribute__((weak)) int LogWarnText(const char*) { return 0; }
__attribute__((weak)) int LogErrorText(const char*) { return 0; }
