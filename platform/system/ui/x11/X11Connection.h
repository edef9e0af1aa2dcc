// One connection to the X server: its screen, the extensions the display uses, and the atoms
// it names windows' properties with.
#pragma once

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace lumacap::ui {

class X11Connection {
public:
    // Connects to `name` (empty: $DISPLAY), giving up after a few seconds on a server that does
    // not answer; null with the reason in `error`. The screen must show 24-bit colour as 32-bit
    // pixels (the windows' surfaces are sent as they are).
    static std::unique_ptr<X11Connection> Open(const std::string& name, std::string* error);
    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    xcb_connection_t* Get() const { return m_conn; }
    xcb_screen_t* Screen() const { return m_screen; }
    xcb_window_t Root() const { return m_screen->root; }
    const std::string& Name() const { return m_name; }
    bool Broken() const { return xcb_connection_has_error(m_conn) != 0; }
    // Returns once the server has done every request sent so far; false if it is gone.
    bool RoundTrip();
    // An atom by name, asked for once.
    xcb_atom_t Atom(const char* name);

    bool hasShm = false;
    bool hasXtest = false;
    bool hasRandr = false;
    bool hasXfixes = false;
    bool hasDamage = false;
    bool hasComposite = false;
    uint8_t shmFirstEvent = 0;
    uint8_t randrFirstEvent = 0;
    xcb_ewmh_connection_t ewmh{};
    bool ewmhReady = false;

private:
    X11Connection() = default;
    bool Setup(std::string* error);

    xcb_connection_t* m_conn = nullptr;
    xcb_screen_t* m_screen = nullptr;
    std::string m_name;
    std::mutex m_atomMutex;
    std::map<std::string, xcb_atom_t> m_atoms;
};

}  // namespace lumacap::ui
