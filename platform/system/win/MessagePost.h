// The seam through which platform components below USER (the media graph's event notification,
// audio level callbacks of the platform) post window messages. USER installs PostMessageA here at
// start-up; until a handler is installed, posts are recorded so they can still be inspected.
#pragma once

#include <vector>

#include <windows.h>

namespace lumacap::win {

struct RecordedPost {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

using PostMessageHandler = BOOL (*)(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

void InstallPostMessageHandler(PostMessageHandler handler);
// Posts through the installed handler, or records the post and answers TRUE.
BOOL PostWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// The posts recorded while no handler was installed, oldest first; the record is emptied.
std::vector<RecordedPost> TakeRecordedPosts();

}  // namespace lumacap::win
