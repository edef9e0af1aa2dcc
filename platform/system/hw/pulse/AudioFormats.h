// The PCM formats a sound-server microphone offers and the media types that describe them.
#pragma once

#include <vector>

#include <streams.h>

#include "platform/system/hw/pulse/SoundServer.h"

namespace lumacap::hw::pulse {

// The source's own rate and channels first (16-bit), then the common PCM formats from 48 kHz down
// to 8 kHz, stereo and mono, 16- and 8-bit: the server converts, so any of them can be recorded.
std::vector<StreamFormat> OfferedFormats(const StreamFormat& native);

// A PCM type with an 18-byte WAVEFORMATEX, as audio capture drivers describe their formats.
void WaveMediaType(const StreamFormat& format, CMediaType* mt);

// The stream format a media type asks for; false unless it is PCM the server can record.
bool StreamFormatOf(const AM_MEDIA_TYPE& mt, StreamFormat* format);

}  // namespace lumacap::hw::pulse
