#include "lzh/lzh_header.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "common/crc16.h"
#include "common/little_endian.h"
#include "lzh/lzh_format.h"

namespace quindo::lzh {

namespace {

// Header bytes read from a stream as the parse asks for them. A pointer
// handed out stays valid until the next Take.
class StreamInput {
 public:
  explicit StreamInput(ByteStream& source) : source_(source) {}
  const uint8_t* Take(size_t size) {
    buffer_.resize(size);
    size_t done = 0;
    while (done < size) {
      int64_t got = source_.Read(buffer_.data() + done, size - done);
      if (got <= 0) return nullptr;
      done += static_cast<size_t>(got);
    }
    return buffer_.data();
  }

 private:
  ByteStream& source_;
  std::vector<uint8_t> buffer_;
};

// Header bytes in memory; `ranPast` tells a short read from a bad header.
class SpanInput {
 public:
  explicit SpanInput(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  const uint8_t* Take(size_t size) {
    if (size > bytes_.size() - pos_) {
      ranPast = true;
      return nullptr;
    }
    const uint8_t* p = bytes_.data() + pos_;
    pos_ += size;
    return p;
  }
  bool ranPast = false;

 private:
  std::span<const uint8_t> bytes_;
  size_t pos_ = 0;
};

// A name part: up to its first NUL, at most `limit` bytes.
std::string Cut(const uint8_t* p, size_t size, size_t limit) {
  if (const void* nul = std::memchr(p, 0, size)) size = static_cast<size_t>(static_cast<const uint8_t*>(nul) - p);
  return std::string(reinterpret_cast<const char*>(p), size < limit ? size : limit);
}

template <class Input>
bool Parse(Input& input, LzhHeader& h) {
  h = LzhHeader{};
  uint8_t base[256];
  const uint8_t* p = input.Take(21);
  if (!p) return false;
  std::memcpy(base, p, 21);
  uint16_t crc = Crc16(base, 21);
  unsigned sum = 0;
  for (int i = 2; i < 21; ++i) sum += base[i];

  h.level = base[20];
  if (h.level > 2) return false;
  unsigned length = h.level == 2 ? 26 : (base[0] + 2u) & 0xFF;
  if (length < 21 || base[0] == 0) return false;
  if (base[2] != '-' || base[3] != 'l') return false;
  h.methodId.assign(reinterpret_cast<const char*>(base + 2), 5);
  h.compressedSize = LoadLe32(base + 7);
  h.uncompressedSize = LoadLe32(base + 11);
  h.timeStamp = LoadLe32(base + 15);
  h.attribute = base[19];

  if (length > 21) {
    if (!(p = input.Take(length - 21))) return false;
    std::memcpy(base + 21, p, length - 21);
  }
  crc = Crc16Update(crc, base + 21, length - 21);
  for (unsigned i = 21; i < length; ++i) sum += base[i];

  std::string name, directory;
  if (h.level < 2) {
    if (length < 24) return false;  // no room for the name length and data CRC
    unsigned n = base[21];
    if ((sum & 0xFF) != base[1] || length < n + 24) return false;
    name = Cut(base + 22, n, kMaxNamePart);
    h.dataCrc = LoadLe16(base + 22 + n);
  } else {
    h.dataCrc = LoadLe16(base + 21);
  }
  uint32_t parsed = length;

  bool haveHeaderCrc = false;
  uint16_t expectedCrc = 0;
  if (h.level >= 1) {
    unsigned size = LoadLe16(base + length - 2);
    while (size > 2) {
      if (size > kMaxHeaderLength - parsed) return false;
      const uint8_t* ext = input.Take(size);
      if (!ext) return false;
      parsed += size;
      if (h.level == 1) {
        // The base header's compressed size counts the extended headers.
        if (size > h.compressedSize) return false;
        h.compressedSize -= size;
      }
      const uint8_t* data = ext + 1;
      size_t dataSize = size - 3;
      bool crcField = false;
      switch (ext[0]) {
        case 0x00:
          if (!haveHeaderCrc && size >= 5) {
            haveHeaderCrc = crcField = true;
            expectedCrc = LoadLe16(data);
          }
          break;
        case 0x01:
          name = Cut(data, dataSize, kMaxNamePart);
          break;
        case 0x02:
          directory = std::string(reinterpret_cast<const char*>(data), dataSize < kMaxNamePart ? dataSize : kMaxNamePart);
          break;
        case 0x40:
          if (size >= 5) h.attribute = LoadLe16(data);
          break;
        default:
          break;
      }
      if (crcField) {
        // The header's own CRC field counts as zero.
        static constexpr uint8_t kZero[2] = {};
        crc = Crc16Update(crc, ext, 1);
        crc = Crc16Update(crc, kZero, 2);
        crc = Crc16Update(crc, ext + 3, size - 3);
      } else {
        crc = Crc16Update(crc, ext, size);
      }
      size = LoadLe16(ext + size - 2);
    }
  }
  // A level-2 header states its whole length, which may include padding
  // after the last extended header; the header CRC-16 covers it too.
  if (h.level == 2) {
    uint32_t total = LoadLe16(base);
    if (total > parsed) {
      const uint8_t* padding = input.Take(total - parsed);
      if (!padding) return false;
      crc = Crc16Update(crc, padding, total - parsed);
      parsed = total;
    }
  }
  if (haveHeaderCrc && crc != expectedCrc) return false;
  h.headerLength = parsed;

  h.path = directory + name;
  for (char& c : h.path)
    if (static_cast<uint8_t>(c) == 0xFF) c = '\\';
  if (h.path.size() > kMaxPath) h.path.resize(kMaxPath);
  return true;
}

// CRC-16 of any range of the bytes from running values at each position:
// the CRC has no start or end value, so the CRC of bytes a..b is the running
// value at b with the value at a carried over b - a zero bytes taken out.
class RangeCrc {
 public:
  explicit RangeCrc(std::span<const uint8_t> bytes) : bytes_(bytes), running_(1, 0) {
    // Carrying a value over 2^k zero bytes is linear in its 16 bits; each
    // step is kept as the images of the single bits.
    const auto& table = Crc16Table();
    for (unsigned bit = 0; bit < 16; ++bit) {
      uint16_t c = static_cast<uint16_t>(1u << bit);
      steps_[0][bit] = static_cast<uint16_t>(table[c & 0xFF] ^ (c >> 8));
    }
    for (unsigned k = 1; k < kSteps; ++k)
      for (unsigned bit = 0; bit < 16; ++bit) steps_[k][bit] = Apply(k - 1, steps_[k - 1][bit]);
  }

