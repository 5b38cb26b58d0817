// The PKZIP 1.x decoders on hand-made bit streams: the awkward corners of
// each method, corrupt data, chunked output and a refusing output.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>

#include "tests/support/zip_fixture.h"
#include "zip/legacy_methods.h"

namespace quindo {
namespace {

using test::BitWriter;
using test::Decoded;
std::pair<DecodeResult, std::string> Ok(std::string text) { return {DecodeResult::Ok, std::move(text)}; }

Decoded Decode(int method, const BitWriter& bits, uint32_t size, uint16_t flags = 0, int acceptWrites = -1) {
  return test::DecodeLegacy(method, bits.bytes, size, 0, flags, acceptWrites);
}

// ---------------------------------------------------------------- Unshrink

TEST(Unshrink, PartialClearKeepsPrefixesAndCodeSizeStopsAtThirteenBits) {
  // a b 257=ab c: defines 257 "ab", 258 "ba", 259 "abc". The clear frees
  // 258 and 259 but keeps 257, the prefix of 259. New codes then fill 258
  // ("ca") and 259 ("abc") again.
  BitWriter bits;
  bits.Put('a', 9).Put('b', 9).Put(257, 9).Put('c', 9).Put(256, 9).Put(2, 9).Put(257, 9).Put(258, 9).Put(259, 9);
  EXPECT_EQ(Decode(1, bits, 12).out(), Ok("ab" "ab" "c" "ab" "ca" "abc"));

  EXPECT_EQ(Decode(1, BitWriter().Put('a', 9).Put(256, 9).Put(1, 9).Put('b', 10).Put(257, 10), 4).text, "abab");
  // Other sub-codes after 256 are passed over.
  EXPECT_EQ(Decode(1, BitWriter().Put('a', 9).Put(256, 9).Put(7, 9).Put('b', 9), 2).text, "ab");
  BitWriter tooWide;
  tooWide.Put('a', 9);
  for (int size = 9; size <= 13; ++size) tooWide.Put(256, size).Put(1, size);
  EXPECT_EQ(Decode(1, tooWide.Put('b', 13), 2).out(), std::make_pair(DecodeResult::Corrupt, std::string("a")));
}

// ---------------------------------------------------------------- Unreduce

// Follower sets (byte value -> its followers), written from 255 down to 0;
// then `bytes` as plain 8-bit values.
BitWriter Reduced(const std::map<int, std::string>& sets = {}, std::initializer_list<int> bytes = {}) {
  BitWriter bits;
  for (int c = 255; c >= 0; --c) {
    const std::string followers = sets.count(c) ? sets.at(c) : "";
    bits.Put(static_cast<uint32_t>(followers.size()), 6);
    for (char f : followers) bits.Put(static_cast<uint8_t>(f), 8);
  }
  for (int b : bytes) bits.Put(static_cast<uint32_t>(b), 8);
  return bits;
}

TEST(Unreduce, CopiesAcrossTheWindowsEnd) {
  // 32700 plain bytes, then a repeat of 150 from 3000 back that crosses
  // the second 16 KiB boundary.
  std::string expected;
  BitWriter bits = Reduced();
  for (int i = 0; i < 32700; ++i) {
    int b = (i * 7 + i / 300) % 256;
    expected.push_back(static_cast<char>(b == 0x90 ? 0x91 : b));
    bits.Put(static_cast<uint8_t>(expected.back()), 8);
  }
  // Factor 4: length 15 + 132 + 3; distance 11 * 256 + 183 + 1.
  for (int b : {0x90, 15 | (11 << 4), 132, 183}) bits.Put(b, 8);
  for (int i = 0; i < 150; ++i) expected.push_back(expected[expected.size() - 3000]);
  Decoded d = Decode(5, bits, static_cast<uint32_t>(expected.size()));
  EXPECT_EQ(d.result, DecodeResult::Ok);
  EXPECT_TRUE(d.text == expected);
  EXPECT_EQ(std::make_pair(d.writes, d.largestChunk), std::make_pair(3, size_t{16384}));
  // Refused on its first window: nothing more is handed on.
  d = Decode(5, bits, static_cast<uint32_t>(expected.size()), 0, 0);
  EXPECT_EQ(std::make_pair(d.result, d.writes), std::make_pair(DecodeResult::Stopped, 1));
}

// ----------------------------------------------------------------- Explode

// A tree of 64 values all of 6 bits (four groups of 16), and of 256 values
// all of 8 bits; value v then has the code (count - 1 - v).
BitWriter& Tree64(BitWriter& bits) { return bits.Put(3, 8).Put(0xF5, 8).Put(0xF5, 8).Put(0xF5, 8).Put(0xF5, 8); }
BitWriter& Tree256(BitWriter& bits) {
  bits.Put(15, 8);
  for (int i = 0; i < 16; ++i) bits.Put(0xF7, 8);
  return bits;
}
// A match: `low` distance bits, then the distance's high part and the length from their trees.
BitWriter& Match(BitWriter& bits, uint32_t low, int lowBits, int high, int length) {
  return bits.Put(0, 1).Put(low, lowBits).Code(63 - high, 6).Code(63 - length, 6);
}

TEST(Explode, CorruptTreesAndCodesAndARefusedWrite) {
  // A length tree of 80 values.
  BitWriter tooMany;
  tooMany.Put(4, 8);
  for (int i = 0; i < 5; ++i) tooMany.Put(0xF5, 8);
  EXPECT_EQ(Decode(6, Tree64(tooMany), 1).result, DecodeResult::Corrupt);
  // A length tree of two 2-bit codes: "01" is value 0, "00" value 1, and
  // "1x" starts no code.
  BitWriter sparse;
  Tree64(sparse.Put(0, 8).Put(0x11, 8)).Put(1, 1).Put('q', 8);
  sparse.Put(0, 1).Put(0, 6).Code(63, 6).Code(1, 2);  // value 0: length 2
  sparse.Put(0, 1).Put(0, 6).Code(63, 6).Code(2, 2);
  EXPECT_EQ(Decode(6, sparse, 10).out(), std::make_pair(DecodeResult::Corrupt, std::string("qqq")));
  // Data that ends inside the trees.
  EXPECT_EQ(Decode(6, BitWriter().Put(3, 8).Put(0xF5, 8), 1).result, DecodeResult::Corrupt);

  BitWriter bits;
  Tree64(Tree64(bits)).Put(1, 1).Put('r', 8);
  for (int i = 0; i < 100; ++i) Match(bits, 0, 6, 0, 63).Put(255, 8);  // 63 + 255 + 2 bytes each
  Decoded d = Decode(6, bits, 1 + 100 * 320, 0, 1);
  EXPECT_EQ(std::make_pair(d.result, d.writes), std::make_pair(DecodeResult::Stopped, 2));
  EXPECT_EQ(d.text, std::string(16384, 'r'));
}

}  // namespace
}  // namespace quindo
