// Microphones as a recording sees them: the audio capture devices in their order (a recording
// takes the first), and putting the one the user names first.
#pragma once

#include <string>
#include <vector>

namespace lumacap::tool {

struct Microphone {
    std::string name;         // friendly name, UTF-8
    std::string displayName;  // the moniker's display name, UTF-8
};

std::vector<Microphone> ListMicrophones();

// Makes the microphone called `wanted` (its whole name, else the first whose name contains it
// ignoring case, else the one with that display name) the first, so a recording takes it; false,
// with a message listing the microphones, when none matches.
bool ChooseMicrophone(const std::string& wanted, Microphone* chosen, std::string* error);

}  // namespace lumacap::tool
