#include "zip/fast_inflate.h"

#ifdef QUINDO_HAVE_LIBDEFLATE
#include <libdeflate.h>
#else
#include <zlib.h>
#endif

namespace quindo {

#ifdef QUINDO_HAVE_LIBDEFLATE

WholeInflater::WholeInflater() = default;

WholeInflater::~WholeInflater() {
  if (state_) libdeflate_free_decompressor(static_cast<libdeflate_decompressor*>(state_));
}

bool WholeInflater::Available() { return true; }

bool WholeInflater::Inflate(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize) {
  if (!state_) state_ = libdeflate_alloc_decompressor();
  if (!state_) return false;
  // Without the actual sizes asked for, libdeflate succeeds only when the
  // stream ends exactly where the output is full.
  return libdeflate_deflate_decompress(static_cast<libdeflate_decompressor*>(state_), in, inSize, out, outSize,
                                       nullptr) == LIBDEFLATE_SUCCESS;
}

uint32_t FastCrc32(uint32_t crc, const uint8_t* data, size_t size) {
  return size ? libdeflate_crc32(crc, data, size) : crc;
}

#else

WholeInflater::WholeInflater() = default;
WholeInflater::~WholeInflater() = default;
bool WholeInflater::Available() { return false; }
bool WholeInflater::Inflate(const uint8_t*, size_t, uint8_t*, size_t) { return false; }

uint32_t FastCrc32(uint32_t crc, const uint8_t* data, size_t size) {
  return static_cast<uint32_t>(crc32_z(crc, data, size));
}

#endif

}  // namespace quindo
