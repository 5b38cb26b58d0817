#include "zip/inflate64.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>

namespace quindo {

namespace {

constexpr size_t kWindow = 65536;
constexpr size_t kMaxMatch = 65538;
// Output collects in one buffer that keeps the last 64 KiB as history; once
// a longest match might not fit any more, the new bytes go out and the
// history moves to the front. The slack takes the overshoot of 8-byte copies.
constexpr size_t kBufferSize = 8 * kWindow;
constexpr size_t kFlushAt = kBufferSize - kMaxMatch;
constexpr size_t kSlack = 16;
constexpr size_t kInputChunk = 65536;

constexpr std::array<uint16_t, 29> kLengthBase = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 3};
constexpr std::array<uint8_t, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 16};
constexpr std::array<uint32_t, 32> kDistanceBase = {
    1,    2,    3,    4,    5,    7,     9,     13,    17,    25,    33,    49,    65,    97,    129,   193,
    257,  385,  513,  769,  1025, 1537,  2049,  3073,  4097,  6145,  8193,  12289, 16385, 24577, 32769, 49153};
constexpr std::array<uint8_t, 32> kDistanceExtra = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,  6,
                                                    7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
constexpr std::array<uint8_t, 19> kCodeLengthOrder = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// A decoding table entry: the code's length in bits 0 to 4 and its symbol
// from bit 8; or a link to a second-level table (its index bits in 8 to 11,
// its offset from bit 12); or invalid, for bit patterns no code has (with a
// symbol field that no literal has, so that the literal test fails first).
constexpr uint32_t kLink = 0x20;
constexpr uint32_t kInvalid = 0x40;
constexpr uint32_t kInvalidEntry = kInvalid | (0xFFFFu << 8);

// A canonical Huffman code as a two-level table: the first `rootBits` bits
// index the root, longer codes continue in small tables behind it.
template <int kRootBits, int kSymbols>
class HuffmanTable {
 public:
  // False for lengths that over-subscribe the code, or leave it incomplete
  // with more than a single one-bit code (allowed, as zlib allows it, for
  // the literals and distances of a block that has only one such code).
  bool Build(const uint8_t* lengths, int count, bool allowSingle) {
    std::array<int, 16> perLength{};
    for (int i = 0; i < count; ++i) ++perLength[lengths[i]];
    perLength[0] = 0;
    int left = 1, maxLength = 0;
    for (int len = 1; len <= 15; ++len) {
      left = (left << 1) - perLength[len];
      if (left < 0) return false;
      if (perLength[len] != 0) maxLength = len;
    }
    if (left > 0 && (maxLength > 1 || !allowSingle)) return false;

    std::array<uint32_t, 16> next{};
    for (int len = 1, code = 0; len <= 15; ++len) {
      code = (code + perLength[len - 1]) << 1;
      next[len] = static_cast<uint32_t>(code);
    }
    next[1] = 0;
    // The first bit of a code comes first in the stream, so tables are
    // indexed by the code's bits reversed.
    std::array<uint16_t, kSymbols> reversed{};
    std::array<uint8_t, 1 << kRootBits> subLength{};
    for (int s = 0; s < count; ++s) {
      int len = lengths[s];
      if (len == 0) continue;
      uint32_t code = next[len]++, r = 0;
      for (int i = 0; i < len; ++i) r |= ((code >> i) & 1) << (len - 1 - i);
      reversed[s] = static_cast<uint16_t>(r);
      if (len > kRootBits) {
        uint8_t& longest = subLength[r & kRootMask];
        longest = std::max<uint8_t>(longest, static_cast<uint8_t>(len));
      }
    }
    std::fill(entries_.begin(), entries_.begin() + (1 << kRootBits), kInvalidEntry);
    uint32_t used = 1 << kRootBits;
    for (uint32_t prefix = 0; prefix < (1u << kRootBits); ++prefix) {
      if (subLength[prefix] == 0) continue;
      uint32_t bits = subLength[prefix] - kRootBits;
      entries_[prefix] = kLink | (bits << 8) | (used << 12);
      std::fill(entries_.begin() + used, entries_.begin() + used + (1u << bits), kInvalidEntry);
      used += 1u << bits;
    }
    for (int s = 0; s < count; ++s) {
      uint32_t len = lengths[s];
      if (len == 0) continue;
      uint32_t r = reversed[s], entry = (static_cast<uint32_t>(s) << 8) | len;
      if (len <= kRootBits) {
        for (uint32_t i = r; i < (1u << kRootBits); i += 1u << len) entries_[i] = entry;
      } else {
        uint32_t link = entries_[r & kRootMask];
        uint32_t offset = link >> 12, size = 1u << ((link >> 8) & 15);
        for (uint32_t i = r >> kRootBits; i < size; i += 1u << (len - kRootBits)) entries_[offset + i] = entry;
      }
    }
    return true;
  }

