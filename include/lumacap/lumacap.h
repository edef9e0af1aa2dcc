// Lumacap: camera capture, preview and recording.
//
// A host includes this header (the exported classes and the platform's host-facing API: windows
// and messages, the component library) and <lumacap/sim.h> for the simulation controls.
#pragma once

#include <windows.h>
#include <objbase.h>

#include "DXCameraProperty.h"
#include "DXCamera.h"
#include "DXRecorder.h"
