// AVX2 kernels: the SSE2 arithmetic on eight words per step, in two
// variants: table reads as scalar loads (yuv_pipeline.h, and the word-table
// BGR24 loop), or as gathers. Compiled with -mavx2.
#include <immintrin.h>

#include "gamma/kernel_prep.h"
#include "gamma/x86/kernels_x86.h"
#include "gamma/x86/yuv_pipeline.h"

namespace zvk {
namespace {

inline __m256i Pair16(int32_t first, int32_t second)
{
    const auto a = static_cast<short>(first), b = static_cast<short>(second);
    return _mm256_set_epi16(b, a, b, a, b, a, b, a, b, a, b, a, b, a, b, a);
}

inline __m256i Clamp255(__m256i x)
{
    return _mm256_min_epi16(_mm256_max_epi16(x, _mm256_setzero_si256()), _mm256_set1_epi16(255));
}

struct PixelIndices {
    __m256i r, g, b;
};

// R, G, B of the sixteen pixels of eight words before clamping, 16-bit lanes.
inline PixelIndices Unclamped(__m256i words)
{
    const __m256i luma = _mm256_and_si256(words, _mm256_set1_epi16(0xFF));
    const __m256i chroma = _mm256_srli_epi16(words, 8);
    const __m256i c16 = _mm256_slli_epi16(_mm256_sub_epi16(chroma, _mm256_set1_epi16(128)), 4);
    const __m256i blueRed = _mm256_mulhi_epi16(c16, Pair16(kUB, kVR));
    const __m256i green2 = _mm256_mulhi_epi16(c16, Pair16(kUG, kVG));
    const __m256i swapHalves = _mm256_setr_epi8(2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13,
                                                2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13);
    const __m256i lowTwice = _mm256_setr_epi8(0, 1, 0, 1, 4, 5, 4, 5, 8, 9, 8, 9, 12, 13, 12, 13,
                                              0, 1, 0, 1, 4, 5, 4, 5, 8, 9, 8, 9, 12, 13, 12, 13);
    const __m256i highTwice = _mm256_setr_epi8(2, 3, 2, 3, 6, 7, 6, 7, 10, 11, 10, 11, 14, 15, 14, 15,
                                               2, 3, 2, 3, 6, 7, 6, 7, 10, 11, 10, 11, 14, 15, 14, 15);
    const __m256i green = _mm256_add_epi16(green2, _mm256_shuffle_epi8(green2, swapHalves));
    const __m256i blue = _mm256_shuffle_epi8(blueRed, lowTwice);
    const __m256i red = _mm256_shuffle_epi8(blueRed, highTwice);
    return {_mm256_add_epi16(luma, red), _mm256_add_epi16(luma, green), _mm256_add_epi16(luma, blue)};
}

inline PixelIndices Indices(__m256i words)
{
    const PixelIndices c = Unclamped(words);
    return {Clamp255(c.r), Clamp255(c.g), Clamp255(c.b)};
}

// Four words' samples in 16-bit lanes (Y0, U, Y1, V) and the packed change
// sums of their eight pixels (one per 32-bit lane); returns the corrected
// lanes. Blends put each field in its lane, one mask clears what the
// shifts brought along.
template <bool kAveraged>
inline __m256i Apply(__m256i samples, __m256i sums)
{
    constexpr int kULanes = 0x22, kVLanes = 0x88;  // lane 1 and lane 3 of every word
    if (kAveraged) {
        // Luma lanes hold 2 * dY, chroma lanes the pair's sum; the final
        // arithmetic shift halves both, rounding the average down.
        const __m256i chroma = _mm256_srli_epi32(sums, kPackedUShift);
        const __m256i pair = _mm256_add_epi32(chroma, _mm256_srli_epi64(chroma, 32));
        const __m256i u = _mm256_slli_epi64(pair, 16);
        const __m256i v = _mm256_slli_epi64(pair, 16 + 32 - (kPackedVShift - kPackedUShift));
        const __m256i fields = _mm256_blend_epi16(_mm256_blend_epi16(_mm256_slli_epi32(sums, 1), u, kULanes), v, kVLanes);
        const __m256i change = _mm256_and_si256(fields, Pair16(0x7FE, 0x7FF));
        const __m256i bias = Pair16(6 * kPackedYBias, 6 * kPackedChromaBias);
        return _mm256_srai_epi16(_mm256_sub_epi16(_mm256_add_epi16(_mm256_slli_epi16(samples, 1), change), bias), 1);
    }
    const __m256i u = _mm256_slli_epi32(sums, 16 - kPackedUShift);
    const __m256i v = _mm256_slli_epi64(sums, 48 - kPackedVShift);
    const __m256i fields = _mm256_blend_epi16(_mm256_blend_epi16(sums, u, kULanes), v, kVLanes);
    const __m256i change = _mm256_and_si256(fields, Pair16(0x3FF, 0x7FF));
    return _mm256_sub_epi16(_mm256_add_epi16(samples, change), Pair16(3 * kPackedYBias, 3 * kPackedChromaBias));
}

// Packed change sums of the eight pixels whose 16-bit indices fill r, g, b.
inline __m256i GatherSums(const uint32_t* packed, __m128i r, __m128i g, __m128i b)
{
    const int* table = reinterpret_cast<const int*>(packed);
    const __m256i sr = _mm256_i32gather_epi32(table, _mm256_cvtepu16_epi32(r), 4);
    const __m256i sg = _mm256_i32gather_epi32(table + 256, _mm256_cvtepu16_epi32(g), 4);
    const __m256i sb = _mm256_i32gather_epi32(table + 512, _mm256_cvtepu16_epi32(b), 4);
    return _mm256_add_epi32(_mm256_add_epi32(sr, sg), sb);
}

template <bool kAveraged>
void CorrectWordsGathered(uint8_t* pixels, uint32_t words, const uint32_t* packed)
{
    for (uint32_t n = 0; n + 8 <= words; n += 8, pixels += 32) {
        const __m256i in = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixels));
        const PixelIndices idx = Indices(in);
        const __m256i sumsLo = GatherSums(packed, _mm256_castsi256_si128(idx.r), _mm256_castsi256_si128(idx.g),
                                          _mm256_castsi256_si128(idx.b));
        const __m256i sumsHi = GatherSums(packed, _mm256_extracti128_si256(idx.r, 1), _mm256_extracti128_si256(idx.g, 1),
                                          _mm256_extracti128_si256(idx.b, 1));
        const __m256i lo = Apply<kAveraged>(_mm256_cvtepu8_epi16(_mm256_castsi256_si128(in)), sumsLo);
        const __m256i hi = Apply<kAveraged>(_mm256_cvtepu8_epi16(_mm256_extracti128_si256(in, 1)), sumsHi);
        const __m256i out = _mm256_permute4x64_epi64(_mm256_packus_epi16(lo, hi), _MM_SHUFFLE(3, 1, 2, 0));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(pixels), out);
    }
}

