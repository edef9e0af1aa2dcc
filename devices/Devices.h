// Device and codec lookup: capture devices by position, filters and compressors by friendly
// name, and pins by direction and name. Failures are reported by a null result and log lines.
#pragma once

#include <dshow.h>

// The capture device at `position` of the video or audio input category (one reference), or null.
IBaseFilter* CreateAVDevice(GUID category, int position);
// The first filter of the category whose friendly name is exactly `friendlyName` (one reference).
IBaseFilter* CreateHardwareFilter(GUID category, const char* friendlyName);
// CreateHardwareFilter's search over a category's monikers, from where the enumerator stands.
IBaseFilter* FindFilterByFriendlyName(IEnumMoniker* pEnum, const char* friendlyName);
// A video (nonzero `video`) or audio compressor by friendly name (one reference).
IBaseFilter* CreateCompressor(int video, const char* name);
// The first pin of the direction whose name contains `namePart` (any pin when null). The pin
// carries no reference of its own and stays valid while its filter lives.
IPin* GetPin(IBaseFilter* pFilter, int input, const char* namePart);
// The first pin of the direction that is not connected; the same reference rule applies.
IPin* GetUnconnectedPin(IBaseFilter* pFilter, int input);
