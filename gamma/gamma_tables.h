// Gamma engine: the per-channel lookup tables and their builder.
// Portable code; may call only the C++ standard library.
#pragma once

#include <cstdint>

namespace zvk {

enum Channel { kRed = 0, kGreen = 1, kBlue = 2 };

// Change of one packed YUV word {Y0, U, Y1, V} caused by one channel's correction.
struct YuvDeltaEntry {
    int16_t dY0;
    int16_t dU;
    int16_t dY1;  // always equal to dY0
    int16_t dV;
};
static_assert(sizeof(YuvDeltaEntry) == 8, "a delta entry is four int16");

// One complete set of tables: red, green and blue blocks of 256 entries each.
struct alignas(64) TableSet {
    int32_t lut[768];
    YuvDeltaEntry yuvDelta[768];
};
static_assert(sizeof(TableSet) == 3072 + 6144, "tables are 3072 + 6144 bytes");

// Smallest gamma the dialog offers; also stands in for a gamma of 0 or below,
// which a settings file can hold but the power function cannot take.
constexpr int32_t kMinGamma = 10;
constexpr int32_t kMaxGamma = 1000;
constexpr int32_t kIdentityGamma = 100;

// Rewrites entries 256*channel .. 256*channel+255 of both tables from a gamma
// in hundredths. The other channels' entries are left alone.
void BuildChannel(TableSet& tables, int channel, int32_t gamma);

// The tables the frame path corrects with: allocated zeroed at Init, released
// at Close, rebuilt one channel at a time.
class GammaTables {
public:
    GammaTables() = default;
    ~GammaTables() { Release(); }
    GammaTables(const GammaTables&) = delete;
    GammaTables& operator=(const GammaTables&) = delete;

    bool Allocate();
    void Release();
    bool IsAllocated() const { return set_ != nullptr; }

    // Rebuilds one channel from a gamma in hundredths. Does nothing before
    // Allocate.
    void BuildChannel(int channel, int32_t gamma);

    // Holds one whole set of tables for the duration of one frame.
    class Reader {
    public:
        explicit Reader(const GammaTables& tables) : set_(tables.set_) {}
        Reader(const Reader&) = delete;
        Reader& operator=(const Reader&) = delete;
        const TableSet* get() const { return set_; }
        const TableSet* operator->() const { return set_; }

    private:
        const TableSet* set_;
    };

private:
    TableSet* set_ = nullptr;
};

}  // namespace zvk
