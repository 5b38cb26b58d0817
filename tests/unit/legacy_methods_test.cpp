// The PKZIP 1.x decoders on hand-made bit streams: the awkward corners of
// each method, corrupt data, chunked output and a refusing output.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "zip/legacy_methods.h"

namespace quindo {
namespace {

// Packs values least significant bit first, as the methods read them.
class BitWriter {
 public:
  BitWriter& Put(uint32_t value, int n) {
    for (int i = 0; i < n; ++i) PutBit((value >> i) & 1);
    return *this;
  }
  // A Shannon-Fano code: its first bit is the code's top bit.
  BitWriter& PutCode(uint32_t code, int n) {
    for (int i = n - 1; i >= 0; --i) PutBit((code >> i) & 1);
    return *this;
  }
  std::string bytes() const { return bytes_; }

 private:
  void PutBit(uint32_t bit) {
    if (used_ == 0) bytes_.push_back(0);
    bytes_.back() = static_cast<char>(bytes_.back() | (bit << used_));
    used_ = (used_ + 1) & 7;
  }
  std::string bytes_;
  int used_ = 0;
};

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

// Keeps what it is given; refuses once `acceptWrites` writes were taken.
class StringOutput final : public ZipMemberOutput {
 public:
  bool Write(const uint8_t* data, size_t size) override {
    ++writes;
    largestChunk = std::max(largestChunk, size);
    if (acceptWrites >= 0 && writes > acceptWrites) return false;
    text.append(reinterpret_cast<const char*>(data), size);
    return true;
  }
  std::string text;
  int writes = 0;
  int acceptWrites = -1;  // -1: every write
  size_t largestChunk = 0;
};

struct Decoded {
  DecodeResult result;
  std::string text;
};

Decoded RunUnshrink(const BitWriter& bits, uint32_t size) {
  StringInput in(bits.bytes());
  StringOutput out;
  DecodeResult r = Unshrink(in, out, size, static_cast<uint32_t>(bits.bytes().size()));
  return {r, out.text};
}

// ---------------------------------------------------------------- Unshrink

TEST(Unshrink, FirstCodeAloneIsOneByte) {
  Decoded d = RunUnshrink(BitWriter().Put('A', 9), 1);
  EXPECT_EQ(d.result, DecodeResult::Ok);
  EXPECT_EQ(d.text, "A");
  // A first code that is no byte has nothing to stand for.
  EXPECT_EQ(RunUnshrink(BitWriter().Put(300, 9), 1).result, DecodeResult::Corrupt);
  EXPECT_EQ(RunUnshrink(BitWriter(), 1).result, DecodeResult::Corrupt);
}

TEST(Unshrink, CodeNotYetDefinedRepeatsItsFirstByte) {
  // 257 and 258 are each read before they are defined: "a", "aa", "aaa".
  Decoded d = RunUnshrink(BitWriter().Put('a', 9).Put(257, 9).Put(258, 9), 6);
  EXPECT_EQ(d.result, DecodeResult::Ok);
  EXPECT_EQ(d.text, "aaaaaa");
  // The same with a longer previous string: 257 "ab", 258 "ba", then 259
  // read before it is defined: "ab" + "a".
  d = RunUnshrink(BitWriter().Put('a', 9).Put('b', 9).Put(257, 9).Put(259, 9), 7);
  EXPECT_EQ(d.text, "ab" "ab" "aba");
}

TEST(Unshrink, PartialClearKeepsPrefixesAndFreesLeaves) {
  // a b 257=ab c: defines 257 "ab", 258 "ba", 259 "abc". The clear frees
  // 258 and 259 but keeps 257, the prefix of 259. New codes then fill 258
  // ("ca") and 259 ("abc") again.
  BitWriter bits;
  bits.Put('a', 9).Put('b', 9).Put(257, 9).Put('c', 9);
  bits.Put(256, 9).Put(2, 9);
  bits.Put(257, 9).Put(258, 9).Put(259, 9);
  Decoded d = RunUnshrink(bits, 12);
  EXPECT_EQ(d.result, DecodeResult::Ok);
  EXPECT_EQ(d.text, "ab" "ab" "c" "ab" "ca" "abc");
}

TEST(Unshrink, CodeSizeGrowsToThirteenBitsAndNoFurther) {
  BitWriter bits;
  bits.Put('a', 9).Put(256, 9).Put(1, 9).Put('b', 10).Put(257, 10);
  Decoded d = RunUnshrink(bits, 4);
  EXPECT_EQ(d.result, DecodeResult::Ok);
  EXPECT_EQ(d.text, "abab");

  // Other sub-codes after 256 are passed over.
  EXPECT_EQ(RunUnshrink(BitWriter().Put('a', 9).Put(256, 9).Put(7, 9).Put('b', 9), 2).text, "ab");

  BitWriter tooWide;
  tooWide.Put('a', 9);
  for (int size = 9; size <= 13; ++size) tooWide.Put(256, size).Put(1, size);
  tooWide.Put('b', 13);
  d = RunUnshrink(tooWide, 2);
  EXPECT_EQ(d.result, DecodeResult::Corrupt);
  EXPECT_EQ(d.text, "a");
}

// "a", then 257 to 511 each one byte longer than the last: 32896 bytes.
BitWriter GrowingRun() {
  BitWriter bits;
  bits.Put('a', 9);
  for (uint32_t code = 257; code <= 511; ++code) bits.Put(code, 9);
  return bits;
}
constexpr uint32_t kGrowingRunSize = 256 * 257 / 2;

TEST(Unshrink, OutputInWindowsEndsAtDeclaredSize) {
  StringInput in(GrowingRun().bytes());
  StringOutput out;
  EXPECT_EQ(Unshrink(in, out, kGrowingRunSize, 0), DecodeResult::Ok);
  EXPECT_EQ(out.text, std::string(kGrowingRunSize, 'a'));
  EXPECT_EQ(out.largestChunk, 16384u);

  // A declared size that ends inside a string: nothing beyond it is written.
  StringInput shortIn(GrowingRun().bytes());
  StringOutput shortOut;
  EXPECT_EQ(Unshrink(shortIn, shortOut, 20000, 0), DecodeResult::Ok);
  EXPECT_EQ(shortOut.text.size(), 20000u);

  // Data that ends before the declared size: what was decoded, and corrupt.
  StringInput longIn(GrowingRun().bytes());
  StringOutput longOut;
  EXPECT_EQ(Unshrink(longIn, longOut, kGrowingRunSize + 1, 0), DecodeResult::Corrupt);
  EXPECT_EQ(longOut.text.size(), kGrowingRunSize);
}

TEST(Unshrink, RefusedOutputStopsAtOnce) {
  StringInput in(GrowingRun().bytes());
  StringOutput out;
  out.acceptWrites = 0;
  EXPECT_EQ(Unshrink(in, out, kGrowingRunSize, 0), DecodeResult::Stopped);
  EXPECT_EQ(out.writes, 1);
}

// ---------------------------------------------------------------- Unreduce

// Follower sets (byte value -> its followers), written from 255 down to 0.
BitWriter ReduceHeader(const std::vector<std::pair<int, std::string>>& sets = {}) {
  BitWriter bits;
  for (int c = 255; c >= 0; --c) {
    std::string followers;
    for (const auto& [value, set] : sets) {
      if (value == c) followers = set;
    }
    bits.Put(static_cast<uint32_t>(followers.size()), 6);
    for (char f : followers) bits.Put(static_cast<uint8_t>(f), 8);
  }
  return bits;
}

Decoded RunUnreduce(const BitWriter& bits, uint32_t size, int factor) {
  StringInput in(bits.bytes());
  StringOutput out;
  DecodeResult r = Unreduce(in, out, size, 0, factor);
  return {r, out.text};
}

// Plain bytes (every set empty): 8 bits each.
BitWriter& PutBytes(BitWriter& bits, std::initializer_list<int> bytes) {
  for (int b : bytes) bits.Put(static_cast<uint32_t>(b), 8);
  return bits;
}

TEST(Unreduce, EscapeFollowedByZeroIsTheEscapeByte) {
  for (int factor = 1; factor <= 4; ++factor) {
    BitWriter bits = ReduceHeader();
    PutBytes(bits, {'x', 0x90, 0x00, 'y'});
    Decoded d = RunUnreduce(bits, 3, factor);
    EXPECT_EQ(d.result, DecodeResult::Ok) << factor;
    EXPECT_EQ(d.text, "x\x90y") << factor;
  }
}

TEST(Unreduce, RepeatsForEveryFactor) {
  for (int factor = 1; factor <= 4; ++factor) {
    // Length 2 + 3, distance 0 * 256 + 1 + 1.
    BitWriter bits = ReduceHeader();
    PutBytes(bits, {'a', 'b', 0x90, 2, 1});
    Decoded d = RunUnreduce(bits, 7, factor);
    EXPECT_EQ(d.result, DecodeResult::Ok) << factor;
    EXPECT_EQ(d.text, "abababa") << factor;
  }
  // Factor 1: a length field of 127 takes the next byte too; the distance's
  // high part is one bit above it.
  BitWriter bits = ReduceHeader();
  PutBytes(bits, {'a', 'b', 0x90, 127 | 128, 10, 1});
  Decoded d = RunUnreduce(bits, 2 + 140, 1);
  EXPECT_EQ(d.result, DecodeResult::Ok);
  // Distance 258 reaches before the start: the cleared window gives zeros.
  EXPECT_EQ(d.text, std::string("ab") + std::string(140, '\0'));
}

TEST(Unreduce, FactorFourLongDistanceBeforeTheStartIsZeros) {
  // Length 15 + 2 + 3, distance 1 * 256 + 43 + 1 = 300.
  BitWriter bits = ReduceHeader();
  PutBytes(bits, {'a', 0x90, 15 | (1 << 4), 2, 43, 'z'});
  Decoded d = RunUnreduce(bits, 22, 4);
  EXPECT_EQ(d.result, DecodeResult::Ok);
  EXPECT_EQ(d.text, "a" + std::string(20, '\0') + "z");
}

TEST(Unreduce, FollowerSets) {
  // After 0 (the start) come q r s, indexed in 2 bits; after t only u.
  BitWriter bits = ReduceHeader({{0, "qrs"}, {'t', "u"}});
  bits.Put(0, 1).Put(2, 2);      // follower 2 of 0: s
  bits.Put('t', 8);              // s has no followers: plain byte
  bits.Put(0, 1).Put(0, 1);      // follower 0 of t: u
  Decoded d = RunUnreduce(bits, 3, 2);
  EXPECT_EQ(d.result, DecodeResult::Ok);
  EXPECT_EQ(d.text, "stu");

  // A 1 bit leaves the set for a plain byte.
  BitWriter escaped = ReduceHeader({{0, "qrs"}});
  escaped.Put(1, 1).Put('k', 8);
  EXPECT_EQ(RunUnreduce(escaped, 1, 3).text, "k");

  // An index past the end of the set is no follower.
  BitWriter pastEnd = ReduceHeader({{0, "qrs"}});
  pastEnd.Put(0, 1).Put(3, 2);
  EXPECT_EQ(RunUnreduce(pastEnd, 1, 3).result, DecodeResult::Corrupt);

  // A set of 32 is the largest the index table knows.
  BitWriter full = ReduceHeader({{0, std::string(31, 'm') + "n"}});
  full.Put(0, 1).Put(31, 5);
  EXPECT_EQ(RunUnreduce(full, 1, 4).text, "n");
  BitWriter tooMany;
  tooMany.Put(33, 6);
  for (int i = 0; i < 33; ++i) tooMany.Put('m', 8);
  for (int c = 254; c >= 0; --c) tooMany.Put(0, 6);
  tooMany.Put('a', 8);
  EXPECT_EQ(RunUnreduce(tooMany, 1, 4).result, DecodeResult::Corrupt);
}

TEST(Unreduce, CopiesAcrossTheWindowsEnd) {
  // 32700 plain bytes, then a repeat of 150 from 3000 back that crosses
  // the second 16 KiB boundary.
  std::string expected;
  BitWriter bits = ReduceHeader();
  for (int i = 0; i < 32700; ++i) {
    int b = (i * 7 + i / 300) % 256;
    if (b == 0x90) b = 0x91;
    expected.push_back(static_cast<char>(b));
    bits.Put(static_cast<uint32_t>(b), 8);
  }
  // f = 4: length 15 + 132 + 3; distance 11 * 256 + 183 + 1.
  PutBytes(bits, {0x90, 15 | (11 << 4), 132, 183});
  for (int i = 0; i < 150; ++i) expected.push_back(expected[expected.size() - 3000]);

  StringInput in(bits.bytes());
  StringOutput out;
  EXPECT_EQ(Unreduce(in, out, static_cast<uint32_t>(expected.size()), 0, 4), DecodeResult::Ok);
  EXPECT_TRUE(out.text == expected);
  EXPECT_EQ(out.writes, 3);
  EXPECT_EQ(out.largestChunk, 16384u);

  // Refused on its first window: nothing more is handed on.
  StringInput again(bits.bytes());
  StringOutput refusing;
  refusing.acceptWrites = 0;
  EXPECT_EQ(Unreduce(again, refusing, static_cast<uint32_t>(expected.size()), 0, 4),
            DecodeResult::Stopped);
  EXPECT_EQ(refusing.writes, 1);
}

// ----------------------------------------------------------------- Explode

// A tree of 64 values all of 6 bits (four groups of 16), and of 256 values
// all of 8 bits; value v then has the code (count - 1 - v).
void PutTree64(BitWriter& bits) { bits.Put(3, 8).Put(0xF5, 8).Put(0xF5, 8).Put(0xF5, 8).Put(0xF5, 8); }
void PutTree256(BitWriter& bits) {
  bits.Put(15, 8);
  for (int i = 0; i < 16; ++i) bits.Put(0xF7, 8);
}
void Put64(BitWriter& bits, int v) { bits.PutCode(63 - v, 6); }
void Put256(BitWriter& bits, int v) { bits.PutCode(255 - v, 8); }

Decoded RunExplode(const BitWriter& bits, uint32_t size, uint16_t flags) {
  StringInput in(bits.bytes());
  StringOutput out;
  DecodeResult r = Explode(in, out, size, 0, flags);
  return {r, out.text};
}

TEST(Explode, TwoTreesPlainLiteralsAndShortMatches) {
  BitWriter bits;
  PutTree64(bits);  // lengths
  PutTree64(bits);  // distances
  bits.Put(1, 1).Put('a', 8).Put(1, 1).Put('b', 8);
  // Distance low 6 bits 1, high 0: 2 back; length 0 + 2.
  bits.Put(0, 1).Put(1, 6);
  Put64(bits, 0);
  Put64(bits, 0);
  // Length 63 takes 8 more bits: 63 + 10 + 2 from 1 back.
  bits.Put(0, 1).Put(0, 6);
  Put64(bits, 0);
  Put64(bits, 63);
  bits.Put(10, 8);
  Decoded d = RunExplode(bits, 4 + 75, 0);
  EXPECT_EQ(d.result, DecodeResult::Ok);
  EXPECT_EQ(d.text, "abab" + std::string(75, 'b'));

  // A declared size that ends inside a match: the output stops there.
  d = RunExplode(bits, 10, 0);
  EXPECT_EQ(d.result, DecodeResult::Ok);
  EXPECT_EQ(d.text, "abab" + std::string(6, 'b'));
}

TEST(Explode, ThreeTreesBigDictionary) {
  BitWriter bits;
  PutTree256(bits);
  PutTree64(bits);
  PutTree64(bits);
  bits.Put(1, 1);
  Put256(bits, 'x');
  bits.Put(1, 1);
  Put256(bits, 'y');
  // Low 7 bits 1, high 0: 2 back; length 1 + 3.
  bits.Put(0, 1).Put(1, 7);
  Put64(bits, 0);
  Put64(bits, 1);
  // The farthest distance, (63 << 7 | 127) + 1 = 8192, is before the start.
  bits.Put(0, 1).Put(127, 7);
  Put64(bits, 63);
  Put64(bits, 0);
  Decoded d = RunExplode(bits, 2 + 4 + 3, 6);
  EXPECT_EQ(d.result, DecodeResult::Ok);
  EXPECT_EQ(d.text, std::string("xyxyxy") + std::string(3, '\0'));
}

TEST(Explode, SmallDictionaryThreeTreesAndBigDictionaryTwoTrees) {
  // Flag bit 1 alone: 7 low distance bits, plain literals, matches from 2.
  BitWriter big;
  PutTree64(big);
  PutTree64(big);
  big.Put(1, 1).Put('k', 8).Put(0, 1).Put(0, 7);
  Put64(big, 0);
  Put64(big, 0);
  EXPECT_EQ(RunExplode(big, 3, 2).text, "kkk");
  // Flag bit 2 alone: 6 low bits, tree literals, matches from 3.
  BitWriter small;
  PutTree256(small);
  PutTree64(small);
  PutTree64(small);
  small.Put(1, 1);
  Put256(small, 'k');
  small.Put(0, 1).Put(0, 6);
  Put64(small, 0);
  Put64(small, 0);
  EXPECT_EQ(RunExplode(small, 4, 4).text, "kkkk");
}

TEST(Explode, CorruptTreesAndCodes) {
  // A length tree of 80 values.
  BitWriter tooMany;
  tooMany.Put(4, 8);
  for (int i = 0; i < 5; ++i) tooMany.Put(0xF5, 8);
  PutTree64(tooMany);
  EXPECT_EQ(RunExplode(tooMany, 1, 0).result, DecodeResult::Corrupt);

  // A length tree of two 2-bit codes: "01" is value 0, "00" value 1, and
  // "1x" starts no code.
  BitWriter sparse;
  sparse.Put(0, 8).Put(0x11, 8);
  PutTree64(sparse);
  sparse.Put(1, 1).Put('q', 8);
  sparse.Put(0, 1).Put(0, 6);
  Put64(sparse, 0);
  sparse.PutCode(1, 2);  // value 0: length 2
  sparse.Put(0, 1).Put(0, 6);
  Put64(sparse, 0);
  sparse.PutCode(2, 2);
  Decoded d = RunExplode(sparse, 10, 0);
  EXPECT_EQ(d.result, DecodeResult::Corrupt);
  EXPECT_EQ(d.text, "qqq");

  // Data that ends inside the trees.
  BitWriter cut;
  cut.Put(3, 8).Put(0xF5, 8);
  EXPECT_EQ(RunExplode(cut, 1, 0).result, DecodeResult::Corrupt);
}

TEST(Explode, RefusedOutputStopsAtOnce) {
  BitWriter bits;
  PutTree64(bits);
  PutTree64(bits);
  bits.Put(1, 1).Put('r', 8);
  for (int i = 0; i < 100; ++i) {  // 100 matches of 63 + 255 + 2 bytes
    bits.Put(0, 1).Put(0, 6);
    Put64(bits, 0);
    Put64(bits, 63);
    bits.Put(255, 8);
  }
  StringInput in(bits.bytes());
  StringOutput out;
  out.acceptWrites = 1;
  EXPECT_EQ(Explode(in, out, 1 + 100 * 320, 0, 0), DecodeResult::Stopped);
  EXPECT_EQ(out.writes, 2);
  EXPECT_EQ(out.text, std::string(16384, 'r'));
}

}  // namespace
}  // namespace quindo
