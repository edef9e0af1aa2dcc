// The X11 display's event thread, and what other threads ask of the display.
#include "platform/system/ui/x11/X11Backend.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <xcb/randr.h>
#include <xcb/shm.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "platform/system/ui/DisplayEvents.h"
#include "platform/system/ui/Input.h"
#include "platform/system/ui/x11/X11Cursors.h"
#include "platform/system/ui/x11/X11Foreign.h"
#include "platform/system/ui/x11/X11Keys.h"
#include "platform/system/ui/x11/X11PadTracker.h"
#include "platform/system/ui/x11/X11Shm.h"
#include "platform/system/ui/x11/X11Windows.h"

namespace lumacap::ui {
namespace {

constexpr auto kSyncPatience = std::chrono::seconds(5);
constexpr uint16_t kPointerEvents = XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE |
                                    XCB_EVENT_MASK_POINTER_MOTION | XCB_EVENT_MASK_ENTER_WINDOW |
                                    XCB_EVENT_MASK_LEAVE_WINDOW;

bool Empty(const RECT& r) {
    return r.right <= r.left || r.bottom <= r.top;
}

}  // namespace

X11Backend::X11Backend(std::shared_ptr<X11Connection> events,
                       std::shared_ptr<X11Connection> requests)
    : m_events(std::move(events)),
      m_requests(std::move(requests)),
      m_name("x11 " + m_events->Name()) {
    m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_windowManager = X11Foreign::DetectWindowManager(*m_events);
    m_windows = std::make_unique<X11Windows>(m_events, m_windowManager);
    m_foreign = std::make_unique<X11Foreign>(m_events, *m_windows, m_windowManager);
    m_cursors = std::make_unique<X11Cursors>(*m_events);
    m_keys = xcb_key_symbols_alloc(m_events->Get());
    m_requestKeys = xcb_key_symbols_alloc(m_requests->Get());
    if (m_requests->hasShm) m_shm = std::make_shared<ShmPool>(m_requests);
    ReadScreenSize();
    // The root tells of other programs' windows coming, going and changing; RANDR of the screen.
    const uint32_t rootEvents = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(m_events->Get(), m_events->Root(), XCB_CW_EVENT_MASK, &rootEvents);
    if (m_events->hasRandr)
        xcb_randr_select_input(m_events->Get(), m_events->Root(),
                               XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE);
    xcb_flush(m_events->Get());
}

X11Backend::~X11Backend() {
    if (m_thread.joinable()) {
        // The last holder may be the event thread itself, on its way out.
        if (m_thread.get_id() == std::this_thread::get_id()) {
            m_thread.detach();
        } else {
            m_stop = true;
            Wake();
            m_thread.join();
        }
    }
    m_cursors.reset();
    if (m_keys) xcb_key_symbols_free(m_keys);
    if (m_requestKeys) xcb_key_symbols_free(m_requestKeys);
    if (m_wakeFd >= 0) close(m_wakeFd);
}

void X11Backend::Start() {
    // Other programs' windows are known from the start; later changes follow as they come.
    m_foreign->Refresh();
    m_thread = std::thread([self = shared_from_this()] { self->Run(); });
}

bool X11Backend::ScreenSize(int* primaryWidth, int* primaryHeight, RECT* all) {
    std::lock_guard<std::mutex> lock(m_mutex);
    *primaryWidth = m_primaryWidth;
    *primaryHeight = m_primaryHeight;
    *all = m_all;
    return true;
}

void X11Backend::ReadScreenSize() {
    xcb_connection_t* c = m_events->Get();
    const xcb_window_t root = m_events->Root();
    auto* geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, root), nullptr);
    RECT all{0, 0, m_events->Screen()->width_in_pixels, m_events->Screen()->height_in_pixels};
    if (geometry) {
        all = RECT{0, 0, geometry->width, geometry->height};
        std::free(geometry);
    }
    RECT primary = all;
    if (m_events->hasRandr) {
        // The primary output's monitor, or the first lit one when none is called primary.
        auto* res = xcb_randr_get_screen_resources_current_reply(
            c, xcb_randr_get_screen_resources_current(c, root), nullptr);
        auto* prim =
            xcb_randr_get_output_primary_reply(c, xcb_randr_get_output_primary(c, root), nullptr);
        std::vector<xcb_randr_output_t> outputs;
        if (prim && prim->output) outputs.push_back(prim->output);
        if (res) {
            const xcb_randr_output_t* o = xcb_randr_get_screen_resources_current_outputs(res);
            outputs.insert(outputs.end(), o,
                           o + xcb_randr_get_screen_resources_current_outputs_length(res));
        }
        const xcb_timestamp_t stamp = res ? res->config_timestamp : XCB_CURRENT_TIME;
        for (xcb_randr_output_t output : outputs) {
            auto* info = xcb_randr_get_output_info_reply(
                c, xcb_randr_get_output_info(c, output, stamp), nullptr);
            auto* crtc = info && info->crtc
                             ? xcb_randr_get_crtc_info_reply(
                                   c, xcb_randr_get_crtc_info(c, info->crtc, stamp), nullptr)
                             : nullptr;
            const bool lit = crtc && crtc->width && crtc->height;
            if (lit)
                primary = RECT{crtc->x, crtc->y, crtc->x + crtc->width, crtc->y + crtc->height};
            std::free(crtc);
            std::free(info);
            if (lit) break;
        }
        std::free(prim);
        std::free(res);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_primaryWidth = primary.right - primary.left;
    m_primaryHeight = primary.bottom - primary.top;
    m_all = all;
}

