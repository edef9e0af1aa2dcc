// Mirroring this process's top-level windows as X windows.
#include "platform/system/ui/x11/X11Windows.h"

#include <unistd.h>
#include <xcb/xcb_icccm.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/system/ui/DisplayEvents.h"
#include "platform/system/win/CodePage.h"

namespace lumacap::ui {
namespace {

constexpr uint32_t kEvents =
    XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_KEY_PRESS |
    XCB_EVENT_MASK_KEY_RELEASE | XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE |
    XCB_EVENT_MASK_POINTER_MOTION | XCB_EVENT_MASK_ENTER_WINDOW | XCB_EVENT_MASK_LEAVE_WINDOW |
    XCB_EVENT_MASK_FOCUS_CHANGE | XCB_EVENT_MASK_PROPERTY_CHANGE;

bool Same(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

int Width(const RECT& r) {
    return std::max<int>(1, r.right - r.left);
}
int Height(const RECT& r) {
    return std::max<int>(1, r.bottom - r.top);
}

}  // namespace

X11Windows::X11Windows(std::shared_ptr<X11Connection> conn, bool windowManager)
    : m_conn(std::move(conn)), m_windowManager(windowManager) {}

X11Windows::Mirror* X11Windows::Make(const DisplayWindow& d) {
    xcb_connection_t* c = m_conn->Get();
    Mirror& m = m_mirrors[d.hwnd];
    m.hwnd = d.hwnd;
    m.xid = xcb_generate_id(c);
    m.parent = m_conn->Root();
    m.geometry = RECT{d.clientRect.left, d.clientRect.top, d.clientRect.left + Width(d.clientRect),
                      d.clientRect.top + Height(d.clientRect)};
    // No background: the server leaves exposed areas alone until the picture arrives, and keeps
    // the picture's top-left corner in place when the window grows.
    const uint32_t values[] = {XCB_BACK_PIXMAP_NONE, XCB_GRAVITY_NORTH_WEST, kEvents};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, m.xid, m_conn->Root(),
                      static_cast<int16_t>(m.geometry.left), static_cast<int16_t>(m.geometry.top),
                      static_cast<uint16_t>(Width(m.geometry)),
                      static_cast<uint16_t>(Height(m.geometry)), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      m_conn->Screen()->root_visual,
                      XCB_CW_BACK_PIXMAP | XCB_CW_BIT_GRAVITY | XCB_CW_EVENT_MASK, values);
    const uint32_t noExposures = 0;
    m.gc = xcb_generate_id(c);
    xcb_create_gc(c, m.gc, m.xid, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
    m_byXid[m.xid] = d.hwnd;

    xcb_atom_t protocols[] = {m_conn->Atom("WM_DELETE_WINDOW")};
    xcb_icccm_set_wm_protocols(c, m.xid, m_conn->Atom("WM_PROTOCOLS"), 1, protocols);
    std::string wmClass = "lumacap";
    wmClass.push_back('\0');
    wmClass += d.className;
    wmClass.push_back('\0');
    xcb_icccm_set_wm_class(c, m.xid, static_cast<uint32_t>(wmClass.size()), wmClass.data());
    if (m_conn->ewmhReady)
        xcb_ewmh_set_wm_pid(&m_conn->ewmh, m.xid, static_cast<uint32_t>(getpid()));
    // The window goes where USER put it, not where a window manager would.
    xcb_size_hints_t hints{};
    xcb_icccm_size_hints_set_position(&hints, 1, static_cast<int32_t>(m.geometry.left),
                                      static_cast<int32_t>(m.geometry.top));
    xcb_icccm_size_hints_set_size(&hints, 1, Width(m.geometry), Height(m.geometry));
    xcb_icccm_set_wm_normal_hints(c, m.xid, &hints);
    xcb_icccm_wm_hints_t wmHints{};
    xcb_icccm_wm_hints_set_input(&wmHints, 1);
    xcb_icccm_wm_hints_set_normal(&wmHints);
    xcb_icccm_set_wm_hints(c, m.xid, &wmHints);
    if (d.owner) {
        if (const xcb_window_t owner = Xid(d.owner))
            xcb_icccm_set_wm_transient_for(c, m.xid, owner);
    }
    if ((d.exStyle & WS_EX_TOPMOST) && m_conn->ewmhReady) {
        xcb_atom_t above = m_conn->ewmh._NET_WM_STATE_ABOVE;
        xcb_ewmh_set_wm_state(&m_conn->ewmh, m.xid, 1, &above);
    }
    return &m;
}

void X11Windows::SetTitle(Mirror& m, const std::string& gbkTitle) {
    m.title = gbkTitle;
    const std::string utf8 = win::GbkToUtf8(gbkTitle);
    if (m_conn->ewmhReady)
        xcb_ewmh_set_wm_name(&m_conn->ewmh, m.xid, static_cast<uint32_t>(utf8.size()), utf8.data());
    // WM_NAME is Latin-1 by its definition: what is not ASCII shows as '?' there.
    std::string latin = utf8;
    for (char& ch : latin)
        if (static_cast<unsigned char>(ch) >= 0x80) ch = '?';
    xcb_icccm_set_wm_name(m_conn->Get(), m.xid, XCB_ATOM_STRING, 8,
                          static_cast<uint32_t>(latin.size()), latin.data());
}

void X11Windows::SetHints(Mirror& m, const DisplayWindow& d) {
    // Windows without a caption or sizing frame ask the window manager for no decoration
    // (Motif's hints, which window managers still read).
    const bool framed = (d.style & WS_CAPTION) == WS_CAPTION || (d.style & WS_THICKFRAME);
    const uint32_t motif[5] = {2 /* decorations given */, 0, framed ? 1u : 0u, 0, 0};
    const xcb_atom_t atom = m_conn->Atom("_MOTIF_WM_HINTS");
    xcb_change_property(m_conn->Get(), XCB_PROP_MODE_REPLACE, m.xid, atom, atom, 32, 5, motif);
    m.style = d.style;
    m.exStyle = d.exStyle;
}

void X11Windows::Apply(const DisplayWindow& d) {
    xcb_connection_t* c = m_conn->Get();
    auto it = m_mirrors.find(d.hwnd);
    Mirror* m = it == m_mirrors.end() ? Make(d) : &it->second;
    if (it == m_mirrors.end()) {
        SetHints(*m, d);
        SetTitle(*m, d.title);
    } else {
        if (d.title != m->title) SetTitle(*m, d.title);
        if (d.style != m->style || d.exStyle != m->exStyle) SetHints(*m, d);
    }
    const RECT target{d.clientRect.left, d.clientRect.top, d.clientRect.left + Width(d.clientRect),
                      d.clientRect.top + Height(d.clientRect)};
    if (!Same(target, m->geometry)) {
        const uint32_t v[] = {static_cast<uint32_t>(target.left), static_cast<uint32_t>(target.top),
                              static_cast<uint32_t>(Width(target)),
                              static_cast<uint32_t>(Height(target))};
        xcb_configure_window(c, m->xid,
                             XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                                 XCB_CONFIG_WINDOW_HEIGHT,
                             v);
        m->pending.push_back(target);
        m->geometry = target;
        m->dirty = true;
    }
    if (!m->stacked || d.above != m->above) {
        // Just under the window of this process above it, or on top of everything.
        const xcb_window_t sibling = d.above ? Xid(d.above) : 0;
        if (sibling && !m_windowManager) {
            const uint32_t v[] = {sibling, XCB_STACK_MODE_BELOW};
            xcb_configure_window(c, m->xid,
                                 XCB_CONFIG_WINDOW_SIBLING | XCB_CONFIG_WINDOW_STACK_MODE, v);
        } else if (!sibling) {
            const uint32_t v[] = {XCB_STACK_MODE_ABOVE};
            xcb_configure_window(c, m->xid, XCB_CONFIG_WINDOW_STACK_MODE, v);
        }
        m->above = d.above;
        m->stacked = true;
    }
    const bool empty =
        d.clientRect.right <= d.clientRect.left || d.clientRect.bottom <= d.clientRect.top;
    const bool iconic = (d.style & WS_MINIMIZE) != 0;
    // Minimized windows go to the window manager's icons; without one they are simply not shown.
    const bool show = d.visible && !empty && (!iconic || m_windowManager);
    if (show && !m->mapped) {
        xcb_map_window(c, m->xid);
        m->mapped = true;
        m->dirty = true;
    } else if (!show && m->mapped) {
        xcb_unmap_window(c, m->xid);
        m->mapped = false;
    }
    if (show && iconic != m->iconic && m_windowManager) {
        // ICCCM: the window manager iconifies a window asked to with WM_CHANGE_STATE.
        xcb_client_message_event_t e{};
        e.response_type = XCB_CLIENT_MESSAGE;
        e.format = 32;
        e.window = m->xid;
        e.type = m_conn->Atom("WM_CHANGE_STATE");
        e.data.data32[0] = iconic ? XCB_ICCCM_WM_STATE_ICONIC : XCB_ICCCM_WM_STATE_NORMAL;
        xcb_send_event(c, 0, m_conn->Root(),
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&e));
        if (!iconic) xcb_map_window(c, m->xid);
    }
    m->iconic = iconic;
    const bool zoomed = (d.style & WS_MAXIMIZE) != 0;
    if (show && zoomed != m->zoomed && m_windowManager && m_conn->ewmhReady) {
        // EWMH: the manager maximizes (and later restores) a window asked to with _NET_WM_STATE,
        // or it would keep the old state and fight the size USER gives the window.
        xcb_ewmh_request_change_wm_state(
            &m_conn->ewmh, 0, m->xid, zoomed ? XCB_EWMH_WM_STATE_ADD : XCB_EWMH_WM_STATE_REMOVE,
            m_conn->ewmh._NET_WM_STATE_MAXIMIZED_VERT, m_conn->ewmh._NET_WM_STATE_MAXIMIZED_HORZ,
            XCB_EWMH_CLIENT_SOURCE_TYPE_NORMAL);
    }
    m->zoomed = zoomed;
}

void X11Windows::Destroy(HWND hwnd) {
    auto it = m_mirrors.find(hwnd);
    if (it == m_mirrors.end()) return;
    xcb_free_gc(m_conn->Get(), it->second.gc);
    xcb_destroy_window(m_conn->Get(), it->second.xid);
    m_byXid.erase(it->second.xid);
    m_mirrors.erase(it);  // the segment's detach follows the last transfer on the connection
}

void X11Windows::MarkContent(HWND hwnd) {
    auto it = m_mirrors.find(hwnd);
    if (it != m_mirrors.end()) it->second.dirty = true;
}

bool X11Windows::Pushing() const {
    for (const auto& [h, m] : m_mirrors)
        if (m.travelling || (m.dirty && m.mapped)) return true;
    return false;
}

void X11Windows::PushContent() {
    for (auto& [h, m] : m_mirrors)
        if (m.dirty && m.mapped && !m.travelling) Push(m);
}

bool X11Windows::Push(Mirror& m) {
    m.dirty = false;
    Scene scene;
    RECT client;
    if (!TopLevelScene(m.hwnd, &scene, &client)) return false;
    const int w = client.right - client.left, h = client.bottom - client.top;
    if (w <= 0 || h <= 0) return false;
    xcb_connection_t* c = m_conn->Get();
    const size_t bytes = static_cast<size_t>(w) * static_cast<size_t>(h) * 4;
    if (m_conn->hasShm && (!m.shm || m.shm->Size() != bytes))
        m.shm = ShmSegment::Create(m_conn, bytes);
    if (m.shm) {
        auto surface = Surface::Wrap(w, h, m.shm->Data(), static_cast<ptrdiff_t>(w) * 4);
        ComposeScene(scene, client, *surface);
        // The server says when it has read the memory; until then the picture is not redrawn.
        xcb_shm_put_image(c, m.xid, m.gc, static_cast<uint16_t>(w), static_cast<uint16_t>(h), 0, 0,
                          static_cast<uint16_t>(w), static_cast<uint16_t>(h), 0, 0, 24,
                          XCB_IMAGE_FORMAT_Z_PIXMAP, 1, m.shm->Id(), 0);
        m.travelling = true;
        return true;
    }
    // Without shared memory (a server on another machine) the picture goes through the
    // connection, in requests as large as the server takes.
    auto surface = Surface::Create(w, h);
    if (!surface) return false;
    ComposeScene(scene, client, *surface);
    const size_t maxBytes = static_cast<size_t>(xcb_get_maximum_request_length(c)) * 4 - 64;
    const int rowsPerRequest = std::max<int>(1, static_cast<int>(maxBytes / (w * 4)));
    for (int y = 0; y < h; y += rowsPerRequest) {
        const int rows = std::min(rowsPerRequest, h - y);
        xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, m.xid, m.gc, static_cast<uint16_t>(w),
                      static_cast<uint16_t>(rows), 0, static_cast<int16_t>(y), 0, 24,
                      static_cast<uint32_t>(rows * w * 4),
                      reinterpret_cast<const uint8_t*>(surface->Row(y)));
    }
    return true;
}

