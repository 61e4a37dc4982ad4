#include "bench/bench_frames.h"

#include <random>

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>
#endif

namespace zvk::bench {

const char* KernelName(Kernel kernel)
{
    switch (kernel) {
    case Kernel::kYuvFirstPixel:
        return "CorrectYuvFirstPixel";
    case Kernel::kYuvAveraged:
        return "CorrectYuvAveraged";
    case Kernel::kRgb24:
        return "CorrectRgb24";
    }
    return "?";
}

uint32_t BytesPerPixel(Kernel kernel)
{
    return kernel == Kernel::kRgb24 ? 3 : 2;
}

void RunKernel(const Kernels& kernels, Kernel kernel, uint8_t* pixels, uint32_t count, const TableSet& set)
{
    switch (kernel) {
    case Kernel::kYuvFirstPixel:
        return kernels.yuvFirstPixel(pixels, count, set.yuvDelta);
    case Kernel::kYuvAveraged:
        return kernels.yuvAveraged(pixels, count, set.yuvDelta);
    case Kernel::kRgb24:
        return kernels.rgb24(pixels, count, set.lut);
    }
}

TableSet BenchTables()
{
    TableSet set{};
    BuildChannel(set, kRed, 200);
    BuildChannel(set, kGreen, 50);
    BuildChannel(set, kBlue, 316);
    return set;
}

TableSet IdentityTables()
{
    TableSet set{};
    for (int c = 0; c < 3; ++c)
        BuildChannel(set, c, kIdentityGamma);
    return set;
}

std::vector<uint8_t> RandomFrame(size_t bytes, uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<uint8_t> frame(bytes);
    for (uint8_t& b : frame)
        b = static_cast<uint8_t>(random() >> 24);
    return frame;
}

#if defined(__i386__) || defined(__x86_64__)
namespace {

__attribute__((target("avx2"))) void StreamAvx2(uint8_t* bytes, size_t size)
{
    const __m256i one = _mm256_set1_epi8(1);
    size_t i = 0;
    for (; i + 128 <= size; i += 128) {
        auto* p = reinterpret_cast<__m256i*>(bytes + i);
        const __m256i a = _mm256_loadu_si256(p), b = _mm256_loadu_si256(p + 1);
        const __m256i c = _mm256_loadu_si256(p + 2), d = _mm256_loadu_si256(p + 3);
        _mm256_storeu_si256(p, _mm256_add_epi8(a, one));
        _mm256_storeu_si256(p + 1, _mm256_add_epi8(b, one));
        _mm256_storeu_si256(p + 2, _mm256_add_epi8(c, one));
        _mm256_storeu_si256(p + 3, _mm256_add_epi8(d, one));
    }
    for (; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(bytes[i] + 1);
}

}  // namespace
#endif

void StreamInPlace(uint8_t* bytes, size_t size)
{
#if defined(__i386__) || defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2)
        return StreamAvx2(bytes, size);
#endif
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(bytes[i] + 1);
}

}  // namespace zvk::bench
