// The sound level of each audio buffer, posted to the recorder's notify window.
#include <cstdint>
#include <vector>

#include <lumacap/lumacap.h>

#include "common/GraphFixture.h"
#include "common/TestAccess.h"
#include "common/UiTest.h"

namespace lumacap::test {
namespace {

class AudioLevelTest : public UiTest {};

std::vector<BYTE> Samples(size_t count, int16_t (*value)(size_t)) {
    std::vector<BYTE> bytes(count * 2);
    for (size_t i = 0; i < count; ++i) {
        const int16_t v = value(i);
        bytes[2 * i] = static_cast<BYTE>(v & 0xFF);
        bytes[2 * i + 1] = static_cast<BYTE>((v >> 8) & 0xFF);
    }
    return bytes;
}

TEST_F(AudioLevelTest, EveryBufferPostsItsLevelToALiveNotifyWindow) {
    MessageWindow window;
    CAudioGrabberCB cb;
    cb.SetNotifyWnd(window.Handle());
    const auto square = Samples(1024, [](size_t i) -> int16_t { return i % 2 ? 32767 : -32768; });
    const auto unit = Samples(1024, [](size_t i) -> int16_t { return i % 2 ? 1 : -1; });
    const auto silence = Samples(1024, [](size_t) -> int16_t { return 0; });

    struct Case {
        const std::vector<BYTE>* buffer;
        LPARAM level;
    };
    const Case cases[] = {{&square, 78}, {&unit, -12}, {&silence, static_cast<LPARAM>(INT32_MIN)}};
    for (const Case& c : cases) {
        EXPECT_EQ(cb.BufferCB(0.0, const_cast<BYTE*>(c.buffer->data()),
                              static_cast<long>(c.buffer->size())),
                  S_OK);
        LPARAM posted = 0;
        // Posted, not sent: the message waits in the window's queue.
        EXPECT_EQ(window.TakePosted(WM_RECORDER_AUDIOLEVEL, &posted), 1);
        EXPECT_EQ(static_cast<int32_t>(posted), static_cast<int32_t>(c.level));
    }
    EXPECT_EQ(cb.BufferCB(0.0, const_cast<BYTE*>(square.data()), 0), S_OK);
    LPARAM posted = 0;
    EXPECT_EQ(window.TakePosted(WM_RECORDER_AUDIOLEVEL, &posted), 1);
    EXPECT_EQ(static_cast<int32_t>(posted), INT32_MIN) << "an empty buffer is silence";
    EXPECT_EQ(WM_RECORDER_AUDIOLEVEL, 0x410u);

    // No window, or one that has gone: nothing is posted and nothing fails.
    HWND gone = window.Handle();
    DestroyWindow(gone);
    cb.SetNotifyWnd(gone);
    EXPECT_EQ(cb.BufferCB(0.0, const_cast<BYTE*>(square.data()), 64), S_OK);
    cb.SetNotifyWnd(nullptr);
    EXPECT_EQ(cb.BufferCB(0.0, nullptr, 100), S_OK);
    EXPECT_EQ(sim::PumpMessages(), 0);
}

}  // namespace
}  // namespace lumacap::test
