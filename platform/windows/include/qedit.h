// mingw-w64's qedit.h has the sample grabber's interfaces but not the class IDs of the grabber and
// the null renderer, which the SDK's qedit.h declares (their values are in libstrmiids).
#pragma once

#include_next <qedit.h>

EXTERN_C const CLSID CLSID_SampleGrabber;
EXTERN_C const CLSID CLSID_NullRenderer;