// ---- notifications from USER (under its lock: recorded only) ----

void X11Backend::WindowChanged(const DisplayWindow& window) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_pending.changed.count(window.hwnd)) m_pending.order.push_back(window.hwnd);
        m_pending.changed[window.hwnd] = window;
    }
    Wake();
}

void X11Backend::WindowDestroyed(HWND hwnd) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending.destroyed.push_back(hwnd);
    }
    Wake();
}

void X11Backend::ContentChanged(HWND topLevel) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_pending.content.insert(topLevel).second) return;  // already on its way
    }
    Wake();
}

void X11Backend::CursorChanged(HCURSOR cursor) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending.cursorChanged = true;
        m_pending.cursor = cursor;
    }
    Wake();
}

void X11Backend::ActiveChanged(HWND topLevel) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending.activeChanged = true;
        m_pending.active = topLevel;
    }
    Wake();
}

void X11Backend::PointerHeld(HWND captureTop, const RECT* clip) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending.heldChanged = true;
        m_pending.captureTop = captureTop;
        m_pending.clip = clip ? std::optional<RECT>(*clip) : std::nullopt;
    }
    Wake();
}

void X11Backend::Wake() {
    if (m_wakeFd < 0) return;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(m_wakeFd, &one, sizeof(one));
}

// ---- the event thread ----

void X11Backend::Run() {
    xcb_connection_t* c = m_events->Get();
    const int fd = xcb_get_file_descriptor(c);
    while (!m_stop) {
        ApplyPending();
        m_windows->PushContent();
        if (m_foreign->Stale()) m_foreign->Refresh();
        xcb_flush(c);
        DrainEvents(false);
        ReportFocus();
        if (m_events->Broken()) {
            Lost();
            break;
        }
        if (m_stop || !Idle()) continue;
        pollfd fds[2] = {{fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        poll(fds, 2, 500);
        uint64_t count;
        while (read(m_wakeFd, &count, sizeof(count)) > 0) {
        }
    }
    std::vector<std::shared_ptr<std::promise<void>>> syncs;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        syncs.swap(m_pending.syncs);
    }
    FinishSyncs(syncs);
}

bool X11Backend::Idle() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const Pending& p = m_pending;
        if (!p.changed.empty() || !p.destroyed.empty() || !p.content.empty() || p.cursorChanged ||
            p.activeChanged || p.heldChanged || !p.syncs.empty())
            return false;
    }
    return !m_foreign->Stale();
}

