// The simulation controls of the sound-server microphones (lumacap/sim_devices.h).
#include <lumacap/sim.h>

#include "platform/system/hw/pulse/Provider.h"

namespace lumacap::sim {

void UseSoundServer(const char* server) {
    hw::pulse::UseServer(server ? server : "");
}

void UseNoSoundServer() {
    hw::pulse::UseNoServer();
}

void PreferSoundServerMicrophone(const char* displayName) {
    hw::pulse::PreferSource(displayName ? displayName : "");
}

}  // namespace lumacap::sim
