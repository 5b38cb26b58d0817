#include "common/crc16.h"

namespace quindo {

const std::array<uint16_t, 256>& Crc16Table() {
  static const std::array<uint16_t, 256> table = [] {
    std::array<uint16_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i) {
      unsigned r = i;
      for (int k = 0; k < 8; ++k) r = (r & 1) ? (r >> 1) ^ 0xA001u : r >> 1;
      t[i] = static_cast<uint16_t>(r);
    }
    return t;
  }();
  return table;
}

}  // namespace quindo
