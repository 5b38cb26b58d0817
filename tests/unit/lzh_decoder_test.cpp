// The LZH decoders on hand-made hostile data: corrupt codes must stop the
// member cleanly (the real archives are decoded by the corpus test, and each
// member's CRC-16 catches a code table taken wrongly).
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace quindo::test
