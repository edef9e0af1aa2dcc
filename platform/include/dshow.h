// The media framework's umbrella header.
#pragma once

#include "windows.h"
#include "objbase.h"
#include "amvideo.h"
#include "control.h"
#include "evcode.h"
#include "mmreg.h"
#include "ocidl.h"
#include "strmif.h"
#include "uuids.h"
