// The LZH decoders on hand-made hostile data: corrupt codes must stop the
// member cleanly (the real archives are decoded by the corpus test).
#include <gtest/gtest.h>

#include "lzh/huffman_table.h"
#include "lzh/lzh_header.h"
#include "tests/support/lzh_fixture.h"

namespace quindo::test {
namespace {

using lzh::Method;

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
