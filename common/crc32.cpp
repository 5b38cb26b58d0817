#include "common/crc32.h"

#include <zlib.h>

#include <climits>

namespace quindo {

uint32_t Crc32Update(uint32_t crc, const void* data, size_t size) {
  auto* p = static_cast<const Bytef*>(data);
  uLong value = crc;
  // zlib takes a uInt length; feed very large spans in pieces.
  while (size > 0) {
    uInt chunk = size > UINT_MAX ? UINT_MAX : static_cast<uInt>(size);
    value = crc32(value, p, chunk);
    p += chunk;
    size -= chunk;
  }
  return static_cast<uint32_t>(value);
}

}  // namespace quindo
