// Hostile member headers and the search for the first one.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <vector>

#include "lzh/lzh_header.h"
#include "tests/support/lzh_fixture.h"

namespace quindo::test {
namespace {

using lzh::LzhHeader;

bool Parse(const std::string& bytes, LzhHeader& h) {
  MemorySource source(bytes);
  return lzh::ParseHeader(source, h);
}

std::span<const uint8_t> Bytes(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// The first offset where the stream parse finds a header, trying each one.
int64_t ParseEveryOffset(const std::string& file) {
  LzhHeader h;
  for (size_t i = 0; i + 20 < file.size(); ++i)
    if (file[i + 2] == '-' && file[i + 3] == 'l' && (file[i + 4] == 'h' || file[i + 4] == 'z') &&
        Parse(file.substr(i), h))
      return static_cast<int64_t>(i);
  return -1;
}

int64_t SearchWholeFile(const std::string& file, lzh::HeaderSearchCounts* counts = nullptr) {
  return lzh::FindFirstHeader(Bytes(file), file.size(), true, nullptr, counts);
}

TEST(LzhHeader, HeaderRunningPastTheBytesReadIsParsedFromTheFile) {
  const std::string member = MakeMember({.level = 2, .name = std::string(100, 'n'), .data = "abc"});
  const std::string file = std::string(50, 'J') + member;
  std::vector<uint64_t> asked;
  auto parseAt = [&](uint64_t offset) {
    asked.push_back(offset);
    LzhHeader h;
    return Parse(file.substr(offset), h);
  };
  // 80 bytes read: the header at 50 goes on past them.
  EXPECT_EQ(lzh::FindFirstHeader(Bytes(file).first(80), parseAt), 50);
  EXPECT_EQ(asked, std::vector<uint64_t>{50});
  // When those bytes are the whole file there is nothing more to parse.
  EXPECT_EQ(lzh::FindFirstHeader(Bytes(file).first(80), 80, true, parseAt), -1);
  EXPECT_EQ(asked.size(), 1u);
  // A window of 80 within all the bytes: judged in memory.
  EXPECT_EQ(lzh::FindFirstHeader(Bytes(file), 80, true, parseAt), 50);
  EXPECT_EQ(asked.size(), 1u);
}

// Level-2 headers 146 bytes apart, each with `small` extended headers of 3
// bytes and then one that runs to the next one's first: every candidate's
// chain goes on to the end.
std::string ChainedHeaders(size_t count, uint8_t type, bool endChain, size_t small = 0) {
  constexpr size_t kStep = 146;
  std::string file(count * kStep + 26, 'c');
  auto* p = reinterpret_cast<uint8_t*>(file.data());
  for (size_t k = 0; k < count; ++k) {
    uint8_t* h = p + k * kStep;
    StoreLe16(h, 0x101);
    std::memcpy(h + 2, "-lh5-", 5);
    h[20] = 2;
    uint8_t* e = h + 26;
    for (size_t j = 0; j < small; ++j, e += 3) StoreLe16(e - 2, 3), e[0] = 0x7F;
    StoreLe16(e - 2, static_cast<uint16_t>(h + kStep + 26 - e));
    e[0] = type;
  }
  if (endChain) StoreLe16(p + file.size() - 2, 0);  // the last extended header ends the chain
  return file;
}

TEST(LzhHeader, SearchThroughLongChainsOfExtendedHeadersIsLinear) {
  const std::tuple<uint8_t, bool, size_t> shapes[] = {{0x7F, false, 0}, {0x00, true, 0}, {0x7F, true, 0}, {0x7F, false, 39}};
  for (auto [type, endChain, small] : shapes) {
    uint64_t perKiB[2];
    for (size_t count : {2500, 10000}) {
      SCOPED_TRACE(::testing::Message() << int{type} << " " << endChain << " " << small << " " << count);
      const std::string file = ChainedHeaders(count, type, endChain, small);
      lzh::HeaderSearchCounts counts;
      int64_t found = SearchWholeFile(file, &counts);
      EXPECT_EQ(counts.candidates, found < 0 ? count : found / 146 + 1);
      EXPECT_LE(counts.bytesExamined, file.size() / 3);  // each extended header stepped over once
      EXPECT_LE(counts.parses, 1u);
      if (type == 0x00 || !endChain) {
        EXPECT_EQ(found, -1);  // a chain into the end of the file, or header CRCs that do not match
      } else {
        // The first header whose chain ends within the length limit.
        EXPECT_EQ(found, static_cast<int64_t>((count - (lzh::kMaxHeaderLength - 26) / 146) * 146));
        EXPECT_EQ(found, ParseEveryOffset(file.substr(found - 146 * 3)) + found - 146 * 3);
      }
      perKiB[count == 10000] = counts.bytesExamined * 1024 / file.size();
    }
    EXPECT_LE(perKiB[1], perKiB[0] + 1);
  }
}

}  // namespace
}  // namespace quindo::test
