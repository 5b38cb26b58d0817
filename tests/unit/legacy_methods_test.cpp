// The PKZIP 1.x decoders on hand-made hostile bit streams: codes not yet
// defined, code sizes past their limit, corrupt trees and a refusing output
// (real archives of every method: zip_legacy_corpus_test).
#include <gtest/gtest.h>

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

// ----------------------------------------------------------------- Explode

// A tree of 64 values all of 6 bits (four groups of 16); value v then has
// the code (63 - v).
BitWriter& Tree64(BitWriter& bits) { return bits.Put(3, 8).Put(0xF5, 8).Put(0xF5, 8).Put(0xF5, 8).Put(0xF5, 8); }
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