void X11Backend::ApplyPending() {
    Pending p;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::swap(p, m_pending);
    }
    for (HWND h : p.order) m_windows->Apply(p.changed[h]);
    for (HWND h : p.destroyed) {
        if (m_pointerWindow == m_windows->Xid(h)) m_pointerWindow = 0;
        m_windows->Destroy(h);
    }
    for (HWND h : p.content) m_windows->MarkContent(h);
    if (p.activeChanged) ApplyActive(p.active);
    if (p.cursorChanged) ApplyCursor(p.cursor);
    if (p.heldChanged) ApplyHeld(p.captureTop, p.clip);
    if (p.syncs.empty()) return;
    // Everything drawn reaches the screen, and every event the server sent so far reaches USER.
    for (int round = 0; round < 8; ++round) {
        m_windows->PushContent();
        if (m_foreign->Stale()) m_foreign->Refresh();
        if (!m_events->RoundTrip()) break;
        DrainEvents(true);
        if (!m_windows->Pushing()) break;
    }
    ReportFocus();
    FinishSyncs(p.syncs);
}

void X11Backend::FinishSyncs(std::vector<std::shared_ptr<std::promise<void>>>& syncs) {
    for (auto& s : syncs) s->set_value();
    syncs.clear();
}

void X11Backend::DrainEvents(bool queuedOnly) {
    xcb_connection_t* c = m_events->Get();
    while (xcb_generic_event_t* e =
               queuedOnly ? xcb_poll_for_queued_event(c) : xcb_poll_for_event(c)) {
        Handle(e);
        std::free(e);
    }
}

void X11Backend::Handle(xcb_generic_event_t* event) {
    const uint8_t type = event->response_type & 0x7F;
    const bool synthetic = (event->response_type & 0x80) != 0;
    const xcb_window_t root = m_events->Root();
    switch (type) {
        case 0:
            // An error: a window that went away, a grab refused. Nothing to pass on.
            return;
        case XCB_EXPOSE:
            m_windows->OnExpose(reinterpret_cast<xcb_expose_event_t*>(event));
            return;
        case XCB_CONFIGURE_NOTIFY: {
            auto* e = reinterpret_cast<xcb_configure_notify_event_t*>(event);
            if (e->event == e->window && m_windows->Ours(e->window)) {
                m_windows->OnConfigure(e, synthetic);
            } else if (!m_windows->Ours(e->window)) {
                m_foreign->MarkStale();
            }
            return;
        }
        case XCB_REPARENT_NOTIFY: {
            auto* e = reinterpret_cast<xcb_reparent_notify_event_t*>(event);
            if (e->event == e->window) m_windows->OnReparent(e);
            m_foreign->MarkStale();
            return;
        }
        case XCB_DESTROY_NOTIFY: {
            auto* e = reinterpret_cast<xcb_destroy_notify_event_t*>(event);
            m_foreign->OnDestroyed(e->window);
            m_foreign->MarkStale();
            return;
        }
        case XCB_CREATE_NOTIFY:
        case XCB_MAP_NOTIFY:
        case XCB_UNMAP_NOTIFY:
            m_foreign->MarkStale();
            return;
        case XCB_PROPERTY_NOTIFY: {
            auto* e = reinterpret_cast<xcb_property_notify_event_t*>(event);
            if (m_windows->Ours(e->window)) {
                m_windows->OnStateProperty(e);
            } else if (e->window == root || m_foreign->Known(e->window)) {
                m_foreign->MarkStale();
            }
            return;
        }
        case XCB_CLIENT_MESSAGE:
            m_windows->OnClientMessage(reinterpret_cast<xcb_client_message_event_t*>(event));
            return;
        case XCB_MAPPING_NOTIFY:
            xcb_refresh_keyboard_mapping(m_keys,
                                         reinterpret_cast<xcb_mapping_notify_event_t*>(event));
            return;
        case XCB_MOTION_NOTIFY:
        case XCB_ENTER_NOTIFY: {
            // Both carry the event window and the root position at the same offsets.
            auto* e = reinterpret_cast<xcb_motion_notify_event_t*>(event);
            const HWND hwnd = m_windows->Find(e->event);
            if (!hwnd) return;
            if (m_pointerWindow != e->event) {
                m_pointerWindow = e->event;
                if (m_cursor) ApplyCursor(m_cursor);  // the shape set last shows there too
            }
            PointerMoveTo(e->root_x, e->root_y, hwnd);
            return;
        }
        case XCB_LEAVE_NOTIFY: {
            auto* e = reinterpret_cast<xcb_leave_notify_event_t*>(event);
            if (e->event == m_pointerWindow && e->mode == XCB_NOTIFY_MODE_NORMAL)
                m_pointerWindow = 0;
            return;
        }
        case XCB_BUTTON_PRESS:
        case XCB_BUTTON_RELEASE: {
            auto* e = reinterpret_cast<xcb_button_press_event_t*>(event);
            const HWND hwnd = m_windows->Find(e->event);
            if (!hwnd) return;
            const bool press = type == XCB_BUTTON_PRESS;
            PointerMoveTo(e->root_x, e->root_y, hwnd);
            switch (e->detail) {
                case 1:
                    PointerButton(MouseButton::Left, press, hwnd);
                    break;
                case 2:
                    PointerButton(MouseButton::Middle, press, hwnd);
                    break;
                case 3:
                    PointerButton(MouseButton::Right, press, hwnd);
                    break;
                case 4:
                case 5:
                case 6:
                case 7:
                    // Buttons 4 to 7 are wheel notches: up, down, left, right.
                    if (press)
                        PointerWheel(e->detail == 4 || e->detail == 7 ? WHEEL_DELTA : -WHEEL_DELTA,
                                     e->detail >= 6, hwnd);
                    break;
                default:
                    break;
            }
            return;
        }
        case XCB_KEY_PRESS:
        case XCB_KEY_RELEASE: {
            auto* e = reinterpret_cast<xcb_key_press_event_t*>(event);
            const UINT vk = VirtualKeyOfKeysym(xcb_key_symbols_get_keysym(m_keys, e->detail, 0));
            if (vk) KeyEvent(vk, type == XCB_KEY_PRESS, e->detail >= 8 ? e->detail - 8u : 0u);
            return;
        }
        case XCB_FOCUS_IN:
        case XCB_FOCUS_OUT: {
            auto* e = reinterpret_cast<xcb_focus_in_event_t*>(event);
            if (e->mode == XCB_NOTIFY_MODE_GRAB || e->mode == XCB_NOTIFY_MODE_UNGRAB ||
                e->detail == XCB_NOTIFY_DETAIL_POINTER || e->detail == XCB_NOTIFY_DETAIL_INFERIOR)
                return;
            const HWND hwnd = m_windows->Find(e->event);
            if (type == XCB_FOCUS_IN && hwnd) {
                m_focusChanged = true;
                m_focusTo = hwnd;
            } else if (type == XCB_FOCUS_OUT && hwnd == m_focusTo) {
                m_focusChanged = true;
                m_focusTo = nullptr;
            }
            return;
        }
        default:
            break;
    }
    if (m_events->hasShm && type == m_events->shmFirstEvent + XCB_SHM_COMPLETION) {
        m_windows->OnShmCompletion(reinterpret_cast<xcb_shm_completion_event_t*>(event)->drawable);
    } else if (m_events->hasRandr &&
               type == m_events->randrFirstEvent + XCB_RANDR_SCREEN_CHANGE_NOTIFY) {
        ReadScreenSize();
        int w, h;
        RECT all;
        ScreenSize(&w, &h, &all);
        DisplayScreenChanged(w, h, all);
    }
}

