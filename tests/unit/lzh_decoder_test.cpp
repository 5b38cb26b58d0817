// The LZH decoders on hand-made member data: block boundaries, one-symbol
// codes, window edges, the -lz5- initial window, and corrupt or short data
// that must stop cleanly.
#include <gtest/gtest.h>

#include <random>

#include "common/crc16.h"
#include "lzh/data_crc.h"
#include "lzh/huffman_table.h"
#include "lzh/window_loop.h"
#include "tests/unit/lzh_test_streams.h"

namespace quindo::test {
namespace {

using lzh::DecodeStatus;
using lzh::Method;

// A block-Huffman block in which every code has a single symbol: no code
// consumes bits, so the block is only its header.
void SingleSymbolBlock(BitWriter& w, uint16_t codes, unsigned symbol, unsigned position, unsigned positionBits) {
  w.Put(codes, 16);
  w.Put(0, 5), w.Put(0, 5);          // code-length code: one symbol
  w.Put(0, 9), w.Put(symbol, 9);     // character code: one symbol
  w.Put(0, positionBits), w.Put(position, positionBits);
}

TEST(LzhMethods, IdsSelectTheirDecoders) {
  EXPECT_EQ(lzh::MethodFromId("-lh0-"), Method::Stored);
  EXPECT_EQ(lzh::MethodFromId("-lz4-"), Method::Stored);
  EXPECT_EQ(lzh::MethodFromId("-lh5-"), Method::Lh5);
  EXPECT_EQ(lzh::MethodFromId("-lz5-"), Method::Lz5);
  for (const char* id : {"-lh4-", "-lhx-", "-lhd-", "-pm0-", "-LH5-", "-lh5"})
    EXPECT_EQ(lzh::MethodFromId(id), Method::Unsupported) << id;
}

TEST(LzhBlockHuffman, EmptyMemberReadsNothing) {
  MemorySource source("\xff\xff\xff\xff");
  StringSink sink;
  lzh::DecodeControl control;
  for (Method m : {Method::Lh1, Method::Lh2, Method::Lh3, Method::Lh5, Method::Lh7, Method::Lzs, Method::Lz5})
    EXPECT_EQ(lzh::DecodeMember(m, source, 4, sink, 0, control), DecodeStatus::Ok);
  EXPECT_EQ(source.reads, 0);
  EXPECT_TRUE(sink.bytes.empty());
}

TEST(LzhBlockHuffman, SingleSymbolCodesConsumeNoBitsAcrossBlocks) {
  BitWriter w;
  SingleSymbolBlock(w, 1000, 'A', 0, 4);
  SingleSymbolBlock(w, 5, 'B', 0, 4);
  auto r = Decode(Method::Lh5, w.Bytes(), 1005);
  EXPECT_EQ(r.status, DecodeStatus::Ok);
  EXPECT_EQ(r.output, std::string(1000, 'A') + "BBBBB");
}

TEST(LzhBlockHuffman, DistanceZeroAtTheStartCopiesSpaces) {
  BitWriter w;
  SingleSymbolBlock(w, 1, 256 + 7, 0, 5);  // a match of 10 bytes, distance 0
  auto r = Decode(Method::Lh6, w.Bytes(), 10);
  EXPECT_EQ(r.status, DecodeStatus::Ok);
  EXPECT_EQ(r.output, std::string(10, ' '));
  // A match that runs past the stated size stops there.
  EXPECT_EQ(Decode(Method::Lh6, w.Bytes(), 4).output, std::string(4, ' '));
}

TEST(LzhBlockHuffman, Lh7DistancesReachTheWholeWindow) {
  BitWriter w;
  SingleSymbolBlock(w, 1, 'X', 0, 5);
  SingleSymbolBlock(w, 65535, 'a', 0, 5);
  // Matches of 3 with position symbol 16: distance 2^15 + 15 more bits.
  SingleSymbolBlock(w, 2, 256, 16, 5);
  w.Put(0x7FFF, 15);  // 65535: back to the 'X'
  w.Put(0x7FFE, 15);  // 65534: one short of it
  auto r = Decode(Method::Lh7, w.Bytes(), 65536 + 6);
  ASSERT_EQ(r.status, DecodeStatus::Ok);
  ASSERT_EQ(r.output.size(), 65536u + 6);
  EXPECT_EQ(r.output.substr(65536), "Xaaaaa");
}

TEST(LzhBlockHuffman, SentCodesDecodeLiteralsAndMatches) {
  // A code-length code of four 2-bit codes (symbols 0, 3, 4 and 5: one
  // zero, lengths 1, 2 and 3), then the character lengths sent through it.
  BitWriter w;
  w.Put(4, 16);
  w.Put(6, 5);  // six code-length lengths: 2 0 0 | (two more zeros) 2 2 2
  w.Put(2, 3), w.Put(0, 3), w.Put(0, 3), w.Put(0, 2), w.Put(2, 3), w.Put(2, 3), w.Put(2, 3);
  // Lengths of the 259 symbols 0 to 258: 'a' 1, 'b' 2, 258 2, else 0.
  w.Put(259, 9);
  auto zeros = [&](unsigned n) {
    for (; n > 0; --n) w.Put(0b00, 2);  // code-length symbol 0: one zero
  };
  zeros(97);
  w.Put(0b01, 2);  // symbol 3: length 1
  w.Put(0b10, 2);  // symbol 4: length 2
  zeros(258 - 99);
  w.Put(0b10, 2);  // 258: length 2
  // Position code: one symbol, 0 (distance 0).
  w.Put(0, 4), w.Put(0, 4);
  // The codes: 'a'=0, 'b'=10, 258=11 (match of 5, distance 0), 'a'.
  w.Put(0b0, 1), w.Put(0b10, 2), w.Put(0b11, 2), w.Put(0b0, 1);
  auto r = Decode(Method::Lh5, w.Bytes(), 8);
  EXPECT_EQ(r.status, DecodeStatus::Ok);
  EXPECT_EQ(r.output, "abbbbbba");
}

TEST(LzhBlockHuffman, CorruptBlocksStopTheMember) {
  {
    // Code lengths that leave part of the code space unused.
    BitWriter w;
    w.Put(1, 16), w.Put(1, 5), w.Put(1, 3);
    EXPECT_EQ(Decode(Method::Lh5, w.Bytes() + std::string(8, '\0'), 10).status, DecodeStatus::Corrupt);
  }
  {
    // A length count beyond the 510 symbols.
    BitWriter w;
    w.Put(1, 16), w.Put(0, 5), w.Put(3, 5), w.Put(511, 9);
    EXPECT_EQ(Decode(Method::Lh5, w.Bytes() + std::string(8, '\0'), 10).status, DecodeStatus::Corrupt);
  }
  {
    // A run of zero lengths that runs past the 510 symbols.
    BitWriter w;
    w.Put(1, 16), w.Put(0, 5), w.Put(2, 5), w.Put(510, 9), w.Put(511, 9);
    EXPECT_EQ(Decode(Method::Lh5, w.Bytes() + std::string(8, '\0'), 10).status, DecodeStatus::Corrupt);
  }
  {
    // A one-symbol position code naming a symbol the method does not have.
    BitWriter w;
    SingleSymbolBlock(w, 1, 'a', 15, 4);
    EXPECT_EQ(Decode(Method::Lh5, w.Bytes(), 10).status, DecodeStatus::Corrupt);
  }
}

TEST(LzhBlockHuffman, DataThatEndsEarlyStopsAsTruncated) {
  // A huge declared size over a few bytes: once the real bits are used up
  // the member stops instead of running on over zero bits.
  BitWriter w;
  SingleSymbolBlock(w, 100, 'z', 0, 4);
  auto r = Decode(Method::Lh5, w.Bytes(), 0xFFFFFFF0u);
  EXPECT_EQ(r.status, DecodeStatus::Truncated);
  EXPECT_LT(r.output.size(), 300000u);
  EXPECT_EQ(r.output.substr(0, 100), std::string(100, 'z'));
}

TEST(LzhLh3, FixedDistancesReach8191AndTheBlockRestartsPerMember) {
  auto block = [](BitWriter& w, uint16_t codes, unsigned symbol) {
    w.Put(codes, 16);
    for (int i = 0; i < 3; ++i) w.Put(1, 1), w.Put(0, 4);  // three lengths of 1: one symbol
    w.Put(symbol, 9);
    w.Put(0, 1);  // the fixed distance code
  };
  BitWriter w;
  block(w, 1, 'Q');
  block(w, 8191, '.');
  block(w, 1, 256);  // a match of 3
  w.Put(0x1FF, 9), w.Put(0x3F, 6);  // distance symbol 127 (nine 1 bits) and 63
  std::string data = w.Bytes();
  for (int member = 0; member < 2; ++member) {
    auto r = Decode(Method::Lh3, data, 8192 + 3);
    ASSERT_EQ(r.status, DecodeStatus::Ok);
    EXPECT_EQ(r.output.substr(8192), "Q..");
  }
}

TEST(LzhLh3, SingleDistanceSymbolBeyondTheWindowIsCorrupt) {
  BitWriter w;
  w.Put(1, 16);
  for (int i = 0; i < 3; ++i) w.Put(1, 1), w.Put(0, 4);
  w.Put(256, 9);
  w.Put(1, 1);  // sent distance lengths: three 1s, one symbol
  for (int i = 0; i < 3; ++i) w.Put(1, 4);
  w.Put(200, 9);
  EXPECT_EQ(Decode(Method::Lh3, w.Bytes() + std::string(4, '\0'), 3).status, DecodeStatus::Corrupt);
}

TEST(LzhLzss, LzsMatchAtTheStartCopiesSpaces) {
  BitWriter w;
  w.Put(0, 1), w.Put(0, 11), w.Put(3, 4);  // a match of 5 at position 0
  w.Put(1, 1), w.Put('!', 8);
  auto r = Decode(Method::Lzs, w.Bytes(), 6);
  EXPECT_EQ(r.status, DecodeStatus::Ok);
  EXPECT_EQ(r.output, "     !");
}

TEST(LzhLzss, Lz5InitialWindow) {
  std::vector<uint8_t> window(4096);
  lzh::PrefillLz5Window(window.data());
  EXPECT_EQ(window[0], 0);
  EXPECT_EQ(window[17], 0);
  EXPECT_EQ(window[18 + 13 * 7 + 12], 7);
  EXPECT_EQ(window[3346 + 200], 200);
  EXPECT_EQ(window[3602], 255);
  EXPECT_EQ(window[3857], 0);
  EXPECT_EQ(window[3900], 0);
  EXPECT_EQ(window[3986], ' ');
  EXPECT_EQ(window[4095], ' ');

  // Items: position 0xFEE, which names the 18 bytes before position 0;
  // position 0 (thirteen 0 bytes); the ascending run at 3328; a literal.
  std::string data;
  data += '\x08';  // flags: match, match, match, literal
  data += std::string("\xee\xf0", 2);  // 0xFEE, length 3
  data += std::string("\x00\x0a", 2);  // 0, length 13
  data += std::string("\x00\xd1", 2);  // 3328 = 0xD00, length 4
  data += 'k';
  auto r = Decode(Method::Lz5, data, 3 + 13 + 4 + 1);
  ASSERT_EQ(r.status, DecodeStatus::Ok);
  EXPECT_EQ(r.output, std::string(3 + 13, '\0') + std::string("\x00\x01\x02\x03", 4) + "k");
  EXPECT_EQ(Decode(Method::Lz5, data.substr(0, 4), 21).status, DecodeStatus::Truncated);
}

TEST(LzhStored, CopiesAndNoticesAShortMember) {
  MemorySource source("hello");
  StringSink sink;
  lzh::DecodeControl control;
  EXPECT_EQ(lzh::DecodeMember(Method::Stored, source, 5, sink, 5, control), DecodeStatus::Ok);
  MemorySource shortSource("hel");
  EXPECT_EQ(lzh::DecodeMember(Method::Stored, shortSource, 5, sink, 5, control), DecodeStatus::Truncated);
  MemorySource rest("to the end");
  StringSink all;
  EXPECT_EQ(lzh::DecodeMember(Method::Stored, rest, lzh::kSizeToEnd, all, 0, control), DecodeStatus::Ok);
  EXPECT_EQ(all.bytes, "to the end");
}

TEST(LzhDecoders, CancelStopsAtTheNextSymbol) {
  BitWriter w;
  SingleSymbolBlock(w, 1000, 'A', 0, 4);
  MemorySource source(w.Bytes());
  StringSink sink;
  std::atomic<bool> cancel{true};
  lzh::DecodeControl control;
  control.cancel = &cancel;
  EXPECT_EQ(lzh::DecodeMember(Method::Lh5, source, 7, sink, 1000, control), DecodeStatus::Cancelled);
}

TEST(LzhHuffmanCode, CanonicalCodesWithLongCodesBeyondTheTable) {
  // Lengths 1, 2, ... 15, 16, 16: codes 0, 10, 110, ... and two of 16 bits.
  lzh::HuffmanCode code(17, 8);
  for (unsigned s = 0; s < 17; ++s) code.Lengths()[s] = static_cast<uint8_t>(s < 16 ? s + 1 : 16);
  ASSERT_TRUE(code.Build());
  for (unsigned s = 0; s < 17; ++s) {
    unsigned len = s < 16 ? s + 1 : 16;
    uint32_t bits = s < 16 ? ((0xFFFFu << (16 - s)) & 0xFFFF) : 0xFFFF;
    unsigned got;
    EXPECT_EQ(code.Decode(bits, got), static_cast<int>(s));
    EXPECT_EQ(got, len);
  }
}

TEST(LzhHuffmanCode, RefusesLengthsThatAreNoPrefixCode) {
  lzh::HuffmanCode code(4, 8);
  auto build = [&](std::vector<uint8_t> lengths) {
    std::copy(lengths.begin(), lengths.end(), code.Lengths());
    return code.Build();
  };
  EXPECT_FALSE(build({1, 1, 1, 0}));   // too many codes
  EXPECT_FALSE(build({1, 2, 0, 0}));   // the code space is not filled
  EXPECT_FALSE(build({1, 17, 17, 0}));  // longer than 16 bits
  EXPECT_TRUE(build({1, 2, 3, 3}));
  EXPECT_TRUE(build({0, 0, 0, 0}));  // builds, but decodes nothing
  unsigned len;
  EXPECT_EQ(code.Decode(0x1234, len), -1);
}

TEST(LzhDataCrc, AgreesWithTheBytewiseCrc) {
  std::mt19937 rng(7);
  std::string data(10007, '\0');
  for (char& c : data) c = static_cast<char>(rng());
  for (size_t size : {0u, 1u, 7u, 8u, 9u, 4096u, 10007u}) {
    auto* p = reinterpret_cast<const uint8_t*>(data.data());
    EXPECT_EQ(lzh::DataCrcUpdate(0x1234, p, size), Crc16Update(0x1234, p, size)) << size;
  }
}

}  // namespace
}  // namespace quindo::test
