#pragma once
// Builds small ZIP archives in memory for the reader and job tests and reads
// back the directory of any archive; the legacy decoders over a string.
#include <zlib.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "common/crc32.h"
#include "common/little_endian.h"
#include "zip/legacy_methods.h"
#include "zip/traditional_cipher.h"
#include "app/extraction_job.h"
#include "zip/zip_reader.h"

namespace quindo::test {

inline constexpr uint16_t kDosTime = 0x6000;  // 12:00
inline constexpr uint16_t kDosDate = ((2006 - 1980) << 9) | (7 << 5) | 30;

struct MemberLayout {
  std::string name, data;
  uint16_t method = 8;      // 0 stored, 8 deflated; any other needs `raw`
  std::string password;     // encrypted when not empty
  bool descriptor = false;  // CRC and sizes after the data, no CRC in the header
  bool zeroSizes = false;   // with a descriptor: no sizes in the header either (streamed)
  bool unsignedDescriptor = false;  // the descriptor without its signature
  uint16_t extraFlags = 0;
  bool badCrc = false;      // the stored CRC does not match the data
  size_t truncateData = 0;  // bytes cut off the end of the member's data
  std::string raw;          // when not empty: the coded data, stored as it is
  std::string extra;        // the extra field, in the local and central headers
};

inline MemberLayout Member(std::string name, std::string data, uint16_t method = 8, std::string password = "") {
  MemberLayout m;
  m.name = std::move(name), m.data = std::move(data), m.method = method, m.password = std::move(password);
  return m;
}

// Little-endian fields, each a {value, width in bytes} pair; bytes past the
// eighth are zero.
inline void Put(std::string& s, std::initializer_list<std::pair<uint64_t, int>> fields) {
  for (auto [v, bytes] : fields)
    for (int i = 0; i < bytes; ++i) s += static_cast<char>(i < 8 ? v >> (8 * i) : 0);
}

// Lines of text that deflate well but not to nothing.
inline std::string Text(size_t n) {
  std::string s;
  for (size_t i = 0; s.size() < n; ++i) s += "line " + std::to_string(i * 7919 % 1000) + "\n";
  return s.substr(0, n);
}

inline std::span<const uint8_t> Bytes(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

inline std::string RawDeflate(const std::string& data) {
  uLongf size = compressBound(data.size());
  std::string out(size, '\0');
  compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()), data.size(), 6);
  return out.substr(2, size - 6);  // without the zlib header and its Adler-32
}

// Raw inflate of a stream that must give exactly `size` bytes, end with its
// final block and leave nothing over; nullopt otherwise.
template <class Stream>
std::optional<std::string> RawInflate(const Stream& stream, size_t size) {
  std::string out(size + 1, '\0');
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return std::nullopt;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<typename Stream::value_type*>(stream.data()));
  z.avail_in = static_cast<uInt>(stream.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int rc = inflate(&z, Z_FINISH);
  inflateEnd(&z);
  out.resize(out.size() - z.avail_out);
  if (rc != Z_STREAM_END || z.avail_in != 0 || out.size() != size) return std::nullopt;
  return out;
}

// One central header, of a directory found through the end record (its size
// gives the start, so a program in front of the archive does not matter).
struct DirectoryEntry {
  std::string name;
  uint16_t flags = 0, method = 0, time = 0, date = 0;
  uint32_t crc = 0, compressedSize = 0, size = 0, external = 0, offset = 0;
};

inline std::vector<DirectoryEntry> Directory(const std::string& d) {
  auto u16 = [&](size_t at) { return LoadLe16(reinterpret_cast<const uint8_t*>(d.data()) + at); };
  auto u32 = [&](size_t at) { return LoadLe32(reinterpret_cast<const uint8_t*>(d.data()) + at); };
  std::vector<DirectoryEntry> out;
  const size_t end = d.rfind(std::string("PK\x05\x06", 4));
  if (end == std::string::npos || end + 22 > d.size() || u32(end + 12) > end) return out;
  for (size_t p = end - u32(end + 12); out.size() < u16(end + 10) && p + 46 <= end && d.compare(p, 4, "PK\x01\x02") == 0;) {
    out.push_back({d.substr(p + 46, u16(p + 28)), u16(p + 8), u16(p + 10), u16(p + 12), u16(p + 14), u32(p + 16),
                   u32(p + 20), u32(p + 24), u32(p + 38), u32(p + 42)});
    p += 46 + u16(p + 28) + u16(p + 30) + u16(p + 32);
  }
  return out;
}

