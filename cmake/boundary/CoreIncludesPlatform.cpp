// Must not compile: library code reaching into the platform's own sources. The first include is
// the library's own and is found; the second is the platform's and must not be.
#include "camera/Enumeration.h"
#include "platform/system/win/Modules.h"
