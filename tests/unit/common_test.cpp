#include <gtest/gtest.h>

#include "common/code_page.h"
#include "common/crc16.h"
#include "common/crc32.h"
#include "common/file_time.h"
#include "common/path_text.h"

namespace quindo {
namespace {

TEST(Checksums, CheckValues) {
  EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(Crc16("123456789", 9), 0xBB3D);
  // Running values continue across pieces.
  EXPECT_EQ(Crc32Update(Crc32("1234", 4), "56789", 5), 0xCBF43926u);
  EXPECT_EQ(Crc16Update(Crc16("12345", 5), "6789", 4), 0xBB3D);
  EXPECT_EQ(Crc32("", 0), 0u);
}

TEST(FileTime, DosFieldsAndClamping) {
  // 2006-07-30 12:00:00
  DosDateTime dos = DosFromCivil({2006, 7, 30, 12, 0, 0});
  EXPECT_EQ(dos.date, ((2006 - 1980) << 9) | (7 << 5) | 30);
  EXPECT_EQ(dos.time, 12 << 11);
  CivilTime back = CivilFromDos(dos);
  EXPECT_EQ(back.year, 2006);
  EXPECT_EQ(back.month, 7);
  EXPECT_EQ(back.day, 30);
  EXPECT_EQ(back.hour, 12);
  // Odd seconds round down to the two-second step.
  EXPECT_EQ(CivilFromDos(DosFromCivil({2000, 1, 1, 0, 0, 59})).second, 58);
  // Years the format cannot hold clamp to its ends.
  EXPECT_EQ(CivilFromDos(DosFromCivil({1970, 5, 5, 5, 5, 5})).year, 1980);
  EXPECT_EQ(CivilFromDos(DosFromCivil({2200, 5, 5, 5, 5, 5})).year, 2107);
}

TEST(FileTime, UnixAndWindowsTicks) {
  EXPECT_EQ(UnixFromFileTime(116444736000000000ULL), 0);
  EXPECT_EQ(FileTimeFromUnix(1), 116444736010000000ULL);
  CivilTime t = CivilFromUnixUtc(1154260800);  // 2006-07-30 12:00:00 UTC
  EXPECT_EQ(t.year, 2006);
  EXPECT_EQ(t.month, 7);
  EXPECT_EQ(t.day, 30);
  EXPECT_EQ(t.hour, 12);
  EXPECT_EQ(UnixFromCivilUtc(t), 1154260800);
  EXPECT_EQ(UnixFromCivilUtc({1969, 12, 31, 23, 59, 59}), -1);
}

TEST(FileTime, LocalRoundTripAndInvalidFields) {
  auto unix = UnixFromDosLocal(DosFromCivil({2006, 7, 30, 12, 0, 0}));
  ASSERT_TRUE(unix.has_value());
  CivilTime back = CivilFromDos(DosFromUnixLocal(*unix));
  EXPECT_EQ(back.hour, 12);
  EXPECT_EQ(back.day, 30);
  EXPECT_FALSE(UnixFromDosLocal(DosDateTime{0, 0}).has_value());  // month 0, day 0
}

TEST(CodePage, Cp932LeadBytes) {
  const CodePage& cp = Cp932CodePage();
  EXPECT_FALSE(cp.IsLeadByte(0x80));
  EXPECT_TRUE(cp.IsLeadByte(0x81));
  EXPECT_TRUE(cp.IsLeadByte(0x9F));
  EXPECT_FALSE(cp.IsLeadByte(0xA0));
  EXPECT_FALSE(cp.IsLeadByte(0xDF));  // half-width katakana are single bytes
  EXPECT_TRUE(cp.IsLeadByte(0xE0));
  EXPECT_TRUE(cp.IsLeadByte(0xFC));
  EXPECT_FALSE(cp.IsLeadByte(0xFD));
  EXPECT_EQ(cp.LeadByteLength(0), 0);
}

TEST(CodePage, Cp932ConvertsBothWays) {
  // "表示" in CP932: 0x95 0x5C is a character whose trail byte is "\".
  const std::string sjis = "\x95\x5C\x8E\xA6";
  std::string utf8;
  ASSERT_TRUE(Cp932CodePage().ToUtf8(sjis, utf8));
  EXPECT_EQ(utf8, "表示");
  std::string back;
  ASSERT_TRUE(Cp932CodePage().FromUtf8(utf8, back));
  EXPECT_EQ(back, sjis);
  EXPECT_FALSE(Cp932CodePage().ToUtf8("\x81", utf8));  // a lone lead byte
}

TEST(CodePage, Utf8Validity) {
  EXPECT_TRUE(IsValidUtf8("plain"));
  EXPECT_TRUE(IsValidUtf8("日本語"));
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // past U+10FFFF
  EXPECT_FALSE(IsValidUtf8("\xE6\x97"));          // cut short
}

TEST(PathText, ShellHelpers) {
  const CodePage& cp = SystemCodePage();
  const std::string s(1, '/');
  std::string p = s + "work" + s + "photos";
  RemoveFileSpec(p, cp);
  EXPECT_EQ(p, s + "work");
  std::string root = s + "a.zip";
  RemoveFileSpec(root, cp);
  EXPECT_EQ(root, s);
  EXPECT_EQ(JoinPath(s + "x" + s, "y", cp), s + "x" + s + "y");
  EXPECT_EQ(JoinPath(s + "x", "y", cp), s + "x" + s + "y");
  EXPECT_EQ(FileNamePart(s + "a" + s + "report.final.doc", cp), "report.final.doc");
  EXPECT_EQ(ExtensionPart("report.final.doc", cp), ".doc");
  EXPECT_EQ(BaseNamePart(s + "d" + s + "report.final.doc", cp), "report.final");
  EXPECT_EQ(ExtensionPart(s + "a.b" + s + "noext", cp), "");
  std::string t = s + "x" + s;
  RemoveTrailingSeparator(t, cp);
  EXPECT_EQ(t, s + "x");
  std::string r = s;
  RemoveTrailingSeparator(r, cp);
  EXPECT_EQ(r, s);
}

TEST(PathText, TrailByteIsNotASeparatorInCp932) {
  // On a CP932 system "表\x5C" must not split; the helpers walk by character.
  const CodePage& cp = Cp932CodePage();
  std::string name = "\x95\x5C";
  EXPECT_EQ(LastSeparator(name, cp), std::string::npos);
}

}  // namespace
}  // namespace quindo
