// temporary
#include "platform/system/ui/x11/X11Display.h"
namespace lumacap::ui {
std::shared_ptr<DisplayBackend> OpenX11Display(const std::string&, std::string* error) {
    if (error) *error = "not yet";
    return nullptr;
}
}  // namespace lumacap::ui
