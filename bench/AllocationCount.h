// Counting every heap allocation a benchmark process makes, per thread: malloc and its relatives
// are replaced in the program (operator new, libstdc++ and FFmpeg's av_malloc all end in them), so
// nothing in the process allocates unseen. Include it in exactly one source file of a benchmark.
// Under a sanitizer, which brings its own allocator, nothing is counted and Available() is false.
// StartTracing also keeps the call stacks of the allocations (of one thread or all), so a report
// can say where each one comes from (PrintTraces; addresses resolve with addr2line).
#pragma once

#include <execinfo.h>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdio>

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
    std::atomic<pid_t> tid{0};
    std::atomic<uint64_t> count{0};
};

inline Slot g_slots[kSlots];
inline std::atomic<int> g_used{0};
inline std::atomic<uint64_t> g_overflow{0};  // threads beyond the slots, counted together
inline thread_local int t_slot = -1;

// Call stacks kept while tracing, in fixed storage: keeping one must not allocate.
constexpr int kTraceDepth = 20;
constexpr int kTraces = 4096;
struct Trace {
    void* frames[kTraceDepth];
    int depth;
};
inline Trace g_traces[kTraces];
inline std::atomic<int> g_traceCount{0};
inline std::atomic<bool> g_tracing{false};
inline std::atomic<int> g_traceSlot{-1};  // -1: every thread
inline thread_local bool t_inTrace = false;

inline void Record() {
    if (t_inTrace) return;
    const int slot = g_traceSlot.load(std::memory_order_relaxed);
    if (slot >= 0 && slot != t_slot) return;
    const int i = g_traceCount.fetch_add(1, std::memory_order_relaxed);
    if (i >= kTraces) return;
    t_inTrace = true;
    g_traces[i].depth = backtrace(g_traces[i].frames, kTraceDepth);
    t_inTrace = false;
}

inline void Count() {
    if (t_slot < 0) {
        const int i = g_used.fetch_add(1, std::memory_order_relaxed);
        if (i >= kSlots) {
            g_overflow.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        g_slots[i].thread.store(pthread_self(), std::memory_order_relaxed);
        g_slots[i].tid.store(gettid(), std::memory_order_relaxed);
        t_slot = i;
    }
    g_slots[t_slot].count.fetch_add(1, std::memory_order_relaxed);
    if (g_tracing.load(std::memory_order_relaxed)) Record();
}

// Keeps the stacks of the allocations of `slot` (-1: of every thread) from here.
inline void StartTracing(int slot) {
    void* prime[2];
    backtrace(prime, 2);  // its first call loads the unwinder, which allocates
    g_traceCount = 0;
    g_traceSlot = slot;
    g_tracing = true;
}
inline void StopTracing() {
    g_tracing = false;
}

// Each distinct stack kept, with how often it was seen, most frequent first.
inline void PrintTraces(FILE* out) {
    const int n = g_traceCount.load() < kTraces ? g_traceCount.load() : kTraces;
    static bool printed[kTraces];
    for (int i = 0; i < n; ++i) printed[i] = false;
    for (;;) {
        int best = -1, bestCount = 0;
        for (int i = 0; i < n; ++i) {
            if (printed[i]) continue;
            int count = 0;
            for (int j = i; j < n; ++j)
                if (!printed[j] && g_traces[j].depth == g_traces[i].depth &&
                    std::memcmp(g_traces[j].frames, g_traces[i].frames,
                                sizeof(void*) * static_cast<size_t>(g_traces[i].depth)) == 0)
                    ++count;
            if (count > bestCount) best = i, bestCount = count;
        }
        if (best < 0) break;
        std::fprintf(out, "%d allocations from:\n", bestCount);
        std::fflush(out);
        backtrace_symbols_fd(g_traces[best].frames, g_traces[best].depth, fileno(out));
        for (int j = best; j < n; ++j)
            if (g_traces[j].depth == g_traces[best].depth &&
                std::memcmp(g_traces[j].frames, g_traces[best].frames,
                            sizeof(void*) * static_cast<size_t>(g_traces[best].depth)) == 0)
                printed[j] = true;
    }
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
// The slot of the live thread named `name` (pthread_setname_np), or -1. Reads the names from
// /proc without allocating.
inline int SlotNamed(const char* name) {
    const int used = g_used.load() < kSlots ? g_used.load() : kSlots;
    // Newest first: a thread id can be reused by a later thread.
    for (int i = used - 1; i >= 0; --i) {
        char path[64];
        std::snprintf(path, sizeof path, "/proc/self/task/%d/comm",
                      static_cast<int>(g_slots[i].tid.load()));
        const int fd = open(path, O_RDONLY);
        if (fd < 0) continue;
        char comm[32] = {};
        const ssize_t n = read(fd, comm, sizeof comm - 1);
        close(fd);
        if (n > 0 && comm[n - 1] == '\n') comm[n - 1] = 0;
        if (std::strcmp(comm, name) == 0) return i;
    }
    return -1;
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
