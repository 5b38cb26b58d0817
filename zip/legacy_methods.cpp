#include "zip/legacy_methods.h"

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "zip/lsb_bit_reader.h"

namespace quindo {
namespace {

constexpr size_t kWindowSize = 16384;
constexpr size_t kWindowMask = kWindowSize - 1;

// The decoded bytes of one member: a 16 KiB circular window that is handed
// to the output each time it fills and at the end. Its earlier contents stay
// for the back references of Reduce and Implode; it starts cleared, so a
// reference before the start of the member copies zeros. Never takes more
// than the member's declared size.
class OutputWindow {
 public:
  OutputWindow(ZipMemberOutput& out, uint32_t size) : out_(out), remaining_(size) {}

  uint32_t remaining() const { return remaining_; }

  // False when the output refused the bytes.
  bool Put(uint8_t byte) {
    data_[pos_++] = byte;
    --remaining_;
    return pos_ < kWindowSize || Drain();
  }

  // Copies `length` bytes from `distance` bytes back (1 to kWindowSize),
  // one at a time, so that an overlapping copy repeats its pattern.
  bool Copy(uint32_t distance, uint32_t length) {
    length = std::min(length, remaining_);
    while (length > 0) {
      size_t from = (pos_ - distance) & kWindowMask;
      // As far as neither end reaches the window's end.
      size_t run = std::min<size_t>({length, kWindowSize - pos_, kWindowSize - from});
      uint8_t* dst = &data_[pos_];
      const uint8_t* src = &data_[from];
      for (size_t i = 0; i < run; ++i) dst[i] = src[i];
      pos_ += run;
      remaining_ -= static_cast<uint32_t>(run);
      length -= static_cast<uint32_t>(run);
      if (pos_ == kWindowSize && !Drain()) return false;
    }
    return true;
  }

  // Writes `size` bytes in order (at most what remains of the member).
  bool PutRun(const uint8_t* bytes, size_t size) {
    size = std::min<size_t>(size, remaining_);
    while (size > 0) {
      size_t run = std::min(size, kWindowSize - pos_);
      std::copy(bytes, bytes + run, &data_[pos_]);
      pos_ += run;
      bytes += run;
      size -= run;
      remaining_ -= static_cast<uint32_t>(run);
      if (pos_ == kWindowSize && !Drain()) return false;
    }
    return true;
  }

  // Hands on what the window holds since its last write.
  bool Flush() {
    if (pos_ == flushed_) return true;
    bool ok = out_.Write(&data_[flushed_], pos_ - flushed_);
    flushed_ = pos_;
    return ok;
  }

 private:
  bool Drain() {
    bool ok = Flush();
    pos_ = 0;
    flushed_ = 0;
    return ok;
  }

