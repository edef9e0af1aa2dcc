// Releasing an interface reference the library holds: released and set to null in one step, so a
// later close or failure path never releases it twice.
#pragma once

template <typename T>
void ReleaseAndClear(T*& p) {
    if (p) {
        p->Release();
        p = nullptr;
    }
}
