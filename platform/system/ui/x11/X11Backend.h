// The X11 display: one thread owns the event connection and does every change to windows there;
// other threads read the screen, ask where the pointer is and play test input on a second
// connection, so their replies never take the event thread's events off the socket.
#pragma once

#include <atomic>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include "platform/system/ui/Backend.h"
#include "platform/system/ui/x11/X11Connection.h"

namespace lumacap::ui {

class X11Windows;
class X11Foreign;
class X11Cursors;
class ShmPool;
class X11PadTracker;

class X11Backend final : public DisplayBackend, public std::enable_shared_from_this<X11Backend> {
public:
    X11Backend(std::shared_ptr<X11Connection> events, std::shared_ptr<X11Connection> requests);
    ~X11Backend() override;
    // Starts the event thread; the display is usable once this returns.
    void Start();

    const char* Name() const override { return m_name.c_str(); }
    bool RealScreen() const override { return true; }
    bool ScreenSize(int* primaryWidth, int* primaryHeight, RECT* all) override;
    bool SceneForReads() const override { return false; }
    std::shared_ptr<Surface> ReadScreen(const Scene& scene, const RECT& area) override;
    std::shared_ptr<DisplayMemory> SharedMemory(size_t bytes) override;
    bool ReadScreenInto(const RECT& area, Surface& out, int top) override;

    void WindowChanged(const DisplayWindow& window) override;
    void WindowDestroyed(HWND hwnd) override;
    void ContentChanged(HWND topLevel) override;
    void CursorChanged(HCURSOR cursor) override;
    void ActiveChanged(HWND topLevel) override;
    void PointerHeld(HWND captureTop, const RECT* clip) override;

    bool QueryPointer(POINT* pt) override;
    bool ForeignOnTop(uint64_t id, POINT pt) override;
    bool WarpPointer(int x, int y) override;
    void Sync() override;
    bool Synthesize(const SyntheticInput& input) override;
    void Shutdown() override;

private:
    // Work other threads leave for the event thread.
    struct Pending {
        std::map<HWND, DisplayWindow> changed;
        std::vector<HWND> order;  // of `changed`, as it came
        std::vector<HWND> destroyed;
        std::set<HWND> content;
        bool cursorChanged = false;
        HCURSOR cursor = nullptr;
        bool activeChanged = false;
        HWND active = nullptr;
        bool heldChanged = false;
        HWND captureTop = nullptr;
        std::optional<RECT> clip;
        std::vector<std::shared_ptr<std::promise<void>>> syncs;
    };

    void Run();
    void Wake();
    bool Idle();
    void ApplyPending();
    void Handle(xcb_generic_event_t* event);
    void DrainEvents(bool queuedOnly);
    void FinishSyncs(std::vector<std::shared_ptr<std::promise<void>>>& syncs);
    void ApplyCursor(HCURSOR cursor);
    void ApplyActive(HWND top);
    void ApplyHeld(HWND captureTop, const std::optional<RECT>& clip);
    void ReadScreenSize();
    void ReportFocus();
    void Lost();

    std::shared_ptr<X11Connection> m_events;
    std::shared_ptr<X11Connection> m_requests;
    std::string m_name;
    std::thread m_thread;
    int m_wakeFd = -1;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_closed{false};

    std::mutex m_mutex;  // guards m_pending and the screen size
    Pending m_pending;
    int m_primaryWidth = 0, m_primaryHeight = 0;
    RECT m_all{};

    // The event thread's own.
    std::unique_ptr<X11Windows> m_windows;
    std::unique_ptr<X11Foreign> m_foreign;
    std::unique_ptr<X11Cursors> m_cursors;
    xcb_key_symbols_t* m_keys = nullptr;
    xcb_window_t m_pointerWindow = 0;  // ours, the pointer is in it
    HCURSOR m_cursor = nullptr;
    xcb_window_t m_confine = 0;
    bool m_grabbed = false;
    bool m_windowManager = false;
    // Focus changes of a batch of events, told to USER once the batch is done.
    bool m_focusChanged = false;
    HWND m_focusTo = nullptr;
    HWND m_focusTold = nullptr;

    // Other threads': screen reads and test input.
    std::shared_ptr<ShmPool> m_shm;
    std::once_flag m_padOnce;
    std::unique_ptr<X11PadTracker> m_pad;  // made with the first read into shared memory
    std::mutex m_keysMutex;
    xcb_key_symbols_t* m_requestKeys = nullptr;
};

}  // namespace lumacap::ui