  ZipMemberOutput& out_;
  uint32_t remaining_;
  size_t pos_ = 0;
  size_t flushed_ = 0;
  std::array<uint8_t, kWindowSize> data_{};
};

// The end of a member: what the window holds goes out unless the output
// already refused; data that ended before the declared size is corrupt.
DecodeResult Finish(OutputWindow& window, DecodeResult result) {
  if (result == DecodeResult::Stopped) return result;
  if (!window.Flush()) return DecodeResult::Stopped;
  if (result == DecodeResult::Ok && window.remaining() > 0) return DecodeResult::Corrupt;
  return result;
}

// ---------------------------------------------------------------- Shrink

constexpr int kShrinkCodes = 8192;  // 13-bit codes
constexpr int kShrinkControl = 256;
constexpr int kShrinkFirstFree = 257;
constexpr int kShrinkMaxBits = 13;
constexpr int32_t kFreeCode = -1;

struct ShrinkState {
  std::array<int32_t, kShrinkCodes + 1> prefix;
  std::array<uint8_t, kShrinkCodes + 1> suffix;
  std::array<uint8_t, kShrinkCodes> stack;  // a string, filled from its end
  // isPrefix[c + 1]: code c is some code's prefix (index 0 takes the free marks).
  std::array<uint8_t, kShrinkCodes + 2> isPrefix;
  // The free codes in rising order: those the last clear left at or below
  // its highest code, then every code above that one.
  std::array<uint16_t, kShrinkCodes> freeList;
  int freeCount = 0;
  int freeNext = 0;
  int freeAbove = kShrinkFirstFree;
};

// The lowest free code, taken; kShrinkCodes when none is left.
int TakeFreeCode(ShrinkState& s) {
  if (s.freeNext < s.freeCount) return s.freeList[s.freeNext++];
  return s.freeAbove < kShrinkCodes ? s.freeAbove++ : kShrinkCodes;
}

// Frees every code that is no other code's prefix. All defined codes take
// part, also those above the next free code that an earlier clear left.
// `highest` is the highest defined code, and is lowered to the highest kept.
// Answers the lowest free code, taken.
int PartialClear(ShrinkState& s, int& highest) {
  std::fill(s.isPrefix.begin(), s.isPrefix.begin() + highest + 2, uint8_t{0});
  for (int c = kShrinkFirstFree; c <= highest; ++c) s.isPrefix[s.prefix[c] + 1] = 1;
  s.freeCount = 0;
  for (int c = kShrinkFirstFree; c <= highest; ++c) {
    if (!s.isPrefix[c + 1]) s.prefix[c] = kFreeCode;
    // A code freed earlier can be the prefix of a code defined since.
    if (s.prefix[c] == kFreeCode) s.freeList[s.freeCount++] = static_cast<uint16_t>(c);
  }
  while (highest > kShrinkControl && s.prefix[highest] == kFreeCode) --highest;
  while (s.freeCount > 0 && s.freeList[s.freeCount - 1] > highest) --s.freeCount;
  s.freeNext = 0;
  s.freeAbove = highest + 1;
  return TakeFreeCode(s);
}

// --------------------------------------------------------------- Reduce

constexpr int kMaxFollowers = 32;

struct ReduceState {
  std::array<std::array<uint8_t, kMaxFollowers>, 256> followers;
  std::array<uint8_t, 256> count{};
};

// Bits of a follower index for a set of n followers.
int FollowerIndexBits(int n) {
  if (n <= 2) return 1;
  if (n <= 4) return 2;
  if (n <= 8) return 3;
  if (n <= 16) return 4;
  return 5;
}

// -------------------------------------------------------------- Implode

// A Shannon-Fano tree as a lookup table over the next maxBits input bits:
// each slot holds the value and bit length of the code those bits start
// with, 0 when they start no code. Shorter codes come first, and among codes
// of one length the first in sorted order, as a bit-by-bit walk over the
// sorted entries finds them.
class ShannonFanoTree {
 public:
  // Reads the tree's compressed description; false when it names more than
  // `capacity` values or the data ends inside it.
  bool Read(LsbBitReader& bits, int capacity) {
    std::array<uint8_t, 256> lengths{};
    int values = 0;
    int groups = static_cast<int>(bits.ReadBits(8)) + 1;
    for (int g = 0; g < groups; ++g) {
      uint32_t byte = bits.ReadBits(8);
      int length = static_cast<int>(byte & 0x0F) + 1;
      int repeat = static_cast<int>(byte >> 4) + 1;
      if (values + repeat > capacity) return false;
      for (int r = 0; r < repeat; ++r) lengths[values++] = static_cast<uint8_t>(length);
    }
    if (bits.exhausted()) return false;

    // Entries sorted by bit length, equal lengths by value.
    std::array<uint8_t, 256> order{};
    int n = 0;
    maxBits_ = 0;
    for (int length = 1; length <= 16; ++length) {
      for (int v = 0; v < values; ++v) {
        if (lengths[v] == length) {
          order[n++] = static_cast<uint8_t>(v);
          maxBits_ = length;
        }
      }
    }

    // Codes from the last entry to the first, then bit-reversed.
    std::array<uint16_t, 256> codes{};
    uint32_t code = 0, increment = 0;
    int lastLength = 0;
    for (int i = n - 1; i >= 0; --i) {
      code += increment;
      int length = lengths[order[i]];
      if (length != lastLength) {
        lastLength = length;
        increment = 1u << (16 - length);
      }
      codes[i] = Reverse16(static_cast<uint16_t>(code));
    }

    size_t size = size_t{1} << maxBits_;
    table_.assign(size, 0);
    size_t filled = 0;
    for (int i = 0; i < n && filled < size; ++i) {
      int length = lengths[order[i]];
      size_t step = size_t{1} << length;
      // A code with bits above its length matches no bit string.
      if (codes[i] >= step) continue;
      uint16_t slot = static_cast<uint16_t>(order[i] | (length << 8));
      for (size_t at = codes[i]; at < size; at += step) {
        if (table_[at] == 0) {
          table_[at] = slot;
          ++filled;
        }
      }
    }
    return true;
  }

