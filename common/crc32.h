#pragma once
// CRC-32 as ZIP uses it: reflected polynomial 0xEDB88320, initial and final
// value inverted. Crc32Update continues a running value (start with 0).
#include <cstddef>
#include <cstdint>

namespace quindo {

uint32_t Crc32Update(uint32_t crc, const void* data, size_t size);

inline uint32_t Crc32(const void* data, size_t size) { return Crc32Update(0, data, size); }

}  // namespace quindo
