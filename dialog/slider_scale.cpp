#include "dialog/slider_scale.h"

#include <cmath>
#include <cstdio>

#include "gamma/as_double.h"

namespace zvk {

int32_t PositionToGamma(int position)
{
    return static_cast<int32_t>(AsDouble(AsDouble(std::pow(10.0, AsDouble(position * 0.01))) * 10.0));
}

int PositionOfGamma(int32_t gamma)
{
    // log10 of 0 or a negative number has no position; the slider's left end
    // stands for them.
    if (gamma <= 0)
        return kSliderMin;
    const double position = std::trunc(AsDouble(100.0 * AsDouble(std::log10(AsDouble(gamma * 0.1)))));
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
