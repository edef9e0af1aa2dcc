// What every fuzz target shares: reading structured choices out of the fuzzer's bytes, a private
// simulated machine (drives in a temporary directory, default devices) and a host window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <windows.h>

namespace lumacap::fuzz {

// Takes values off the front of the input; once it runs dry every value is 0 (or empty).
class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool Empty() const { return m_size == 0; }
    size_t Remaining() const { return m_size; }
    uint8_t Byte();
    uint16_t Word();
    uint32_t Dword();
    // A value in [0, count), or 0 when count is 0.
    uint32_t Pick(uint32_t count) { return count ? Dword() % count : 0; }
    // A value in [low, high].
    int32_t Range(int32_t low, int32_t high);
    bool Flag() { return Byte() & 1; }
    // Up to `limit` bytes (all that is left when `limit` is larger).
    std::vector<uint8_t> Bytes(size_t limit);

private:
    const uint8_t* m_data;
    size_t m_size;
};

// Sets up the simulated machine once per process: drives C: and D: in a temporary directory
// (removed at exit), the default virtual devices, the real clock.
void InitializeMachine();
// Puts the simulated devices and faults back to their defaults between inputs.
void ResetMachine();
// The temporary directory behind drive C:.
const std::string& ScratchDirectory();
// A visible 640 x 480 top-level window of the first thread that asks, made again after a reset.
HWND HostWindow();

}  // namespace lumacap::fuzz
