// The level of an audio buffer of 16-bit little-endian samples, in decibels.
#pragma once

#include <windows.h>

namespace lumacap::recorder {

int AudioLevel(const BYTE* pBuffer, long length);

}  // namespace lumacap::recorder
