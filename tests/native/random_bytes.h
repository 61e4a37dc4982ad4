// Repeatable random frame bytes for tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace zvk {

inline std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(size);
    for (uint8_t& b : bytes)
        b = static_cast<uint8_t>(random());
    return bytes;
}

}  // namespace zvk