void X11Backend::ReportFocus() {
    // A focus that moves from one of this process's windows to another is one change for USER.
    if (!m_focusChanged) return;
    m_focusChanged = false;
    if (m_focusTo == m_focusTold) return;
    m_focusTold = m_focusTo;
    DisplayActivated(m_focusTo);
}

void X11Backend::ApplyActive(HWND top) {
    const xcb_window_t xid = top ? m_windows->Xid(top) : 0;
    m_focusTold = top;
    if (!xid || !m_windows->Mapped(top)) return;
    if (m_windowManager && m_events->ewmhReady) {
        xcb_ewmh_request_change_active_window(
            &m_events->ewmh, 0, xid, XCB_EWMH_CLIENT_SOURCE_TYPE_NORMAL, XCB_CURRENT_TIME, 0);
    } else {
        xcb_set_input_focus(m_events->Get(), XCB_INPUT_FOCUS_PARENT, xid, XCB_CURRENT_TIME);
    }
}

void X11Backend::ApplyCursor(HCURSOR cursor) {
    m_cursor = cursor;
    const xcb_cursor_t shape = cursor ? m_cursors->Get(cursor) : m_cursors->Hidden();
    xcb_connection_t* c = m_events->Get();
    if (m_pointerWindow) xcb_change_window_attributes(c, m_pointerWindow, XCB_CW_CURSOR, &shape);
    if (m_grabbed) xcb_change_active_pointer_grab(c, shape, XCB_CURRENT_TIME, kPointerEvents);
}

