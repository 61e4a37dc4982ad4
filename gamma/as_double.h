// The 32-bit build's rounding rule for double arithmetic. Portable; calls
// nothing.
#pragma once

namespace zvk {

// The 32-bit build computes on the x87 unit, which keeps intermediates in
// 80-bit extended precision: log10(10) comes out a hair below 1 and a
// truncation drops a whole slider position, a curve point on a half row
// lands a row off, a frame at the slicing threshold is cut otherwise. A
// value stored through memory is rounded to a double, so arithmetic that
// passes each step through AsDouble gives the 64-bit build's results.
inline double AsDouble(double value)
{
    volatile double stored = value;
    return stored;
}

}  // namespace zvk
