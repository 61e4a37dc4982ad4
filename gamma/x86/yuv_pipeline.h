// Gamma engine, internal: how the AVX2 YUV kernels read their tables (the
// SSE2 ones run a loop of their own, sse2_loops.py, in the same three
// stages). Compiled with the including file's flags; the unnamed namespace
// keeps its instructions in that file, so the linker never hands them to a
// CPU of a lower level.
//
// AVX2 cannot look up bytes in registers, and gathers are slow on many
// CPUs, so the table reads are scalar. A frame goes through in chunks
// of a few words, in three stages: vectors write each pixel's clamped red,
// green and blue into a slot (bits 0..7, 8..15, 16..23); a scalar loop
// replaces each slot by the sum of its three packed entries; vectors apply
// the sums. Each step of the loop runs the first stage on one chunk, the
// second on a chunk a few steps behind and the third further behind still,
// so that scalar and vector work overlap, and every slot is read long after
// it was written (a vector load of slots that scalar stores have not yet
// left would wait for them).
#pragma once

#include <cstddef>
#include <cstdint>

#include "gamma/kernel_prep.h"

namespace zvk {
namespace {

constexpr uint32_t kRingSlots = 256;

struct YuvScratch {
    alignas(32) uint32_t packed[768];
    alignas(32) uint32_t ring[kRingSlots];
};

// Loads a slot and splits it into its three indices: red and green from its
// low two bytes (the second one read through the x86 high-byte register,
// one instruction each), blue by shifting the slot in place. Written out
// because the compiler, left to itself, reads the slot again for each byte
// (loads are what the loop is short of) or spends copies on it. size_t
// operands, since a 32-bit write clears the upper half: no extension before
// indexing.
inline void SplitSlot(const uint32_t& slot, size_t& red, size_t& green, size_t& blue)
{
    asm("movl %[slot], %k[blue]\n\t"
        "movzbl %b[blue], %k[red]\n\t"
        "movzbl %h[blue], %k[green]\n\t"
        "shrl $16, %k[blue]"
        : [blue] "=&Q"(blue), [red] "=&r"(red), [green] "=&R"(green)
        : [slot] "m"(slot));
}

template <uint32_t kSlots>
inline void SumSlots(const uint32_t* packed, uint32_t* slots)
{
    const uint32_t* red = packed;
    const uint32_t* green = packed + 256;
    const uint32_t* blue = packed + 512;
#pragma GCC unroll 16
    for (uint32_t i = 0; i < kSlots; ++i) {
        size_t r, g, b;
        SplitSlot(slots[i], r, g, b);
        slots[i] = red[r] + green[g] + blue[b];
    }
}

// Stages::kChunkWords words per chunk; Stages::Index(chunk, slots) is the
// first stage, Stages::Apply(chunk, slots) the third.
template <typename Stages>
void CorrectChunks(uint8_t* pixels, uint32_t chunks, YuvScratch& scratch)
{
    constexpr uint32_t kSlots = 2 * Stages::kChunkWords;
    constexpr uint32_t kRingChunks = kRingSlots / kSlots;
    // Steps between the stages: a few hundred instructions, more than the
    // CPU holds in flight.
    constexpr uint32_t kLag = kRingChunks / 4;
    static_assert(kLag >= 4 && 2 * kLag < kRingChunks, "the stages must not share ring chunks");
    auto slots = [&](uint32_t chunk) { return scratch.ring + (chunk % kRingChunks) * kSlots; };
    auto at = [&](uint32_t chunk) { return pixels + size_t{4 * Stages::kChunkWords} * chunk; };

    // Start and end of the pipe, where some stages have no chunk yet.
    auto partial = [&](uint32_t j) {
        if (j < chunks)
            Stages::Index(at(j), slots(j));
        if (j >= kLag && j - kLag < chunks)
            SumSlots<kSlots>(scratch.packed, slots(j - kLag));
        if (j >= 2 * kLag)
            Stages::Apply(at(j - 2 * kLag), slots(j - 2 * kLag));
    };
    uint32_t j = 0;
    for (; j < 2 * kLag && j < chunks; ++j)
        partial(j);
    for (; j < chunks; ++j) {
        Stages::Index(at(j), slots(j));
        SumSlots<kSlots>(scratch.packed, slots(j - kLag));
        Stages::Apply(at(j - 2 * kLag), slots(j - 2 * kLag));
    }
    for (; j < chunks + 2 * kLag; ++j)
        partial(j);
}

}  // namespace
}  // namespace zvk
