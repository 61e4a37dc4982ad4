#include "dialog/slider_scale.h"

#include <cmath>
#include <cstdio>

namespace zvk {

int32_t PositionToGamma(int position)
{
    return static_cast<int32_t>(std::pow(10.0, position * 0.01) * 10.0);
}

int PositionOfGamma(int32_t gamma)
{
    // log10 of 0 or a negative number has no position; the slider's left end
    // stands for them.
    if (gamma <= 0)
        return kSliderMin;
    const double position = std::trunc(100.0 * std::log10(gamma * 0.1));
    if (position < kSliderMin)
        return kSliderMin;
    if (position > kSliderMax)
        return kSliderMax;
    return static_cast<int>(position);
}

void FormatGamma(int32_t gamma, char* text)
{
    // The widest int32 gives "-21474836.48": 12 bytes, well inside the buffer.
    std::snprintf(text, kGammaTextSize, "%01.2f", gamma * 0.01);
}

}  // namespace zvk
