// The dialog's logarithmic slider scale: positions 0..200, 100 positions to
// a factor of ten, position 100 at gamma 1.00. Portable arithmetic.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zvk {

constexpr int kSliderMin = 0;
constexpr int kSliderMax = 200;

// trunc(10^(p * 0.01) * 10), in hundredths.
int32_t PositionToGamma(int position);
// trunc(100 * log10(g * 0.1)), kept in the slider's range; 0 or below gives 0.
int PositionOfGamma(int32_t gamma);
// "%01.2f" of g * 0.01 into text (at least kGammaTextSize bytes).
constexpr size_t kGammaTextSize = 24;
void FormatGamma(int32_t gamma, char* text);

}  // namespace zvk
