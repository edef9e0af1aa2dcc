// A recorder with one source (the whole screen in a 160 x 120 frame) that every test closes again,
// and a scratch path for its files.
#pragma once

#include <string>

#include <lumacap/lumacap.h>

#include "common/SimTest.h"

namespace lumacap::test {

class RecorderFixture : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        m_recorder.SetVideoSize(160, 120);
        m_recorder.AddWindowSource(nullptr, RECT{0, 0, 160, 120});
    }
    void TearDown() override {
        m_recorder.CloseRecord();
        SimTest::TearDown();
    }
    std::string Path(const char* name) const { return TempDir() + "/" + name; }

    CDXRecorder m_recorder;
};

}  // namespace lumacap::test
