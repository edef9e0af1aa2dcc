// On Windows the C runtime declares these itself (_snprintf, _vsnprintf, _time64, _stricmp).
#pragma once

#include <stdio.h>
#include <string.h>
#include <time.h>
