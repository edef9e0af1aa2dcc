// Symbol visibility for the shared library: everything is hidden unless marked LUMACAP_API.
#pragma once

#if defined(LUMACAP_BUILDING)
#define LUMACAP_API __attribute__((visibility("default")))
#else
#define LUMACAP_API
#endif
