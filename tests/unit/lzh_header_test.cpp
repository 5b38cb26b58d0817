// Member headers of levels 0, 1 and 2 and the search for the first one.
#include <gtest/gtest.h>

#include <tuple>

#include "lzh/lzh_header.h"
#include "tests/unit/lzh_test_streams.h"

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

TEST(LzhHeader, FirstHeaderAfterJunkAndFalseStarts) {
  std::string file = std::string(1000, 'J') + "xx-lh5-" + std::string(40, '\0') + MakeMember({.data = "abc"});
  auto window = std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(file.data()), file.size());
  int tries = 0;
  LzhHeader h;
  auto parse = [&](uint64_t offset) { return ++tries, Parse(file.substr(offset), h); };
  EXPECT_EQ(lzh::FindFirstHeader(window, parse), 1047);
  EXPECT_EQ(tries, 2);
  EXPECT_EQ(lzh::FindFirstHeader(window.first(1040), [&](uint64_t) { return false; }), -1);
}

}  // namespace
}  // namespace quindo::test
