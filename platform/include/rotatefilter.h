// The rotate filter: a media filter installed on the system by its own vendor, outside the
// platform and the library. It turns RGB pictures a quarter turn clockwise.
#pragma once

#include "guiddef.h"

// {F91FC8FD-B1A6-49B0-A308-D6EDEAF506DA}
inline constexpr GUID CLSID_RotateFilter = {
    0xF91FC8FD, 0xB1A6, 0x49B0, {0xA3, 0x08, 0xD6, 0xED, 0xEA, 0xF5, 0x06, 0xDA}};
