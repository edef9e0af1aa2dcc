// Making X cursors from USER's cursors.
#include "platform/system/ui/x11/X11Cursors.h"

#include <xcb/render.h>
#include <xcb/xcb_renderutil.h>

#include <cstdlib>
#include <vector>

#include "platform/system/ui/Cursors.h"

namespace lumacap::ui {
namespace {

// The theme's names for the system's cursors; the first ones are also in the server's cursor font.
const char* ThemeName(int systemId) {
    switch (systemId) {
        case 32512:
            return "left_ptr";
        case 32513:
            return "xterm";
        case 32514:
            return "watch";
        case 32515:
            return "crosshair";
        case 32516:
            return "sb_up_arrow";
        case 32642:
            return "bottom_right_corner";
        case 32643:
            return "bottom_left_corner";
        case 32644:
            return "sb_h_double_arrow";
        case 32645:
            return "sb_v_double_arrow";
        case 32646:
            return "fleur";
        case 32648:
            return "circle";
        case 32649:
            return "hand2";
        case 32651:
            return "question_arrow";
        default:
            return nullptr;  // IDC_APPSTARTING has no counterpart: its own picture is used
    }
}

}  // namespace

X11Cursors::X11Cursors(X11Connection& conn) : m_conn(conn) {
    if (xcb_cursor_context_new(conn.Get(), conn.Screen(), &m_theme) < 0) m_theme = nullptr;
}

X11Cursors::~X11Cursors() {
    if (!m_conn.Broken()) {
        for (auto& [h, c] : m_made)
            if (c != XCB_NONE) xcb_free_cursor(m_conn.Get(), c);
        if (m_hidden != XCB_NONE) xcb_free_cursor(m_conn.Get(), m_hidden);
    }
    if (m_theme) xcb_cursor_context_free(m_theme);
}

xcb_cursor_t X11Cursors::Get(HCURSOR cursor) {
    if (!cursor) return XCB_NONE;
    auto it = m_made.find(cursor);
    if (it != m_made.end()) return it->second;
    xcb_cursor_t made = XCB_NONE;
    auto image = FindCursor(cursor);
    if (image && image->systemId && m_theme) {
        if (const char* name = ThemeName(image->systemId))
            made = xcb_cursor_load_cursor(m_theme, name);
    }
    if (made == XCB_NONE) made = FromImage(cursor);
    m_made[cursor] = made;
    return made;
}

xcb_cursor_t X11Cursors::Hidden() {
    if (m_hidden == XCB_NONE) {
        // A cursor whose one pixel is transparent.
        xcb_connection_t* c = m_conn.Get();
        xcb_pixmap_t pixmap = xcb_generate_id(c);
        xcb_create_pixmap(c, 1, pixmap, m_conn.Root(), 1, 1);
        m_hidden = xcb_generate_id(c);
        xcb_create_cursor(c, m_hidden, pixmap, pixmap, 0, 0, 0, 0, 0, 0, 0, 0);
        xcb_free_pixmap(c, pixmap);
    }
    return m_hidden;
}

xcb_cursor_t X11Cursors::FromImage(HCURSOR cursor) {
    auto image = FindCursor(cursor);
    if (!image || image->width <= 0 || image->height <= 0) return XCB_NONE;
    xcb_connection_t* c = m_conn.Get();
    auto* formats =
        xcb_render_query_pict_formats_reply(c, xcb_render_query_pict_formats(c), nullptr);
    if (!formats) return XCB_NONE;
    const xcb_render_pictforminfo_t* argb =
        xcb_render_util_find_standard_format(formats, XCB_PICT_STANDARD_ARGB_32);
    if (!argb) {
        std::free(formats);
        return XCB_NONE;
    }
    // Premultiplied ARGB: the mask's holes are transparent; pixels the cursor would invert
    // (a hole with colour) show black, which reads on any background.
    const int w = image->width, h = image->height;
    std::vector<uint32_t> pixels(static_cast<size_t>(w) * h);
    for (size_t i = 0; i < pixels.size(); ++i) {
        const bool hole = image->mask[i] != 0;
        pixels[i] = !hole ? (0xFF000000u | (image->color[i] & 0xFFFFFF))
                          : (image->color[i] ? 0xFF000000u : 0u);
    }
    xcb_pixmap_t pixmap = xcb_generate_id(c);
    xcb_create_pixmap(c, 32, pixmap, m_conn.Root(), static_cast<uint16_t>(w),
                      static_cast<uint16_t>(h));
    xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, pixmap, 0, nullptr);
    xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, gc, static_cast<uint16_t>(w),
                  static_cast<uint16_t>(h), 0, 0, 0, 32, static_cast<uint32_t>(pixels.size() * 4),
                  reinterpret_cast<const uint8_t*>(pixels.data()));
    xcb_render_picture_t picture = xcb_generate_id(c);
    xcb_render_create_picture(c, picture, pixmap, argb->id, 0, nullptr);
    xcb_cursor_t made = xcb_generate_id(c);
    xcb_render_create_cursor(c, made, picture, static_cast<uint16_t>(image->hotspot.x),
                             static_cast<uint16_t>(image->hotspot.y));
    xcb_render_free_picture(c, picture);
    xcb_free_gc(c, gc);
    xcb_free_pixmap(c, pixmap);
    std::free(formats);
    return made;
}

}  // namespace lumacap::ui
