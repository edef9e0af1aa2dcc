// A private X server for a test (Xvfb on a display number of its own, no window manager, no
// network), a connection of the test's own to drive it as a user would (XTEST) and to look at it
// independently of the library, and other X programs started on it.
#pragma once

#include <sys/types.h>
#include <xcb/xcb.h>

#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include <lumacap/sim.h>

namespace lumacap::test {

class XServer {
public:
    // Null, with the reason, when Xvfb cannot be started.
    static std::unique_ptr<XServer> Start(int width, int height, std::string* error);
    ~XServer();

    const std::string& Name() const { return m_name; }
    pid_t Pid() const { return m_pid; }
    xcb_connection_t* Conn() const { return m_conn; }
    xcb_window_t Root() const { return m_root; }
    // The server dies at once (no goodbye to its clients).
    void Kill();

    // Input through XTEST, done when the call returns (server side).
    void MoveTo(int x, int y);
    void Button(int button, bool down);
    void Sync();
    POINT Pointer();

    // The root's pixels (0x00RRGGBB) read with a plain GetImage.
    sim::Pixels Read(const RECT& area);
    // Starts an X program on this server; its pid, or -1.
    pid_t Run(const std::vector<std::string>& argv);
    // A mapped top-level window with this WM_NAME, or 0.
    xcb_window_t FindWindow(const std::string& title);

private:
    XServer() = default;
    pid_t m_pid = -1;
    std::string m_name;
    xcb_connection_t* m_conn = nullptr;
    xcb_window_t m_root = 0;
    std::vector<pid_t> m_clients;
};

}  // namespace lumacap::test
