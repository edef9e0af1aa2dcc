// USER: windows, message queues, painting, input and cursors.
#pragma once

#include "windef.h"
