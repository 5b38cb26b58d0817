#pragma once
// Inflating a whole member held in memory, and CRC-32, through libdeflate
// where the build has it (Linux): it is about twice as fast as zlib's
// streaming inflate. Without it (the Windows build) nothing here is
// available and the caller stays with zlib.
#include <cstddef>
#include <cstdint>

namespace quindo {

class WholeInflater {
 public:
  WholeInflater();
  ~WholeInflater();
  WholeInflater(const WholeInflater&) = delete;
  WholeInflater& operator=(const WholeInflater&) = delete;

  // False when this build has no whole-buffer inflater.
  static bool Available();
  // Inflates the raw DEFLATE stream in `in` into exactly `outSize` bytes of
  // `out`. False when the stream is not well formed, ends early, or does
  // not make exactly `outSize` bytes: the caller then decodes it again the
  // streaming way, which tells those cases apart.
  bool Inflate(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize);

 private:
  void* state_ = nullptr;
};

// CRC-32 (the ZIP one), continued from `crc`: libdeflate's where there is
// one, zlib's otherwise.
uint32_t FastCrc32(uint32_t crc, const uint8_t* data, size_t size);

}  // namespace quindo
