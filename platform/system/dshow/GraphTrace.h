// Trace lines about filter graphs: how media types, pins and allocators read in the trace.
#pragma once

#include <string>

#include <strmif.h>

namespace lumacap::dshow {

// "Video RGB24 640x480 30.00 fps", "Audio PCM 11025 Hz 16-bit 1 ch", "Stream Avi".
std::string DescribeMediaType(const AM_MEDIA_TYPE* mt);
// "Filter name.Pin name".
std::string DescribePin(IPin* pin);
std::string DescribeFilter(IBaseFilter* filter);

// One line for a connection made (from the output pin's side), and one for the allocator an
// output pin settled on, `whose` saying where it came from ("the input pin's", ...).
void TraceConnection(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt);
void TraceAllocator(IPin* out, IMemAllocator* allocator, const char* whose);

}  // namespace lumacap::dshow