void X11Backend::ApplyHeld(HWND captureTop, const std::optional<RECT>& clip) {
    xcb_connection_t* c = m_events->Get();
    if (clip && !Empty(*clip)) {
        // The pointer is confined to a window: an input-only one of the clip rectangle, under
        // every other window so it takes no input of its own.
        if (!m_confine) {
            m_confine = xcb_generate_id(c);
            const uint32_t overrideRedirect = 1;
            xcb_create_window(c, 0, m_confine, m_events->Root(), 0, 0, 1, 1, 0,
                              XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT,
                              XCB_CW_OVERRIDE_REDIRECT, &overrideRedirect);
        }
        const uint32_t place[] = {
            static_cast<uint32_t>(clip->left), static_cast<uint32_t>(clip->top),
            static_cast<uint32_t>(clip->right - clip->left),
            static_cast<uint32_t>(clip->bottom - clip->top), XCB_STACK_MODE_BELOW};
        xcb_configure_window(c, m_confine,
                             XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                                 XCB_CONFIG_WINDOW_HEIGHT | XCB_CONFIG_WINDOW_STACK_MODE,
                             place);
        xcb_map_window(c, m_confine);
    } else if (m_confine) {
        xcb_unmap_window(c, m_confine);
    }
    const bool confine = clip && !Empty(*clip);
    if (!confine && !captureTop) {
        if (m_grabbed) xcb_ungrab_pointer(c, XCB_CURRENT_TIME);
        m_grabbed = false;
        return;
    }
    // Capture holds the pointer for a window: its events keep coming wherever the pointer goes.
    xcb_window_t grab = captureTop ? m_windows->Xid(captureTop) : 0;
    if (!grab) grab = m_pointerWindow ? m_pointerWindow : m_windows->AnyMapped();
    if (!grab) return;
    const xcb_cursor_t shape = m_cursor ? m_cursors->Get(m_cursor) : XCB_NONE;
    auto* reply = xcb_grab_pointer_reply(
        c,
        xcb_grab_pointer(c, 1, grab, kPointerEvents, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC,
                         confine ? m_confine : XCB_NONE, shape, XCB_CURRENT_TIME),
        nullptr);
    m_grabbed = reply && reply->status == XCB_GRAB_STATUS_SUCCESS;
    std::free(reply);
}

void X11Backend::Lost() {
    m_closed = true;
    // USER goes on with a screen in memory; this backend is replaced, and so shut down.
    DisplayLost("the X server at '" + m_events->Name() + "' went away");
}

// ---- calls from other threads ----

std::shared_ptr<Surface> X11Backend::ReadScreen(const Scene&, const RECT& area) {
    const int w = area.right - area.left, h = area.bottom - area.top;
    if (w <= 0 || h <= 0 || m_closed || m_requests->Broken()) return nullptr;
    RECT all;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        all = m_all;
    }
    // Only the part on the root can be read; the rest is black.
    const RECT on{std::max(area.left, all.left), std::max(area.top, all.top),
                  std::min(area.right, all.right), std::min(area.bottom, all.bottom)};
    if (Empty(on)) return Surface::Create(w, h);
    const int cw = on.right - on.left, ch = on.bottom - on.top;
    const size_t pixels = static_cast<size_t>(cw) * static_cast<size_t>(ch);
    xcb_connection_t* c = m_requests->Get();
    const xcb_window_t root = m_requests->Root();
    std::shared_ptr<ShmSegment> segment = m_shm ? m_shm->Take(pixels * 4) : nullptr;
    std::shared_ptr<Surface> read;
    if (segment) {
        auto* reply = xcb_shm_get_image_reply(
            c,
            xcb_shm_get_image(c, root, static_cast<int16_t>(on.left), static_cast<int16_t>(on.top),
                              static_cast<uint16_t>(cw), static_cast<uint16_t>(ch), ~0u,
                              XCB_IMAGE_FORMAT_Z_PIXMAP, segment->Id(), 0),
            nullptr);
        if (!reply) return nullptr;
        std::free(reply);
        // The pad bytes are as the server holds them: readers of the screen ignore them.
        read = Surface::Wrap(cw, ch, segment->Data(), static_cast<ptrdiff_t>(cw) * 4, segment);
    } else {
        auto* reply = xcb_get_image_reply(
            c,
            xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, root, static_cast<int16_t>(on.left),
                          static_cast<int16_t>(on.top), static_cast<uint16_t>(cw),
                          static_cast<uint16_t>(ch), ~0u),
            nullptr);
        if (!reply) return nullptr;
        read = Surface::Create(cw, ch);
        if (read && static_cast<size_t>(xcb_get_image_data_length(reply)) >= pixels * 4) {
            std::memcpy(read->Row(0), xcb_get_image_data(reply), pixels * 4);
        }
        std::free(reply);
    }
    if (!read || (cw == w && ch == h)) return read;
    auto out = Surface::Create(w, h);
    if (!out) return nullptr;
    for (int y = 0; y < ch; ++y)
        std::memcpy(out->Row(on.top - area.top + y) + (on.left - area.left), read->Row(y),
                    static_cast<size_t>(cw) * 4);
    return out;
}

