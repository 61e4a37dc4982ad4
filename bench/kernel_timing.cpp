// A self-contained timing harness for the kernels, built natively and for
// 32-bit Windows (where Google Benchmark is not available), so that both
// builds are measured the same way. Each sample corrects a fresh copy of a
// frame (the copy is not timed); the harness prints the median and the
// minimum over the samples as tab-separated lines. With --cold the caches are
// flushed before each sample, so the frame comes from memory (as after a
// decoder that wrote it long ago); without, it comes from cache (as right
// after a decoder wrote it). Every level and variant is timed by forcing it;
// "init" is what Init installs, and the first lines (starting with #) say
// what it chose and why, and what it would choose at the lower levels that
// have variants. The last column is the share of a 60 fps frame (16.7 ms)
// that one frame takes. With --threads N every level and variant is timed a
// second time with the frame split into N slices across N threads through
// the slice pool (level "NAME/N-threads"; the two take turns sample by
// sample), and the closing "# threads" lines give each split's time against
// one thread's. --level NAME (again for more) times only those levels and
// variants, and "init" only when named.
//
//   zvk_kernel_timing [--samples N] [--cold] [--threads N] [--level NAME]... [--size WxH]...
//                     [--input FILE --format yuy2|bgr24 --size WxH]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_frames.h"
#include "framework/slice_pool.h"
#include "gamma/frame_slices.h"
#include "gamma/kernel_timing.h"

namespace zvk::bench {
namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    int samples = 31;
    bool cold = false;
    int threads = 1;
    std::vector<std::string> levels;  // only these levels and variants (and init), when given
    std::vector<FrameSize> sizes;
    std::string input;
    std::string format;
};

struct Result {
    double medianMs, minMs;
};

// Written between samples in --cold mode: larger than the last-level cache,
// so each sample starts with the frame in memory rather than in cache.
void EvictCaches()
{
    // One ordinary read-modify-write per cache line: memset may use stores
    // that bypass the cache and so evict nothing.
    static std::vector<uint8_t> scratch(96u << 20);
    volatile uint8_t* bytes = scratch.data();
    for (size_t i = 0; i < scratch.size(); i += 64)
        bytes[i] = static_cast<uint8_t>(bytes[i] + 1);
}

// One sample: a fresh copy of the frame (not timed), then the pass.
template <typename Pass>
double Sample(const std::vector<uint8_t>& source, std::vector<uint8_t>& work, const Options& options, Pass& pass)
{
    std::memcpy(work.data(), source.data(), work.size());
    if (options.cold)
        EvictCaches();
    const Clock::time_point start = Clock::now();
    pass(work.data());
    const Clock::time_point end = Clock::now();
    return std::chrono::duration<double, std::milli>(end - start).count();
}

Result Summary(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.front()};
}

template <typename Pass>
Result Time(const std::vector<std::vector<uint8_t>>& frames, const Options& options, Pass pass)
{
    std::vector<uint8_t> work(frames.front().size());
    std::vector<double> ms;
    for (int s = -2; s < options.samples; ++s) {  // two warm-up passes
        const double sample = Sample(frames[static_cast<size_t>(s + 2) % frames.size()], work, options, pass);
        if (s >= 0)
            ms.push_back(sample);
    }
    return Summary(ms);
}

// Two passes sample by sample in turns, so that a burst of load elsewhere on
// a shared machine hits both alike.
template <typename PassA, typename PassB>
void TimeInTurns(const std::vector<std::vector<uint8_t>>& frames, const Options& options, PassA a, PassB b,
                 Result& resultA, Result& resultB)
{
    std::vector<uint8_t> work(frames.front().size());
    std::vector<double> msA, msB;
    for (int s = -2; s < options.samples; ++s) {
        const std::vector<uint8_t>& source = frames[static_cast<size_t>(s + 2) % frames.size()];
        const double sampleA = Sample(source, work, options, a);
        const double sampleB = Sample(source, work, options, b);
        if (s >= 0) {
            msA.push_back(sampleA);
            msB.push_back(sampleB);
        }
    }
    resultA = Summary(msA);
    resultB = Summary(msB);
}

// A 60 fps frame budget in ms: the share of it a kernel takes is what a
// live pipeline feels.
constexpr double kFrameBudget60Ms = 1000.0 / 60.0;

void Print(const std::string& name, const std::string& level, const std::string& size, uint64_t pixels, Result r)
{
    std::printf("%s\t%s\t%s\t%.4f\t%.4f\t%.1f\t%.1f\n", name.c_str(), level.c_str(), size.c_str(), r.medianMs, r.minMs,
                static_cast<double>(pixels) / (r.medianMs * 1e3), 100.0 * r.medianMs / kFrameBudget60Ms);
    std::fflush(stdout);
}