  uint16_t Of(size_t from, size_t to) {
    Extend(to);
    return static_cast<uint16_t>(running_[to] ^ OverZeros(running_[from], to - from));
  }
  // What `crc` becomes over `count` zero bytes (count below 2^kSteps).
  uint16_t OverZeros(uint16_t crc, size_t count) const {
    for (unsigned k = 0; k < kSteps && crc; ++k)
      if (count >> k & 1) crc = Apply(k, crc);
    return crc;
  }

 private:
  static constexpr unsigned kSteps = 18;
  uint16_t Apply(unsigned k, uint16_t crc) const {
    uint16_t out = 0;
    for (unsigned bit = 0; crc; ++bit, crc >>= 1)
      if (crc & 1) out ^= steps_[k][bit];
    return out;
  }
  void Extend(size_t to) {
    if (to < running_.size()) return;
    size_t from = running_.size() - 1;
    running_.resize(to + 1);
    uint16_t crc = running_[from];
    const auto& table = Crc16Table();
    for (size_t i = from; i < to; ++i) {
      crc = static_cast<uint16_t>(table[(crc ^ bytes_[i]) & 0xFF] ^ (crc >> 8));
      running_[i + 1] = crc;
    }
  }

  std::span<const uint8_t> bytes_;
  std::vector<uint16_t> running_;
  uint16_t steps_[kSteps][16];
};

// The chain of extended headers seen from each position: a chain element at
// position p has the size held by the two bytes before it, so where a chain
// goes from p does not depend on the header it started in. Each position's
// answers are worked out once and shared by every candidate whose chain
// passes through it.
class Chains {
 public:
  static constexpr uint32_t kUnknown = 0, kRunsPast = 1, kNone = UINT32_MAX;

  explicit Chains(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  // Where the chain from p ends (the position after its last element), or
  // kRunsPast when an element runs past the bytes. p is at least 2.
  uint32_t End(uint32_t p) {
    Resolve(p);
    return end_[p];
  }
  // The first element from p on that is a 0x00 header of 5 bytes or more
  // (the one whose CRC-16 counts), or kNone.
  uint32_t FirstCrcElement(uint32_t p) {
    Resolve(p);
    return crcElement_[p];
  }
  uint64_t steps = 0;

 private:
  // The answers are kept for the positions up to the farthest one visited,
  // so that a search that ends at its first candidate stays small.
  void Cover(uint32_t q) {
    if (q < end_.size()) return;
    size_t size = std::min<size_t>(std::max<size_t>(q + 1, end_.size() * 2), bytes_.size() + 1);
    end_.resize(size, kUnknown);
    crcElement_.resize(size, kNone);
  }

  void Resolve(uint32_t p) {
    const uint8_t* b = bytes_.data();
    const size_t n = bytes_.size();
    path_.clear();
    uint32_t q = p;
    while (Cover(q), end_[q] == kUnknown) {
      uint32_t size = LoadLe16(b + q - 2);
      if (size <= 2) {
        end_[q] = q;
        break;
      }
      ++steps;
      if (size > n - q) {
        end_[q] = kRunsPast;
        break;
      }
      path_.push_back(q);
      q += size;
    }
    // Back along the walk, each element takes the answers of the next.
    for (size_t i = path_.size(); i-- > 0;) {
      uint32_t at = path_[i], next = at + LoadLe16(b + at - 2);
      end_[at] = end_[next];
      crcElement_[at] = b[at] == 0x00 && LoadLe16(b + at - 2) >= 5 ? at : crcElement_[next];
    }
  }

  std::span<const uint8_t> bytes_;
  std::vector<uint32_t> end_, crcElement_, path_;
};

enum class Verdict { Header, NoHeader, RunsPast };

// Decides a candidate from memory with the tests ParseHeader makes, without
// stepping through its extended headers.
class CandidateJudge {
 public:
  CandidateJudge(std::span<const uint8_t> bytes, bool wholeFile, HeaderSearchCounts& counts)
      : bytes_(bytes), wholeFile_(wholeFile), counts_(counts), chains_(bytes), crc_(bytes) {}

