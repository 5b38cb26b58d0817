#pragma once
// Helpers of the LZH tests: an MSB-first bit writer for hand-made member
// data, a memory source and sink, and a writer of member headers.
#include <cstdint>
#include <string>
#include <vector>

#include "common/crc16.h"
#include "common/little_endian.h"
#include "lzh/decoder.h"

namespace quindo::test {

class BitWriter {
 public:
  BitWriter& Put(uint32_t value, unsigned bits) {
    for (unsigned i = bits; i-- > 0; ++count_) {
      if (count_ % 8 == 0) bytes_.push_back(0);
      if ((value >> i) & 1) bytes_.back() = static_cast<char>(bytes_.back() | (0x80 >> (count_ % 8)));
    }
    return *this;
  }
  const std::string& Bytes() const { return bytes_; }

 private:
  std::string bytes_;
  size_t count_ = 0;
};

struct MemorySource final : ByteStream {
  explicit MemorySource(std::string bytes) : data(std::move(bytes)) {}
  int64_t Read(uint8_t* buffer, size_t size) override {
    size_t n = data.copy(reinterpret_cast<char*>(buffer), size, pos);
    pos += n;
    return static_cast<int64_t>(n);
  }
  std::string data;
  size_t pos = 0;
};

struct StringSink final : ByteSink {
  bool Write(const uint8_t* data, size_t size) override {
    return bytes.append(reinterpret_cast<const char*>(data), size), true;
  }
  std::string bytes;
};

struct DecodeResult {
  DecodeStatus status;
  std::string output;
};

inline DecodeResult Decode(lzh::Method method, const std::string& data, uint32_t size,
                           const DecodeControl& control = {}) {
  MemorySource source(data);
  StringSink sink;
  auto status = lzh::DecodeMember(method, source, static_cast<uint32_t>(data.size()), sink, size, control);
  return {status, sink.bytes};
}

// One member header. Levels 0 and 1 keep the name in the base header;
// levels 2 and up put it in an extended header. `extended` are whole extended
// headers (type byte and data) appended in order.
struct MemberLayout {
  int level = 0;
  std::string name = "a.txt";
  std::string data{};  // the member's stored bytes
  std::string method = "-lh0-";
  uint8_t attribute = 0x20;
  std::vector<std::string> extended{};
  bool badDataCrc = false;
};

inline std::string ExtendedHeader(uint8_t type, const std::string& data) {
  return static_cast<char>(type) + data;
}

inline std::string MakeMember(const MemberLayout& s) {
  std::vector<std::string> ext = s.extended;
  if (s.level >= 2) ext.insert(ext.begin(), ExtendedHeader(0x01, s.name));
  std::string extBytes;
  for (size_t i = 0; i < ext.size(); ++i)
    AppendLe16(extBytes += ext[i], static_cast<uint16_t>(i + 1 < ext.size() ? ext[i + 1].size() + 2 : 0));

  std::string h(2, '\0');
  h += s.method;
  AppendLe32(h, static_cast<uint32_t>(s.data.size() + (s.level == 1 ? extBytes.size() : 0)));
  AppendLe32(h, static_cast<uint32_t>(s.data.size()));
  AppendLe32(h, 0);  // the time
  h += static_cast<char>(s.attribute);
  h += static_cast<char>(s.level);
  if (s.level < 2) h += static_cast<char>(s.name.size()) + s.name;
  AppendLe16(h, static_cast<uint16_t>(Crc16(s.data.data(), s.data.size()) ^ (s.badDataCrc ? 0x1234 : 0)));
  if (s.level > 0) {
    h += s.level == 1 ? 'M' : 'U';
    AppendLe16(h, static_cast<uint16_t>(ext.empty() ? 0 : ext[0].size() + 2));
  }
  auto* p = reinterpret_cast<uint8_t*>(h.data());
  if (s.level < 2) {
    h[0] = static_cast<char>(h.size() - 2);
    unsigned sum = 0;
    for (size_t i = 2; i < h.size(); ++i) sum += p[i];
    h[1] = static_cast<char>(sum);
    return h + extBytes + s.data;
  }
  h += extBytes;
  StoreLe16(reinterpret_cast<uint8_t*>(h.data()), static_cast<uint16_t>(h.size()));
  return h + s.data;
}

}  // namespace quindo::test
