#pragma once
// Least-significant-bit-first bit reader over a ZIP member's data, as the
// PKZIP 1.x methods pack their codes. Bytes come from the member input in
// chunks; past the end of the data the reader yields zero bits and notes that
// a read asked for bits the data did not hold.
#include <cstddef>
#include <cstdint>

#include "zip/zip_member_io.h"

namespace quindo {

class LsbBitReader {
 public:
  explicit LsbBitReader(ZipMemberInput& in) : in_(in) {}
  LsbBitReader(const LsbBitReader&) = delete;
  LsbBitReader& operator=(const LsbBitReader&) = delete;

  // The next n bits (n from 0 to 24), the first bit of the data in bit 0.
  uint32_t ReadBits(int n) {
    if (count_ < n) Refill();
    uint32_t value = static_cast<uint32_t>(bits_ & ((uint64_t{1} << n) - 1));
    Consume(n);
    return value;
  }

  // The next n bits (n from 0 to 24) without taking them; zero bits past the
  // end of the data.
  uint32_t PeekBits(int n) {
    if (count_ < n) Refill();
    return static_cast<uint32_t>(bits_ & ((uint64_t{1} << n) - 1));
  }

  // Takes n bits (after a PeekBits of at least n).
  void Consume(int n) {
    if (n > count_) {
      exhausted_ = true;
      bits_ = 0;
      count_ = 0;
      return;
    }
    bits_ >>= n;
    count_ -= n;
  }

  // True once a read asked for bits beyond the end of the data.
  bool exhausted() const { return exhausted_; }

 private:
  void Refill() {
    while (count_ <= 56) {
      if (pos_ == len_) {
        if (end_) return;
        len_ = in_.Read(chunk_, sizeof chunk_);
        pos_ = 0;
        if (len_ == 0) {
          end_ = true;
          return;
        }
      }
      bits_ |= static_cast<uint64_t>(chunk_[pos_++]) << count_;
      count_ += 8;
    }
  }

  ZipMemberInput& in_;
  uint64_t bits_ = 0;
  int count_ = 0;
  bool end_ = false;
  bool exhausted_ = false;
  size_t pos_ = 0;
  size_t len_ = 0;
  uint8_t chunk_[8192];
};

}  // namespace quindo
