// Fault injection. Every platform operation the library calls checks its fault point first:
// "Interface::Method" for interface methods, "CoCreateInstance:{CLSID}" for object creation, or a
// function's own name. Tests arm points through lumacap::sim; with nothing armed a check costs one
// relaxed atomic load.
#pragma once

#include <atomic>
#include <string>

#include <objbase.h>

namespace lumacap::fault {

extern std::atomic<int> g_armedPoints;

// Slow path of Check, taken only while some point is armed.
HRESULT CheckArmed(const char* point);

// S_OK, or the result the point is armed to give for this call.
inline HRESULT Check(const char* point) {
    if (g_armedPoints.load(std::memory_order_relaxed) == 0) return S_OK;
    return CheckArmed(point);
}

// Creation of a class: the point "CoCreateInstance:{CLSID}", then "CoCreateInstance".
HRESULT CheckCreate(REFCLSID clsid);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case.
std::string GuidText(REFGUID guid);
std::string CreatePoint(REFCLSID clsid);

void Arm(const std::string& point, HRESULT hr, int nth);
void DisarmAll();
// How often an armed point has answered with its fault since it was armed.
int Hits(const std::string& point);

}  // namespace lumacap::fault

// Returns the armed result from the enclosing function when the point is armed.
#define LUMACAP_FAULT_POINT(point)                                            \
    do {                                                                      \
        if (const HRESULT lumacap_fault_hr_ = ::lumacap::fault::Check(point); \
            lumacap_fault_hr_ != S_OK)                                        \
            return lumacap_fault_hr_;                                         \
    } while (0)