  // The next value; -1 when the bits start no code.
  int Decode(LsbBitReader& bits) const {
    uint16_t slot = table_[bits.PeekBits(maxBits_)];
    if (slot == 0) return -1;
    bits.Consume(slot >> 8);
    return slot & 0xFF;
  }

 private:
  static uint16_t Reverse16(uint16_t v) {
    v = static_cast<uint16_t>(((v >> 1) & 0x5555) | ((v & 0x5555) << 1));
    v = static_cast<uint16_t>(((v >> 2) & 0x3333) | ((v & 0x3333) << 2));
    v = static_cast<uint16_t>(((v >> 4) & 0x0F0F) | ((v & 0x0F0F) << 4));
    return static_cast<uint16_t>((v >> 8) | (v << 8));
  }

  int maxBits_ = 0;
  std::vector<uint16_t> table_;
};

}  // namespace

DecodeResult Unshrink(ZipMemberInput& in, ZipMemberOutput& out, uint32_t uncompressedSize,
                      uint32_t /*compressedSize*/) {
  if (uncompressedSize == 0) return DecodeResult::Ok;
  auto state = std::make_unique<ShrinkState>();
  ShrinkState& s = *state;
  for (int c = 0; c < 256; ++c) {
    s.prefix[c] = 0;
    s.suffix[c] = static_cast<uint8_t>(c);
  }
  for (int c = 256; c <= kShrinkCodes; ++c) {
    s.prefix[c] = kFreeCode;
    s.suffix[c] = 0;
  }
  LsbBitReader bits(in);
  OutputWindow window(out, uncompressedSize);

  int codeSize = 9;
  int freeCode = TakeFreeCode(s);
  int highestCode = kShrinkControl;
  int code = static_cast<int>(bits.ReadBits(codeSize));
  // Nothing is defined yet: the first code must be a byte.
  if (bits.exhausted() || code > 255) return DecodeResult::Corrupt;
  int oldCode = code;
  uint8_t lastChar = static_cast<uint8_t>(code);
  if (!window.Put(lastChar)) return DecodeResult::Stopped;

  DecodeResult result = DecodeResult::Ok;
  while (window.remaining() > 0 && result == DecodeResult::Ok) {
    code = static_cast<int>(bits.ReadBits(codeSize));
    while (code == kShrinkControl && !bits.exhausted()) {
      int sub = static_cast<int>(bits.ReadBits(codeSize));
      if (bits.exhausted()) break;
      if (sub == 1) {
        if (codeSize == kShrinkMaxBits) {
          result = DecodeResult::Corrupt;
          break;
        }
        ++codeSize;
      } else if (sub == 2) {
        freeCode = PartialClear(s, highestCode);
      }
      code = static_cast<int>(bits.ReadBits(codeSize));
    }
    if (result != DecodeResult::Ok || bits.exhausted()) break;

    int kept = code;
    size_t top = s.stack.size();
    if (s.prefix[code] == kFreeCode) {
      // Not defined yet: the previous string plus its own first byte.
      s.stack[--top] = lastChar;
      code = oldCode;
    }
    while (code > kShrinkControl && top > 0) {
      s.stack[--top] = s.suffix[code];
      code = s.prefix[code];
    }
    // A chain longer than the dictionary, or one through a free code.
    if (code < 0 || code > kShrinkControl || top == 0) {
      result = DecodeResult::Corrupt;
      break;
    }
    lastChar = s.suffix[code];
    s.stack[--top] = lastChar;
    if (!window.PutRun(&s.stack[top], s.stack.size() - top)) return DecodeResult::Stopped;

    if (freeCode < kShrinkCodes) {
      s.prefix[freeCode] = oldCode;
      s.suffix[freeCode] = lastChar;
      highestCode = std::max(highestCode, freeCode);
      freeCode = TakeFreeCode(s);
    }
    oldCode = kept;
  }
  return Finish(window, result);
}

DecodeResult Unreduce(ZipMemberInput& in, ZipMemberOutput& out, uint32_t uncompressedSize,
                      uint32_t /*compressedSize*/, int factor) {
  if (factor < 1 || factor > 4) return DecodeResult::Corrupt;
  if (uncompressedSize == 0) return DecodeResult::Ok;
  // Length mask L, and the shift S and mask M of the distance's high part.
  static constexpr uint32_t kLengthMask[5] = {0, 127, 63, 31, 15};
  static constexpr int kDistanceShift[5] = {0, 7, 6, 5, 4};
  static constexpr uint32_t kDistanceMask[5] = {0, 1, 3, 7, 15};
  const uint32_t lengthMask = kLengthMask[factor];

  auto state = std::make_unique<ReduceState>();
  ReduceState& s = *state;
  LsbBitReader bits(in);
  for (int c = 255; c >= 0; --c) {
    uint32_t n = bits.ReadBits(6);
    if (n > kMaxFollowers) return DecodeResult::Corrupt;
    s.count[c] = static_cast<uint8_t>(n);
    for (uint32_t i = 0; i < n; ++i) s.followers[c][i] = static_cast<uint8_t>(bits.ReadBits(8));
  }
  if (bits.exhausted()) return DecodeResult::Corrupt;

  OutputWindow window(out, uncompressedSize);
  DecodeResult result = DecodeResult::Ok;
  uint8_t last = 0;
  int stage = 0;  // 0 plain, 1 after the escape byte, 2 extra length, 3 distance
  uint32_t v = 0, length = 0;
  while (window.remaining() > 0) {
    uint32_t byte;
    int n = s.count[last];
    if (n == 0 || bits.ReadBits(1) == 1) {
      byte = bits.ReadBits(8);
    } else {
      uint32_t index = bits.ReadBits(FollowerIndexBits(n));
      if (index >= static_cast<uint32_t>(n)) {
        if (!bits.exhausted()) result = DecodeResult::Corrupt;
        break;
      }
      byte = s.followers[last][index];
    }
    if (bits.exhausted()) break;
    last = static_cast<uint8_t>(byte);

    bool ok = true;
    switch (stage) {
      case 0:
        if (byte == 0x90) {
          stage = 1;
        } else {
          ok = window.Put(last);
        }
        break;
      case 1:
        if (byte == 0) {
          ok = window.Put(0x90);
          stage = 0;
        } else {
          v = byte;
          length = v & lengthMask;
          stage = length == lengthMask ? 2 : 3;
        }
        break;
      case 2:
        length += byte;
        stage = 3;
        break;
      default: {
        uint32_t distance = ((v >> kDistanceShift[factor]) & kDistanceMask[factor]) * 256 + byte + 1;
        ok = window.Copy(distance, length + 3);
        stage = 0;
        break;
      }
    }
    if (!ok) return DecodeResult::Stopped;
  }
  return Finish(window, result);
}

DecodeResult Explode(ZipMemberInput& in, ZipMemberOutput& out, uint32_t uncompressedSize,
                     uint32_t /*compressedSize*/, uint16_t generalFlags) {
  if (uncompressedSize == 0) return DecodeResult::Ok;
  const bool bigDictionary = (generalFlags & 0x02) != 0;
  const bool literalTree = (generalFlags & 0x04) != 0;
  const int lowDistanceBits = bigDictionary ? 7 : 6;
  const uint32_t minMatch = literalTree ? 3 : 2;

  LsbBitReader bits(in);
  auto trees = std::make_unique<std::array<ShannonFanoTree, 3>>();
  ShannonFanoTree& literals = (*trees)[0];
  ShannonFanoTree& lengths = (*trees)[1];
  ShannonFanoTree& distances = (*trees)[2];
  if (literalTree && !literals.Read(bits, 256)) return DecodeResult::Corrupt;
  if (!lengths.Read(bits, 64) || !distances.Read(bits, 64)) return DecodeResult::Corrupt;

  OutputWindow window(out, uncompressedSize);
  DecodeResult result = DecodeResult::Ok;
  while (window.remaining() > 0) {
    bool ok;
    if (bits.ReadBits(1) == 1) {
      int literal = literalTree ? literals.Decode(bits) : static_cast<int>(bits.ReadBits(8));
      if (literal < 0) {
        result = DecodeResult::Corrupt;
        break;
      }
      if (bits.exhausted()) break;
      ok = window.Put(static_cast<uint8_t>(literal));
    } else {
      uint32_t low = bits.ReadBits(lowDistanceBits);
      int high = distances.Decode(bits);
      int length = high < 0 ? -1 : lengths.Decode(bits);
      if (length < 0) {
        result = DecodeResult::Corrupt;
        break;
      }
      uint32_t total = static_cast<uint32_t>(length);
      if (length == 63) total += bits.ReadBits(8);
      if (bits.exhausted()) break;
      uint32_t distance = ((static_cast<uint32_t>(high) << lowDistanceBits) | low) + 1;
      ok = window.Copy(distance, total + minMatch);
    }
    if (!ok) return DecodeResult::Stopped;
  }
  return Finish(window, result);
}

}  // namespace quindo
