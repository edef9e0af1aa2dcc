// Counting every heap allocation a benchmark process makes, per thread: malloc and its relatives
// are replaced in the program (operator new, libstdc++ and FFmpeg's av_malloc all end in them), so
// nothing in the process allocates unseen. Include it in exactly one source file of a benchmark.
// Under a sanitizer, which brings its own allocator, nothing is counted and Available() is false.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define LUMACAP_BENCH_COUNT_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define LUMACAP_BENCH_COUNT_ALLOCATIONS 0
#endif
#endif
#ifndef LUMACAP_BENCH_COUNT_ALLOCATIONS
#define LUMACAP_BENCH_COUNT_ALLOCATIONS 1
#endif

namespace allocation_count {

// One slot per thread that ever allocated, in order of its first allocation; a slot is never
// reused, so counts of threads that ended stay readable.
constexpr int kSlots = 256;

struct Slot {
    std::atomic<pthread_t> thread{};
    std::atomic<uint64_t> count{0};
};

inline Slot g_slots[kSlots];
inline std::atomic<int> g_used{0};
inline std::atomic<uint64_t> g_overflow{0};  // threads beyond the slots, counted together
inline thread_local int t_slot = -1;

inline void Count() {
    if (t_slot < 0) {
        const int i = g_used.fetch_add(1, std::memory_order_relaxed);
        if (i >= kSlots) {
            g_overflow.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        g_slots[i].thread.store(pthread_self(), std::memory_order_relaxed);
        t_slot = i;
    }
    g_slots[t_slot].count.fetch_add(1, std::memory_order_relaxed);
}

inline bool Available() {
    return LUMACAP_BENCH_COUNT_ALLOCATIONS != 0;
}

// The calling thread's slot (it is given one if it has none), for naming threads in a report.
inline int CurrentSlot() {
    if (t_slot < 0) Count();
    return t_slot;
}

// Allocations counted so far: by every thread, or by one slot.
inline uint64_t Total() {
    uint64_t sum = g_overflow.load(std::memory_order_relaxed);
    const int used = g_used.load(std::memory_order_relaxed);
    for (int i = 0; i < used && i < kSlots; ++i) sum += g_slots[i].count.load();
    return sum;
}
inline uint64_t OfSlot(int slot) {
    return slot >= 0 && slot < kSlots ? g_slots[slot].count.load() : 0;
}
inline int SlotsUsed() {
    const int used = g_used.load();
    return used < kSlots ? used : kSlots;
}

}  // namespace allocation_count

#if LUMACAP_BENCH_COUNT_ALLOCATIONS
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);

void* malloc(size_t size) {
    allocation_count::Count();
    return __libc_malloc(size);
}
void* calloc(size_t n, size_t size) {
    allocation_count::Count();
    return __libc_calloc(n, size);
}
void* realloc(void* p, size_t size) {
    allocation_count::Count();
    return __libc_realloc(p, size);
}
void free(void* p) {
    __libc_free(p);
}
void* memalign(size_t alignment, size_t size) {
    allocation_count::Count();
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
    allocation_count::Count();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size) {
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return 22;  // EINVAL
    allocation_count::Count();
    void* p = __libc_memalign(alignment, size);
    if (!p && size) return 12;  // ENOMEM
    *out = p;
    return 0;
}
}
#endif
