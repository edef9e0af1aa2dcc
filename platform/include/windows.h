// The platform's umbrella header, as on Windows.
#pragma once

#include "windef.h"
#include "winerror.h"
#include "winbase.h"
#include "wincrt.h"
#include "winuser.h"
#include "wingdi.h"
