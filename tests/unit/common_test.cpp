#include <gtest/gtest.h>

#include <tuple>

#include "common/code_page.h"
#include "common/crc16.h"
#include "common/crc32.h"
#include "common/file_time.h"
#include "common/path_text.h"
#include "platform/platform.h"

namespace quindo {
namespace {

auto Fields(const CivilTime& t) { return std::make_tuple(t.year, t.month, t.day, t.hour, t.minute, t.second); }

TEST(Checksums, CheckValues) {
  EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(Crc16("123456789", 9), 0xBB3D);
  // Running values continue across pieces.
  EXPECT_EQ(Crc32Update(Crc32("1234", 4), "56789", 5), 0xCBF43926u);
  EXPECT_EQ(Crc16Update(Crc16("12345", 5), "6789", 4), 0xBB3D);
  EXPECT_EQ(Crc32("", 0), 0u);
}

TEST(FileTime, DosUnixAndWindowsTimes) {
  DosDateTime dos = DosFromCivil({2006, 7, 30, 12, 0, 0});
  EXPECT_EQ((std::pair<int, int>{dos.date, dos.time}), (std::pair{((2006 - 1980) << 9) | (7 << 5) | 30, 12 << 11}));
  EXPECT_EQ(Fields(CivilFromDos(dos)), std::make_tuple(2006, 7, 30, 12, 0, 0));
  // Odd seconds round down to the two-second step; years the format cannot
  // hold clamp to its ends.
  EXPECT_EQ((std::vector{CivilFromDos(DosFromCivil({2000, 1, 1, 0, 0, 59})).second,
                         CivilFromDos(DosFromCivil({1970, 5, 5, 5, 5, 5})).year,
                         CivilFromDos(DosFromCivil({2200, 5, 5, 5, 5, 5})).year}),
            (std::vector{58, 1980, 2107}));

  EXPECT_EQ(UnixFromFileTime(116444736000000000ULL), 0);
  EXPECT_EQ(FileTimeFromUnix(1), 116444736010000000ULL);
  EXPECT_EQ(Fields(CivilFromUnixUtc(1154260800)), std::make_tuple(2006, 7, 30, 12, 0, 0));
  EXPECT_EQ(UnixFromCivilUtc({2006, 7, 30, 12, 0, 0}), 1154260800);
  EXPECT_EQ(UnixFromCivilUtc({1969, 12, 31, 23, 59, 59}), -1);

  auto unix = UnixFromDosLocal(dos);
  ASSERT_TRUE(unix.has_value());
  EXPECT_EQ(Fields(CivilFromDos(DosFromUnixLocal(*unix))), Fields(CivilFromDos(dos)));
  EXPECT_FALSE(UnixFromDosLocal(DosDateTime{0, 0}).has_value());  // month 0, day 0
}

TEST(CodePage, Cp932LeadBytesAndConversion) {
  const CodePage& cp = Cp932CodePage();
  // Half-width katakana (0xA1 to 0xDF) are single bytes.
  const std::pair<int, bool> leads[] = {{0x80, false}, {0x81, true}, {0x9F, true}, {0xA0, false},
                                        {0xDF, false}, {0xE0, true}, {0xFC, true}, {0xFD, false}};
  for (auto [byte, lead] : leads) EXPECT_EQ(cp.IsLeadByte(static_cast<uint8_t>(byte)), lead) << byte;
  EXPECT_EQ(cp.LeadByteLength(0), 0);

  // "表示" in CP932: 0x95 0x5C is a character whose trail byte is "\".
  const std::string sjis = "\x95\x5C\x8E\xA6";
  std::string utf8, back;
  ASSERT_TRUE(cp.ToUtf8(sjis, utf8));
  ASSERT_TRUE(cp.FromUtf8(utf8, back));
  EXPECT_EQ(utf8 + back, "表示" + sjis);
  EXPECT_FALSE(cp.ToUtf8("\x81", utf8));  // a lone lead byte
  EXPECT_EQ(LastSeparator("\x95\x5C", cp), std::string::npos);  // the helpers walk by character

  // Overlong, a surrogate, past U+10FFFF, cut short.
  for (auto [text, valid] : std::initializer_list<std::pair<const char*, bool>>{
           {"plain", true}, {"日本語", true}, {"\xC0\xAF", false}, {"\xED\xA0\x80", false},
           {"\xF4\x90\x80\x80", false}, {"\xE6\x97", false}})
    EXPECT_EQ(IsValidUtf8(text), valid) << ::testing::PrintToString(std::string(text));
}

}  // namespace
}  // namespace quindo
