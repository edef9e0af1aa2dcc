// The fixture every test derives from: the simulation is reset before each test (real clock, no
// faults, default devices), drives C: and D: are mapped into a fresh temporary directory (D: is
// absent until MakeDriveD), and at the end the platform must hold no more component objects than
// it did at the start.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include <lumacap/sim.h>

namespace lumacap::test {

class SimTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The test's own temporary directory (removed afterwards).
    const std::string& TempDir() const { return m_tempDir; }
    // Host directories behind C: and D:.
    std::string DriveC() const { return m_tempDir + "/c"; }
    std::string DriveD() const { return m_tempDir + "/d"; }
    // Creates D:'s directory, so the drive is present.
    void MakeDriveD();

    // Set to false in a test that deliberately leaves objects alive.
    bool m_checkLiveObjects = true;
    long m_liveBaseline = 0;

private:
    std::string m_tempDir;
};

// Whole-file helpers.
std::string ReadWholeFile(const std::string& path);
bool FileExists(const std::string& path);

// Hexadecimal bytes of a text, "CE B4 D6 AA", for readable byte-exact assertions.
std::string HexBytes(const std::string& text);

}  // namespace lumacap::test
