// What a trace point costs while its area is off, against a bare relaxed load of an atomic in the
// same kind of loop, both timed in CPU time of this thread within one run; and what a line costs
// while the area is on (formatted and written to a file).
//
// Counters: off_ns and load_ns per iteration, ratio = off / load (goal: about 1).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/system/win/Trace.h"

namespace {

std::atomic<unsigned> g_flag{0};
constexpr int kLoop = 1 << 20;

double ThreadCpuNs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

void BM_TracePointOff(benchmark::State& state) {
    lumacap::trace::Configure("", nullptr);
    double offNs = 0, loadNs = 0;
    for (auto _ : state) {
        double t0 = ThreadCpuNs();
        for (int n = 0; n < kLoop; ++n) {
            LUMACAP_TRACE(kDshow, "connected %d", n);
            benchmark::DoNotOptimize(n);
        }
        double t1 = ThreadCpuNs();
        for (int n = 0; n < kLoop; ++n) {
            if (g_flag.load(std::memory_order_relaxed) & 1u) std::printf("connected %d", n);
            benchmark::DoNotOptimize(n);
        }
        double t2 = ThreadCpuNs();
        offNs += t1 - t0;
        loadNs += t2 - t1;
    }
    const double iterations = static_cast<double>(state.iterations()) * kLoop;
    state.counters["off_ns"] = offNs / iterations;
    state.counters["load_ns"] = loadNs / iterations;
    state.counters["ratio"] = loadNs > 0 ? offNs / loadNs : 0;
}
BENCHMARK(BM_TracePointOff)->Unit(benchmark::kMillisecond);

void BM_TraceLineOn(benchmark::State& state) {
    const char* tmp = std::getenv("TMPDIR");
    const std::string file = std::string(tmp ? tmp : "/tmp") + "/lumacap_trace_bench.txt";
    lumacap::trace::Configure("dshow", file.c_str());
    int n = 0;
    for (auto _ : state) LUMACAP_TRACE(kDshow, "connected %d", ++n);
    lumacap::trace::Configure("", nullptr);
    std::remove(file.c_str());
}
BENCHMARK(BM_TraceLineOn);

}  // namespace

BENCHMARK_MAIN();
