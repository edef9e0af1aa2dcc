// The production side of the sound-server seam: libpulse's asynchronous API on a threaded main
// loop, which serves PulseAudio and PipeWire (through its PulseAudio service) alike.
#pragma once

#include <memory>
#include <string>

#include "platform/system/hw/pulse/SoundServer.h"

namespace lumacap::hw::pulse {

// Connects to `server` as libpulse spells it ("unix:/run/user/1000/pulse/native"), or, when it is
// empty, to the one the environment names (PULSE_SERVER, the user's runtime directory). Never
// starts a server. Null, with the reason, when none answers within a few seconds.
std::shared_ptr<SoundServer> ConnectPulse(const std::string& server, std::string* error);

}  // namespace lumacap::hw::pulse
