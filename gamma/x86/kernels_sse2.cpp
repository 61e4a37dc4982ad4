// SSE2 kernels: vector chroma arithmetic and packing, scalar table reads
// (SSE2 has no gather). Compiled with -msse2 only; no MMX, so the FPU state
// stays as the host left it.
#include <emmintrin.h>

#include "gamma/kernel_prep.h"
#include "gamma/x86/kernels_x86.h"
#include "gamma/x86/yuv_pipeline.h"

namespace zvk {
namespace {

inline __m128i Pair16(int32_t first, int32_t second)
{
    const auto a = static_cast<short>(first), b = static_cast<short>(second);
    return _mm_set_epi16(b, a, b, a, b, a, b, a);
}

inline __m128i Clamp255(__m128i x)
{
    return _mm_min_epi16(_mm_max_epi16(x, _mm_setzero_si128()), _mm_set1_epi16(255));
}

// R, G, B of the eight pixels of four words before clamping, 16-bit lanes,
// pixels in memory order.
struct PixelIndices {
    __m128i r, g, b;
};

inline PixelIndices Unclamped(__m128i words)
{
    const __m128i luma = _mm_and_si128(words, _mm_set1_epi16(0xFF));
    const __m128i chroma = _mm_srli_epi16(words, 8);
    // (16 * (c - 128)) * k >> 16 is the high half of a 16 x 16 product.
    const __m128i c16 = _mm_slli_epi16(_mm_sub_epi16(chroma, _mm_set1_epi16(128)), 4);
    const __m128i blueRed = _mm_mulhi_epi16(c16, Pair16(kUB, kVR));
    const __m128i green2 = _mm_mulhi_epi16(c16, Pair16(kUG, kVG));
    const __m128i green = _mm_add_epi16(green2, _mm_or_si128(_mm_slli_epi32(green2, 16), _mm_srli_epi32(green2, 16)));
    const __m128i blue = _mm_shufflehi_epi16(_mm_shufflelo_epi16(blueRed, _MM_SHUFFLE(2, 2, 0, 0)), _MM_SHUFFLE(2, 2, 0, 0));
    const __m128i red = _mm_shufflehi_epi16(_mm_shufflelo_epi16(blueRed, _MM_SHUFFLE(3, 3, 1, 1)), _MM_SHUFFLE(3, 3, 1, 1));
    return {_mm_add_epi16(luma, red), _mm_add_epi16(luma, green), _mm_add_epi16(luma, blue)};
}

// Two words: original samples in 16-bit lanes and the packed change sums of
// their four pixels (one per 32-bit lane). Returns the corrected lanes.
template <bool kAveraged>
inline __m128i Apply(__m128i samples, __m128i sums)
{
    const __m128i firstU = _mm_set_epi32(0, 0x07FF0000, 0, 0x07FF0000);
    const __m128i secondV = _mm_set_epi32(0x07FF0000, 0, 0x07FF0000, 0);
    if (kAveraged) {
        // Lanes hold 2 * sample + 2 * dY or the pair's chroma sum; the final
        // arithmetic shift halves both, rounding the average down.
        const __m128i luma = _mm_and_si128(_mm_slli_epi32(sums, 1), _mm_set1_epi32(0x7FE));
        const __m128i chroma = _mm_srli_epi32(sums, kPackedUShift);
        const __m128i pair = _mm_add_epi32(chroma, _mm_srli_epi64(chroma, 32));
        const __m128i u = _mm_and_si128(_mm_slli_epi64(pair, 16), firstU);
        const __m128i v = _mm_and_si128(_mm_slli_epi64(pair, 16 + 32 - (kPackedVShift - kPackedUShift)), secondV);
        const __m128i change = _mm_or_si128(luma, _mm_or_si128(u, v));
        const __m128i bias = Pair16(6 * kPackedYBias, 6 * kPackedChromaBias);
        return _mm_srai_epi16(_mm_sub_epi16(_mm_add_epi16(_mm_slli_epi16(samples, 1), change), bias), 1);
    }
    const __m128i luma = _mm_and_si128(sums, _mm_set1_epi32(0x3FF));
    const __m128i u = _mm_and_si128(_mm_slli_epi32(sums, 16 - kPackedUShift), firstU);
    const __m128i v = _mm_and_si128(_mm_slli_epi64(sums, 48 - kPackedVShift), secondV);
    const __m128i change = _mm_or_si128(luma, _mm_or_si128(u, v));
    return _mm_sub_epi16(_mm_add_epi16(samples, change), Pair16(3 * kPackedYBias, 3 * kPackedChromaBias));
}

template <bool kAveraged>
struct Sse2Stages {
    static constexpr uint32_t kChunkWords = 4;

    static void Index(const uint8_t* pixels, uint32_t* slots)
    {
        const PixelIndices c = Unclamped(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels)));
        // Saturating packs clamp to 0..255 on the way to bytes: the eight
        // reds, then the eight greens.
        const __m128i redsGreens = _mm_packus_epi16(c.r, c.g);
        const __m128i redGreen = _mm_unpacklo_epi8(redsGreens, _mm_srli_si128(redsGreens, 8));
        const __m128i blue = Clamp255(c.b);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(slots), _mm_unpacklo_epi16(redGreen, blue));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(slots + 4), _mm_unpackhi_epi16(redGreen, blue));
    }

    static void Apply(uint8_t* pixels, const uint32_t* slots)
    {
        const __m128i zero = _mm_setzero_si128();
        const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels));
        const __m128i lo = zvk::Apply<kAveraged>(_mm_unpacklo_epi8(in, zero),
                                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(slots)));
        const __m128i hi = zvk::Apply<kAveraged>(_mm_unpackhi_epi8(in, zero),
                                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(slots + 4)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pixels), _mm_packus_epi16(lo, hi));
    }
};

template <bool kAveraged>
void CorrectYuvSse2(uint8_t* pixels, uint32_t count, const YuvDeltaEntry* yuvDelta)
{
    YuvScratch scratch;
    const YuvPrep prep = PackYuvDeltas(yuvDelta, scratch.packed);
    if (prep == YuvPrep::kIdentity)
        return;
    const YuvKernel portable = kAveraged ? CorrectYuvAveraged : CorrectYuvFirstPixel;
    if (prep == YuvPrep::kOutOfRange)
        return portable(pixels, count, yuvDelta);

    const uint32_t words = count >> 1;
    const uint32_t chunks = words / 4;
    CorrectChunks<Sse2Stages<kAveraged>>(pixels, chunks, scratch);
    if (4 * chunks < words)
        portable(pixels + 16 * size_t{chunks}, 2 * (words - 4 * chunks), yuvDelta);
}

void CorrectYuvFirstPixelSse2(uint8_t* pixels, uint32_t count, const YuvDeltaEntry* yuvDelta)
{
    CorrectYuvSse2<false>(pixels, count, yuvDelta);
}

void CorrectYuvAveragedSse2(uint8_t* pixels, uint32_t count, const YuvDeltaEntry* yuvDelta)
{
    CorrectYuvSse2<true>(pixels, count, yuvDelta);
}

}  // namespace

const Kernels& Sse2Kernels()
{
    // SSE2 has nothing to offer BGR24 beyond the scalar byte-table loop.
    static const Kernels kernels = {CorrectYuvFirstPixelSse2, CorrectYuvAveragedSse2, CorrectRgb24Words};
    return kernels;
}

}  // namespace zvk