std::shared_ptr<DisplayMemory> X11Backend::SharedMemory(size_t bytes) {
    // Small bitmaps are not worth a segment each: reads of them are cheap anyway.
    constexpr size_t kSmallest = 256 * 1024;
    if (!m_shm || bytes < kSmallest || m_closed || m_requests->Broken()) return nullptr;
    return m_shm->Take(bytes);
}

bool X11Backend::ReadScreenInto(const RECT& area, Surface& out, int top) {
    const int w = area.right - area.left, h = area.bottom - area.top;
    auto* segment = dynamic_cast<ShmSegment*>(out.Memory());
    if (w <= 0 || h <= 0 || !segment || segment->Connection() != m_requests.get() ||
        out.Width() != w || top < 0 || top + h > out.Height() ||
        out.Stride() != static_cast<ptrdiff_t>(w) * 4 || m_closed || m_requests->Broken())
        return false;
    int rootWidth = 0, rootHeight = 0;
    {
        // Parts off the root read black: the caller composes those.
        std::lock_guard<std::mutex> lock(m_mutex);
        if (area.left < m_all.left || area.top < m_all.top || area.right > m_all.right ||
            area.bottom > m_all.bottom)
            return false;
        rootWidth = m_all.right;
        rootHeight = m_all.bottom;
    }
    // Bits others read as they are get their pad bytes cleared now: where the root did not
    // change since it was last seen without any, there are none to clear.
    X11PadTracker* pad = nullptr;
    if (out.VisibleBits()) {
        std::call_once(m_padOnce, [this] { m_pad = X11PadTracker::Create(m_requests); });
        pad = m_pad.get();
    }
    std::unique_lock<std::mutex> padLock;
    if (pad) padLock = std::unique_lock<std::mutex>(pad->Mutex());
    std::lock_guard<std::mutex> lock(out.Mutex());
    uint8_t* rows = out.RowsToOverwrite(top, top + h);
    xcb_connection_t* c = m_requests->Get();
    const xcb_shm_get_image_cookie_t image = xcb_shm_get_image(
        c, m_requests->Root(), static_cast<int16_t>(area.left), static_cast<int16_t>(area.top),
        static_cast<uint16_t>(w), static_cast<uint16_t>(h), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP,
        segment->Id(), static_cast<uint32_t>(rows - segment->Data()));
    if (pad) pad->Collect();
    auto* reply = xcb_shm_get_image_reply(c, image, nullptr);
    if (!reply) {
        if (pad) pad->Forget();
        // The rows were given up for the read: black rather than stale, and the caller's own
        // read says what went wrong.
        for (int y = top; y < top + h; ++y) std::memset(out.Row(y), 0, static_cast<size_t>(w) * 4);
        return false;
    }
    std::free(reply);
    // The server leaves the pad bytes as it holds them (clients' drawing may set them).
    if (!pad || !pad->Clear(area, rows, out.Stride(), rootWidth, rootHeight))
        out.OverwrittenWithPad(top, top + h);
    return true;
}

