// The X11 display: opening it, and what it needs of USER.
#pragma once

#include <memory>
#include <string>

#include "platform/system/ui/Backend.h"

namespace lumacap::ui {

// Connects to the X server `name` (empty: $DISPLAY) and shows USER's windows there; null, with
// the reason in `error`, when the server cannot be reached or lacks what the display needs.
std::shared_ptr<DisplayBackend> OpenX11Display(const std::string& name, std::string* error);

}  // namespace lumacap::ui
