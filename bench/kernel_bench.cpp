// Google Benchmark of the gamma engine: every kernel at every dispatch level
// and variant this CPU has, at SD, HD and UHD (with the share of a 60 fps
// frame each takes), against an in-place streaming pass over a buffer of the
// same size; and the table rebuilds. The first line says what Init chose.
//
//   build/native/bench/zvk_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "bench/bench_frames.h"
#include "gamma/kernel_timing.h"

namespace zvk::bench {
namespace {

// With fresh, each iteration corrects a new copy of the same frame, so every
// run sees the same bytes; the copy is not timed. Passes whose speed does
// not depend on the bytes (identity tables, the streaming pass) skip it.
template <typename Pass>
void TimeFrames(benchmark::State& state, size_t bytes, uint64_t pixels, bool fresh, Pass pass)
{
    const std::vector<uint8_t> source = RandomFrame(bytes, 1);
    std::vector<uint8_t> frame = source;
    for (auto _ : state) {
        if (fresh) {
            state.PauseTiming();
            std::memcpy(frame.data(), source.data(), bytes);
            state.ResumeTiming();
        }
        pass(frame.data());
        benchmark::ClobberMemory();
    }
    const double frames = static_cast<double>(state.iterations());
    // Shown with an "s" suffix by the library; the value is in milliseconds.
    state.counters["ms/frame"] = benchmark::Counter(frames / 1000.0, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["pixels/s"] = benchmark::Counter(frames * static_cast<double>(pixels), benchmark::Counter::kIsRate);
    state.counters["bytes/s"] = benchmark::Counter(frames * static_cast<double>(bytes), benchmark::Counter::kIsRate,
                                                   benchmark::Counter::OneK::kIs1024);
    // The share of a 60 fps frame budget (16.7 ms) one frame takes, in
    // percent (also shown with an "s" suffix).
    state.counters["%60fps"] = benchmark::Counter(frames / 60.0 / 100.0, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void RegisterKernels()
{
    const TableSet* tables = new TableSet(BenchTables());
    const TableSet* identity = new TableSet(IdentityTables());
    for (const FrameSize& size : kFrameSizes) {
        const uint32_t count = size.width * size.height;
        for (Kernel kernel : kAllKernels) {
            const size_t bytes = size_t{count} * BytesPerPixel(kernel);
            for (int l = 0; l < kKernelLevelCount; ++l) {
                const auto level = static_cast<KernelLevel>(l);
                for (int v = 0; v < KernelVariantCount(level); ++v) {
                    const Kernels* kernels = &SelectKernelVariant(level, v);
                    const std::string name = std::string(KernelName(kernel)) + "/" + KernelVariantName(level, v) + "/" + size.name;
                    benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& state) {
                        TimeFrames(state, bytes, count, true, [&](uint8_t* p) { RunKernel(*kernels, kernel, p, count, *tables); });
                    })->Unit(benchmark::kMillisecond);
                }
            }
            const std::string identityName = std::string(KernelName(kernel)) + "/identity/" + size.name;
            benchmark::RegisterBenchmark(identityName.c_str(), [=](benchmark::State& state) {
                TimeFrames(state, bytes, count, false, [&](uint8_t* p) { RunKernel(BestKernels(), kernel, p, count, *identity); });
            })->Unit(benchmark::kMillisecond);
        }
        for (uint32_t bpp : {2u, 3u}) {
            const size_t bytes = size_t{count} * bpp;
            const std::string name = std::string("StreamInPlace/") + (bpp == 2 ? "yuy2/" : "bgr24/") + size.name;
            benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& state) {
                TimeFrames(state, bytes, count, false, [&](uint8_t* p) { StreamInPlace(p, bytes); });
            })->Unit(benchmark::kMillisecond);
        }
    }
}

void BM_BuildChannel(benchmark::State& state)
{
    TableSet set{};
    const int32_t gammas[] = {200, 50, 316, 10, 1000};
    int n = 0;
    for (auto _ : state) {
        BuildChannel(set, n % 3, gammas[n % 5]);
        benchmark::DoNotOptimize(set);
        ++n;
    }
}
BENCHMARK(BM_BuildChannel)->Unit(benchmark::kMicrosecond);

// What the dialog pays per slider step: copy the published set, rebuild one
// channel, publish.
void BM_GammaTablesBuildChannel(benchmark::State& state)
{
    GammaTables tables;
    tables.EnsureAllocated();
    int n = 0;
    for (auto _ : state) {
        tables.BuildChannel(n % 3, 50 + (n % 900));
        ++n;
    }
}
BENCHMARK(BM_GammaTablesBuildChannel)->Unit(benchmark::kMicrosecond);

// What a frame pays to take and let go of the published set.
void BM_GammaTablesReader(benchmark::State& state)
{
    GammaTables tables;
    tables.EnsureAllocated();
    for (auto _ : state) {
        const GammaTables::Reader reader(tables);
        benchmark::DoNotOptimize(reader.get());
    }
}
BENCHMARK(BM_GammaTablesReader);

}  // namespace
}  // namespace zvk::bench

int main(int argc, char** argv)
{
    std::fprintf(stderr, "# init: %s: %s\n", zvk::KernelLevelName(zvk::BestKernelLevel()), zvk::BestKernelsReport());
    zvk::bench::RegisterKernels();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