HWND X11Windows::Find(xcb_window_t xid) const {
    auto it = m_byXid.find(xid);
    return it == m_byXid.end() ? nullptr : it->second;
}

xcb_window_t X11Windows::Xid(HWND hwnd) const {
    auto it = m_mirrors.find(hwnd);
    return it == m_mirrors.end() ? 0 : it->second.xid;
}

bool X11Windows::Ours(xcb_window_t xid) const {
    return m_byXid.count(xid) != 0;
}

bool X11Windows::Mapped(HWND hwnd) const {
    auto it = m_mirrors.find(hwnd);
    return it != m_mirrors.end() && it->second.mapped;
}

xcb_window_t X11Windows::AnyMapped() const {
    for (const auto& [h, m] : m_mirrors)
        if (m.mapped) return m.xid;
    return 0;
}

void X11Windows::OnConfigure(const xcb_configure_notify_event_t* e, bool synthetic) {
    auto it = m_byXid.find(e->window);
    if (it == m_byXid.end()) return;
    Mirror& m = m_mirrors[it->second];
    RECT r{e->x, e->y, e->x + e->width, e->y + e->height};
    if (!synthetic && m.parent != m_conn->Root()) {
        // Inside a window manager's frame the event's position is the frame's: ask where that
        // is on the screen.
        xcb_connection_t* c = m_conn->Get();
        auto* t = xcb_translate_coordinates_reply(
            c, xcb_translate_coordinates(c, m.xid, m_conn->Root(), 0, 0), nullptr);
        if (!t) return;
        r = RECT{t->dst_x, t->dst_y, t->dst_x + e->width, t->dst_y + e->height};
        std::free(t);
    }
    auto asked =
        std::find_if(m.pending.begin(), m.pending.end(), [&](const RECT& p) { return Same(p, r); });
    if (asked != m.pending.end()) {
        m.pending.erase(m.pending.begin(), asked + 1);
        return;
    }
    if (Same(r, m.geometry)) return;
    // A place this process did not ask for: the window manager's (or the user's through it).
    m.pending.clear();
    m.geometry = r;
    m.dirty = true;
    DisplayMovedWindow(m.hwnd, r);
}

