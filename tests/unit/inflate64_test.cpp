// Deflate64 on hand-packed streams: one that uses the codes plain DEFLATE
// lacks, and broken ones that must stop cleanly after what they decoded
// (hostile code tables: the fuzz target; the member's CRC catches the rest).
#include "zip/inflate64.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/zip_fixture.h"

namespace quindo {
namespace {

using test::BitWriter;
using test::Noise;
using test::StringInput;
using test::StringOutput;

struct Decoded {
  DecodeResult result;
  std::string text;
  uint64_t consumed = 0;
};

Decoded Decode(const std::string& stream, size_t piece = SIZE_MAX, int acceptWrites = -1) {
  StringInput in(stream, piece);
  StringOutput out(acceptWrites);
  Decoded d;
  d.result = Inflate64(in, out, &d.consumed);
  d.text = std::move(out.text);
  return d;
}

// Copies a match the slow way, byte by byte.
void Match(std::string& out, size_t length, size_t distance) {
  for (size_t i = 0; i < length; ++i) out += out[out.size() - distance];
}

TEST(Inflate64, HandPackedStreamUsesTheWholeWindow) {
  const std::string first = Noise(65535, 4), second = Noise(5000, 5);
  BitWriter w;
  w.Stored(first, false).Stored(second, false);
  w.Put(1, 1).Put(1, 2);                      // final, fixed codes
  w.Fixed(285).Put(59997, 16);                // length 3 + 59997
  w.Code(31, 5).Put(16383, 14);               // distance 49153 + 16383 = 65536
  w.Fixed(285).Put(0, 16);                    // length 3
  w.Code(30, 5).Put(7231, 14);                // distance 32769 + 7231
  w.Fixed('Z').Fixed(257).Code(0, 5);         // "Z", then 3 more at distance 1
  w.Fixed(284).Put(30, 5).Code(3, 5);         // length 227 + 30, distance 4
  w.Fixed(256);
  std::string expected = first + second;
  Match(expected, 60000, 65536);
  Match(expected, 3, 40000);
  expected += 'Z';
  Match(expected, 3, 1);
  Match(expected, 257, 4);

  const std::string junk = "PK\x03\x04 next member";
  for (size_t piece : {SIZE_MAX, size_t{1}, size_t{4096}}) {
    Decoded d = Decode(w.bytes + junk, piece);
    EXPECT_EQ(d.result, DecodeResult::Ok);
    EXPECT_TRUE(d.text == expected);
    EXPECT_EQ(d.consumed, w.bytes.size()) << "the stream ends at its final block";
  }
}

TEST(Inflate64, BrokenStreamsAreCorruptAfterWritingWhatWasDecoded) {
  auto fixed = [] { return BitWriter().Put(1, 1).Put(1, 2); };
  EXPECT_EQ(Decode("").result, DecodeResult::Corrupt);
  EXPECT_EQ(Decode(BitWriter().Put(1, 1).Put(3, 2).bytes).result, DecodeResult::Corrupt);  // block type 3
  BitWriter badLength;
  badLength.Put(1, 3).Put(0, 5).Put(5, 16).Put(5, 16);
  EXPECT_EQ(Decode(badLength.bytes + "abcde").result, DecodeResult::Corrupt);
  // A stored block whose bytes run out; a stream with no final block.
  EXPECT_EQ(Decode(BitWriter().Stored("abcdef", true).bytes.substr(0, 8)).text, "abc");
  EXPECT_EQ(Decode(BitWriter().Stored("ab", false).Stored("cd", false).bytes).text, "abcd");
  EXPECT_EQ(Decode(BitWriter().Stored("ab", false).bytes).result, DecodeResult::Corrupt);

  // Distances reach no further back than the start of the stream.
  Decoded d = Decode(fixed().Fixed('a').Fixed(257).Code(1, 5).Fixed(256).bytes);
  EXPECT_EQ(d.result, DecodeResult::Corrupt);
  EXPECT_EQ(d.text, "a");
  EXPECT_EQ(Decode(fixed().Fixed('a').Fixed(257).Code(0, 5).Fixed(256).bytes).text, "aaaa");
  // Literal/length symbols 286 and 287 have no meaning.
  for (int symbol : {286, 287}) {
    d = Decode(fixed().Fixed('q').Fixed(symbol).Put(0, 16).Code(0, 5).Fixed(256).bytes);
    EXPECT_EQ(d.result, DecodeResult::Corrupt);
    EXPECT_EQ(d.text, "q");
  }
}

}  // namespace
}  // namespace quindo