// Slot order: the in-lane unpacks put pixels 0-3 and 8-11 of a chunk in
// its first vector of slots, 4-7 and 12-15 in the second, which is the
// order the in-lane unpacks of the samples need again, so no lane crossing
// is spent.
template <bool kAveraged>
struct Avx2Stages {
    static constexpr uint32_t kChunkWords = 8;

    static void Index(const uint8_t* pixels, uint32_t* slots)
    {
        const PixelIndices c = Unclamped(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixels)));
        // Saturating packs clamp to 0..255 on the way to bytes: each lane
        // holds its eight reds, then its eight greens.
        const __m256i redsGreens = _mm256_packus_epi16(c.r, c.g);
        const __m256i redGreen = _mm256_unpacklo_epi8(redsGreens, _mm256_srli_si256(redsGreens, 8));
        const __m256i blue = Clamp255(c.b);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(slots), _mm256_unpacklo_epi16(redGreen, blue));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(slots + 8), _mm256_unpackhi_epi16(redGreen, blue));
    }

    static void Apply(uint8_t* pixels, const uint32_t* slots)
    {
        const __m256i zero = _mm256_setzero_si256();
        const __m256i in = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixels));
        const __m256i lo = zvk::Apply<kAveraged>(_mm256_unpacklo_epi8(in, zero),
                                                 _mm256_loadu_si256(reinterpret_cast<const __m256i*>(slots)));
        const __m256i hi = zvk::Apply<kAveraged>(_mm256_unpackhi_epi8(in, zero),
                                                 _mm256_loadu_si256(reinterpret_cast<const __m256i*>(slots + 8)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(pixels), _mm256_packus_epi16(lo, hi));
    }
};

// Tables prepared, identity and out-of-range tables handled; correct does
// the whole words (chunks of 8) of a frame, the portable kernel the rest.
template <bool kAveraged, typename Correct>
void CorrectYuvWith(uint8_t* pixels, uint32_t count, const YuvDeltaEntry* yuvDelta, Correct correct)
{
    YuvScratch scratch;
    const YuvPrep prep = PackYuvDeltas(yuvDelta, scratch.packed);
    if (prep == YuvPrep::kIdentity)
        return;
    const YuvKernel portable = kAveraged ? CorrectYuvAveraged : CorrectYuvFirstPixel;
    if (prep == YuvPrep::kOutOfRange)
        return portable(pixels, count, yuvDelta);

    const uint32_t words = count >> 1;
    const uint32_t chunks = words / 8;
    correct(pixels, chunks, scratch);
    if (8 * chunks < words)
        portable(pixels + 32 * size_t{chunks}, 2 * (words - 8 * chunks), yuvDelta);
}

