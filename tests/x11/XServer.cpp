// Starting Xvfb for a test, driving it with XTEST and reading it back on a connection of its own.
#include "x11/XServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb_icccm.h>
#include <xcb/xtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace lumacap::test {
namespace {

// Starts a program with DISPLAY set to `display` (unset when empty) and its output discarded.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& display) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "DISPLAY=", 8) != 0) env.emplace_back(*e);
    if (!display.empty()) env.push_back("DISPLAY=" + display);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

}  // namespace

std::unique_ptr<XServer> XServer::Start(int width, int height, std::string* error) {
    int fds[2];
    if (pipe(fds) != 0) {
        *error = "no pipe";
        return nullptr;
    }
    // Xvfb writes the display it chose to the descriptor: parallel tests never collide.
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    std::unique_ptr<XServer> s(new XServer());
    s->m_pid = Spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-nolisten", "tcp", "-screen",
                      "0", screen, "-br", "-noreset"},
                     "");
    close(fds[1]);
    if (s->m_pid < 0) {
        close(fds[0]);
        *error = "Xvfb is not installed";
        return nullptr;
    }
    std::string number;
    pollfd pfd{fds[0], POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline && number.find('\n') == std::string::npos) {
        if (poll(&pfd, 1, 200) <= 0) continue;
        char buf[16];
        const ssize_t n = read(fds[0], buf, sizeof(buf));
        if (n <= 0) break;
        number.append(buf, static_cast<size_t>(n));
    }
    close(fds[0]);
    while (!number.empty() && (number.back() == '\n' || number.back() == '\r')) number.pop_back();
    if (number.empty()) {
        *error = "Xvfb did not start";
        return nullptr;
    }
    s->m_name = ":" + number;
    s->m_conn = xcb_connect(s->m_name.c_str(), nullptr);
    if (xcb_connection_has_error(s->m_conn)) {
        *error = "cannot connect to " + s->m_name;
        return nullptr;
    }
    s->m_root = xcb_setup_roots_iterator(xcb_get_setup(s->m_conn)).data->root;
    return s;
}

XServer::~XServer() {
    for (pid_t c : m_clients) {
        kill(c, SIGTERM);
        waitpid(c, nullptr, 0);
    }
    if (m_conn) xcb_disconnect(m_conn);
    Kill();
}

void XServer::Kill() {
    if (m_pid <= 0) return;
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

void XServer::Sync() {
    std::free(xcb_get_input_focus_reply(m_conn, xcb_get_input_focus(m_conn), nullptr));
}

void XServer::MoveTo(int x, int y) {
    xcb_test_fake_input(m_conn, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, m_root,
                        static_cast<int16_t>(x), static_cast<int16_t>(y), 0);
    Sync();
}

void XServer::Button(int button, bool down) {
    xcb_test_fake_input(m_conn, down ? XCB_BUTTON_PRESS : XCB_BUTTON_RELEASE,
                        static_cast<uint8_t>(button), XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    Sync();
}

POINT XServer::Pointer() {
    POINT p{-1, -1};
    if (auto* r = xcb_query_pointer_reply(m_conn, xcb_query_pointer(m_conn, m_root), nullptr)) {
        p = POINT{r->root_x, r->root_y};
        std::free(r);
    }
    return p;
}

sim::Pixels XServer::Read(const RECT& area) {
    sim::Pixels out;
    const int w = area.right - area.left, h = area.bottom - area.top;
    auto* r = xcb_get_image_reply(
        m_conn,
        xcb_get_image(m_conn, XCB_IMAGE_FORMAT_Z_PIXMAP, m_root, static_cast<int16_t>(area.left),
                      static_cast<int16_t>(area.top), static_cast<uint16_t>(w),
                      static_cast<uint16_t>(h), ~0u),
        nullptr);
    if (!r) return out;
    out.width = w;
    out.height = h;
    out.data.resize(static_cast<size_t>(w) * h);
    std::memcpy(out.data.data(), xcb_get_image_data(r), out.data.size() * 4);
    for (uint32_t& p : out.data) p &= 0xFFFFFF;
    std::free(r);
    return out;
}

pid_t XServer::Run(const std::vector<std::string>& argv) {
    const pid_t pid = Spawn(argv, m_name);
    if (pid > 0) m_clients.push_back(pid);
    return pid;
}

xcb_window_t XServer::FindWindow(const std::string& title) {
    auto* tree = xcb_query_tree_reply(m_conn, xcb_query_tree(m_conn, m_root), nullptr);
    if (!tree) return 0;
    xcb_window_t found = 0;
    const xcb_window_t* kids = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree) && !found; ++i) {
        xcb_icccm_get_text_property_reply_t name;
        if (xcb_icccm_get_wm_name_reply(m_conn, xcb_icccm_get_wm_name(m_conn, kids[i]), &name,
                                        nullptr)) {
            if (std::string(name.name, name.name_len) == title) found = kids[i];
            xcb_icccm_get_text_property_reply_wipe(&name);
        }
    }
    std::free(tree);
    return found;
}

}  // namespace lumacap::test
