// Opening the X11 display: two connections to the server (one for the event thread, one for the
// other threads' questions) and the backend over them.
#include "platform/system/ui/x11/X11Display.h"

#include "platform/system/ui/x11/X11Backend.h"

namespace lumacap::ui {

std::shared_ptr<DisplayBackend> OpenX11Display(const std::string& name, std::string* error) {
    std::string why;
    std::shared_ptr<X11Connection> events = X11Connection::Open(name, &why);
    std::shared_ptr<X11Connection> requests =
        events ? X11Connection::Open(events->Name(), &why) : nullptr;
    if (!events || !requests) {
        if (error) *error = why;
        return nullptr;
    }
    auto backend = std::make_shared<X11Backend>(std::move(events), std::move(requests));
    backend->Start();
    return backend;
}

}  // namespace lumacap::ui
