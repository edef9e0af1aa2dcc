// The fixture of the tests that run on an X server of their own.
#pragma once

#include <functional>
#include <memory>

#include "common/UiTest.h"
#include "x11/XServer.h"

namespace lumacap::test {

// A window-system test on its own X server: USER shows its windows there for the whole test.
class X11Test : public UiTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // Waits (pumping this thread's messages) until `condition` holds, letting the display catch
    // up between looks.
    bool Until(const std::function<bool()>& condition, unsigned timeoutMs = 5000);

    std::unique_ptr<XServer> m_server;
    int m_width = 1280;
    int m_height = 720;
};

}  // namespace lumacap::test
