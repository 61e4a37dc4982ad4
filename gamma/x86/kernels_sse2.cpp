// SSE2 kernels: vector chroma arithmetic and packing, scalar table reads
// (SSE2 has no gather). Compiled with -msse2 only; no MMX, so the FPU state
// stays as the host left it.
//
// The YUV loop is written for the CPUs whose best level this is: Atom-class
// cores (Silvermont, Goldmont, Tremont), AMD Jaguar, Core 2 and Nehalem.
// They issue two or three instructions a cycle, one load (Silvermont: one
// load or store), and Silvermont issues vector instructions in order. The
// steady loop is inline assembly generated and scheduled by sse2_loops.py;
// this file prepares the tables, fills the pipe and hands the last chunks
// to the portable kernel.
#include <cstddef>

#include "gamma/kernel_prep.h"
#include "gamma/x86/kernels_x86.h"
#include "gamma/x86/sse2_loops.inc"

namespace zvk {
namespace {

// Chunks of four words between a chunk's table sums and its apply: the
// vector loads of a slot then find the scalar stores long retired.
constexpr uint32_t kLag = 8;

// The loop addresses both through one register: the ring at byte 3072.
struct YuvLoopScratch {
    uint32_t packed[768];
    uint32_t ring[8 * kLag];
};
static_assert(offsetof(YuvLoopScratch, ring) == 3072, "sse2_loops.py expects the ring at byte 3072");

struct alignas(16) Vector {
    uint32_t lanes[4];
};

constexpr Vector Splat(uint32_t value)
{
    return {{value, value, value, value}};
}

constexpr uint32_t Pair(int32_t low, int32_t high)
{
    return (static_cast<uint32_t>(low) & 0xFFFF) | static_cast<uint32_t>(high) << 16;
}

// The loop's memory operands. In each word's 16-bit lanes U comes first
// (with Y0) and V second (with Y1).
struct LoopConstants {
    Vector lumaMask = Splat(0x00FF00FF);
    Vector chromaBias = Splat(0x00800080);
    Vector blueRed = Splat(Pair(kUB, kVR));
    Vector green = Splat(Pair(kUG, kVG));
    Vector zero = Splat(0);
    Vector max255 = Splat(0x00FF00FF);
    Vector firstU = {{0x07FF0000, 0, 0x07FF0000, 0}};
    Vector secondV = {{0, 0x07FF0000, 0, 0x07FF0000}};
    Vector lumaField = Splat(0x3FF);
    Vector chromaField = Splat(0x03FF0000);
    Vector sampleBias = Splat(0xFEFEFEFE);  // a high byte of 0xFE: sample - 512
};
const LoopConstants kLoop{};

inline int32_t Clamp255(int32_t value)
{
    return value < 0 ? 0 : value > 255 ? 255 : value;
}

// The packed sums of one chunk's eight pixels, as the loop's sums stage
// writes them; fills the ring before the loop starts.
void SumChunk(const uint8_t* words, const uint32_t* packed, uint32_t* slot)
{
    for (int w = 0; w < 4; ++w, words += 4) {
        const int32_t u = words[1] - 128, v = words[3] - 128;
        const int32_t blue = FixedProduct(u, kUB), green = FixedProduct(u, kUG) + FixedProduct(v, kVG),
                      red = FixedProduct(v, kVR);
        for (int i = 0; i < 2; ++i) {
            const int32_t y = words[2 * i];
            *slot++ = packed[Clamp255(y + red)] + packed[256 + Clamp255(y + green)] + packed[512 + Clamp255(y + blue)];
        }
    }
}

#define ZVK_SSE2_YUV_OPERANDS                                                                                     \
    : [p] "+r"(p), [off] "+r"(off), [a] "=&q"(a), [c] "=&r"(c)                                                   \
    : [tbl] "r"(scratch.packed), [end] "r"(end), [lumaMask] "m"(kLoop.lumaMask), [chromaBias] "m"(kLoop.chromaBias), \
      [blueRed] "m"(kLoop.blueRed), [green] "m"(kLoop.green), [zero] "m"(kLoop.zero), [max255] "m"(kLoop.max255),  \
      [firstU] "m"(kLoop.firstU), [secondV] "m"(kLoop.secondV), [lumaField] "m"(kLoop.lumaField),                 \
      [chromaField] "m"(kLoop.chromaField), [sampleBias] "m"(kLoop.sampleBias)                                  \
    : "cc", "memory", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7"

// Two chunks a step from p to end; the ring holds the sums of the kLag
// chunks before p, the first of them in slot 0.
template <bool kAveraged>
void RunLoop(uint8_t* p, const uint8_t* end, YuvLoopScratch& scratch)
{
    size_t off = 0, a, c;
    if (kAveraged)
        asm volatile(ZVK_SSE2_YUV_AVERAGED_LOOP ZVK_SSE2_YUV_OPERANDS);
    else
        asm volatile(ZVK_SSE2_YUV_FIRST_PIXEL_LOOP ZVK_SSE2_YUV_OPERANDS);
}

#undef ZVK_SSE2_YUV_OPERANDS

template <bool kAveraged>
void CorrectYuvSse2(uint8_t* pixels, uint32_t count, const YuvDeltaEntry* yuvDelta)
{
    AlignedScratch<YuvLoopScratch> storage;
    YuvLoopScratch& scratch = storage.get();
    const YuvPrep prep = PackYuvDeltasSummedBias(yuvDelta, scratch.packed);
    if (prep == YuvPrep::kIdentity)
        return;
    const YuvKernel portable = kAveraged ? CorrectYuvAveraged : CorrectYuvFirstPixel;
    const uint32_t chunks = (count >> 1) / 4;
    // The loop reads two chunks ahead and applies kLag behind.
    if (prep == YuvPrep::kOutOfRange || chunks < kLag + 3)
        return portable(pixels, count, yuvDelta);

    for (uint32_t k = 0; k < kLag; ++k)
        SumChunk(pixels + 16 * k, scratch.packed, scratch.ring + 8 * k);
    const uint32_t steps = (chunks - kLag - 3) / 2 + 1;
    RunLoop<kAveraged>(pixels + 16 * kLag, pixels + 16 * kLag + 32 * size_t{steps}, scratch);
    // The chunks whose sums the loop made but did not apply are untouched.
    const uint32_t applied = 2 * steps;
    portable(pixels + 16 * size_t{applied}, count - 8 * applied, yuvDelta);
}

void CorrectYuvFirstPixelSse2(uint8_t* pixels, uint32_t count, const YuvDeltaEntry* yuvDelta)
{
    CorrectYuvSse2<false>(pixels, count, yuvDelta);
}

void CorrectYuvAveragedSse2(uint8_t* pixels, uint32_t count, const YuvDeltaEntry* yuvDelta)
{
    CorrectYuvSse2<true>(pixels, count, yuvDelta);
}

// CorrectRgb24 for cores that are short of load and store slots (Silvermont
// has one for both): sixteen pixels a step read as three vectors, each byte
// widened to a lane and taken out with pextrw, which costs an instruction
// but no load. On wide cores the word loop is faster; Init measures both.
void CorrectRgb24Lanes(uint8_t* pixels, uint32_t count, const int32_t* lut)
{
    if (IsIdentityLut(lut))
        return;
    // Each step also loads the first 16 bytes of the next.
    const size_t bytes = 3 * size_t{count};
    const size_t steps = bytes >= 64 ? (bytes - 16) / 48 : 0;
    if (steps > 0) {
        Rgb24WordTables tables;
        BuildRgb24WordTables(lut, tables);
        uint8_t* p = pixels;
        size_t a, c;
        asm volatile(ZVK_SSE2_RGB24_LANES_LOOP
                     : [p] "+r"(p), [a] "=&r"(a), [c] "=&r"(c)
                     : [tbl] "r"(tables), [end] "r"(pixels + 48 * steps)
                     : "cc", "memory", "xmm1", "xmm2", "xmm3", "xmm4", "xmm7");
    }
    if (16 * steps < count)
        CorrectRgb24Words(pixels + 48 * steps, count - static_cast<uint32_t>(16 * steps), lut);
}

}  // namespace

const Kernels& Sse2Kernels()
{
    static const Kernels kernels = {CorrectYuvFirstPixelSse2, CorrectYuvAveragedSse2, CorrectRgb24Words};
    return kernels;
}

const Kernels& Sse2LanesKernels()
{
    static const Kernels kernels = {CorrectYuvFirstPixelSse2, CorrectYuvAveragedSse2, CorrectRgb24Lanes};
    return kernels;
}

}  // namespace zvk
