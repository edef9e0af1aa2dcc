// The X11 tests' fixture: a private X server for each test, and USER showing its windows there.
#include "x11/X11Test.h"

namespace lumacap::test {

void X11Test::SetUp() {
    UiTest::SetUp();
    std::string error;
    m_server = XServer::Start(m_width, m_height, &error);
    ASSERT_TRUE(m_server) << error;
    ASSERT_TRUE(sim::UseX11Display(m_server->Name().c_str(), &error)) << error;
}

void X11Test::TearDown() {
    sim::UseHeadlessDisplay();
    UiTest::TearDown();
    m_server.reset();
}

bool X11Test::Until(const std::function<bool()>& condition, unsigned timeoutMs) {
    return sim::PumpMessagesUntil(
        [&] {
            sim::SyncDisplay();
            sim::PumpMessages();
            return condition();
        },
        timeoutMs);
}

}  // namespace lumacap::test
