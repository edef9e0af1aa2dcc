// Choosing the display: X11 where a server answers, the headless screen otherwise, and switching
// between them at run time (tests, and a server that goes away).
#include <lumacap/sim.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/system/ui/User.h"
#include "platform/system/ui/UserInternal.h"
#include "platform/system/ui/x11/X11Display.h"
#include "platform/system/win/Trace.h"

namespace lumacap::ui {
namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

}  // namespace

void SelectDefaultDisplay() {
    const std::string forced = Env("LUMACAP_DISPLAY");
    const std::string display = Env("DISPLAY");
    if (forced == "headless") return;
    if (forced != "x11" && display.empty()) return;
    std::string error;
    if (auto x11 = OpenX11Display(display, &error)) {
        InstallBackend(std::move(x11));
        return;
    }
    const std::string note =
        "cannot use the X display '" + display + "' (" + error + "); windows are kept in memory";
    {
        UserState& u = UserState::Instance();
        std::lock_guard<std::mutex> lock(u.mutex);
        u.displayNote = note;
    }
    LUMACAP_TRACE(kUi, "display: headless: %s", note.c_str());
}

}  // namespace lumacap::ui

namespace lumacap::sim {

std::string DisplayName() {
    return ui::CurrentBackend()->Name();
}

bool UseX11Display(const char* name, std::string* error) {
    std::string why;
    auto x11 = ui::OpenX11Display(name ? name : "", &why);
    if (!x11) {
        if (error) *error = why;
        return false;
    }
    ui::InstallBackend(std::move(x11));
    return true;
}

void UseHeadlessDisplay() {
    if (std::strcmp(ui::CurrentBackend()->Name(), "headless") == 0) return;
    ui::InstallBackend(ui::CreateHeadlessBackend());
}

std::string DisplayNote() {
    ui::UserState& u = ui::UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    return u.displayNote;
}

bool DisplayLost() {
    ui::UserState& u = ui::UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    return u.displayLost;
}

}  // namespace lumacap::sim
