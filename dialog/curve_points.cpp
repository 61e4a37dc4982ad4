#include "dialog/curve_points.h"

#include "gamma/as_double.h"

namespace zvk {

double CurvePosition(int column, int width, int count)
{
    // At least as many columns as entries: the ends show the first and the
    // last entry exactly. Fewer: each column shows the middle of its run.
    double scale, span, offset;
    if (count <= width) {
        if (width < 2)
            return 0.0;
        scale = AsDouble(1.0 / (width - 1));
        span = count - 1;
        offset = 0.0;
    } else {
        scale = AsDouble(1.0 / width);
        span = count;
        offset = AsDouble(AsDouble(AsDouble(0.5 * count) / width) - 0.5);
    }
    return AsDouble(AsDouble(AsDouble(column * scale) * span) + offset);
}

void ResampleTable(const int32_t* table, int count, int width, int height, int sampling, int32_t maxValue,
                   int32_t* rows)
{
    for (int i = 0; i < width; ++i) {
        const double t = CurvePosition(i, width, count);
        const int k = static_cast<int>(t);
        const double f = AsDouble(t - k);
        // Every position lies in 0 .. count-1, so k + 1 is read only when
        // there is a fraction, that is below the last entry.
        double v = table[k];
        if (sampling == kSampleLinear && f != 0.0)
            v = AsDouble(table[k] + AsDouble((table[k + 1] - table[k]) * f));
        // A maximum of 0 or below has no scale; such a curve lies flat.
        if (maxValue <= 0) {
            rows[i] = 0;
            continue;
        }
        const double scaled = AsDouble(AsDouble(v * (height - 1)) / maxValue);
        rows[i] = static_cast<int32_t>(AsDouble(scaled + 0.5));
    }
}

}  // namespace zvk
