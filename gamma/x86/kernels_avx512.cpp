// AVX-512 kernels (F, BW, VBMI): the tables are looked up in registers, 64
// bytes at a time, with two-table byte permutes instead of gathers. Heads
// and tails use masked loads and stores. Compiled with the AVX-512 flags.
#include <immintrin.h>

#include <cstring>

// GCC 12's own AVX-512 shift and broadcast intrinsics trip this warning.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

#include "gamma/kernel_prep.h"
#include "gamma/x86/kernels_x86.h"

namespace zvk {
namespace {

// How far ahead of the block being corrected to prefetch the frame.
constexpr size_t kPrefetchAhead = 1024;

// Byte i of the result is table[index byte i]; high holds each index's top bit.
inline __m512i Lookup(const uint8_t* table, __m512i index, __mmask64 high)
{
    const auto* t = reinterpret_cast<const __m512i*>(table);
    const __m512i low = _mm512_permutex2var_epi8(_mm512_loadu_si512(t), index, _mm512_loadu_si512(t + 1));
    const __m512i top = _mm512_permutex2var_epi8(_mm512_loadu_si512(t + 2), index, _mm512_loadu_si512(t + 3));
    return _mm512_mask_blend_epi8(high, low, top);
}

inline __m512i Pair16(int32_t first, int32_t second)
{
    const auto a = static_cast<uint32_t>(static_cast<uint16_t>(first));
    const auto b = static_cast<uint32_t>(static_cast<uint16_t>(second));
    return _mm512_set1_epi32(static_cast<int>(a | b << 16));
}

// A 16-byte shuffle pattern repeated in every 128-bit lane.
inline __m512i Shuffle16(const char* pattern)
{
    long long low, high;
    std::memcpy(&low, pattern, 8);
    std::memcpy(&high, pattern + 8, 8);
    return _mm512_set4_epi64(high, low, high, low);
}

// R, G, B before clamping, 16-bit lanes, for the 32 pixels of 16 words.
struct Rgb16 {
    __m512i r, g, b;
};

inline Rgb16 Unclamped(__m512i words)
{
    static const char kSwap[16] = {2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13};
    static const char kLow[16] = {0, 1, 0, 1, 4, 5, 4, 5, 8, 9, 8, 9, 12, 13, 12, 13};
    static const char kHigh[16] = {2, 3, 2, 3, 6, 7, 6, 7, 10, 11, 10, 11, 14, 15, 14, 15};
    const __m512i luma = _mm512_and_si512(words, _mm512_set1_epi16(0xFF));
    const __m512i chroma = _mm512_srli_epi16(words, 8);
    const __m512i c16 = _mm512_slli_epi16(_mm512_sub_epi16(chroma, _mm512_set1_epi16(128)), 4);
    const __m512i blueRed = _mm512_mulhi_epi16(c16, Pair16(kUB, kVR));
    const __m512i green2 = _mm512_mulhi_epi16(c16, Pair16(kUG, kVG));
    const __m512i green = _mm512_add_epi16(green2, _mm512_shuffle_epi8(green2, Shuffle16(kSwap)));
    return {_mm512_add_epi16(luma, _mm512_shuffle_epi8(blueRed, Shuffle16(kHigh))), _mm512_add_epi16(luma, green),
            _mm512_add_epi16(luma, _mm512_shuffle_epi8(blueRed, Shuffle16(kLow)))};
}

#if defined(__x86_64__)
// Summed biased changes of 32 pixels, in the lane order of one word vector.
struct Changes {
    __m512i dY, dU, dV;
};

// Adds one channel's deltas for 64 pixels: the low unpacks belong to the
// first word vector, the high ones to the second, undoing the pack that
// made the indices.
template <bool kWide>
inline void AddChannel(const YuvDeltaPlanes& planes, int block, __m512i index, Changes& first, Changes& second)
{
    const __m512i zero = _mm512_setzero_si512();
    const __mmask64 high = _mm512_movepi8_mask(index);
    const __m512i yLow = Lookup(planes.yLow + block, index, high);
    const __m512i yHigh = kWide ? Lookup(planes.yHigh + block, index, high) : zero;
    first.dY = _mm512_add_epi16(first.dY, _mm512_unpacklo_epi8(yLow, yHigh));
    second.dY = _mm512_add_epi16(second.dY, _mm512_unpackhi_epi8(yLow, yHigh));
    const __m512i u = Lookup(planes.u + block, index, high);
    first.dU = _mm512_add_epi16(first.dU, _mm512_unpacklo_epi8(u, zero));
    second.dU = _mm512_add_epi16(second.dU, _mm512_unpackhi_epi8(u, zero));
    const __m512i v = Lookup(planes.v + block, index, high);
    first.dV = _mm512_add_epi16(first.dV, _mm512_unpacklo_epi8(v, zero));
    second.dV = _mm512_add_epi16(second.dV, _mm512_unpackhi_epi8(v, zero));
}

// Corrected bytes of 16 words from their samples and their pixels' changes.
template <bool kAveraged, bool kWide>
inline __m512i Apply(__m512i words, const Changes& c)
{
    static const char kInterleave[16] = {0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15};
    const __mmask32 secondLanes = 0xAAAAAAAA;  // the V (second pixel) lane of every word
    const auto yBias = static_cast<short>(3 * (kWide ? kPackedYBias : kNarrowYBias));
    const __m512i luma = _mm512_and_si512(words, _mm512_set1_epi16(0xFF));
    const __m512i chroma = _mm512_srli_epi16(words, 8);
    const __m512i lumaOut = _mm512_sub_epi16(_mm512_add_epi16(luma, c.dY), _mm512_set1_epi16(yBias));
    __m512i chromaOut;
    if (kAveraged) {
        const __m512i pairU = _mm512_add_epi16(c.dU, _mm512_srli_epi32(c.dU, 16));
        const __m512i pairV = _mm512_add_epi16(c.dV, _mm512_slli_epi32(c.dV, 16));
        const __m512i pair = _mm512_mask_blend_epi16(secondLanes, pairU, pairV);
        chromaOut = _mm512_srai_epi16(
            _mm512_sub_epi16(_mm512_add_epi16(_mm512_slli_epi16(chroma, 1), pair), _mm512_set1_epi16(6 * kPackedChromaBias)), 1);
    } else {
        const __m512i change = _mm512_mask_blend_epi16(secondLanes, c.dU, _mm512_slli_epi32(c.dV, 16));
        chromaOut = _mm512_sub_epi16(_mm512_add_epi16(chroma, change), _mm512_set1_epi16(3 * kPackedChromaBias));
    }
    return _mm512_shuffle_epi8(_mm512_packus_epi16(lumaOut, chromaOut), Shuffle16(kInterleave));
}

// 32 words (128 bytes) from two possibly partial vectors; masks select the
// bytes that belong to the frame.
template <bool kAveraged, bool kWide>
inline void CorrectBlock(uint8_t* pixels, const YuvDeltaPlanes& planes, __mmask64 first, __mmask64 second)
{
    const __m512i a = _mm512_maskz_loadu_epi8(first, pixels);
    const __m512i b = _mm512_maskz_loadu_epi8(second, pixels + 64);
    const Rgb16 ca = Unclamped(a), cb = Unclamped(b);
    const __m512i zero = _mm512_setzero_si512();
    Changes ch1{zero, zero, zero}, ch2{zero, zero, zero};
    // Saturating packs clamp the indices to 0..255.
    AddChannel<kWide>(planes, 0, _mm512_packus_epi16(ca.r, cb.r), ch1, ch2);
    AddChannel<kWide>(planes, 256, _mm512_packus_epi16(ca.g, cb.g), ch1, ch2);
    AddChannel<kWide>(planes, 512, _mm512_packus_epi16(ca.b, cb.b), ch1, ch2);
    _mm512_mask_storeu_epi8(pixels, first, Apply<kAveraged, kWide>(a, ch1));
    _mm512_mask_storeu_epi8(pixels + 64, second, Apply<kAveraged, kWide>(b, ch2));
}
#else
// One channel's biased luma deltas for 64 pixels as two 16-bit vectors: the
// low unpacks belong to the first word vector, the high ones to the second,
// undoing the pack that made the indices.
template <bool kWide>
inline void AddLuma(const YuvDeltaPlanes& planes, int block, __m512i index, __mmask64 high, __m512i& first,
                    __m512i& second)
{
    const __m512i yLow = Lookup(planes.yLow + block, index, high);
    const __m512i yHigh = kWide ? Lookup(planes.yHigh + block, index, high) : _mm512_setzero_si512();
    first = _mm512_add_epi16(first, _mm512_unpacklo_epi8(yLow, yHigh));
    second = _mm512_add_epi16(second, _mm512_unpackhi_epi8(yLow, yHigh));
}

// One pixel pair's chroma change from its biased dU and dV lanes: U lanes
// (first pixel of a word) and V lanes (second). Linear, so each channel's
// part can be added on its own.
template <bool kAveraged>
inline __m512i ChromaChange(__m512i dU, __m512i dV)
{
    const __mmask32 secondLanes = 0xAAAAAAAA;  // the V (second pixel) lane of every word
    if (kAveraged) {
        const __m512i pairU = _mm512_add_epi16(dU, _mm512_srli_epi32(dU, 16));
        const __m512i pairV = _mm512_add_epi16(dV, _mm512_slli_epi32(dV, 16));
        return _mm512_mask_blend_epi16(secondLanes, pairU, pairV);
    }
    return _mm512_mask_blend_epi16(secondLanes, dU, _mm512_slli_epi32(dV, 16));
}

template <bool kAveraged>
inline void AddChroma(const YuvDeltaPlanes& planes, int block, __m512i index, __mmask64 high, __m512i& first,
                      __m512i& second)
{
    const __m512i zero = _mm512_setzero_si512();
    const __m512i u = Lookup(planes.u + block, index, high);
    const __m512i v = Lookup(planes.v + block, index, high);
    first = _mm512_add_epi16(first, ChromaChange<kAveraged>(_mm512_unpacklo_epi8(u, zero), _mm512_unpacklo_epi8(v, zero)));
    second = _mm512_add_epi16(second, ChromaChange<kAveraged>(_mm512_unpackhi_epi8(u, zero), _mm512_unpackhi_epi8(v, zero)));
}

// Corrected bytes of 16 words from their samples, corrected luma lanes and
// summed chroma change.
template <bool kAveraged>
inline __m512i Merge(__m512i words, __m512i lumaOut, __m512i change)
{
    static const char kInterleave[16] = {0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15};
    const __m512i chroma = _mm512_srli_epi16(words, 8);
    __m512i chromaOut;
    if (kAveraged) {
        chromaOut = _mm512_srai_epi16(
            _mm512_sub_epi16(_mm512_add_epi16(_mm512_slli_epi16(chroma, 1), change), _mm512_set1_epi16(6 * kPackedChromaBias)), 1);
    } else {
        chromaOut = _mm512_sub_epi16(_mm512_add_epi16(chroma, change), _mm512_set1_epi16(3 * kPackedChromaBias));
    }
    return _mm512_shuffle_epi8(_mm512_packus_epi16(lumaOut, chromaOut), Shuffle16(kInterleave));
}

// 32 words (128 bytes) from two possibly partial vectors; masks select the
// bytes that belong to the frame. Luma first, then chroma, so that few
// vectors are live at once: with eight vector registers the per-channel
// accumulation spilled heavily (0.54 against 0.45 ms per 1080p frame for
// CorrectYuvFirstPixel here). With 32 registers it is the faster order.
template <bool kAveraged, bool kWide>
inline void CorrectBlock(uint8_t* pixels, const YuvDeltaPlanes& planes, __mmask64 first, __mmask64 second)
{
    const __m512i a = _mm512_maskz_loadu_epi8(first, pixels);
    const __m512i b = _mm512_maskz_loadu_epi8(second, pixels + 64);
    const Rgb16 ca = Unclamped(a), cb = Unclamped(b);
    // Saturating packs clamp the indices to 0..255.
    const __m512i r = _mm512_packus_epi16(ca.r, cb.r);
    const __m512i g = _mm512_packus_epi16(ca.g, cb.g);
    const __m512i bl = _mm512_packus_epi16(ca.b, cb.b);
    const __mmask64 highR = _mm512_movepi8_mask(r), highG = _mm512_movepi8_mask(g), highB = _mm512_movepi8_mask(bl);
    const auto yBias = static_cast<short>(3 * (kWide ? kPackedYBias : kNarrowYBias));
    const __m512i lumaMask = _mm512_set1_epi16(0xFF);
    __m512i y1 = _mm512_sub_epi16(_mm512_and_si512(a, lumaMask), _mm512_set1_epi16(yBias));
    __m512i y2 = _mm512_sub_epi16(_mm512_and_si512(b, lumaMask), _mm512_set1_epi16(yBias));
    AddLuma<kWide>(planes, 0, r, highR, y1, y2);
    AddLuma<kWide>(planes, 256, g, highG, y1, y2);
    AddLuma<kWide>(planes, 512, bl, highB, y1, y2);
    __m512i c1 = _mm512_setzero_si512(), c2 = _mm512_setzero_si512();
    AddChroma<kAveraged>(planes, 0, r, highR, c1, c2);
    AddChroma<kAveraged>(planes, 256, g, highG, c1, c2);
    AddChroma<kAveraged>(planes, 512, bl, highB, c1, c2);
    _mm512_mask_storeu_epi8(pixels, first, Merge<kAveraged>(a, y1, c1));
    _mm512_mask_storeu_epi8(pixels + 64, second, Merge<kAveraged>(b, y2, c2));
}
#endif

inline __mmask64 FirstBytes(uint32_t n)
{
    return n >= 64 ? ~__mmask64{0} : (__mmask64{1} << n) - 1;
}

template <bool kAveraged, bool kWide>
void CorrectFrame(uint8_t* pixels, uint32_t count, const YuvDeltaPlanes& planes)
{
    const uint32_t words = count >> 1;
    uint32_t n = 0;
    for (; n + 32 <= words; n += 32, pixels += 128) {
        _mm_prefetch(reinterpret_cast<const char*>(pixels + kPrefetchAhead), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(pixels + kPrefetchAhead + 64), _MM_HINT_T0);
        CorrectBlock<kAveraged, kWide>(pixels, planes, ~__mmask64{0}, ~__mmask64{0});
    }
    if (n < words) {
        const uint32_t bytes = 4 * (words - n);
        CorrectBlock<kAveraged, kWide>(pixels, planes, FirstBytes(bytes), bytes > 64 ? FirstBytes(bytes - 64) : 0);
    }
}

template <bool kAveraged>
void CorrectYuvAvx512(uint8_t* pixels, uint32_t count, const YuvDeltaEntry* yuvDelta)
{
    AlignedScratch<YuvDeltaPlanes> scratch;
    YuvDeltaPlanes& planes = scratch.get();
    const YuvPrep prep = SplitYuvDeltas(yuvDelta, planes);
    if (prep == YuvPrep::kIdentity)
        return;
    if (prep == YuvPrep::kOutOfRange)
        return (kAveraged ? CorrectYuvAveraged : CorrectYuvFirstPixel)(pixels, count, yuvDelta);

    if (planes.narrowLuma)
        CorrectFrame<kAveraged, false>(pixels, count, planes);
    else
        CorrectFrame<kAveraged, true>(pixels, count, planes);
}

void CorrectYuvFirstPixelAvx512(uint8_t* pixels, uint32_t count, const YuvDeltaEntry* yuvDelta)
{
    CorrectYuvAvx512<false>(pixels, count, yuvDelta);
}

void CorrectYuvAveragedAvx512(uint8_t* pixels, uint32_t count, const YuvDeltaEntry* yuvDelta)
{
    CorrectYuvAvx512<true>(pixels, count, yuvDelta);
}

// The three 256-byte lut blocks as twelve vectors, read once per call: read
// through the table pointer inside the loop, they would be read again after
// every store, since a frame store might alias them.
struct LutVectors {
    __m512i v[12];
};

inline __m512i LookupHeld(const LutVectors& t, int block, __m512i index, __mmask64 high)
{
    const __m512i low = _mm512_permutex2var_epi8(t.v[block], index, t.v[block + 1]);
    const __m512i top = _mm512_permutex2var_epi8(t.v[block + 2], index, t.v[block + 3]);
    return _mm512_mask_blend_epi8(high, low, top);
}

// Byte j of a vector at frame byte 64 * phase belongs to position
// (64 * phase + j) % 3: 0 blue, 1 green, 2 red; kBgrGreenMasks and
// kBgrRedMasks mark the green and red bytes of each phase.
inline void CorrectRgbVector(uint8_t* p, const LutVectors& t, int phase, __mmask64 inFrame)
{
    const __m512i x = _mm512_maskz_loadu_epi8(inFrame, p);
    const __mmask64 high = _mm512_movepi8_mask(x);
    const __m512i blue = LookupHeld(t, 8, x, high);
    const __m512i green = LookupHeld(t, 4, x, high);
    const __m512i red = LookupHeld(t, 0, x, high);
    const __mmask64 greenAt = kBgrGreenMasks[phase];
    const __mmask64 redAt = kBgrRedMasks[phase];
    const __m512i out = _mm512_mask_blend_epi8(redAt, _mm512_mask_blend_epi8(greenAt, blue, green), red);
    _mm512_mask_storeu_epi8(p, inFrame, out);
}

void CorrectRgb24Avx512(uint8_t* pixels, uint32_t count, const int32_t* lut)
{
    if (IsIdentityLut(lut))
        return;
    AlignedScratch<uint8_t[768]> scratch;
    uint8_t* bytes = scratch.get();
    LutBytes(lut, bytes);
    LutVectors t;
    for (int i = 0; i < 12; ++i)
        t.v[i] = _mm512_load_si512(bytes + 64 * i);
    const size_t size = size_t{count} * 3;
    size_t i = 0;
    for (; i + 192 <= size; i += 192) {
        _mm_prefetch(reinterpret_cast<const char*>(pixels + i + kPrefetchAhead), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(pixels + i + kPrefetchAhead + 64), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(pixels + i + kPrefetchAhead + 128), _MM_HINT_T0);
        CorrectRgbVector(pixels + i, t, 0, ~__mmask64{0});
        CorrectRgbVector(pixels + i + 64, t, 1, ~__mmask64{0});
        CorrectRgbVector(pixels + i + 128, t, 2, ~__mmask64{0});
    }
    for (int phase = 0; i < size; i += 64, ++phase)
        CorrectRgbVector(pixels + i, t, phase, FirstBytes(static_cast<uint32_t>(size - i)));
}

}  // namespace

const Kernels& Avx512Kernels()
{
    static const Kernels kernels = {CorrectYuvFirstPixelAvx512, CorrectYuvAveragedAvx512, CorrectRgb24Avx512};
    return kernels;
}

}  // namespace zvk
