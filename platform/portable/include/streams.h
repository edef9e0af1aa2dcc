// The media framework's base classes for writing filters: reference-counted objects, locks and
// worker threads, media types, samples and allocators, pins, filters, push sources, transforms and
// renderers. Names, virtual methods and behaviour follow the SDK's base-class library, so a filter
// written against it (such as the library's own frame source) reads the same as on Windows.
#pragma once

#include "combase.h"
#include "wxutil.h"
#include "mtype.h"
#include "amfilter.h"
#include "ctlutil.h"
#include "source.h"
#include "transfrm.h"
#include "renbase.h"
