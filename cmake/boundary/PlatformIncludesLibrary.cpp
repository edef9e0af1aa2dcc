// Must not compile: platform code reaching into the library. The first include is the platform's
// own and is found; the second is the library's and must not be.
#include "platform/system/win/Modules.h"
#include "camera/Enumeration.h"
