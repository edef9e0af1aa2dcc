// Opening a connection to the X server with a deadline, checking its screen, and finding the
// extensions the display uses.
#include "platform/system/ui/x11/X11Connection.h"

#include <xcb/composite.h>
#include <xcb/randr.h>
#include <xcb/shm.h>
#include <xcb/damage.h>
#include <xcb/xfixes.h>
#include <xcb/xtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace lumacap::ui {
namespace {

constexpr auto kConnectDeadline = std::chrono::seconds(5);

// A connection attempt that may outlive the caller's patience: whoever is last frees it.
struct Attempt {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool abandoned = false;
    xcb_connection_t* conn = nullptr;
    int screen = 0;
};

bool Present(xcb_connection_t* c, xcb_extension_t* ext) {
    const xcb_query_extension_reply_t* r = xcb_get_extension_data(c, ext);
    return r && r->present;
}

}  // namespace

std::unique_ptr<X11Connection> X11Connection::Open(const std::string& name, std::string* error) {
    const std::string display =
        name.empty() ? (std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "") : name;
    if (display.empty()) {
        *error = "no display named (DISPLAY is not set)";
        return nullptr;
    }
    // xcb_connect blocks for as long as the network lets it: it runs on a thread of its own so a
    // host that does not answer cannot hold the caller.
    auto attempt = std::make_shared<Attempt>();
    std::thread([attempt, display] {
        int screen = 0;
        xcb_connection_t* c = xcb_connect(display.c_str(), &screen);
        std::lock_guard<std::mutex> lock(attempt->mutex);
        if (attempt->abandoned) {
            xcb_disconnect(c);
            return;
        }
        attempt->conn = c;
        attempt->screen = screen;
        attempt->finished = true;
        attempt->done.notify_all();
    }).detach();
    std::unique_lock<std::mutex> lock(attempt->mutex);
    if (!attempt->done.wait_for(lock, kConnectDeadline, [&] { return attempt->finished; })) {
        attempt->abandoned = true;
        *error = "the X server at '" + display + "' does not answer";
        return nullptr;
    }
    std::unique_ptr<X11Connection> x(new X11Connection());
    x->m_conn = attempt->conn;
    x->m_name = display;
    if (xcb_connection_has_error(x->m_conn)) {
        *error = "cannot connect to the X server at '" + display + "'";
        return nullptr;
    }
    const xcb_setup_t* setup = xcb_get_setup(x->m_conn);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < attempt->screen && it.rem; ++i) xcb_screen_next(&it);
    if (!it.rem) {
        *error = "the X server at '" + display + "' has no such screen";
        return nullptr;
    }
    x->m_screen = it.data;
    if (!x->Setup(error)) return nullptr;
    return x;
}

bool X11Connection::Setup(std::string* error) {
    const xcb_setup_t* setup = xcb_get_setup(m_conn);
    bool format32 = false;
    for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f))
        if (f.data->depth == 24 && f.data->bits_per_pixel == 32) format32 = true;
    bool trueColor = false;
    for (auto d = xcb_screen_allowed_depths_iterator(m_screen); d.rem; xcb_depth_next(&d))
        for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v))
            if (v.data->visual_id == m_screen->root_visual &&
                v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR && v.data->red_mask == 0xFF0000 &&
                v.data->green_mask == 0xFF00 && v.data->blue_mask == 0xFF)
                trueColor = true;
    if (m_screen->root_depth != 24 || !format32 || !trueColor ||
        setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) {
        *error = "the screen does not show 24-bit colour as 32-bit pixels";
        return false;
    }
    // Ask for every extension at once; the answers come together.
    xcb_prefetch_extension_data(m_conn, &xcb_shm_id);
    xcb_prefetch_extension_data(m_conn, &xcb_test_id);
    xcb_prefetch_extension_data(m_conn, &xcb_randr_id);
    xcb_prefetch_extension_data(m_conn, &xcb_xfixes_id);
    xcb_prefetch_extension_data(m_conn, &xcb_composite_id);
    xcb_prefetch_extension_data(m_conn, &xcb_damage_id);
    hasShm = Present(m_conn, &xcb_shm_id);
    hasXtest = Present(m_conn, &xcb_test_id);
    hasRandr = Present(m_conn, &xcb_randr_id);
    hasXfixes = Present(m_conn, &xcb_xfixes_id);
    hasComposite = Present(m_conn, &xcb_composite_id);
    hasDamage = Present(m_conn, &xcb_damage_id);
    if (hasShm) {
        shmFirstEvent = xcb_get_extension_data(m_conn, &xcb_shm_id)->first_event;
        // A server on another machine knows the extension but cannot see this one's memory.
        auto* v = xcb_shm_query_version_reply(m_conn, xcb_shm_query_version(m_conn), nullptr);
        hasShm = v != nullptr;
        std::free(v);
    }
    if (hasRandr) {
        randrFirstEvent = xcb_get_extension_data(m_conn, &xcb_randr_id)->first_event;
        auto* v =
            xcb_randr_query_version_reply(m_conn, xcb_randr_query_version(m_conn, 1, 3), nullptr);
        hasRandr = v != nullptr;
        std::free(v);
    }
    if (hasXfixes) {
        auto* v =
            xcb_xfixes_query_version_reply(m_conn, xcb_xfixes_query_version(m_conn, 5, 0), nullptr);
        hasXfixes = v != nullptr;
        std::free(v);
    }
    if (hasDamage) {
        auto* v =
            xcb_damage_query_version_reply(m_conn, xcb_damage_query_version(m_conn, 1, 1), nullptr);
        hasDamage = v != nullptr;
        std::free(v);
    }
    xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(m_conn, &ewmh);
    ewmhReady = cookies && xcb_ewmh_init_atoms_replies(&ewmh, cookies, nullptr);
    if (Broken()) {
        *error = "the X server at '" + m_name + "' closed the connection";
        return false;
    }
    return true;
}

X11Connection::~X11Connection() {
    if (ewmhReady) xcb_ewmh_connection_wipe(&ewmh);
    if (m_conn) xcb_disconnect(m_conn);
}

bool X11Connection::RoundTrip() {
    xcb_get_input_focus_reply_t* r =
        xcb_get_input_focus_reply(m_conn, xcb_get_input_focus(m_conn), nullptr);
    std::free(r);
    return r != nullptr;
}

xcb_atom_t X11Connection::Atom(const char* name) {
    std::lock_guard<std::mutex> lock(m_atomMutex);
    auto it = m_atoms.find(name);
    if (it != m_atoms.end()) return it->second;
    auto* r = xcb_intern_atom_reply(
        m_conn, xcb_intern_atom(m_conn, 0, static_cast<uint16_t>(std::strlen(name)), name),
        nullptr);
    const xcb_atom_t a = r ? r->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    std::free(r);
    if (a != XCB_ATOM_NONE) m_atoms[name] = a;
    return a;
}

}  // namespace lumacap::ui
