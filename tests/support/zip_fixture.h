#pragma once
// ZIP archives for the tests: built in memory, or taken apart again by their
// directory; test data; member input and output over strings for the
// decoders.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/extraction_job.h"
#include "common/crc32.h"
#include "common/little_endian.h"
#include "zip/legacy_methods.h"
#include "zip/traditional_cipher.h"
#include "zip/zip_reader.h"

namespace quindo::test {

inline constexpr uint16_t kDosTime = 0x6000;  // 12:00
inline constexpr uint16_t kDosDate = ((2006 - 1980) << 9) | (7 << 5) | 30;

inline std::span<const uint8_t> Bytes(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// Little-endian fields, each a {value, width in bytes} pair; bytes past the
// eighth are zero.
inline void Put(std::string& s, std::initializer_list<std::pair<uint64_t, int>> fields) {
  for (auto [v, bytes] : fields)
    for (int i = 0; i < bytes; ++i) s += static_cast<char>(i < 8 ? v >> (8 * i) : 0);
}

// Text like source code, which deflates well but not to nothing: words from
// a small vocabulary, numbers, lines.
inline std::string Text(size_t n, uint32_t seed = 0) {
  static const char* const words[] = {"the", "archive", "member", "window", "deflate", "static", "int", "return",
                                      "{",   "}",       "if",     "(",      ")",       "for",    "0x7fff", ";"};
  std::string s;
  while (s.size() < n) {
    seed = seed * 1103515245u + 12345u;
    s += words[(seed >> 8) % 16];
    s += (seed >> 20) % 9 == 0 ? "\n" : (seed >> 24) % 50 == 0 ? std::to_string(seed) : " ";
  }
  s.resize(n);
  return s;
}

// Bytes that do not compress, the same on every run.
inline std::string Noise(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 23);
  return s;
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

// Packs a stream least significant bit first, as DEFLATE and the PKZIP 1.x
// methods read it; Code puts a Huffman or Shannon-Fano code top bit first.
struct BitWriter {
  BitWriter& Put(uint32_t value, int n) {
    for (int i = 0; i < n; ++i, ++used) {
      if (used % 8 == 0) bytes.push_back(0);
      bytes.back() = static_cast<char>(bytes.back() | ((value >> i) & 1) << used % 8);
    }
    return *this;
  }
  BitWriter& Code(uint32_t code, int n) {
    for (int i = n - 1; i >= 0; --i) Put((code >> i) & 1, 1);
    return *this;
  }
  // A DEFLATE stored block.
  BitWriter& Stored(const std::string& data, bool final) {
    Put(final, 1).Put(0, 2);
    used = (used + 7) / 8 * 8;
    Put(static_cast<uint32_t>(data.size()), 16).Put(static_cast<uint32_t>(data.size()) ^ 0xFFFF, 16);
    bytes += data;
    used += 8 * data.size();
    return *this;
  }
  // A symbol of DEFLATE's fixed literal/length code.
  BitWriter& Fixed(int symbol) {
    if (symbol < 144) return Code(0x30 + symbol, 8);
    if (symbol < 256) return Code(0x190 + symbol - 144, 9);
    if (symbol < 280) return Code(symbol - 256, 7);
    return Code(0xC0 + symbol - 280, 8);
  }
  std::string bytes;
  size_t used = 0;
};

// --- archives built in memory -----------------------------------------------

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

// Local headers with their data (and descriptors) in `bytes`, where a test
// may add junk of its own. No central directory: the reader never reads one.
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
    bytes += "PK\x03\x04";
    Put(bytes, {{20, 2}, {flags, 2}, {m.method, 2}, {kDosTime, 2}, {kDosDate, 2}, {m.descriptor ? 0 : crc, 4},
                {streamed ? 0 : payload.size(), 4}, {streamed ? 0 : m.data.size(), 4}, {m.name.size(), 2},
                {m.extra.size(), 2}});
    bytes += m.name + m.extra + payload;
    if (m.descriptor && !m.unsignedDescriptor) Put(bytes, {{0x08074b50, 4}});
    if (m.descriptor) Put(bytes, {{crc, 4}, {payload.size(), 4}, {m.data.size(), 4}});
    return *this;
  }
  std::string bytes;
};

// The format an archive in memory is detected as.
inline int FormatOf(const std::string& archive) {
  quindo::MemorySource source(Bytes(archive));
  return DetectArchiveFormat(source);
}

