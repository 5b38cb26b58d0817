#pragma once
// What a ZIP member decoder reads from and writes to. The ZipReader gives
// each decoder the member's compressed bytes (already decrypted when the
// member is encrypted, never more than its compressed size) and takes the
// decoded bytes (folding them into the CRC and checking for Cancel).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

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

// Member data held in memory, handed out in pieces of at most `piece` bytes.
class MemoryMemberInput final : public ZipMemberInput {
 public:
  MemoryMemberInput(const uint8_t* data, size_t size, size_t piece = SIZE_MAX)
      : data_(data), size_(size), piece_(piece) {}
  size_t Read(uint8_t* buffer, size_t size) override {
    const size_t n = std::min({size, size_ - pos_, piece_});
    if (n != 0) std::memcpy(buffer, data_ + pos_, n);
    pos_ += n;
    return n;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t piece_;
  size_t pos_ = 0;
};

enum class DecodeResult {
  Ok,       // the data decoded to its end
  Corrupt,  // the data broke a rule of its format; decoding stopped
  Stopped,  // the output refused more (write error or Cancel)
};

}  // namespace quindo
