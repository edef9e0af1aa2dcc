// This process's top-level windows as X windows: made, placed, stacked, titled, shown and
// hidden as USER says; their pictures (children included) sent through shared memory when they
// change; and the window manager's moves, closes and exposures handed back to USER. Used on the
// display's event thread only.
#pragma once

#include <xcb/xcb.h>

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include "platform/system/ui/Backend.h"
#include "platform/system/ui/x11/X11Connection.h"
#include "platform/system/ui/x11/X11Shm.h"

namespace lumacap::ui {

class X11Windows {
public:
    X11Windows(std::shared_ptr<X11Connection> conn, bool windowManager);
    X11Windows(const X11Windows&) = delete;
    X11Windows& operator=(const X11Windows&) = delete;

    void Apply(const DisplayWindow& window);
    void Destroy(HWND hwnd);
    // The window's picture changed: it is sent at the next PushContent.
    void MarkContent(HWND hwnd);
    // Sends the pictures that changed, one transfer per window at a time: a picture that changes
    // again while its last one travels is sent once that one has arrived.
    void PushContent();
    bool Pushing() const;  // pictures travelling or waiting

    HWND Find(xcb_window_t xid) const;
    xcb_window_t Xid(HWND hwnd) const;
    bool Ours(xcb_window_t xid) const;
    bool Mapped(HWND hwnd) const;
    xcb_window_t AnyMapped() const;

    // Events on this process's windows.
    void OnConfigure(const xcb_configure_notify_event_t* e, bool synthetic);
    void OnReparent(const xcb_reparent_notify_event_t* e);
    void OnExpose(const xcb_expose_event_t* e);
    void OnShmCompletion(xcb_drawable_t drawable);
    void OnClientMessage(const xcb_client_message_event_t* e);
    // WM_STATE or _NET_WM_STATE of one of our windows changed: the window manager minimized,
    // maximized or restored it.
    void OnStateProperty(const xcb_property_notify_event_t* e);

private:
    struct Mirror {
        HWND hwnd = nullptr;
        xcb_window_t xid = 0;
        xcb_window_t parent = 0;  // the root, or the window manager's frame
        xcb_gcontext_t gc = 0;
        RECT geometry{};           // screen coordinates of the client area
        std::deque<RECT> pending;  // asked for and not confirmed yet
        bool mapped = false;
        bool iconic = false;
        bool zoomed = false;  // as the window manager last said
        std::string title;
        DWORD style = 0;
        DWORD exStyle = 0;
        HWND above = nullptr;
        bool stacked = false;
        std::unique_ptr<ShmSegment> shm;
        bool dirty = false;
        bool travelling = false;
    };

    Mirror* Make(const DisplayWindow& window);
    void SetTitle(Mirror& m, const std::string& gbkTitle);
    void SetHints(Mirror& m, const DisplayWindow& window);
    bool Push(Mirror& m);

    std::shared_ptr<X11Connection> m_conn;
    bool m_windowManager;
    std::map<HWND, Mirror> m_mirrors;
    std::map<xcb_window_t, HWND> m_byXid;
};

}  // namespace lumacap::ui