FrameKernel FrameKernelOf(Kernel kernel)
{
    return kernel == Kernel::kRgb24 ? FrameKernel::kRgb24
           : kernel == Kernel::kYuvAveraged ? FrameKernel::kYuvAveraged
                                            : FrameKernel::kYuvFirstPixel;
}

// The pool for --threads, and what each split took against one thread.
fw::SlicePool pool;
std::vector<std::string> splits;

// Times the kernels over the whole frame, then (with --threads) split
// across the pool.
void TimeLevel(const Options& options, Kernel kernel, const Kernels& k, const std::string& level, const char* sizeName,
               uint32_t count, const TableSet& tables, const std::vector<std::vector<uint8_t>>& frames)
{
    if (!options.levels.empty() && std::find(options.levels.begin(), options.levels.end(), level) == options.levels.end())
        return;
    auto whole = [&](uint8_t* p) { RunKernel(k, kernel, p, count, tables); };
    if (options.threads < 2) {
        Print(KernelName(kernel), level, sizeName, count, Time(frames, options, whole));
        return;
    }
    Result one{}, split{};
    TimeInTurns(frames, options, whole, [&](uint8_t* p) {
        FrameJob job{&k, FrameKernelOf(kernel), &tables, p, count};
        pool.Run(CorrectFrameSlice, &job, options.threads);
    }, one, split);
    Print(KernelName(kernel), level, sizeName, count, one);
    Print(KernelName(kernel), level + "/" + std::to_string(options.threads) + "-threads", sizeName, count, split);
    char line[256];
    std::snprintf(line, sizeof line, "# threads %s %s %s: 1 thread %.4f ms, %d threads %.4f ms, %.2fx", KernelName(kernel),
                  level.c_str(), sizeName, one.medianMs, options.threads, split.medianMs, split.medianMs / one.medianMs);
    splits.push_back(line);
}

void TimeSize(const Options& options, const char* sizeName, uint32_t width, uint32_t height,
              const std::vector<std::vector<uint8_t>>* given, const char* givenFormat)
{
    const uint32_t count = width * height;
    const TableSet tables = BenchTables();
    const TableSet identity = IdentityTables();
    for (Kernel kernel : kAllKernels) {
        const bool rgb = kernel == Kernel::kRgb24;
        if (givenFormat && rgb != (std::strcmp(givenFormat, "bgr24") == 0))
            continue;
        const size_t bytes = size_t{count} * BytesPerPixel(kernel);
        const std::vector<std::vector<uint8_t>> frames = given ? *given : std::vector<std::vector<uint8_t>>{RandomFrame(bytes, 1)};
        for (int l = 0; l < kKernelLevelCount; ++l) {
            const auto level = static_cast<KernelLevel>(l);
            for (int v = 0; v < KernelVariantCount(level); ++v)
                TimeLevel(options, kernel, SelectKernelVariant(level, v), KernelVariantName(level, v), sizeName, count,
                          tables, frames);
        }
        TimeLevel(options, kernel, BestKernels(), "init", sizeName, count, tables, frames);
        if (!options.levels.empty())
            continue;
        Print(KernelName(kernel), "identity", sizeName, count,
              Time(frames, options, [&](uint8_t* p) { RunKernel(BestKernels(), kernel, p, count, identity); }));
        if (kernel != Kernel::kYuvFirstPixel)
            Print(std::string("StreamInPlace/") + (rgb ? "bgr24" : "yuy2"), "-", sizeName, count,
                  Time(frames, options, [&](uint8_t* p) { StreamInPlace(p, bytes); }));
    }
}