  // The entry for the next bits of the stream (at least 15 available).
  uint32_t Lookup(uint64_t bits) const {
    uint32_t e = entries_[bits & kRootMask];
    if (e & kLink) e = entries_[(e >> 12) + ((bits >> kRootBits) & ((1u << ((e >> 8) & 15)) - 1))];
    return e;
  }

 private:
  static constexpr uint32_t kRootMask = (1u << kRootBits) - 1;
  // Every second-level table holds at least one symbol and at most
  // 2^(15 - rootBits) entries.
  std::array<uint32_t, (1 << kRootBits) + kSymbols * (1 << (15 - kRootBits))> entries_{};
};

using LiteralTable = HuffmanTable<10, 288>;
using DistanceTable = HuffmanTable<8, 32>;
using CodeLengthTable = HuffmanTable<7, 19>;

uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

class Inflater {
 public:
  Inflater(ZipMemberInput& in, ZipMemberOutput& out) : in_(in), out_(out) {}

  DecodeResult Run() {
    DecodeResult result = Blocks();
    if (result != DecodeResult::Stopped && !Flush(false)) result = DecodeResult::Stopped;
    return result;
  }

  uint64_t Consumed() const {
    uint64_t buffered = (end_ - next_) + (count_ > phantom_ ? (count_ - phantom_) / 8 : 0);
    return totalRead_ - std::min<uint64_t>(buffered, totalRead_);
  }

 private:
  DecodeResult Blocks() {
    for (;;) {
      Refill();
      uint32_t header = Take(3);
      if (Overrun()) return DecodeResult::Corrupt;
      DecodeResult r;
      switch (header >> 1) {
        case 0: r = Stored(); break;
        case 1: r = FixedBlock(); break;
        case 2: r = DynamicBlock(); break;
        default: return DecodeResult::Corrupt;
      }
      if (r != DecodeResult::Ok || (header & 1)) return r;
    }
  }

  // --- bits, least significant first; past the end of the input come zero
  // bits, counted in phantom_ so that using one is seen (Overrun).
  void Refill() {
    if (end_ - next_ >= 8) {
      bits_ |= Load64(next_) << count_;
      next_ += (63 - count_) >> 3;
      count_ |= 56;
      return;
    }
    while (count_ <= 56) {
      if (next_ == end_ && !ReadChunk()) {
        phantom_ += 8;
        count_ += 8;
        continue;
      }
      bits_ |= static_cast<uint64_t>(*next_++) << count_;
      count_ += 8;
    }
  }

  bool ReadChunk() {
    if (eof_) return false;
    size_t n = in_.Read(input_.get(), kInputChunk);
    if (n == 0) {
      eof_ = true;
      return false;
    }
    totalRead_ += n;
    next_ = input_.get();
    end_ = next_ + n;
    return true;
  }

  uint32_t Take(int n) {
    uint32_t v = static_cast<uint32_t>(bits_ & ((uint64_t{1} << n) - 1));
    bits_ >>= n;
    count_ -= n;
    return v;
  }

