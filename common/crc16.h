#pragma once
// CRC-16/ARC (reflected polynomial 0xA001, initial value 0), the check value
// of LZH headers and member data.
#include <array>
#include <cstddef>
#include <cstdint>

namespace quindo {

const std::array<uint16_t, 256>& Crc16Table();

inline uint16_t Crc16Update(uint16_t crc, const void* data, size_t size) {
  const auto& table = Crc16Table();
  auto* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < size; ++i) crc = static_cast<uint16_t>(table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8));
  return crc;
}

inline uint16_t Crc16(const void* data, size_t size) { return Crc16Update(0, data, size); }

}  // namespace quindo