void TimeBuildChannel(int samples)
{
    TableSet set{};
    std::vector<double> us;
    for (int s = 0; s < samples * 10; ++s) {
        const Clock::time_point start = Clock::now();
        BuildChannel(set, s % 3, 50 + s % 900);
        const Clock::time_point end = Clock::now();
        us.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    std::sort(us.begin(), us.end());
    std::printf("BuildChannel\t-\t-\t%.4f\t%.4f\t-\t-\n", us[us.size() / 2] / 1000.0, us.front() / 1000.0);
}

bool ParseSize(const char* text, FrameSize& size)
{
    unsigned w = 0, h = 0;
    if (std::sscanf(text, "%ux%u", &w, &h) != 2 || w == 0 || h == 0 || w > 16384 || h > 16384)
        return false;
    size = {text, w, h};
    return true;
}

// What the plug-in would decide here: Init's kernel speeds, and the slices
// each frame size would get.
void ReportSliceChoice(const Options& options)
{
    const KernelSpeeds& speeds = BestKernelSpeeds();
    std::printf("# slices: init kernel speeds: YUV first %.3f, averaged %.3f, BGR24 %.3f ns/pixel;",
                speeds.yuvFirstPixel, speeds.yuvAveraged, speeds.rgb24);
    std::vector<FrameSize> sizes = options.sizes;
    if (sizes.empty())
        sizes.assign(std::begin(kFrameSizes), std::end(kFrameSizes));
    for (const FrameSize& size : sizes) {
        const uint64_t pixels = uint64_t{size.width} * size.height;
        std::printf(" %s %d/%d/%d", size.name, SliceCount(speeds.yuvFirstPixel, pixels, fw::ProcessorCount()),
                    SliceCount(speeds.yuvAveraged, pixels, fw::ProcessorCount()),
                    SliceCount(speeds.rgb24, pixels, fw::ProcessorCount()));
    }
    std::printf(" slices on %d processors\n", fw::ProcessorCount());
}

int Finish()
{
    for (const std::string& line : splits)
        std::printf("%s\n", line.c_str());
    pool.Stop();
    return 0;
}

int Usage()
{
    std::fprintf(stderr,
                 "usage: zvk_kernel_timing [--samples N] [--cold] [--threads 1-4] [--level NAME]... [--size WxH]... "
                 "[--input FILE --format yuy2|bgr24 --size WxH]\n");
    return 2;
}

int Main(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (!value && arg != "--cold")
            return Usage();
        if (arg == "--cold") {
            options.cold = true;
            continue;
        }
        FrameSize size{};
        if (arg == "--samples" && std::atoi(value) > 0)
            options.samples = std::atoi(value);
        else if (arg == "--level")
            options.levels.push_back(value);
        else if (arg == "--threads" && std::atoi(value) >= 1 && std::atoi(value) <= fw::SlicePool::kMaxThreads)
            options.threads = std::atoi(value);
        else if (arg == "--size" && ParseSize(value, size))
            options.sizes.push_back(size);
        else if (arg == "--input")
            options.input = value;
        else if (arg == "--format" && (std::strcmp(value, "yuy2") == 0 || std::strcmp(value, "bgr24") == 0))
            options.format = value;
        else
            return Usage();
        ++i;
    }
    // What Init would install, and on a CPU above AVX2 also what it would
    // choose there, as on the many CPUs without AVX-512.
    std::printf("# init: %s: %s\n", KernelLevelName(BestKernelLevel()), BestKernelsReport());
    if (BestKernelLevel() > KernelLevel::kAvx2 && HasKernelLevel(KernelLevel::kAvx2))
        std::printf("# init if avx2 were the best level: %s\n", ChooseKernels(KernelLevel::kAvx2).report.c_str());
    // And what the CPUs without AVX2 choose between their BGR24 variants.
    if (BestKernelLevel() > KernelLevel::kSse2 && HasKernelLevel(KernelLevel::kSse2))
        std::printf("# init if sse2 were the best level: %s\n", ChooseKernels(KernelLevel::kSse2).report.c_str());
    if (options.threads > 1) {
        ReportSliceChoice(options);
        if (!pool.Start(options.threads)) {
            std::fprintf(stderr, "could not start %d threads\n", options.threads);
            return 1;
        }
        std::printf("# threads: %d through the slice pool, %d processors\n", options.threads, fw::ProcessorCount());
    }
    std::printf("name\tlevel\tsize\tmedian_ms\tmin_ms\tMpixels_per_s\tpct_of_60fps_frame\n");
    if (!options.input.empty()) {
        if (options.format.empty() || options.sizes.size() != 1)
            return Usage();
        const FrameSize& size = options.sizes.front();
        const size_t frameBytes = size_t{size.width} * size.height * (options.format == "bgr24" ? 3 : 2);
        std::FILE* file = std::fopen(options.input.c_str(), "rb");
        if (!file) {
            std::fprintf(stderr, "cannot open %s\n", options.input.c_str());
            return 1;
        }
        std::vector<std::vector<uint8_t>> frames;
        for (std::vector<uint8_t> frame(frameBytes); std::fread(frame.data(), 1, frameBytes, file) == frameBytes;)
            frames.push_back(frame);
        std::fclose(file);
        if (frames.empty()) {
            std::fprintf(stderr, "%s holds no whole %s frame of %s\n", options.input.c_str(), options.format.c_str(), size.name);
            return 1;
        }
        TimeSize(options, size.name, size.width, size.height, &frames, options.format.c_str());
        return Finish();
    }
    if (options.sizes.empty())
        options.sizes.assign(std::begin(kFrameSizes), std::end(kFrameSizes));
    for (const FrameSize& size : options.sizes)
        TimeSize(options, size.name, size.width, size.height, nullptr, nullptr);
    if (options.levels.empty())
        TimeBuildChannel(options.samples);
    return Finish();
}

}  // namespace
}  // namespace zvk::bench

int main(int argc, char** argv)
{
    return zvk::bench::Main(argc, argv);
}