  Verdict Judge(uint32_t o) {
    const uint8_t* b = bytes_.data();
    const size_t n = bytes_.size();
    uint8_t level = b[o + 20];
    if (level > 2 || b[o] == 0) return Verdict::NoHeader;
    uint32_t length = level == 2 ? 26 : (b[o] + 2u) & 0xFF;
    if (length < 21) return Verdict::NoHeader;
    if (length > n - o) return Past();
    if (level < 2) {
      unsigned sum = 0;
      for (uint32_t i = o + 2; i < o + length; ++i) sum += b[i];
      counts_.bytesExamined += length - 2;
      if (length < 24 || (sum & 0xFF) != b[o + 1] || length < b[o + 21] + 24u) return Verdict::NoHeader;
      if (level == 0) return Verdict::Header;
    }
    uint32_t first = o + length;
    uint64_t stepsBefore = chains_.steps;
    uint32_t end = chains_.End(first);
    counts_.bytesExamined += chains_.steps - stepsBefore;
    if (end == Chains::kRunsPast) {
      // The chain reaches past the bytes: past the length limit, or on
      // into what has not been read.
      if (n - o >= kMaxHeaderLength) return Verdict::NoHeader;
      return Past();
    }
    if (end - o > kMaxHeaderLength) return Verdict::NoHeader;
    if (level == 1 && end - first > LoadLe32(b + o + 7)) return Verdict::NoHeader;
    uint32_t headerEnd = end;
    if (level == 2 && LoadLe16(b + o) > end - o) {
      headerEnd = o + LoadLe16(b + o);
      if (headerEnd > n) return Past();
    }
    uint32_t crcAt = chains_.FirstCrcElement(first);
    if (crcAt != Chains::kNone) {
      // The CRC-16 of the header with the two bytes of its own CRC field
      // taken as zero.
      uint16_t field = Crc16(b + crcAt + 1, 2);
      uint16_t crc = crc_.Of(o, headerEnd) ^ crc_.OverZeros(field, headerEnd - crcAt - 3);
      if (crc != LoadLe16(b + crcAt + 1)) return Verdict::NoHeader;
    }
    return Verdict::Header;
  }

 private:
  Verdict Past() const { return wholeFile_ ? Verdict::NoHeader : Verdict::RunsPast; }

  std::span<const uint8_t> bytes_;
  bool wholeFile_;
  HeaderSearchCounts& counts_;
  Chains chains_;
  RangeCrc crc_;
};

}  // namespace

bool ParseHeader(ByteStream& source, LzhHeader& header) {
  StreamInput input(source);
  return Parse(input, header);
}

HeaderParse ParseHeader(std::span<const uint8_t> bytes, LzhHeader& header) {
  SpanInput input(bytes);
  if (Parse(input, header)) return HeaderParse::Header;
  return input.ranPast ? HeaderParse::RunsPast : HeaderParse::NoHeader;
}

int64_t FindFirstHeader(std::span<const uint8_t> bytes, size_t windowSize, bool wholeFile,
                        const std::function<bool(uint64_t)>& parseAt, HeaderSearchCounts* counts) {
  HeaderSearchCounts local;
  HeaderSearchCounts& c = counts ? *counts : local;
  // Positions are kept in 32 bits; a search window is a few MiB at most.
  if (bytes.size() >= UINT32_MAX - kMaxHeaderLength) bytes = bytes.first(UINT32_MAX - kMaxHeaderLength - 1);
  if (windowSize > bytes.size()) windowSize = bytes.size();
  const uint8_t* b = bytes.data();
  std::optional<CandidateJudge> judge;
  for (size_t i = 0; i + 20 < windowSize; ++i) {
    if (!IsMethodIdStart(b + i + kMethodIdOffset)) continue;
    ++c.candidates;
    if (!judge) judge.emplace(bytes, wholeFile, c);
    Verdict v = judge->Judge(static_cast<uint32_t>(i));
    if (v == Verdict::RunsPast) {
      ++c.handedOver;
      if (parseAt && parseAt(i)) return static_cast<int64_t>(i);
      continue;
    }
    if (v == Verdict::NoHeader) continue;
    // The full parse has the last word; it agrees with the judge.
    ++c.parses;
    LzhHeader header;
    if (ParseHeader(bytes.subspan(i), header) == HeaderParse::Header) return static_cast<int64_t>(i);
  }
  return -1;
}

}  // namespace quindo::lzh
