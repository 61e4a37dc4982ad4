// A small PNG writer for the host's pictures: 8-bit RGB, no filtering,
// stored (uncompressed) deflate blocks. Portable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zvkhost {

// rgb holds width x height pixels, rows top to bottom, three bytes R G B each.
std::vector<uint8_t> EncodePng(int width, int height, const std::vector<uint8_t>& rgb);
bool WritePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb);

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0);

}  // namespace zvkhost
