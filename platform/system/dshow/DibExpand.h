// Pictures the screen cannot draw as they are: 8-bit palettised and 16-bit RGB pictures expanded to
// 32-bit RGB, which it can.
#pragma once

#include <vector>

#include <windows.h>

namespace lumacap::dshow {

// Expands `bits` (laid out as `header` says; `colours` is the palette of an 8-bit picture, the
// three masks of a BI_BITFIELDS one, or null) into `out` as 32-bit rows in the same order, and
// describes the result in `outHeader`. False for layouts it does not know.
bool ExpandToRgb32(const BITMAPINFOHEADER& header, const void* colours, const BYTE* bits,
                   std::vector<BYTE>& out, BITMAPINFOHEADER& outHeader);

}  // namespace lumacap::dshow
