// The message tables behind FormatMessageA: the system's texts (Win32, COM and the media
// framework's codes) and the network message module's texts ("netmsg.dll").
#pragma once

#include <cstdint>

namespace lumacap::win {

// The text for a code, with its trailing "\r\n", or null when the table has none.
const char* SystemMessageText(uint32_t code);
const char* NetworkMessageText(uint32_t code);

}  // namespace lumacap::win
