// CorrectRgb24 with scalar table reads, for the x86 levels whose vectors
// cannot look up bytes. Compiled without instruction-set flags.
#include <cstddef>
#include <cstring>

#include "gamma/kernel_prep.h"
#include "gamma/x86/kernels_x86.h"

namespace zvk {
namespace {

// The four bytes of a word as table indices, low byte first, in five
// instructions (two of them reading the x86 high-byte register). Written
// out because the compiler spends a copy and a shift more per word, and
// the loop is short of instruction slots on many CPUs. size_t operands,
// since a 32-bit write clears the upper half: no extension before indexing.
inline void SplitWord(size_t& word, size_t& b0, size_t& b1, size_t& b2)
{
    asm("movzbl %b[w], %k[b0]\n\t"
        "movzbl %h[w], %k[b1]\n\t"
        "shrl $16, %k[w]\n\t"
        "movzbl %b[w], %k[b2]\n\t"
        "shrl $8, %k[w]"
        : [w] "+Q"(word), [b0] "=&r"(b0), [b1] "=&R"(b1), [b2] "=&r"(b2));
}

}  // namespace

void BuildRgb24WordTables(const int32_t* lut, Rgb24WordTables& tables)
{
    for (int j = 0; j < 12; ++j) {
        const int32_t* block = lut + 256 * (2 - j % 3);
        const int shift = 8 * (j % 4);
        for (int i = 0; i < 256; ++i)
            tables[j][i] = (static_cast<uint32_t>(block[i]) & 0xFF) << shift;
    }
}

void CorrectRgb24Words(uint8_t* pixels, uint32_t count, const int32_t* lut)
{
    if (IsIdentityLut(lut))
        return;
    // An output word is four loads or-ed together, and 32-bit x86 has
    // registers to spare for the loop.
    Rgb24WordTables tables;
    BuildRgb24WordTables(lut, tables);
    // The loop ends on the pixel pointer: one register and one add fewer.
    for (const uint8_t* end = pixels + 12 * size_t{count / 4}; pixels != end; pixels += 12) {
        // Word by word, load to store: few registers live at once.
        for (int k = 0; k < 3; ++k) {
            uint32_t in;
            std::memcpy(&in, pixels + 4 * k, 4);
            size_t w = in, b0, b1, b2;
            SplitWord(w, b0, b1, b2);
            const uint32_t(*t)[256] = tables + 4 * k;
            const uint32_t out = t[0][b0] | t[1][b1] | t[2][b2] | t[3][w];
            std::memcpy(pixels + 4 * k, &out, 4);
        }
    }
    for (uint32_t n = 0; n < count % 4; ++n, pixels += 3) {
        pixels[0] = static_cast<uint8_t>(tables[0][pixels[0]]);
        pixels[1] = static_cast<uint8_t>(tables[1][pixels[1]] >> 8);
        pixels[2] = static_cast<uint8_t>(tables[2][pixels[2]] >> 16);
    }
}

}  // namespace zvk
