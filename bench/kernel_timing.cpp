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
// that one frame takes.
//
//   zvk_kernel_timing [--samples N] [--cold] [--size WxH]... [--input FILE --format yuy2|bgr24 --size WxH]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_frames.h"

namespace zvk::bench {
namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    int samples = 31;
    bool cold = false;
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

template <typename Pass>
Result Time(const std::vector<std::vector<uint8_t>>& frames, const Options& options, Pass pass)
{
    std::vector<uint8_t> work(frames.front().size());
    std::vector<double> ms;
    for (int s = -2; s < options.samples; ++s) {  // two warm-up passes
        const std::vector<uint8_t>& source = frames[static_cast<size_t>(s + 2) % frames.size()];
        std::memcpy(work.data(), source.data(), work.size());
        if (options.cold)
            EvictCaches();
        const Clock::time_point start = Clock::now();
        pass(work.data());
        const Clock::time_point end = Clock::now();
        if (s >= 0)
            ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.front()};
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
            for (int v = 0; v < KernelVariantCount(level); ++v) {
                const Kernels& k = SelectKernelVariant(level, v);
                Print(KernelName(kernel), KernelVariantName(level, v), sizeName, count,
                      Time(frames, options, [&](uint8_t* p) { RunKernel(k, kernel, p, count, tables); }));
            }
        }
        Print(KernelName(kernel), "init", sizeName, count,
              Time(frames, options, [&](uint8_t* p) { RunKernel(BestKernels(), kernel, p, count, tables); }));
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

int Usage()
{
    std::fprintf(stderr,
                 "usage: zvk_kernel_timing [--samples N] [--cold] [--size WxH]... "
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
    std::printf("# init: %s: %s\n", KernelLevelName(BestKernelLevel()), BestKernelsReport().c_str());
    if (BestKernelLevel() > KernelLevel::kAvx2 && HasKernelLevel(KernelLevel::kAvx2))
        std::printf("# init if avx2 were the best level: %s\n", ChooseKernels(KernelLevel::kAvx2).report.c_str());
    // And what the CPUs without AVX2 choose between their BGR24 variants.
    if (BestKernelLevel() > KernelLevel::kSse2 && HasKernelLevel(KernelLevel::kSse2))
        std::printf("# init if sse2 were the best level: %s\n", ChooseKernels(KernelLevel::kSse2).report.c_str());
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
        return 0;
    }
    if (options.sizes.empty())
        options.sizes.assign(std::begin(kFrameSizes), std::end(kFrameSizes));
    for (const FrameSize& size : options.sizes)
        TimeSize(options, size.name, size.width, size.height, nullptr, nullptr);
    TimeBuildChannel(options.samples);
    return 0;
}

}  // namespace
}  // namespace zvk::bench

int main(int argc, char** argv)
{
    return zvk::bench::Main(argc, argv);
}
