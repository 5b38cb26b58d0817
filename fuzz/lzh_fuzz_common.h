#pragma once
// Shared by the LZH fuzz targets: the input is a 3-byte output size (capped
// at 1 MiB) followed by member data, decoded with one method into a sink
// that only counts.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "lzh/decoder.h"

namespace quindo::fuzz {

class SpanSource final : public ByteStream {
 public:
  SpanSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  int64_t Read(uint8_t* buffer, size_t size) override {
    size_t n = std::min(size, size_ - pos_);
    if (n) std::memcpy(buffer, data_ + pos_, n);
    pos_ += n;
    return static_cast<int64_t>(n);
  }

 private:
  const uint8_t* data_;
  size_t size_, pos_ = 0;
};

class CountingSink final : public ByteSink {
 public:
  bool Write(const uint8_t*, size_t size) override {
    written += size;
    return true;
  }
  uint64_t written = 0;
};

inline void DecodeInput(lzh::Method method, const uint8_t* data, size_t size) {
  if (size < 3) return;
  uint32_t target = (data[0] | (data[1] << 8) | (uint32_t{data[2]} << 16)) & 0xFFFFF;
  SpanSource source(data + 3, size - 3);
  CountingSink sink;
  DecodeControl control;
  lzh::DecodeMember(method, source, static_cast<uint32_t>(size - 3), sink, target, control);
  if (method != lzh::Method::Stored && sink.written > target) std::abort();
}

}  // namespace quindo::fuzz
