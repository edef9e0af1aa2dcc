// Fault points: the armed table, its slow-path check, and GUID text for creation points.
#include "platform/sim/Faults.h"

#include <cstdio>
#include <map>
#include <mutex>

#include "platform/system/win/Trace.h"

namespace lumacap::fault {
namespace {

struct Armed {
    HRESULT hr;
    int nth;  // 0: every call; n: only the n-th call after arming
    int calls = 0;
    int hits = 0;
};

std::mutex g_mutex;
std::map<std::string, Armed>& Points() {
    static std::map<std::string, Armed> points;
    return points;
}

}  // namespace

std::atomic<int> g_armedPoints{0};

HRESULT CheckArmed(const char* point) {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = Points().find(point);
    if (it == Points().end()) return S_OK;
    Armed& a = it->second;
    ++a.calls;
    if (a.nth != 0 && a.calls != a.nth) return S_OK;
    ++a.hits;
    LUMACAP_TRACE(kSim, "fault hit: %s answers 0x%08X (call %d)", point,
                  static_cast<unsigned>(a.hr), a.calls);
    return a.hr;
}

std::string GuidText(REFGUID g) {
    char buf[40];
    std::snprintf(buf, sizeof(buf), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1,
                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                  g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}

std::string CreatePoint(REFCLSID clsid) {
    return "CoCreateInstance:" + GuidText(clsid);
}

HRESULT CheckCreate(REFCLSID clsid) {
    if (g_armedPoints.load(std::memory_order_relaxed) == 0) return S_OK;
    if (HRESULT hr = CheckArmed(CreatePoint(clsid).c_str()); hr != S_OK) return hr;
    return CheckArmed("CoCreateInstance");
}

void Arm(const std::string& point, HRESULT hr, int nth) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Points()[point] = Armed{hr, nth < 0 ? 0 : nth};
    g_armedPoints.store(static_cast<int>(Points().size()), std::memory_order_relaxed);
}

void DisarmAll() {
    std::lock_guard<std::mutex> lock(g_mutex);
    Points().clear();
    g_armedPoints.store(0, std::memory_order_relaxed);
}

int Hits(const std::string& point) {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = Points().find(point);
    return it == Points().end() ? 0 : it->second.hits;
}

}  // namespace lumacap::fault
