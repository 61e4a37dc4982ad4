// A whole table set built from three gammas, as the frame path builds it.
#pragma once

#include "gamma/gamma_tables.h"

namespace zvk {

inline TableSet Built(int32_t red, int32_t green, int32_t blue)
{
    TableSet set{};
    BuildChannel(set, kRed, red);
    BuildChannel(set, kGreen, green);
    BuildChannel(set, kBlue, blue);
    return set;
}

}  // namespace zvk