// Local headers with their data (and descriptors) in `bytes`, where a test
// may add junk of its own; Finish()
// appends a central directory that the reader never reads, as real
// archives have one.
class ZipBuilder {
 public:
  ZipBuilder& Add(const MemberLayout& m) {
    const uint32_t crc = Crc32(m.data.data(), m.data.size()) ^ (m.badCrc ? 0xFFu : 0u);
    std::string payload = !m.raw.empty() ? m.raw : m.method == 8 ? RawDeflate(m.data) : m.data;
    uint16_t flags = m.extraFlags | (m.descriptor ? 8 : 0);
    if (!m.password.empty()) {
      flags |= 1;
      // The check bytes: the DOS time with a descriptor, else the CRC's top byte.
      std::string head = "0123456789";
      Put(head, {{m.descriptor ? kDosTime : (crc >> 24) << 8, 2}});
      payload = head + payload;
      ZipCipher cipher;
      cipher.Reset(m.password);
      EncryptBytes(cipher, reinterpret_cast<uint8_t*>(payload.data()), payload.size());
    }
    payload.resize(payload.size() - std::min(m.truncateData, payload.size()));
    const bool streamed = m.descriptor && m.zeroSizes;
    central_ += std::string("PK\x01\x02\x14\0", 6) + Header(m, flags, crc, payload.size(), m.data.size());
    Put(central_, {{0, 10}, {bytes.size(), 4}});
    central_ += m.name + m.extra;
    bytes += "PK\x03\x04" + Header(m, flags, m.descriptor ? 0 : crc, streamed ? 0 : payload.size(),
                                   streamed ? 0 : m.data.size());
    bytes += m.name + m.extra + payload;
    if (m.descriptor && !m.unsignedDescriptor) Put(bytes, {{0x08074b50, 4}});
    if (m.descriptor) Put(bytes, {{crc, 4}, {payload.size(), 4}, {m.data.size(), 4}});
    ++count_;
    return *this;
  }
  std::string Finish() const {
    std::string out = bytes + central_ + "PK\x05\x06";
    // Entries on this disk and in all, the directory's size and offset.
    Put(out, {{0, 4}, {count_ * 0x10001u, 4}, {central_.size(), 4}, {bytes.size(), 4}, {0, 2}});
    return out;
  }

  std::string bytes;

 private:
  static std::string Header(const MemberLayout& m, uint16_t flags, uint32_t crc, size_t packed, size_t size) {
    std::string h;
    Put(h, {{20, 2}, {flags, 2}, {m.method, 2}, {kDosTime, 2}, {kDosDate, 2}, {crc, 4}, {packed, 4}, {size, 4},
            {m.name.size(), 2}, {m.extra.size(), 2}});
    return h;
  }
  std::string central_;
  uint32_t count_ = 0;
};

// The format an archive in memory is detected as.
inline int FormatOf(const std::string& archive) {
  quindo::MemorySource source(Bytes(archive));
  return DetectArchiveFormat(source);
}

// Member data for the decoders, read from a string.
class StringInput final : public ZipMemberInput {
 public:
  explicit StringInput(std::string bytes) : bytes_(std::move(bytes)) {}
  size_t Read(uint8_t* buffer, size_t size) override {
    size_t n = std::min(size, bytes_.size() - pos_);
    std::copy_n(bytes_.data() + pos_, n, reinterpret_cast<char*>(buffer));
    pos_ += n;
    return n;
  }

 private:
  std::string bytes_;
  size_t pos_ = 0;
};

// A legacy decoder's verdict and what it handed on; refuses writes once
// `acceptWrites` were taken.
class Decoded final : public ZipMemberOutput {
 public:
  bool Write(const uint8_t* data, size_t size) override {
    largestChunk = std::max(largestChunk, size);
    if (++writes > acceptWrites && acceptWrites >= 0) return false;
    text.append(reinterpret_cast<const char*>(data), size);
    return true;
  }
  std::pair<DecodeResult, std::string> out() const { return {result, text}; }
  DecodeResult result{};
  std::string text;
  int writes = 0, acceptWrites = -1;  // -1: every write
  size_t largestChunk = 0;
};

// Method 1 Shrink, 2 to 5 Reduce, 6 Implode with its general-purpose flags.
inline Decoded DecodeLegacy(int method, const std::string& data, uint32_t size, uint32_t packed = 0,
                            uint16_t flags = 0, int acceptWrites = -1) {
  StringInput in(data);
  Decoded out;
  out.acceptWrites = acceptWrites;
  out.result = method == 1   ? Unshrink(in, out, size, packed)
               : method <= 5 ? Unreduce(in, out, size, packed, method - 1)
                             : Explode(in, out, size, packed, flags);
  return out;
}

}  // namespace quindo::test
