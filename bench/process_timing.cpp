// Process through the real DLL against the kernel alone: the DLL is loaded
// with LoadLibrary as the host loads it, a settings file gives section 7 the
// benchmark's gammas (red 2.00, green 0.50, blue 3.16), and each sample
// hands Process a fresh copy of a random frame (the copy is not timed). The
// kernel alone is what Init installs, on one thread, with the same tables.
// What Process adds: the section check, the table hold and, for big frames,
// the slice threads. Prints medians in ms per frame. 32-bit Windows only.
//
//   zvk_process_timing DLL [--samples N] [--size WxH]...
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_frames.h"
#include "gamma/kernel_timing.h"
#include "plugin/host_records.h"

namespace zvk::bench {
namespace {

using Clock = std::chrono::steady_clock;

std::string ExeFolder()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

template <typename Correct>
double MedianMs(const std::vector<uint8_t>& source, int samples, Correct correct)
{
    std::vector<uint8_t> frame(source.size());
    std::vector<double> ms;
    for (int i = -1; i < samples; ++i) {  // one to warm up
        std::memcpy(frame.data(), source.data(), frame.size());
        const Clock::time_point start = Clock::now();
        correct(frame.data());
        const double took = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (i >= 0)
            ms.push_back(took);
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

int Main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: zvk_process_timing DLL [--samples N] [--size WxH]...\n");
        return 2;
    }
    int samples = 21;
    std::vector<FrameSize> sizes;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--samples") == 0) {
            samples = std::max(1, std::atoi(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--size") == 0) {
            unsigned w = 0, h = 0;
            if (std::sscanf(argv[i + 1], "%ux%u", &w, &h) == 2 && w > 0 && h > 0)
                sizes.push_back({argv[i + 1], w, h});
        }
    }
    if (sizes.empty())
        sizes.push_back({"3840x2160", 3840, 2160});

    // Section 7 at the benchmark's gammas; the file is named after the DLL.
    std::string base = argv[1];
    base = base.substr(base.find_last_of("/\\") + 1);
    base = base.substr(0, base.rfind('.'));
    const std::string folder = ExeFolder() + "Plugins";
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string ini = folder + "\\" + base + ".ini";
    std::ofstream(ini, std::ios::binary)
        << "[7]\r\nRGamma=200\r\nGGamma=50\r\nBGamma=316\r\nBinding=0\r\nEnable=1\r\n";

    const HMODULE dll = LoadLibraryA(argv[1]);
    const auto pr = dll ? reinterpret_cast<const PluginDescriptor* (*)()>(
                              reinterpret_cast<void*>(GetProcAddress(dll, "Zentavio_Plugin_PR")))
                        : nullptr;
    if (!pr) {
        std::fprintf(stderr, "cannot load %s\n", argv[1]);
        return 1;
    }
    const PluginDescriptor d = *pr();
    const InitParams init = {0, nullptr};
    d.init(&init);

    const Kernels kernels = BestKernels();
    const TableSet tables = BenchTables();
    SectionInfo section = {7, 0, 0, {0}};
    std::printf("kernel\tsize\tprocess_ms\tkernel_alone_ms\tprocess/kernel\n");
    for (const FrameSize& size : sizes) {
        for (const Kernel kernel : kAllKernels) {
            const uint32_t count = size.width * size.height;
            const FrameFormat format = {static_cast<int32_t>(size.width), static_cast<int32_t>(size.height), 0,
                                        kernel == Kernel::kRgb24 ? 1 : 0, kernel == Kernel::kYuvAveraged ? 2 : 0};
            d.setFormat(&format);
            const std::vector<uint8_t> source = RandomFrame(size_t{count} * BytesPerPixel(kernel), 11);
            const double process = MedianMs(source, samples, [&](uint8_t* pixels) {
                FrameParams params = {};
                params.pixels = pixels;
                params.section = &section;
                d.process(&params);
            });
            const double alone = MedianMs(source, samples, [&](uint8_t* pixels) {
                RunKernel(kernels, kernel, pixels, count, tables);
            });
            std::printf("%s\t%s\t%.3f\t%.3f\t%.2f\n", KernelName(kernel), size.name, process, alone, process / alone);
        }
    }
    d.close();
    FreeLibrary(dll);
    DeleteFileA(ini.c_str());
    return 0;
}

}  // namespace
}  // namespace zvk::bench

int main(int argc, char** argv)
{
    return zvk::bench::Main(argc, argv);
}
