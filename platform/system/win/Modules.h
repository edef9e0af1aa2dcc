// Modules and their resources, as the platform keeps them.
#pragma once

#include <cstddef>

#include <windows.h>

namespace lumacap::win {

// The module (shared object or executable) whose code or data holds `address`.
HMODULE ModuleOfAddress(const void* address);

// Adds a resource to a module, as a resource compiler would have. `data` must outlive the
// process (static data). Integer identifiers only.
void RegisterResource(HMODULE module, LPCSTR type, WORD id, const void* data, size_t size);

}  // namespace lumacap::win