  // True once a bit past the end of the input was used.
  bool Overrun() const { return phantom_ > count_; }

  // --- output
  bool Flush(bool slide) {
    if (pos_ > flushed_ && !out_.Write(window_.get() + flushed_, pos_ - flushed_)) return false;
    flushed_ = pos_;
    if (slide && pos_ > kWindow) {
      std::memmove(window_.get(), window_.get() + pos_ - kWindow, kWindow);
      pos_ = flushed_ = kWindow;
    }
    return true;
  }

  DecodeResult Stored() {
    Take(count_ & 7);
    uint32_t len = Take(16), check = Take(16);
    if (Overrun() || (len ^ 0xFFFF) != check) return DecodeResult::Corrupt;
    // Whole bytes still in the bit buffer first, then straight from the input.
    while (len > 0 && count_ - phantom_ >= 8) {
      if (pos_ >= kFlushAt && !Flush(true)) return DecodeResult::Stopped;
      window_[pos_++] = static_cast<uint8_t>(Take(8));
      --len;
    }
    if (len == 0) return DecodeResult::Ok;
    bits_ = 0;
    count_ = 0;
    phantom_ = 0;
    while (len > 0) {
      if (next_ == end_ && !ReadChunk()) return DecodeResult::Corrupt;
      if (pos_ >= kFlushAt && !Flush(true)) return DecodeResult::Stopped;
      size_t n = std::min<size_t>({len, static_cast<size_t>(end_ - next_), kBufferSize - pos_});
      std::memcpy(window_.get() + pos_, next_, n);
      next_ += n;
      pos_ += n;
      len -= static_cast<uint32_t>(n);
    }
    return DecodeResult::Ok;
  }

  DecodeResult FixedBlock() {
    if (!fixedBuilt_) {
      std::array<uint8_t, 288> lengths;
      std::fill(lengths.begin(), lengths.begin() + 144, 8);
      std::fill(lengths.begin() + 144, lengths.begin() + 256, 9);
      std::fill(lengths.begin() + 256, lengths.begin() + 280, 7);
      std::fill(lengths.begin() + 280, lengths.end(), 8);
      std::array<uint8_t, 32> distances;
      distances.fill(5);
      fixedLiterals_.Build(lengths.data(), 288, false);
      fixedDistances_.Build(distances.data(), 32, false);
      fixedBuilt_ = true;
    }
    return Codes(fixedLiterals_, fixedDistances_);
  }

  DecodeResult DynamicBlock() {
    uint32_t literalCount = Take(5) + 257, distanceCount = Take(5) + 1, codeLengthCount = Take(4) + 4;
    std::array<uint8_t, 19> codeLengths{};
    for (uint32_t i = 0; i < codeLengthCount; ++i) {
      if (count_ < 3) Refill();
      codeLengths[kCodeLengthOrder[i]] = static_cast<uint8_t>(Take(3));
    }
    if (Overrun() || !codeLengthTable_.Build(codeLengths.data(), 19, false)) return DecodeResult::Corrupt;

    std::array<uint8_t, 288 + 32> lengths{};
    uint32_t total = literalCount + distanceCount;
    for (uint32_t i = 0; i < total;) {
      Refill();
      uint32_t e = codeLengthTable_.Lookup(bits_);
      if (e & kInvalid) return DecodeResult::Corrupt;
      Take(e & 31);
      uint32_t symbol = e >> 8, repeat;
      uint8_t value = 0;
      if (symbol < 16) {
        lengths[i++] = static_cast<uint8_t>(symbol);
        continue;
      }
      if (symbol == 16) {
        if (i == 0) return DecodeResult::Corrupt;
        value = lengths[i - 1];
        repeat = 3 + Take(2);
      } else if (symbol == 17) {
        repeat = 3 + Take(3);
      } else {
        repeat = 11 + Take(7);
      }
      if (repeat > total - i) return DecodeResult::Corrupt;
      std::fill_n(lengths.begin() + i, repeat, value);
      i += repeat;
    }
    if (Overrun() || lengths[256] == 0) return DecodeResult::Corrupt;
    if (!literals_.Build(lengths.data(), static_cast<int>(literalCount), true) ||
        !distances_.Build(lengths.data() + literalCount, static_cast<int>(distanceCount), true))
      return DecodeResult::Corrupt;
    return Codes(literals_, distances_);
  }

