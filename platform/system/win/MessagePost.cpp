// The post-message seam: the handler USER installs, and the posts recorded before it exists.
#include "platform/system/win/MessagePost.h"

#include <atomic>
#include <mutex>

namespace lumacap::win {
namespace {
std::atomic<PostMessageHandler> g_handler{nullptr};
std::mutex g_mutex;
std::vector<RecordedPost>& Recorded() {
    static std::vector<RecordedPost> posts;
    return posts;
}
}  // namespace

void InstallPostMessageHandler(PostMessageHandler handler) {
    g_handler.store(handler);
}

BOOL PostWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (PostMessageHandler handler = g_handler.load())
        return handler(hwnd, message, wParam, lParam);
    std::lock_guard<std::mutex> lock(g_mutex);
    Recorded().push_back({hwnd, message, wParam, lParam});
    return TRUE;
}

std::vector<RecordedPost> TakeRecordedPosts() {
    std::lock_guard<std::mutex> lock(g_mutex);
    std::vector<RecordedPost> out;
    out.swap(Recorded());
    return out;
}

}  // namespace lumacap::win
