#pragma once
// Helpers of the LZH tests: an MSB-first bit writer for hand-made member
// data, memory sources and sinks, and a writer of member headers.
#include <cstdint>
#include <string>
#include <vector>

#include "common/crc16.h"
#include "common/little_endian.h"
#include "lzh/decoder.h"

namespace quindo::test {

class BitWriter {
 public:
  void Put(uint32_t value, unsigned bits) {
    for (unsigned i = bits; i-- > 0;) {
      acc_ = static_cast<uint8_t>((acc_ << 1) | ((value >> i) & 1));
      if (++fill_ == 8) {
        bytes_.push_back(static_cast<char>(acc_));
        acc_ = 0;
        fill_ = 0;
      }
    }
  }
  std::string Bytes() const {
    std::string out = bytes_;
    if (fill_) out.push_back(static_cast<char>(acc_ << (8 - fill_)));
    return out;
  }

 private:
  std::string bytes_;
  uint8_t acc_ = 0;
  unsigned fill_ = 0;
};

class MemorySource final : public lzh::ByteSource {
 public:
  explicit MemorySource(std::string data) : data_(std::move(data)) {}
  int64_t Read(uint8_t* buffer, size_t size) override {
    ++reads;
    size_t n = std::min(size, data_.size() - pos_);
    std::copy_n(data_.data() + pos_, n, buffer);
    pos_ += n;
    return static_cast<int64_t>(n);
  }
  int reads = 0;

 private:
  std::string data_;
  size_t pos_ = 0;
};

class StringSink final : public lzh::ByteSink {
 public:
  bool Write(const uint8_t* data, size_t size) override {
    bytes.append(reinterpret_cast<const char*>(data), size);
    return bytes.size() <= limit;
  }
  std::string bytes;
  size_t limit = SIZE_MAX;
};

struct DecodeResult {
  lzh::DecodeStatus status;
  std::string output;
};

inline DecodeResult Decode(lzh::Method method, const std::string& data, uint32_t size) {
  MemorySource source(data);
  StringSink sink;
  lzh::DecodeControl control;
  auto status = lzh::DecodeMember(method, source, static_cast<uint32_t>(data.size()), sink, size, control);
  return {status, sink.bytes};
}

// One member header. Levels 0 and 1 keep the name in the base header;
// level 2 puts it in an extended header. `extended` are whole extended
// headers (type byte and data) appended in order.
struct MemberLayout {
  int level = 0;
  std::string method = "-lh0-";
  std::string name = "a.txt";
  std::string data;          // the member's stored bytes
  uint32_t originalSize = 0;  // 0: data.size()
  uint32_t time = 0;
  uint8_t attribute = 0x20;
  bool badDataCrc = false;
  std::vector<std::string> extended;
  bool headerCrc = false;  // level 2: add a 0x00 header CRC
};

inline std::string ExtendedHeader(uint8_t type, const std::string& data) {
  return std::string(1, static_cast<char>(type)) + data;
}

inline std::string MakeMember(const MemberLayout& s) {
  uint32_t original = s.originalSize ? s.originalSize : static_cast<uint32_t>(s.data.size());
  uint16_t dataCrc = Crc16(s.data.data(), s.data.size());
  if (s.badDataCrc) dataCrc ^= 0x1234;
  std::vector<std::string> ext = s.extended;
  if (s.level == 2) ext.insert(ext.begin(), ExtendedHeader(0x01, s.name));
  if (s.headerCrc) ext.insert(ext.begin(), ExtendedHeader(0x00, std::string(2, '\0')));
  std::string extBytes;
  for (size_t i = 0; i < ext.size(); ++i) {
    extBytes += ext[i];
    AppendLe16(extBytes, static_cast<uint16_t>(i + 1 < ext.size() ? ext[i + 1].size() + 2 : 0));
  }
  uint16_t firstSize = static_cast<uint16_t>(ext.empty() ? 0 : ext[0].size() + 2);

  std::string h;
  if (s.level < 2) {
    h += std::string(2, '\0');
    h += s.method;
    AppendLe32(h, static_cast<uint32_t>(s.data.size() + (s.level == 1 ? extBytes.size() : 0)));
    AppendLe32(h, original);
    AppendLe32(h, s.time);
    h.push_back(static_cast<char>(s.attribute));
    h.push_back(static_cast<char>(s.level));
    h.push_back(static_cast<char>(s.name.size()));
    h += s.name;
    AppendLe16(h, dataCrc);
    if (s.level == 1) {
      h.push_back('M');
      AppendLe16(h, firstSize);
    }
    h[0] = static_cast<char>(h.size() - 2);
    unsigned sum = 0;
    for (size_t i = 2; i < h.size(); ++i) sum += static_cast<uint8_t>(h[i]);
    h[1] = static_cast<char>(sum & 0xFF);
    h += extBytes;
  } else {
    AppendLe16(h, 0);
    h += s.method;
    AppendLe32(h, static_cast<uint32_t>(s.data.size()));
    AppendLe32(h, original);
    AppendLe32(h, s.time);
    h.push_back(static_cast<char>(s.attribute));
    h.push_back(2);
    AppendLe16(h, dataCrc);
    h.push_back('U');
    AppendLe16(h, firstSize);
    h += extBytes;
    StoreLe16(reinterpret_cast<uint8_t*>(h.data()), static_cast<uint16_t>(h.size()));
    if (s.headerCrc) {
      // The first extended header is the CRC; its two bytes follow the type.
      uint16_t crc = Crc16(h.data(), h.size());
      StoreLe16(reinterpret_cast<uint8_t*>(h.data()) + 27, crc);
    }
  }
  return h + s.data;
}

}  // namespace quindo::test
