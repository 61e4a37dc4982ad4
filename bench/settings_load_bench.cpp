// Google Benchmark of the settings store's Load on files of one shape each,
// at 112 KB and 1 MB, from a file system in memory: a file as the plug-in
// writes it, and crafted or damaged ones.
//
//   build/native/bench/zvk_settings_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <string>

#include "settings/settings_store.h"
#include "tests/native/settings_fakes.h"

namespace zvk::bench {
namespace {

// Units repeated up to the size, after a head.
std::string Repeated(const std::string& head, const std::string& unit, size_t size)
{
    std::string text = head;
    while (text.size() + unit.size() <= size)
        text += unit;
    return text;
}

std::string WrittenSection(int id)
{
    return "[" + std::to_string(id) + "]\r\nRGamma=135\r\nGGamma=120\r\nBGamma=100\r\nBinding=0\r\nEnable=1\r\n";
}

std::string Shape(const std::string& name, size_t size)
{
    if (name == "written") {
        std::string text = "[DIALOG]\r\nDlgWndPosX=412\r\nDlgWndPosY=230\r\n";
        for (int id = 1; text.size() < size; ++id)
            text += WrittenSection(id);
        return text;
    }
    if (name == "blank_headers")
        return Repeated("", "[ 1 ]\r\n", size);
    if (name == "blank_headers_found")
        return Repeated("[1]\r\nRGamma=7\r\n", "[ 1 ]\r\n", size);
    if (name == "same_header")
        return Repeated("", "[2]\r\n", size);
    if (name == "one_section")
        return Repeated("[3]\r\n", "x=1\r\n", size) + "RGamma=9\r\n";
    return std::string(size, '[');  // no line end at all
}

void RegisterLoads()
{
    const char* shapes[] = {"written", "blank_headers", "blank_headers_found", "same_header", "one_section",
                            "no_line_end"};
    const struct {
        const char* name;
        size_t bytes;
    } sizes[] = {{"112KB", 112u << 10}, {"1MB", 1u << 20}};
    for (const char* shape : shapes) {
        for (const auto& size : sizes) {
            const std::string name = std::string("Load/") + shape + "/" + size.name;
            const std::string text = Shape(shape, size.bytes);
            benchmark::RegisterBenchmark(name.c_str(), [text](benchmark::State& state) {
                fake::System system;
                system.folders.insert(fake::kPluginsFolder);
                for (auto _ : state) {
                    state.PauseTiming();
                    system.files[fake::kIniPath] = text;
                    SettingsStore store;
                    store.UsePlatform(&system, &system);
                    state.ResumeTiming();
                    store.Load("ZVK_Gamma", nullptr);
                    benchmark::DoNotOptimize(store.Records().data());
                }
                state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
            })->Unit(benchmark::kMillisecond);
        }
    }
}

}  // namespace
}  // namespace zvk::bench

int main(int argc, char** argv)
{
    zvk::bench::RegisterLoads();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