// --- archives taken apart -----------------------------------------------------

// One member as the central directory lists it, with the extra field and
// data of its local header. The directory is found through the end record;
// its size gives its start, so a program in front of the archive does not
// matter.
struct DirectoryEntry {
  std::string name, extra, data;
  uint16_t flags = 0, method = 0, time = 0, date = 0;
  uint32_t crc = 0, compressedSize = 0, size = 0, external = 0, offset = 0;
};

inline std::vector<DirectoryEntry> Directory(const std::string& d) {
  auto u16 = [&](size_t at) { return at + 2 <= d.size() ? LoadLe16(Bytes(d).data() + at) : uint16_t{0}; };
  auto u32 = [&](size_t at) { return at + 4 <= d.size() ? LoadLe32(Bytes(d).data() + at) : uint32_t{0}; };
  auto cut = [&](size_t at, size_t n) { return d.substr(std::min(at, d.size()), n); };
  std::vector<DirectoryEntry> out;
  const size_t end = d.rfind(std::string("PK\x05\x06", 4));
  if (end == std::string::npos || end + 22 > d.size() || u32(end + 12) > end) return out;
  const size_t start = end - u32(end + 12), front = start - std::min<size_t>(start, u32(end + 16));
  for (size_t p = start; out.size() < u16(end + 10) && p + 46 <= end && d.compare(p, 4, "PK\x01\x02") == 0;) {
    out.push_back({d.substr(p + 46, u16(p + 28)), "", "", u16(p + 8), u16(p + 10), u16(p + 12), u16(p + 14),
                   u32(p + 16), u32(p + 20), u32(p + 24), u32(p + 38), u32(p + 42)});
    const size_t local = front + out.back().offset, extraAt = local + 30 + u16(local + 26);
    out.back().extra = cut(extraAt, u16(local + 28));
    out.back().data = cut(extraAt + u16(local + 28), out.back().compressedSize);
    p += 46 + u16(p + 28) + u16(p + 30) + u16(p + 32);
  }
  return out;
}

// --- member data over strings -------------------------------------------------

// Hands out the string in pieces of at most `piece` bytes.
class StringInput final : public ZipMemberInput {
 public:
  explicit StringInput(std::string data, size_t piece = SIZE_MAX) : data_(std::move(data)), piece_(piece) {}
  size_t Read(uint8_t* buffer, size_t size) override {
    size_t n = std::min({size, data_.size() - pos_, piece_});
    std::memcpy(buffer, data_.data() + pos_, n);
    pos_ += n;
    return n;
  }

 private:
  std::string data_;
  size_t piece_;
  size_t pos_ = 0;
};

// Collects the output; refuses the write after `acceptWrites` writes when
// that is not negative, and fails the test on a write after a refusal.
class StringOutput final : public ZipMemberOutput {
 public:
  explicit StringOutput(int acceptWrites = -1) : acceptWrites_(acceptWrites) {}
  bool Write(const uint8_t* data, size_t size) override {
    EXPECT_FALSE(refused) << "write after the output refused";
    EXPECT_GT(size, 0u);
    largestChunk = std::max(largestChunk, size);
    ++writes;
    if (acceptWrites_ >= 0 && writes > acceptWrites_) return !(refused = true);
    text.append(reinterpret_cast<const char*>(data), size);
    return true;
  }
  std::string text;
  bool refused = false;
  int writes = 0;
  size_t largestChunk = 0;

 private:
  int acceptWrites_;
};

// A legacy decoder's verdict and what it handed on.
struct Decoded {
  DecodeResult result{};
  std::string text;
  int writes = 0;
  size_t largestChunk = 0;
  std::pair<DecodeResult, std::string> out() const { return {result, text}; }
};

// Method 1 Shrink, 2 to 5 Reduce, 6 Implode with its general-purpose flags.
inline Decoded DecodeLegacy(int method, const std::string& data, uint32_t size, uint32_t packed = 0,
                            uint16_t flags = 0, int acceptWrites = -1) {
  StringInput in(data);
  StringOutput out(acceptWrites);
  Decoded d;
  d.result = method == 1   ? Unshrink(in, out, size, packed)
             : method <= 5 ? Unreduce(in, out, size, packed, method - 1)
                           : Explode(in, out, size, packed, flags);
  d.text = std::move(out.text), d.writes = out.writes, d.largestChunk = out.largestChunk;
  return d;
}

}  // namespace quindo::test
