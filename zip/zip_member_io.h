#pragma once
// What a ZIP member decoder reads from and writes to. The ZipReader gives
// each decoder the member's compressed bytes (already decrypted when the
// member is encrypted, never more than its compressed size) and takes the
// decoded bytes (folding them into the CRC and checking for Cancel).
#include <cstddef>
#include <cstdint>

namespace quindo {

class ZipMemberInput {
 public:
  virtual ~ZipMemberInput() = default;
  // Up to `size` bytes of the member's data; 0 at its end or on a read error.
  // Each call also publishes the archive's progress.
  virtual size_t Read(uint8_t* buffer, size_t size) = 0;
};

class ZipMemberOutput {
 public:
  virtual ~ZipMemberOutput() = default;
  // False when the bytes could not be written or Cancel was pressed: the
  // decoder stops at once.
  virtual bool Write(const uint8_t* data, size_t size) = 0;
};

enum class DecodeResult {
  Ok,       // the data decoded to its end
  Corrupt,  // the data broke a rule of its format; decoding stopped
  Stopped,  // the output refused more (write error or Cancel)
};

}  // namespace quindo
