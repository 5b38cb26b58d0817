#include "lzh/data_crc.h"

#include <array>

#include "common/crc16.h"

namespace quindo::lzh {

namespace {

using Tables = std::array<std::array<uint16_t, 256>, 8>;

Tables MakeTables() {
  Tables t;
  t[0] = Crc16Table();
  for (int k = 1; k < 8; ++k)
    for (int i = 0; i < 256; ++i) t[k][i] = static_cast<uint16_t>((t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF]);
  return t;
}

}  // namespace

uint16_t DataCrcUpdate(uint16_t crc, const uint8_t* p, size_t size) {
  static const Tables t = MakeTables();
  while (size >= 8) {
    unsigned a = (crc ^ p[0]) & 0xFF, b = ((crc >> 8) ^ p[1]) & 0xFF;
    crc = static_cast<uint16_t>(t[7][a] ^ t[6][b] ^ t[5][p[2]] ^ t[4][p[3]] ^ t[3][p[4]] ^ t[2][p[5]] ^
                                t[1][p[6]] ^ t[0][p[7]]);
    p += 8;
    size -= 8;
  }
  while (size--) crc = static_cast<uint16_t>(t[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8));
  return crc;
}

}  // namespace quindo::lzh
