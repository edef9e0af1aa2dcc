// Identifiers of the library's own cursors (resources/lumacap.rc.in), shown while overlay
// rectangles are moved and resized on the preview.
#pragma once

#define IDC_LUMACAP_MOVE 14000      // four-way arrow
#define IDC_LUMACAP_SIZEWE 14003    // horizontal double arrow
#define IDC_LUMACAP_SIZENESW 14004  // double arrow from lower left to upper right
#define IDC_LUMACAP_SIZENS 14005    // vertical double arrow
#define IDC_LUMACAP_SIZENWSE 14006  // double arrow from upper left to lower right
