// The cursors USER's windows ask for, as X cursors: the system's from the desktop's cursor theme
// (or the server's own cursor font), the rest made from their images with their colours and
// transparency (ARGB cursors).
#pragma once

#include <xcb/xcb.h>
#include <xcb/xcb_cursor.h>

#include <map>

#include <windows.h>

#include "platform/system/ui/x11/X11Connection.h"

namespace lumacap::ui {

class X11Cursors {
public:
    explicit X11Cursors(X11Connection& conn);
    ~X11Cursors();
    X11Cursors(const X11Cursors&) = delete;
    X11Cursors& operator=(const X11Cursors&) = delete;

    // The X cursor for a cursor handle, made once; XCB_NONE for the null cursor (the parent
    // window's) or one that cannot be made.
    xcb_cursor_t Get(HCURSOR cursor);
    // An invisible cursor, for SetCursor(NULL).
    xcb_cursor_t Hidden();

private:
    xcb_cursor_t FromImage(HCURSOR cursor);

    X11Connection& m_conn;
    xcb_cursor_context_t* m_theme = nullptr;
    std::map<HCURSOR, xcb_cursor_t> m_made;
    xcb_cursor_t m_hidden = XCB_NONE;
};

}  // namespace lumacap::ui
