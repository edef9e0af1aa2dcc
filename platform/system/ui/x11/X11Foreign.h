// Other programs' top-level windows, kept known to USER (so hosts can find, measure and capture
// them by window handle): the window manager's client list where there is one, the root's mapped
// children otherwise. Used on the display's event thread only.
#pragma once

#include <xcb/xcb.h>

#include <memory>
#include <set>

#include "platform/system/ui/x11/X11Connection.h"

namespace lumacap::ui {

class X11Windows;

class X11Foreign {
public:
    X11Foreign(std::shared_ptr<X11Connection> conn, const X11Windows& ours, bool windowManager);
    // Whether a window manager runs on the screen.
    static bool DetectWindowManager(X11Connection& conn);

    // Something changed on the screen: the list is read again at the next Refresh.
    void MarkStale() { m_stale = true; }
    bool Stale() const { return m_stale; }
    void Refresh();
    // A window we follow was destroyed: it stops being a window at once.
    void OnDestroyed(xcb_window_t xid);
    bool Known(xcb_window_t xid) const { return m_known.count(xid) != 0; }

private:
    std::shared_ptr<X11Connection> m_conn;
    const X11Windows& m_ours;
    bool m_stale = true;
    bool m_windowManager;
    std::set<xcb_window_t> m_known;
    std::set<xcb_window_t> m_watched;  // windows whose property and structure changes we hear of
};

}  // namespace lumacap::ui
