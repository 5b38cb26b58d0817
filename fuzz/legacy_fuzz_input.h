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

#include "zip/zip_format.h"
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

// Whether the input is a seed archive: it starts with a local header.
inline bool IsSeedArchive(const uint8_t* data, size_t size) {
  return size >= zip::kLocalHeaderSize && zip::IsLocalHeaderStart(data);
}

// The first member of a seed archive with a method in methodLow..methodHigh;
// false when there is none, or its data starts past the end.
inline bool FirstMember(const uint8_t* data, size_t size, int methodLow, int methodHigh, LegacyCase& c) {
  for (size_t at = 0; at + zip::kLocalHeaderSize <= size; ++at) {
    const uint8_t* p = data + at;
    if (!zip::IsLocalHeaderStart(p)) continue;
    const zip::LocalHeaderFields h = zip::ReadLocalHeader(p);
    if (h.method < methodLow || h.method > methodHigh) continue;
    const size_t start = at + h.dataOffset;
    if (start > size) return false;
    c.method = h.method;
    c.flags = h.flags;
    c.uncompressedSize = std::min(h.uncompressedSize, kSizeCap);
    c.data = data + start;
    c.size = std::min<size_t>(h.compressedSize, size - start);
    return true;
  }
  return false;
}

// methodLow..methodHigh: the methods the target decodes.
inline bool PickCase(const uint8_t* data, size_t size, int methodLow, int methodHigh, LegacyCase& c) {
  if (IsSeedArchive(data, size)) return FirstMember(data, size, methodLow, methodHigh, c);
  if (size < 3) return false;
  c.uncompressedSize = static_cast<uint32_t>(data[0]) * 61 + 1;
  c.method = static_cast<uint16_t>(methodLow + data[1] % (methodHigh - methodLow + 1));
  c.flags = data[1];
  c.acceptWrites = data[2] < 200 ? -1 : data[2] - 200;
  c.data = data + 3;
  c.size = size - 3;
  return true;
}

// The decoders' input answers in odd-sized pieces, so that refills land
// anywhere.
inline constexpr size_t kReadPiece = 777;

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
