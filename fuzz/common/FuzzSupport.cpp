// Fuzz target support: the input reader and the private simulated machine.
#include "common/FuzzSupport.h"

#include <cstdlib>
#include <filesystem>

#include <lumacap/sim.h>

namespace lumacap::fuzz {

uint8_t FuzzInput::Byte() {
    if (!m_size) return 0;
    --m_size;
    return *m_data++;
}

uint16_t FuzzInput::Word() {
    return static_cast<uint16_t>(Byte() | (Byte() << 8));
}

uint32_t FuzzInput::Dword() {
    const uint32_t low = Word();
    return low | (static_cast<uint32_t>(Word()) << 16);
}

int32_t FuzzInput::Range(int32_t low, int32_t high) {
    if (high <= low) return low;
    const uint64_t span = static_cast<uint64_t>(static_cast<int64_t>(high) - low) + 1;
    return static_cast<int32_t>(low + static_cast<int64_t>(Dword() % span));
}

std::vector<uint8_t> FuzzInput::Bytes(size_t limit) {
    const size_t n = limit < m_size ? limit : m_size;
    std::vector<uint8_t> out(m_data, m_data + n);
    m_data += n;
    m_size -= n;
    return out;
}

namespace {

std::string g_scratch;

void RemoveScratch() {
    std::error_code ec;
    if (!g_scratch.empty()) std::filesystem::remove_all(g_scratch, ec);
}

}  // namespace

void InitializeMachine() {
    if (!g_scratch.empty()) return;
    const char* base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/lumacap-fuzz-XXXXXX";
    if (!mkdtemp(templ.data())) std::abort();
    g_scratch = templ;
    std::filesystem::create_directories(g_scratch + "/c");
    std::filesystem::create_directories(g_scratch + "/d");
    std::atexit(RemoveScratch);
    ResetMachine();
}

void ResetMachine() {
    sim::Reset();
    sim::SetDriveRoot('C', (g_scratch + "/c").c_str());
    sim::SetDriveRoot('D', (g_scratch + "/d").c_str());
}

const std::string& ScratchDirectory() {
    return g_scratch;
}

HWND HostWindow() {
    // Made again after a reset of the machine, which takes every window with it.
    static HWND host = nullptr;
    if (host && IsWindow(host)) return host;
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "FuzzHost";
    RegisterClassA(&wc);
    host = CreateWindowExA(0, "FuzzHost", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 640, 480,
                           nullptr, nullptr, nullptr, nullptr);
    return host;
}

}  // namespace lumacap::fuzz
