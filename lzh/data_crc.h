#pragma once
// CRC-16/ARC of member data, eight bytes per step: the same value as
// Crc16Update, fast enough to keep up with the decoders.
#include <cstddef>
#include <cstdint>

namespace quindo::lzh {

uint16_t DataCrcUpdate(uint16_t crc, const uint8_t* data, size_t size);

}  // namespace quindo::lzh