template <bool kAveraged>
void CorrectYuvAvx2(uint8_t* pixels, uint32_t count, const YuvDeltaEntry* yuvDelta)
{
    CorrectYuvWith<kAveraged>(pixels, count, yuvDelta, [](uint8_t* p, uint32_t chunks, YuvScratch& scratch) {
        CorrectChunks<Avx2Stages<kAveraged>>(p, chunks, scratch);
    });
}

template <bool kAveraged>
void CorrectYuvAvx2Gather(uint8_t* pixels, uint32_t count, const YuvDeltaEntry* yuvDelta)
{
    CorrectYuvWith<kAveraged>(pixels, count, yuvDelta, [](uint8_t* p, uint32_t chunks, YuvScratch& scratch) {
        CorrectWordsGathered<kAveraged>(p, 8 * chunks, scratch.packed);
    });
}

void CorrectYuvFirstPixelAvx2(uint8_t* pixels, uint32_t count, const YuvDeltaEntry* yuvDelta)
{
    CorrectYuvAvx2<false>(pixels, count, yuvDelta);
}

void CorrectYuvAveragedAvx2(uint8_t* pixels, uint32_t count, const YuvDeltaEntry* yuvDelta)
{
    CorrectYuvAvx2<true>(pixels, count, yuvDelta);
}

void CorrectYuvFirstPixelAvx2Gather(uint8_t* pixels, uint32_t count, const YuvDeltaEntry* yuvDelta)
{
    CorrectYuvAvx2Gather<false>(pixels, count, yuvDelta);
}

void CorrectYuvAveragedAvx2Gather(uint8_t* pixels, uint32_t count, const YuvDeltaEntry* yuvDelta)
{
    CorrectYuvAvx2Gather<true>(pixels, count, yuvDelta);
}

// Eight bytes of the frame as gathered lut entries; offsets holds each
// byte's channel block (blue, green, red repeating from the frame start).
inline __m256i Lookup8(const int* lut, const uint8_t* bytes, __m256i offsets)
{
    const __m256i index = _mm256_add_epi32(_mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes))), offsets);
    return _mm256_and_si256(_mm256_i32gather_epi32(lut, index, 4), _mm256_set1_epi32(0xFF));
}

// Thirty-two entries (low bytes only) back into thirty-two bytes, in order.
inline __m256i PackBytes(__m256i a, __m256i b, __m256i c, __m256i d)
{
    const __m256i bytes = _mm256_packus_epi16(_mm256_packus_epi32(a, b), _mm256_packus_epi32(c, d));
    return _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
}

// Thirty-two pixels (96 bytes) per step.
void CorrectRgb24Avx2Gather(uint8_t* pixels, uint32_t count, const int32_t* lut)
{
    if (IsIdentityLut(lut))
        return;
    const int* table = reinterpret_cast<const int*>(lut);
    // Byte k of the frame belongs to blue (block 512), green (256) or red (0)
    // by k modulo 3; eight-byte chunks repeat that pattern every three.
    const __m256i o0 = _mm256_setr_epi32(512, 256, 0, 512, 256, 0, 512, 256);
    const __m256i o1 = _mm256_setr_epi32(0, 512, 256, 0, 512, 256, 0, 512);
    const __m256i o2 = _mm256_setr_epi32(256, 0, 512, 256, 0, 512, 256, 0);
    uint32_t n = 0;
    for (; n + 32 <= count; n += 32, pixels += 96) {
        // Each 32-byte block depends only on its own bytes: store it before
        // the next, which keeps few registers live (eight on 32-bit x86).
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(pixels),
                            PackBytes(Lookup8(table, pixels, o0), Lookup8(table, pixels + 8, o1),
                                      Lookup8(table, pixels + 16, o2), Lookup8(table, pixels + 24, o0)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(pixels + 32),
                            PackBytes(Lookup8(table, pixels + 32, o1), Lookup8(table, pixels + 40, o2),
                                      Lookup8(table, pixels + 48, o0), Lookup8(table, pixels + 56, o1)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(pixels + 64),
                            PackBytes(Lookup8(table, pixels + 64, o2), Lookup8(table, pixels + 72, o0),
                                      Lookup8(table, pixels + 80, o1), Lookup8(table, pixels + 88, o2)));
    }
    if (n < count)
        CorrectRgb24(pixels, count - n, lut);
}

}  // namespace

const Kernels& Avx2Kernels()
{
    static const Kernels kernels = {CorrectYuvFirstPixelAvx2, CorrectYuvAveragedAvx2, CorrectRgb24Words};
    return kernels;
}

const Kernels& Avx2GatherKernels()
{
    static const Kernels kernels = {CorrectYuvFirstPixelAvx2Gather, CorrectYuvAveragedAvx2Gather, CorrectRgb24Avx2Gather};
    return kernels;
}

}  // namespace zvk
