// Where the sound server's microphones come from and where they stand among the audio capture
// devices: which server is asked (a setting of the platform that lumacap::sim::Reset turns off),
// the connection kept to it, and the trace lines the microphones leave.
#pragma once

#include <memory>
#include <string>

#include "platform/system/hw/pulse/SoundServer.h"

namespace lumacap::hw::pulse {

// Asks `server` (as libpulse spells it; empty: the one the environment names) at each
// enumeration. A process starts this way with the environment's server.
void UseServer(const std::string& server);
// Asks no server: only the virtual microphones are listed.
void UseNoServer();
// Asks this server object instead (tests: the double, or a connection of their own).
void UseServerObject(std::shared_ptr<SoundServer> server);
// Lists this source first instead of the server's default; `name` is the source's name or its
// moniker's display name, empty for the server's default again.
void PreferSource(const std::string& name);

// The display name of a source's moniker: the same for the same source, whenever it is listed.
std::string DisplayNameOf(const std::string& sourceName);

// A line of the platform's trace (area hw); the last one is kept, whether tracing is on or not.
void Trace(const std::string& line);
std::string LastTrace();

}  // namespace lumacap::hw::pulse
