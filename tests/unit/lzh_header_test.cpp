// Member headers of levels 0, 1 and 2 and the search for the first one.
#include <gtest/gtest.h>

#include "lzh/lzh_header.h"
#include "tests/unit/lzh_test_streams.h"

namespace quindo::test {
namespace {

using lzh::LzhHeader;

bool Parse(const std::string& bytes, LzhHeader& h) {
  MemorySource source(bytes);
  return lzh::ParseHeader(source, h);
}

TEST(LzhHeader, Level0FieldsAndChecksum) {
  MemberLayout layout;
  layout.name = "dir\\file.txt";
  layout.data = "payload";
  layout.time = 0x34A56C21;
  layout.attribute = 0x21;
  std::string bytes = MakeMember(layout);
  LzhHeader h;
  ASSERT_TRUE(Parse(bytes, h));
  EXPECT_EQ(h.level, 0);
  EXPECT_EQ(h.methodId, "-lh0-");
  EXPECT_EQ(h.compressedSize, 7u);
  EXPECT_EQ(h.uncompressedSize, 7u);
  EXPECT_EQ(h.timeStamp, 0x34A56C21u);
  EXPECT_EQ(h.attribute, 0x21);
  EXPECT_EQ(h.path, "dir\\file.txt");
  EXPECT_EQ(h.dataCrc, Crc16("payload", 7));
  EXPECT_EQ(h.headerLength, bytes.size() - 7);

  std::string bad = bytes;
  bad[1] = static_cast<char>(bad[1] + 1);
  EXPECT_FALSE(Parse(bad, h));
  EXPECT_FALSE(Parse(bytes.substr(0, 20), h));
  EXPECT_FALSE(Parse(bytes.substr(0, 25), h));
}

TEST(LzhHeader, EndMarkLevelAndMethodAreChecked) {
  LzhHeader h;
  EXPECT_FALSE(Parse(std::string(30, '\0'), h));
  MemberLayout layout;
  layout.method = "-pm0-";
  EXPECT_FALSE(Parse(MakeMember(layout), h));
  layout.method = "-lh5-";
  std::string bytes = MakeMember(layout);
  bytes[20] = 3;
  EXPECT_FALSE(Parse(bytes, h));
}

TEST(LzhHeader, Level1ExtendedHeadersComeOffTheCompressedSize) {
  MemberLayout layout;
  layout.level = 1;
  layout.name = "";
  layout.data = "0123456789";
  layout.extended = {ExtendedHeader(0x01, "a.txt"), ExtendedHeader(0x02, "docs\xffsub\xff"),
                   ExtendedHeader(0x40, std::string("\x01\x00", 2)), ExtendedHeader(0x7F, "ignored")};
  std::string bytes = MakeMember(layout);
  LzhHeader h;
  ASSERT_TRUE(Parse(bytes, h));
  EXPECT_EQ(h.compressedSize, 10u);
  EXPECT_EQ(h.headerLength, bytes.size() - 10);
  EXPECT_EQ(h.path, "docs\\sub\\a.txt");
  EXPECT_EQ(h.attribute, 0x01);
}

TEST(LzhHeader, Level2HeaderCrcAndPadding) {
  MemberLayout layout;
  layout.level = 2;
  layout.name = "b.bin";
  layout.data = "xyz";
  layout.time = 1234567890;
  layout.headerCrc = true;
  std::string bytes = MakeMember(layout);
  LzhHeader h;
  ASSERT_TRUE(Parse(bytes, h));
  EXPECT_EQ(h.level, 2);
  EXPECT_EQ(h.path, "b.bin");
  EXPECT_EQ(h.timeStamp, 1234567890u);
  EXPECT_EQ(h.headerLength, bytes.size() - 3);

  std::string corrupt = bytes;
  corrupt[27] ^= 0x40;
  EXPECT_FALSE(Parse(corrupt, h));

  // A writer may pad the header by a byte; the stated size and the CRC
  // both count it.
  std::string header = bytes.substr(0, bytes.size() - 3) + '\0';
  StoreLe16(reinterpret_cast<uint8_t*>(header.data()), static_cast<uint16_t>(header.size()));
  StoreLe16(reinterpret_cast<uint8_t*>(header.data()) + 27, 0);
  StoreLe16(reinterpret_cast<uint8_t*>(header.data()) + 27, Crc16(header.data(), header.size()));
  ASSERT_TRUE(Parse(header + "xyz", h));
  EXPECT_EQ(h.headerLength, header.size());
}

TEST(LzhHeader, Level2SizeWithLowByteZeroEndsTheArchive) {
  MemberLayout layout;
  layout.level = 2;
  layout.name = std::string(256 - 29, 'n');  // 256 bytes in all
  std::string bytes = MakeMember(layout);
  ASSERT_EQ(bytes.size(), 256u);
  LzhHeader h;
  EXPECT_FALSE(Parse(bytes, h));
}

TEST(LzhHeader, LongNamesAreCut) {
  MemberLayout layout;
  layout.level = 2;
  layout.name = std::string(300, 'n');
  layout.extended = {ExtendedHeader(0x02, std::string(300, 'd'))};
  LzhHeader h;
  ASSERT_TRUE(Parse(MakeMember(layout), h));
  EXPECT_EQ(h.path, std::string(260, 'd') + std::string(259, 'n'));
}

TEST(LzhHeader, FirstHeaderAfterJunkAndFalseStarts) {
  MemberLayout layout;
  layout.data = "abc";
  std::string member = MakeMember(layout);
  std::string file = std::string(1000, 'J') + "xx-lh5-" + std::string(40, '\0') + member;
  auto window = std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(file.data()), file.size());
  int tries = 0;
  int64_t found = lzh::FindFirstHeader(window, [&](uint64_t offset) {
    ++tries;
    LzhHeader h;
    return Parse(file.substr(offset), h);
  });
  EXPECT_EQ(found, 1047);
  EXPECT_EQ(tries, 2);
  EXPECT_EQ(lzh::FindFirstHeader(window.first(1040), [&](uint64_t) { return false; }), -1);
}

}  // namespace
}  // namespace quindo::test
