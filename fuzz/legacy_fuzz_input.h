#pragma once
// Shared by the fuzz targets of the PKZIP 1.x decoders. An input that starts
// with a local header (the seeds are real archives) gives the first member of
// the wanted methods with its header's size and flags; any other input is
// three bytes of parameters (declared size in units of 61 bytes, flags or
// factor, and after how many writes the output refuses) and the data. The
// checks: a decoder never writes more than the declared size, says Ok only
// when it wrote all of it, and writes nothing once the output refused.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/little_endian.h"
#include "zip/zip_member_io.h"

namespace quindo::fuzz {

constexpr uint32_t kSizeCap = 1 << 20;

struct LegacyCase {
  const uint8_t* data = nullptr;
  size_t size = 0;
  uint32_t uncompressedSize = 0;
  uint16_t method = 0;
  uint16_t flags = 0;
  int acceptWrites = -1;
};

// methodLow..methodHigh: the methods the target decodes.
inline bool PickCase(const uint8_t* data, size_t size, int methodLow, int methodHigh, LegacyCase& c) {
  if (size >= 30 && std::memcmp(data, "PK\x03\x04", 4) == 0) {
    for (size_t at = 0; at + 30 <= size; ++at) {
      const uint8_t* p = data + at;
      if (std::memcmp(p, "PK\x03\x04", 4) != 0) continue;
      uint16_t method = LoadLe16(p + 8);
      if (method < methodLow || method > methodHigh) continue;
      size_t start = at + 30 + LoadLe16(p + 26) + LoadLe16(p + 28);
      if (start > size) return false;
      c.method = method;
      c.flags = LoadLe16(p + 6);
      c.uncompressedSize = std::min(LoadLe32(p + 22), kSizeCap);
      c.data = data + start;
      c.size = std::min<size_t>(LoadLe32(p + 18), size - start);
      return true;
    }
    return false;
  }
  if (size < 3) return false;
  c.uncompressedSize = static_cast<uint32_t>(data[0]) * 61 + 1;
  c.method = static_cast<uint16_t>(methodLow + data[1] % (methodHigh - methodLow + 1));
  c.flags = data[1];
  c.acceptWrites = data[2] < 200 ? -1 : data[2] - 200;
  c.data = data + 3;
  c.size = size - 3;
  return true;
}

class FuzzInput final : public ZipMemberInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  size_t Read(uint8_t* buffer, size_t size) override {
    // Odd-sized answers, so that refills land anywhere.
    size_t n = std::min({size, size_ - pos_, size_t{777}});
    if (n != 0) std::memcpy(buffer, data_ + pos_, n);
    pos_ += n;
    return n;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

class FuzzOutput final : public ZipMemberOutput {
 public:
  explicit FuzzOutput(int acceptWrites) : acceptWrites_(acceptWrites) {}
  bool Write(const uint8_t* data, size_t size) override {
    if (refused_ || size == 0 || size > 16384) std::abort();
    uint32_t sum = sum_;  // touches every byte
    for (size_t i = 0; i < size; ++i) sum += data[i];
    sum_ = sum;
    total += size;
    if (acceptWrites_ >= 0 && writes_++ >= acceptWrites_) refused_ = true;
    return !refused_;
  }
  uint64_t total = 0;
  bool refused() const { return refused_; }

 private:
  int acceptWrites_;
  int writes_ = 0;
  bool refused_ = false;
  volatile uint32_t sum_ = 0;
};

inline void CheckResult(DecodeResult result, const LegacyCase& c, const FuzzOutput& out) {
  if (out.total > c.uncompressedSize) std::abort();
  if (result == DecodeResult::Ok && out.total != c.uncompressedSize) std::abort();
  if ((result == DecodeResult::Stopped) != out.refused()) std::abort();
}

}  // namespace quindo::fuzz
