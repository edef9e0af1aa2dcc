// Cursor images behind HCURSOR handles, for drawing them and for displays that show them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <windows.h>

namespace lumacap::ui {

struct CursorImage {
    int width = 0;
    int height = 0;
    POINT hotspot{0, 0};
    bool monochrome = true;
    bool shared = false;          // loaded: lives as long as the process
    int systemId = 0;             // IDC_xxx for the system's own cursors
    std::vector<uint32_t> mask;   // AND: 0xFFFFFF keeps the screen, 0 clears it
    std::vector<uint32_t> color;  // XOR
};

// The image behind a cursor handle, or null.
std::shared_ptr<const CursorImage> FindCursor(HCURSOR cursor);
// The system's cursor `id` (IDC_ARROW's 32512 and the others LoadCursorA knows) drawn 32 x 32;
// null for an unknown id.
std::shared_ptr<CursorImage> DrawSystemCursor(int id);

}  // namespace lumacap::ui
