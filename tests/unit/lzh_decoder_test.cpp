// The LZH decoders on hand-made member data: block boundaries, one-symbol
// codes, window edges, the -lz5- initial window, and corrupt or short data
// that must stop cleanly.
#include <gtest/gtest.h>

#include "lzh/huffman_table.h"
#include "lzh/lzh_header.h"
#include "lzh/window_loop.h"
#include "tests/support/test_support.h"
#include "tests/unit/lzh_test_streams.h"

namespace quindo::test {
namespace {

using lzh::Method;

// A block-Huffman block in which every code has a single symbol: no code
// consumes bits, so the block is only its header.
void SingleSymbolBlock(BitWriter& w, uint16_t codes, unsigned symbol, unsigned position, unsigned positionBits) {
  w.Put(codes, 16).Put(0, 5).Put(0, 5);  // code-length code: one symbol
  w.Put(0, 9).Put(symbol, 9).Put(0, positionBits).Put(position, positionBits);
}

void ExpectDecodes(Method method, const std::string& data, const std::string& expected) {
  auto r = Decode(method, data, static_cast<uint32_t>(expected.size()));
  EXPECT_EQ(r.status, DecodeStatus::Ok);
  EXPECT_TRUE(r.output == expected) << r.output.size() << " bytes, " << expected.size() << " expected";
}

TEST(LzhDecoders, EmptyMemberReadsNothing) {
  MemorySource source("\xff\xff\xff\xff");
  StringSink sink;
  for (Method m : {Method::Lh1, Method::Lh2, Method::Lh3, Method::Lh5, Method::Lh7, Method::Lzs, Method::Lz5})
    EXPECT_EQ(lzh::DecodeMember(m, source, 4, sink, 0, {}), DecodeStatus::Ok);
  EXPECT_EQ(source.reads + sink.bytes.size(), 0u);
}

TEST(LzhBlockHuffman, OneSymbolCodesWindowEdgesAndShortData) {
  BitWriter w;  // one-symbol codes consume no bits, across a block boundary
  SingleSymbolBlock(w, 1000, 'A', 0, 4);
  SingleSymbolBlock(w, 5, 'B', 0, 4);
  ExpectDecodes(Method::Lh5, w.Bytes(), std::string(1000, 'A') + "BBBBB");
  std::atomic<bool> cancel{true};
  EXPECT_EQ(Decode(Method::Lh5, w.Bytes(), 1005, {.cancel = &cancel}).status, DecodeStatus::Cancelled);
  // A huge stated size over a few bytes: once the real bits are used up the
  // member stops instead of running on over zero bits.
  auto r = Decode(Method::Lh5, w.Bytes(), 0xFFFFFFF0u);
  EXPECT_EQ(r.status, DecodeStatus::Truncated);
  EXPECT_LT(r.output.size(), 300000u);
  EXPECT_EQ(r.output.substr(0, 1000), std::string(1000, 'A'));

  BitWriter zero;  // a match of 10 bytes at distance 0 before anything was written
  SingleSymbolBlock(zero, 1, 256 + 7, 0, 5);
  ExpectDecodes(Method::Lh6, zero.Bytes(), std::string(10, ' '));
  EXPECT_EQ(Decode(Method::Lh6, zero.Bytes(), 4).output, std::string(4, ' '));  // cut at the stated size

  BitWriter far;
  SingleSymbolBlock(far, 1, 'X', 0, 5);
  SingleSymbolBlock(far, 65535, 'a', 0, 5);
  SingleSymbolBlock(far, 2, 256, 16, 5);  // matches of 3, position symbol 16: 2^15 + 15 more bits
  far.Put(0x7FFF, 15).Put(0x7FFE, 15);    // 65535 (back to the 'X') and 65534
  ExpectDecodes(Method::Lh7, far.Bytes(), "X" + std::string(65535, 'a') + "Xaaaaa");
}

TEST(LzhLh3, FixedDistancesReach8191AndEachMemberStartsAfresh) {
  BitWriter w;
  auto block = [&](uint16_t codes, unsigned symbol) {
    w.Put(codes, 16);
    for (int i = 0; i < 3; ++i) w.Put(1, 1).Put(0, 4);  // three lengths of 1: one symbol
    w.Put(symbol, 9).Put(0, 1);                         // the fixed distance code
  };
  block(1, 'Q'), block(8191, '.'), block(1, 256);  // the last a match of 3
  w.Put(0x1FF, 9).Put(0x3F, 6);                    // distance symbol 127 (nine 1 bits) and 63
  for (int member = 0; member < 2; ++member)
    ExpectDecodes(Method::Lh3, w.Bytes(), "Q" + std::string(8191, '.') + "Q..");
}

TEST(LzhLh3, OneDistanceSymbolIsSevenBits) {
  BitWriter w;
  auto single = [&](uint16_t codes, unsigned symbol) {
    w.Put(codes, 16);
    for (int i = 0; i < 3; ++i) w.Put(1, 1).Put(0, 4);
    w.Put(symbol, 9);
  };
  single(64, 'a'), w.Put(0, 1);
  single(64, 'b'), w.Put(0, 1);
  single(1, 256), w.Put(1, 1).Put(1, 4).Put(1, 4).Put(1, 4).Put(1, 7);  // distance symbol 1 alone
  w.Put(0, 6);                                                           // 64 + 0: the copy starts 65 back
  ExpectDecodes(Method::Lh3, w.Bytes(), std::string(64, 'a') + std::string(64, 'b') + "abb");
}

// A member written by the Java LHA library, whose blocks often have a single
// distance symbol; before it was read with 7 bits the member stopped at the
// second block, 18,753 bytes in.
TEST(LzhLh3, JavaLibraryMemberDecodesWhole) {
  std::string corpus = CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "the archive corpus is absent";
  std::string archive = ReadFile(corpus + "/../cases/lh3-seq30000.lzh");
  ASSERT_FALSE(archive.empty());
  MemorySource source(archive);
  lzh::LzhHeader h;
  ASSERT_TRUE(lzh::ParseHeader(source, h));
  ASSERT_EQ(h.methodId, "-lh3-");
  std::string expected;
  for (int i = 1; i <= 30000; ++i) expected += std::to_string(i) + "\n";
  ASSERT_EQ(h.uncompressedSize, expected.size());
  StringSink sink;
  EXPECT_EQ(lzh::DecodeMember(Method::Lh3, source, h.compressedSize, sink, h.uncompressedSize, {}), DecodeStatus::Ok);
  EXPECT_TRUE(sink.bytes == expected) << sink.bytes.size() << " bytes";
  EXPECT_EQ(Crc16(sink.bytes.data(), sink.bytes.size()), h.dataCrc);
}

TEST(LzhDecoders, CorruptCodesStopTheMember) {
  // Lengths that leave part of the code space unused, a length count beyond
  // the 510 symbols, a run of zero lengths past them, a one-symbol position
  // code beyond -lh5-'s, -lh3- distance lengths that are no prefix code.
  const std::pair<Method, std::vector<std::pair<uint32_t, unsigned>>> cases[] = {
      {Method::Lh5, {{1, 16}, {1, 5}, {1, 3}}},
      {Method::Lh5, {{1, 16}, {0, 5}, {3, 5}, {511, 9}}},
      {Method::Lh5, {{1, 16}, {0, 5}, {2, 5}, {510, 9}, {511, 9}}},
      {Method::Lh5, {{1, 16}, {0, 5}, {0, 5}, {0, 9}, {'a', 9}, {0, 4}, {15, 4}}},
      {Method::Lh3,
       {{1, 16}, {1, 1}, {0, 4}, {1, 1}, {0, 4}, {1, 1}, {0, 4}, {256, 9}, {1, 1}, {1, 4}, {1, 4}, {2, 4}, {0, 32}}},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    BitWriter w;
    for (auto [value, n] : cases[i].second) w.Put(value, n);
    EXPECT_EQ(Decode(cases[i].first, w.Bytes() + std::string(8, '\0'), 3).status, DecodeStatus::Damaged) << i;
  }
}

TEST(LzhLzss, LzsStartsOnSpacesAndLz5OnItsPrefilledWindow) {
  ExpectDecodes(Method::Lzs, BitWriter().Put(0, 1).Put(0, 11).Put(3, 4).Put(1, 1).Put('!', 8).Bytes(), "     !");
  std::vector<uint8_t> window(4096);
  lzh::PrefillLz5Window(window.data());
  const std::pair<int, int> cells[] = {{0, 0},      {17, 0},   {18 + 13 * 7 + 12, 7}, {3346 + 200, 200},
                                       {3602, 255}, {3857, 0}, {3986, ' '},           {4095, ' '}};
  for (auto [at, value] : cells) EXPECT_EQ(window[at], value) << at;
  // Flags (match, match, match, literal); position 0xFEE, the 18 bytes
  // before position 0; position 0, thirteen 0 bytes; the ascending run at
  // 3328; a literal.
  const std::string data("\x08\xee\xf0\x00\x0a\x00\xd1k", 8);
  ExpectDecodes(Method::Lz5, data, std::string(16, '\0') + std::string("\x00\x01\x02\x03", 4) + "k");
  EXPECT_EQ(Decode(Method::Lz5, data.substr(0, 4), 21).status, DecodeStatus::Truncated);
}

TEST(LzhHuffmanCode, CanonicalCodesBeyondTheTableAndLengthsThatAreNoPrefixCode) {
  // Lengths 1, 2, ... 15, 16, 16: codes 0, 10, 110, ... and two of 16 bits.
  lzh::HuffmanCode code(17, 8);
  for (unsigned s = 0; s < 17; ++s) code.Lengths()[s] = static_cast<uint8_t>(std::min(s + 1, 16u));
  ASSERT_TRUE(code.Build());
  for (unsigned s = 0; s < 17; ++s) {
    unsigned length;
    EXPECT_EQ(code.Decode(s < 16 ? (0xFFFFu << (16 - s)) & 0xFFFF : 0xFFFF, length), static_cast<int>(s));
    EXPECT_EQ(length, std::min(s + 1, 16u));
  }
  // Too many codes, the code space not filled, lengths beyond 16; all zero
  // builds but decodes nothing.
  lzh::HuffmanCode small(4, 8);
  const std::pair<std::vector<uint8_t>, bool> rows[] = {{{1, 1, 1, 0}, false},
                                                        {{1, 2, 0, 0}, false},
                                                        {{1, 17, 17, 0}, false},
                                                        {{1, 2, 3, 3}, true},
                                                        {{0, 0, 0, 0}, true}};
  for (const auto& [lengths, ok] : rows) {
    std::copy(lengths.begin(), lengths.end(), small.Lengths());
    EXPECT_EQ(small.Build(), ok) << ::testing::PrintToString(lengths);
  }
  unsigned length;
  EXPECT_EQ(small.Decode(0x1234, length), -1);
}

}  // namespace
}  // namespace quindo::test