bool X11Backend::QueryPointer(POINT* pt) {
    if (m_closed || m_requests->Broken()) return false;
    xcb_connection_t* c = m_requests->Get();
    auto* r = xcb_query_pointer_reply(c, xcb_query_pointer(c, m_requests->Root()), nullptr);
    if (!r) return false;
    *pt = POINT{r->root_x, r->root_y};
    std::free(r);
    return true;
}

bool X11Backend::ForeignOnTop(uint64_t id, POINT pt) {
    if (m_closed || m_requests->Broken()) return false;
    xcb_connection_t* c = m_requests->Get();
    const xcb_window_t root = m_requests->Root();
    xcb_generic_error_t* error = nullptr;
    auto* at = xcb_translate_coordinates_reply(
        c,
        xcb_translate_coordinates(c, root, root, static_cast<int16_t>(pt.x),
                                  static_cast<int16_t>(pt.y)),
        &error);
    std::free(error);
    const xcb_window_t top = at ? at->child : XCB_NONE;
    std::free(at);
    // The root's child on top there is the window itself, or the window manager's frame
    // round it: one of the window's ancestors.
    auto w = static_cast<xcb_window_t>(id);
    for (int depth = 0; top != XCB_NONE && depth < 8; ++depth) {
        if (w == top) return true;
        error = nullptr;
        auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, w), &error);
        std::free(error);
        if (!tree) return false;
        w = tree->parent;
        std::free(tree);
        if (w == root || w == XCB_NONE) return false;
    }
    return false;
}

bool X11Backend::WarpPointer(int x, int y) {
    if (m_closed || m_requests->Broken()) return false;
    xcb_warp_pointer(m_requests->Get(), XCB_NONE, m_requests->Root(), 0, 0, 0, 0,
                     static_cast<int16_t>(x), static_cast<int16_t>(y));
    m_requests->RoundTrip();
    Sync();
    return true;
}

bool X11Backend::Synthesize(const SyntheticInput& in) {
    if (m_closed || !m_requests->hasXtest || m_requests->Broken()) return false;
    xcb_connection_t* c = m_requests->Get();
    auto fake = [&](uint8_t type, uint8_t detail, int x = 0, int y = 0) {
        xcb_test_fake_input(c, type, detail, XCB_CURRENT_TIME,
                            type == XCB_MOTION_NOTIFY ? m_requests->Root() : XCB_NONE,
                            static_cast<int16_t>(x), static_cast<int16_t>(y), 0);
    };
    switch (in.kind) {
        case SyntheticInput::Kind::Move:
            fake(XCB_MOTION_NOTIFY, 0, in.x, in.y);
            break;
        case SyntheticInput::Kind::Button: {
            static const uint8_t kButtons[] = {1, 3, 2};
            fake(in.down ? XCB_BUTTON_PRESS : XCB_BUTTON_RELEASE, kButtons[in.button % 3]);
            break;
        }
        case SyntheticInput::Kind::Wheel: {
            const uint8_t button = in.horizontal ? (in.delta > 0 ? 7 : 6) : (in.delta > 0 ? 4 : 5);
            const int notches = std::max(1, std::abs(in.delta) / WHEEL_DELTA);
            for (int i = 0; i < notches; ++i) {
                fake(XCB_BUTTON_PRESS, button);
                fake(XCB_BUTTON_RELEASE, button);
            }
            break;
        }
        case SyntheticInput::Kind::Key: {
            const uint32_t keysym = KeysymOfVirtualKey(in.vk);
            xcb_keycode_t code = 0;
            {
                std::lock_guard<std::mutex> lock(m_keysMutex);
                if (xcb_keycode_t* codes =
                        keysym ? xcb_key_symbols_get_keycode(m_requestKeys, keysym) : nullptr) {
                    code = codes[0];
                    std::free(codes);
                }
            }
            if (!code || code == XCB_NO_SYMBOL) return false;
            fake(in.down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, code);
            break;
        }
    }
    if (!m_requests->RoundTrip()) return false;
    Sync();
    return true;
}

void X11Backend::Sync() {
    if (m_closed || m_stop || std::this_thread::get_id() == m_thread.get_id()) return;
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending.syncs.push_back(done);
    }
    Wake();
    finished.wait_for(kSyncPatience);
}

void X11Backend::Shutdown() {
    m_stop = true;
    m_closed = true;
    Wake();
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) m_thread.join();
}

}  // namespace lumacap::ui