void X11Windows::OnReparent(const xcb_reparent_notify_event_t* e) {
    auto it = m_byXid.find(e->window);
    if (it != m_byXid.end()) m_mirrors[it->second].parent = e->parent;
}

void X11Windows::OnExpose(const xcb_expose_event_t* e) {
    const HWND hwnd = Find(e->window);
    if (!hwnd) return;
    MarkContent(hwnd);
    DisplayExposed(hwnd, RECT{e->x, e->y, e->x + e->width, e->y + e->height});
}

void X11Windows::OnShmCompletion(xcb_drawable_t drawable) {
    auto it = m_byXid.find(drawable);
    if (it != m_byXid.end()) m_mirrors[it->second].travelling = false;
}

void X11Windows::OnClientMessage(const xcb_client_message_event_t* e) {
    const HWND hwnd = Find(e->window);
    if (hwnd && e->format == 32 && e->type == m_conn->Atom("WM_PROTOCOLS") &&
        e->data.data32[0] == m_conn->Atom("WM_DELETE_WINDOW"))
        DisplayClosedWindow(hwnd);
}

void X11Windows::OnStateProperty(const xcb_property_notify_event_t* e) {
    const xcb_atom_t wmState = m_conn->Atom("WM_STATE");
    const bool ewmh = m_conn->ewmhReady;
    if (e->atom != wmState && !(ewmh && e->atom == m_conn->ewmh._NET_WM_STATE)) return;
    auto it = m_byXid.find(e->window);
    if (it == m_byXid.end()) return;
    Mirror& m = m_mirrors[it->second];
    xcb_connection_t* c = m_conn->Get();
    // ICCCM's WM_STATE says iconic or normal; a window the manager withdrew (because this process
    // hid it) says neither, and that is no news about minimizing.
    bool minimized = m.iconic;
    if (auto* r = xcb_get_property_reply(c, xcb_get_property(c, 0, m.xid, wmState, wmState, 0, 2),
                                         nullptr)) {
        if (xcb_get_property_value_length(r) >= 4) {
            const uint32_t state = *static_cast<const uint32_t*>(xcb_get_property_value(r));
            if (state == XCB_ICCCM_WM_STATE_ICONIC) minimized = true;
            if (state == XCB_ICCCM_WM_STATE_NORMAL) minimized = false;
        }
        std::free(r);
    }
    bool maximized = false;
    xcb_ewmh_get_atoms_reply_t list;
    if (ewmh && xcb_ewmh_get_wm_state_reply(
                    &m_conn->ewmh, xcb_ewmh_get_wm_state(&m_conn->ewmh, m.xid), &list, nullptr)) {
        bool vert = false, horz = false;
        for (uint32_t i = 0; i < list.atoms_len; ++i) {
            const xcb_atom_t a = list.atoms[i];
            minimized = minimized || a == m_conn->ewmh._NET_WM_STATE_HIDDEN;
            vert = vert || a == m_conn->ewmh._NET_WM_STATE_MAXIMIZED_VERT;
            horz = horz || a == m_conn->ewmh._NET_WM_STATE_MAXIMIZED_HORZ;
        }
        maximized = vert && horz;  // maximized one way only is a plain size to Windows
        xcb_ewmh_get_atoms_reply_wipe(&list);
    }
    if (minimized == m.iconic && maximized == m.zoomed) return;
    // Noted before USER hears of it, so the change coming back from USER asks the manager for
    // nothing.
    m.iconic = minimized;
    m.zoomed = maximized;
    DisplayWindowState(m.hwnd, minimized, maximized);
}

}  // namespace lumacap::ui
