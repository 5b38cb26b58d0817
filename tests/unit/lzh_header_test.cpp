// Member headers of levels 0, 1 and 2 and the search for the first one.
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

TEST(LzhHeader, Level0FieldsAndWhatIsNoHeader) {
  std::string bytes = MakeMember({.name = "dir\\file.txt", .data = "payload", .time = 0x34A56C21, .attribute = 0x21});
  LzhHeader h;
  ASSERT_TRUE(Parse(bytes, h));
  EXPECT_EQ(std::tie(h.level, h.methodId, h.compressedSize, h.uncompressedSize, h.timeStamp, h.attribute, h.path),
            std::make_tuple(0, "-lh0-", 7, 7, 0x34A56C21, 0x21, "dir\\file.txt"));
  EXPECT_EQ(h.dataCrc, Crc16("payload", 7));
  EXPECT_EQ(h.headerLength, bytes.size() - 7);

  std::string badSum = bytes, badLevel = MakeMember({.method = "-lh5-"});
  badSum[1] = static_cast<char>(badSum[1] + 1);
  badLevel[20] = 3;
  const std::string notHeaders[] = {badSum,           bytes.substr(0, 20),           bytes.substr(0, 25),
                                    badLevel,         MakeMember({.level = 3}),      MakeMember({.method = "-pm0-"}),
                                    std::string(30, '\0')};  // the end mark
  for (size_t i = 0; i < std::size(notHeaders); ++i) EXPECT_FALSE(Parse(notHeaders[i], h)) << i;
}

TEST(LzhHeader, Level1ExtendedHeadersComeOffTheCompressedSize) {
  std::string bytes = MakeMember({.level = 1,
                                  .name = "",
                                  .data = "0123456789",
                                  .extended = {ExtendedHeader(0x01, "a.txt"), ExtendedHeader(0x02, "docs\xffsub\xff"),
                                               ExtendedHeader(0x40, std::string("\x01\x00", 2)),
                                               ExtendedHeader(0x7F, "ignored")}});
  LzhHeader h;
  ASSERT_TRUE(Parse(bytes, h));
  EXPECT_EQ(std::tie(h.compressedSize, h.headerLength, h.path, h.attribute),
            std::make_tuple(10, bytes.size() - 10, "docs\\sub\\a.txt", 0x01));
}

TEST(LzhHeader, Level2HeaderCrcPaddingAndLength) {
  std::string bytes = MakeMember({.level = 2, .name = "b.bin", .data = "xyz", .time = 1234567890, .headerCrc = true});
  LzhHeader h;
  ASSERT_TRUE(Parse(bytes, h));
  EXPECT_EQ(std::tie(h.level, h.path, h.timeStamp, h.headerLength),
            std::make_tuple(2, "b.bin", 1234567890, bytes.size() - 3));
  std::string corrupt = bytes;
  corrupt[27] ^= 0x40;
  EXPECT_FALSE(Parse(corrupt, h));

  // A writer may pad the header by a byte; the stated size and the CRC
  // both count it.
  std::string header = bytes.substr(0, bytes.size() - 3) + '\0';
  auto* p = reinterpret_cast<uint8_t*>(header.data());
  StoreLe16(p, static_cast<uint16_t>(header.size()));
  StoreLe16(p + 27, 0);
  StoreLe16(p + 27, Crc16(header.data(), header.size()));
  ASSERT_TRUE(Parse(header + "xyz", h));
  EXPECT_EQ(h.headerLength, header.size());

  // A size whose low byte is 0 reads as the end mark.
  std::string endMark = MakeMember({.level = 2, .name = std::string(256 - 29, 'n')});
  ASSERT_EQ(endMark.size(), 256u);
  EXPECT_FALSE(Parse(endMark, h));
  // Over-long names and folders are cut.
  const std::string longFolder = ExtendedHeader(0x02, std::string(300, 'd'));
  ASSERT_TRUE(Parse(MakeMember({.level = 2, .name = std::string(300, 'n'), .extended = {longFolder}}), h));
  EXPECT_EQ(h.path, std::string(260, 'd') + std::string(259, 'n'));
}

TEST(LzhHeader, NameEndsAtItsFirstNul) {
  // Amiga LhA keeps a file note after the name; a level-2 name header may
  // carry the same.
  const std::string noted("metadata.txt\0This is a comment on the file.", 44);
  LzhHeader h;
  for (int level : {0, 1, 2}) {
    ASSERT_TRUE(Parse(MakeMember({.level = level, .name = noted, .data = "x"}), h)) << level;
    EXPECT_EQ(h.path, "metadata.txt") << level;
  }
  ASSERT_TRUE(Parse(MakeMember({.level = 2, .extended = {ExtendedHeader(0x02, "docs\xff")}}), h));
  EXPECT_EQ(h.path, "docs\\a.txt");
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

TEST(LzhHeader, SearchInMemoryFindsWhatTheParseFinds) {
  const std::string good = MakeMember({.data = "abc"});
  std::string badCrc = MakeMember({.level = 2, .name = "c.bin", .data = "xyz", .headerCrc = true});
  badCrc[27] ^= 0x40;
  std::string level1 = MakeMember({.level = 1, .data = "0123", .extended = {ExtendedHeader(0x7F, "n")}});
  std::string level1Over = level1;  // extended headers longer than the compressed size
  StoreLe32(reinterpret_cast<uint8_t*>(level1Over.data()) + 7, 3);
  level1Over[1] = static_cast<char>(level1Over[1] + 3 - level1[7]);  // the checksum with it
  std::string padded = MakeMember({.level = 2, .data = "p", .headerCrc = true});
  {  // a level-2 header padded by two bytes, its CRC over them
    std::string header = padded.substr(0, padded.size() - 1) + std::string(2, '\0');
    auto* p = reinterpret_cast<uint8_t*>(header.data());
    StoreLe16(p, static_cast<uint16_t>(header.size()));
    StoreLe16(p + 27, 0);
    StoreLe16(p + 27, Crc16(header.data(), header.size()));
    padded = header + "p";
  }
  const std::string junk = std::string(300, 'J') + "xx-lh5-" + std::string(40, '\0');
  const std::string files[] = {
      junk + good,
      junk + badCrc + std::string(5, 'z') + good,
      badCrc.substr(0, 40),
      junk + level1Over + level1,
      "-" + padded,
      padded.substr(0, padded.size() - 3),  // the padding cut off
      std::string(2, '\0') + MakeMember({.level = 2, .headerCrc = true}) + std::string(20, '\0'),
      MakeMember({.level = 2, .extended = {ExtendedHeader(0x00, std::string(1, '\0'))}}),  // too short to count
  };
  for (size_t i = 0; i < std::size(files); ++i) {
    lzh::HeaderSearchCounts counts;
    EXPECT_EQ(SearchWholeFile(files[i], &counts), ParseEveryOffset(files[i])) << i;
    EXPECT_LE(counts.parses, 1u) << i;
  }
  EXPECT_EQ(SearchWholeFile(junk + good), 347);
  EXPECT_EQ(SearchWholeFile(junk + badCrc + std::string(5, 'z') + good), 347 + static_cast<int64_t>(badCrc.size()) + 5);
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
