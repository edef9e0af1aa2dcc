// Keys between the X server's key symbols and the system's virtual-key codes.
#pragma once

#include <cstdint>

#include <windows.h>

namespace lumacap::ui {

// The virtual key a key symbol (its unshifted one) stands for; 0 for none.
UINT VirtualKeyOfKeysym(uint32_t keysym);
// The key symbol to press for a virtual key; 0 for none.
uint32_t KeysymOfVirtualKey(UINT vk);

}  // namespace lumacap::ui
