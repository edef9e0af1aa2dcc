// GDI: device contexts, bitmaps, pens, brushes and DIB drawing over 32-bit surfaces.
#pragma once

#include "windef.h"
