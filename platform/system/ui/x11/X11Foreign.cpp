// Reading other programs' top-level windows off the X server: which there are, in what order,
// where, with what title, class and state.
#include "platform/system/ui/x11/X11Foreign.h"

#include <xcb/xcb_icccm.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/system/ui/DisplayEvents.h"
#include "platform/system/ui/x11/X11Windows.h"

namespace lumacap::ui {
namespace {

// ICCCM's STRING is Latin-1.
std::string Latin1ToUtf8(const char* s, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

struct Query {
    xcb_window_t xid;
    xcb_get_geometry_cookie_t geometry;
    xcb_translate_coordinates_cookie_t origin;
    xcb_get_window_attributes_cookie_t attributes;
    xcb_get_property_cookie_t netName, name, wmClass, pid, extents, state;
};

}  // namespace

X11Foreign::X11Foreign(std::shared_ptr<X11Connection> conn, const X11Windows& ours,
                       bool windowManager)
    : m_conn(std::move(conn)), m_ours(ours), m_windowManager(windowManager) {}

bool X11Foreign::DetectWindowManager(X11Connection& conn) {
    if (!conn.ewmhReady) return false;
    // EWMH: a window manager names a window of its own on the root, which names itself back.
    xcb_ewmh_connection_t* ewmh = &conn.ewmh;
    xcb_window_t check = 0, again = 0;
    return xcb_ewmh_get_supporting_wm_check_reply(
               ewmh, xcb_ewmh_get_supporting_wm_check(ewmh, conn.Root()), &check, nullptr) &&
           xcb_ewmh_get_supporting_wm_check_reply(
               ewmh, xcb_ewmh_get_supporting_wm_check(ewmh, check), &again, nullptr) &&
           check == again;
}

void X11Foreign::Refresh() {
    m_stale = false;
    xcb_connection_t* c = m_conn->Get();
    xcb_ewmh_connection_t* ewmh = &m_conn->ewmh;
    const xcb_window_t root = m_conn->Root();
    std::vector<xcb_window_t> candidates;  // bottom-most first
    bool listed = false;
    if (m_windowManager) {
        xcb_ewmh_get_windows_reply_t list;
        if (xcb_ewmh_get_client_list_stacking_reply(
                ewmh, xcb_ewmh_get_client_list_stacking(ewmh, 0), &list, nullptr) ||
            xcb_ewmh_get_client_list_reply(ewmh, xcb_ewmh_get_client_list(ewmh, 0), &list,
                                           nullptr)) {
            candidates.assign(list.windows, list.windows + list.windows_len);
            xcb_ewmh_get_windows_reply_wipe(&list);
            listed = true;
        }
    }
    if (!listed) {
        auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
        if (!tree) return;
        const xcb_window_t* children = xcb_query_tree_children(tree);
        candidates.assign(children, children + xcb_query_tree_children_length(tree));
        std::free(tree);
    }
    candidates.erase(std::remove_if(candidates.begin(), candidates.end(),
                                    [&](xcb_window_t w) { return m_ours.Ours(w); }),
                     candidates.end());

    // Every question for every window goes out before the first answer is read.
    std::vector<Query> queries;
    queries.reserve(candidates.size());
    for (xcb_window_t w : candidates) {
        Query q{w,
                xcb_get_geometry(c, w),
                xcb_translate_coordinates(c, w, root, 0, 0),
                xcb_get_window_attributes(c, w),
                {},
                xcb_icccm_get_wm_name(c, w),
                xcb_icccm_get_wm_class(c, w),
                {},
                {},
                {}};
        if (m_conn->ewmhReady) {
            q.netName = xcb_ewmh_get_wm_name(ewmh, w);
            q.pid = xcb_ewmh_get_wm_pid(ewmh, w);
            q.extents = xcb_ewmh_get_frame_extents(ewmh, w);
            q.state = xcb_ewmh_get_wm_state(ewmh, w);
        }
        queries.push_back(q);
    }
    std::set<xcb_window_t> seen;
    std::vector<uint64_t> order;
    for (Query& q : queries) {
        auto* geometry = xcb_get_geometry_reply(c, q.geometry, nullptr);
        auto* origin = xcb_translate_coordinates_reply(c, q.origin, nullptr);
        auto* attributes = xcb_get_window_attributes_reply(c, q.attributes, nullptr);
        ForeignWindowInfo info;
        info.id = q.xid;
        bool keep = geometry && origin && attributes &&
                    attributes->_class == XCB_WINDOW_CLASS_INPUT_OUTPUT &&
                    !attributes->override_redirect;
        // Without a window manager's list, only what is on the screen counts as a window.
        if (keep && !listed) keep = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        if (keep) {
            info.client = RECT{origin->dst_x, origin->dst_y, origin->dst_x + geometry->width,
                               origin->dst_y + geometry->height};
            info.visible = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
            // The X border lies round the client area, inside the window manager's frame.
            const LONG b = geometry->border_width;
            info.frame = RECT{b, b, b, b};
        }
        std::free(geometry);
        std::free(origin);
        std::free(attributes);
        xcb_icccm_get_text_property_reply_t name;
        if (xcb_icccm_get_wm_name_reply(c, q.name, &name, nullptr)) {
            info.title = name.encoding == m_conn->Atom("UTF8_STRING")
                             ? std::string(name.name, name.name_len)
                             : Latin1ToUtf8(name.name, name.name_len);
            xcb_icccm_get_text_property_reply_wipe(&name);
        }
        xcb_icccm_get_wm_class_reply_t wmClass;
        if (xcb_icccm_get_wm_class_reply(c, q.wmClass, &wmClass, nullptr)) {
            info.instanceName = wmClass.instance_name ? wmClass.instance_name : "";
            info.className = wmClass.class_name ? wmClass.class_name : "";
            xcb_icccm_get_wm_class_reply_wipe(&wmClass);
        }
        if (m_conn->ewmhReady) {
            xcb_ewmh_get_utf8_strings_reply_t netName;
            if (xcb_ewmh_get_wm_name_reply(ewmh, q.netName, &netName, nullptr)) {
                info.title.assign(netName.strings, netName.strings_len);
                xcb_ewmh_get_utf8_strings_reply_wipe(&netName);
            }
            uint32_t pid = 0;
            if (xcb_ewmh_get_wm_pid_reply(ewmh, q.pid, &pid, nullptr)) info.processId = pid;
            xcb_ewmh_get_extents_reply_t extents;
            if (xcb_ewmh_get_frame_extents_reply(ewmh, q.extents, &extents, nullptr))
                info.frame =
                    RECT{static_cast<LONG>(extents.left), static_cast<LONG>(extents.top),
                         static_cast<LONG>(extents.right), static_cast<LONG>(extents.bottom)};
            xcb_ewmh_get_atoms_reply_t state;
            if (xcb_ewmh_get_wm_state_reply(ewmh, q.state, &state, nullptr)) {
                bool vert = false, horz = false;
                for (uint32_t i = 0; i < state.atoms_len; ++i) {
                    info.iconic = info.iconic || state.atoms[i] == ewmh->_NET_WM_STATE_HIDDEN;
                    vert = vert || state.atoms[i] == ewmh->_NET_WM_STATE_MAXIMIZED_VERT;
                    horz = horz || state.atoms[i] == ewmh->_NET_WM_STATE_MAXIMIZED_HORZ;
                }
                info.zoomed = vert && horz;
                xcb_ewmh_get_atoms_reply_wipe(&state);
            }
        }
        if (!keep) continue;
        if (!m_watched.count(q.xid)) {
            // Hear of its title changing and of it going away.
            const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
            xcb_change_window_attributes(c, q.xid, XCB_CW_EVENT_MASK, &mask);
            m_watched.insert(q.xid);
        }
        DisplayForeignWindow(info);
        seen.insert(q.xid);
        order.insert(order.begin(), q.xid);
    }
    for (xcb_window_t w : m_known)
        if (!seen.count(w)) DisplayForeignWindowGone(w);
    m_known = std::move(seen);
    DisplayForeignOrder(order);
}

void X11Foreign::OnDestroyed(xcb_window_t xid) {
    m_watched.erase(xid);
    if (m_known.erase(xid)) DisplayForeignWindowGone(xid);
}

}  // namespace lumacap::ui
