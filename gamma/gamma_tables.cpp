#include "gamma/gamma_tables.h"

#include <cmath>
#include <new>

namespace zvk {
namespace {

struct ColourWeights {
    double y, u, v;
};

// BT.601 luma weights and colour-difference rows, rounded to three decimals.
constexpr ColourWeights kWeights[3] = {
    {0.299, -0.169, 0.5},
    {0.587, -0.331, -0.419},
    {0.114, 0.5, -0.081},
};

}  // namespace

void BuildChannel(TableSet& tables, int channel, int32_t gamma)
{
    if (gamma <= 0)
        gamma = kMinGamma;
    const double exponent = 100.0 / gamma;
    const ColourWeights& w = kWeights[channel];
    int32_t* lut = tables.lut + 256 * channel;
    YuvDeltaEntry* delta = tables.yuvDelta + 256 * channel;

    // A double counter and a multiplication by the double nearest 1/255: the
    // stored tables depend on these exact roundings.
    int i = 0;
    for (double level = 0.0; level < 256.0; level += 1.0, ++i) {
        const double x = level * 0.00392156862745098;
        const double v = std::pow(x, exponent) * 255.0 + 0.5;
        lut[i] = static_cast<int32_t>(v);
        const double d = v - level;
        const auto dY = static_cast<int16_t>(static_cast<int32_t>(w.y * d));
        delta[i] = {dY,
                    static_cast<int16_t>(static_cast<int32_t>(w.u * d)),
                    dY,
                    static_cast<int16_t>(static_cast<int32_t>(w.v * d))};
    }
}

bool GammaTables::Allocate()
{
    Release();
    set_ = new (std::nothrow) TableSet{};
    return set_ != nullptr;
}

void GammaTables::Release()
{
    delete set_;
    set_ = nullptr;
}

void GammaTables::BuildChannel(int channel, int32_t gamma)
{
    if (set_)
        zvk::BuildChannel(*set_, channel, gamma);
}

}  // namespace zvk