  // The symbols of one compressed block, up to its end code.
  DecodeResult Codes(const LiteralTable& literals, const DistanceTable& distances) {
    uint8_t* const window = window_.get();
    for (;;) {
      if (pos_ >= kFlushAt && !Flush(true)) return DecodeResult::Stopped;
      if (count_ < 32) {
        Refill();
        if (eof_ && Overrun()) return DecodeResult::Corrupt;
      }
      uint32_t e = literals.Lookup(bits_);
      uint32_t symbol = e >> 8;
      if (symbol < 256) {
        Take(e & 31);
        if (eof_ && Overrun()) return DecodeResult::Corrupt;
        window[pos_++] = static_cast<uint8_t>(symbol);
        continue;
      }
      if (e & kInvalid) return DecodeResult::Corrupt;
      Take(e & 31);
      if (symbol == 256) return eof_ && Overrun() ? DecodeResult::Corrupt : DecodeResult::Ok;
      symbol -= 257;
      if (symbol >= kLengthBase.size()) return DecodeResult::Corrupt;
      uint32_t length = kLengthBase[symbol] + Take(kLengthExtra[symbol]);
      if (count_ < 32) Refill();
      e = distances.Lookup(bits_);
      if (e & kInvalid) return DecodeResult::Corrupt;
      Take(e & 31);
      symbol = e >> 8;
      uint32_t distance = kDistanceBase[symbol] + Take(kDistanceExtra[symbol]);
      if (eof_ && Overrun()) return DecodeResult::Corrupt;
      if (distance > pos_) return DecodeResult::Corrupt;
      uint8_t* to = window + pos_;
      const uint8_t* from = to - distance;
      pos_ += length;
      if (distance >= 8) {
        // 8 bytes at a time; the last copy may run up to 7 bytes past the
        // match, into space written later anyway (or the slack).
        for (uint32_t done = 0; done < length; done += 8) std::memcpy(to + done, from + done, 8);
      } else if (distance == 1) {
        std::memset(to, from[0], length);
      } else {
        for (uint32_t i = 0; i < length; ++i) to[i] = from[i];
      }
    }
  }

  ZipMemberInput& in_;
  ZipMemberOutput& out_;
  std::unique_ptr<uint8_t[]> input_ = std::make_unique_for_overwrite<uint8_t[]>(kInputChunk);
  const uint8_t* next_ = nullptr;
  const uint8_t* end_ = nullptr;
  uint64_t totalRead_ = 0;
  bool eof_ = false;
  uint64_t bits_ = 0;
  uint32_t count_ = 0;
  uint32_t phantom_ = 0;

  std::unique_ptr<uint8_t[]> window_ = std::make_unique_for_overwrite<uint8_t[]>(kBufferSize + kSlack);
  size_t pos_ = 0;
  size_t flushed_ = 0;

  bool fixedBuilt_ = false;
  LiteralTable fixedLiterals_, literals_;
  DistanceTable fixedDistances_, distances_;
  CodeLengthTable codeLengthTable_;
};

}  // namespace

DecodeResult Inflate64(ZipMemberInput& in, ZipMemberOutput& out, uint64_t* consumed) {
  auto inflater = std::make_unique<Inflater>(in, out);
  DecodeResult result = inflater->Run();
  if (consumed) *consumed = inflater->Consumed();
  return result;
}

}  // namespace quindo
