// Member names into safe relative paths, output-folder checks, folder
// chains, the disguised-executable test, name conversion, file times and the
// password prompt.
#include "app/path_utils.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <vector>

#include "app/archive_reader.h"
#include "tests/support/test_support.h"

namespace quindo {
namespace {

const std::string kSep(1, platform::kPathSeparator);

// Replaces "/" in an expected path with the platform's separator.
std::string P(std::string s) {
  for (char& c : s)
    if (c == '/') c = platform::kPathSeparator;
  return s;
}

struct Sanitized {
  std::string path;
  std::vector<std::string> folders;
};

Sanitized Sanitize(std::string name, const CodePage& cp) {
  Sanitized out;
  size_t start = SanitizeMemberPath(name, cp, [&](const std::string& f) { out.folders.push_back(f); });
  out.path = name.substr(start);
  return out;
}

TEST(SanitizeMemberPath, ClimbingAbsoluteAndDriveNamesStayInside) {
  for (const CodePage* cp : {&Cp932CodePage(), &Utf8CodePage()}) {
    EXPECT_EQ(Sanitize("../evil.txt", *cp).path, P("__/evil.txt"));
    EXPECT_EQ(Sanitize("C:/Windows/system.ini", *cp).path, P("Windows/system.ini"));
    EXPECT_EQ(Sanitize("C:\\Windows\\win.ini", *cp).path, P("Windows/win.ini"));
    EXPECT_EQ(Sanitize("/abs/x", *cp).path, P("abs/x"));
    EXPECT_EQ(Sanitize("\\\\?\\C:\\x", *cp).path, "x");
    EXPECT_EQ(Sanitize("a/.../b", *cp).path, P("a/___/b"));
    EXPECT_EQ(Sanitize("a\\..\\..\\b/../c", *cp).path, P("a/__/__/b/__/c"));
    EXPECT_EQ(Sanitize("./a", *cp).path, P("./a"));  // a single dot is harmless

    Sanitized s = Sanitize("../../etc/passwd", *cp);
    EXPECT_EQ(s.path, P("__/__/etc/passwd"));
    EXPECT_EQ(s.folders, (std::vector<std::string>{"__", P("__/__"), P("__/__/etc")}));
  }
}

TEST(SanitizeMemberPath, ForbiddenBytesAreReplaced) {
  const CodePage& cp = Cp932CodePage();
  EXPECT_EQ(Sanitize("a|b?c*d\x01.txt", cp).path, "a_b_c_d_.txt");
  EXPECT_EQ(Sanitize("x\"y<z>:w", cp).path, "x_y_z__w");
  EXPECT_EQ(Sanitize("del\x7f\x80\xfd.txt", cp).path, "del___.txt");
  // Half-width katakana are characters of their own in CP932.
  EXPECT_EQ(Sanitize("\xb1\xb2\xdf.txt", cp).path, "\xb1\xb2\xdf.txt");
}

TEST(SanitizeMemberPath, Cp932TrailByte5CIsNoSeparator) {
  const CodePage& cp = Cp932CodePage();
  // "表" is 0x95 0x5C: the name is one folder with a file in it.
  Sanitized s = Sanitize("\x95\\\x82\xbe\x82\xe6/\x88\xea\x97\x97\x95\\.txt", cp);
  EXPECT_EQ(s.path, "\x95\\\x82\xbe\x82\xe6" + kSep + "\x88\xea\x97\x97\x95\\.txt");
  EXPECT_EQ(s.folders, std::vector<std::string>{"\x95\\\x82\xbe\x82\xe6"});
  EXPECT_TRUE(Sanitize("\x95\\", cp).folders.empty());
  // A lead byte at the very end is left as it is and ends the walk.
  EXPECT_EQ(Sanitize("ab\x95", cp).path, "ab\x95");
  // A lead byte before a byte that is no trail byte hides no separator.
  Sanitized hidden = Sanitize("\x95\x95\x95/../x", cp);
  EXPECT_EQ(hidden.path, P("\x95\x95_/__/x"));
  EXPECT_EQ(hidden.folders, (std::vector<std::string>{"\x95\x95_", P("\x95\x95_/__")}));
}

TEST(SanitizeMemberPath, Utf8NamesKeepTheirCharactersAndLoseStrayBytes) {
  const CodePage& cp = Utf8CodePage();
  const std::string japanese = "\xe8\xa1\xa8\xe3\x81\xa0\xe3\x82\x88/\xe6\xbc\xa2\xe5\xad\x97.txt";
  EXPECT_EQ(Sanitize(japanese, cp).path, P(japanese));
  EXPECT_EQ(Sanitize("a\xff\xc3.txt", cp).path, "a__.txt");
}

TEST(SanitizeMemberPath, DeviceNamesAndTrailingDotsOrBlanksAreGuarded) {
  const CodePage& cp = Cp932CodePage();
  EXPECT_EQ(Sanitize("CON", cp).path, "_CON");
  EXPECT_EQ(Sanitize("con.txt", cp).path, "_con.txt");
  EXPECT_EQ(Sanitize("dir/NUL/file", cp).path, P("dir/_NUL/file"));
  EXPECT_EQ(Sanitize("com1.log", cp).path, "_com1.log");
  EXPECT_EQ(Sanitize("LPT9", cp).path, "_LPT9");
  EXPECT_EQ(Sanitize("aux .c", cp).path, "_aux .c");
  EXPECT_EQ(Sanitize("CONSOLE.txt", cp).path, "CONSOLE.txt");
  EXPECT_EQ(Sanitize("COM10", cp).path, "COM10");
  EXPECT_EQ(Sanitize("LPT0", cp).path, "LPT0");
  // Windows drops a trailing dot or blank: ".. " would otherwise climb.
  EXPECT_EQ(Sanitize(".. /x", cp).path, P("_.. /x"));
  EXPECT_EQ(Sanitize("a./b ", cp).path, P("_a./_b "));
  EXPECT_EQ(Sanitize("..", cp).path, "_..");
  Sanitized s = Sanitize("prn/x", cp);
  EXPECT_EQ(s.folders, std::vector<std::string>{"_prn"});
}

TEST(SanitizeMemberPath, FolderEntriesEndInASeparator) {
  Sanitized s = Sanitize("dir/sub/", Cp932CodePage());
  EXPECT_EQ(s.path, P("dir/sub/"));
  EXPECT_EQ(s.folders, (std::vector<std::string>{"dir", P("dir/sub")}));
}

TEST(HasInvalidPathChars, RefusesDotOnlyFoldersAndForbiddenBytes) {
  const CodePage& cp = Cp932CodePage();
  auto invalid = [&](std::string path) { return HasInvalidPathChars(path, cp); };
  EXPECT_TRUE(invalid("D:/tmp/../x/"));
  EXPECT_TRUE(invalid("D:/tmp/.../x/"));
  EXPECT_FALSE(invalid("D:/tmp/./x/"));
  EXPECT_FALSE(invalid("D:/tmp//x/"));
  EXPECT_TRUE(invalid("D:/tmp/a|b/"));
  EXPECT_TRUE(invalid("D:/tmp/a:b/"));
  EXPECT_TRUE(invalid("/tmp/a\x01/"));
  EXPECT_FALSE(invalid("/home/u/\x83\x66\x83\x58\x83\x4e\x83\x67\x83\x62\x83\x76/"));
  std::string utf8 = "/home/u/\xe3\x83\x87\xe3\x82\xb9\xe3\x82\xaf/";
  EXPECT_FALSE(HasInvalidPathChars(utf8, Utf8CodePage()));
  std::string rewritten = "D:/a/b/";
  HasInvalidPathChars(rewritten, cp);
  EXPECT_EQ(rewritten, P("D:/a/b/"));
}

TEST(CreateFolderChain, CreatesEveryMissingLevel) {
  test::ScratchDir dir;
  std::string chain = dir.path() + kSep + "a" + kSep + "b" + kSep + "c" + kSep;
  CreateFolderChain(chain);
  struct stat st;
  ASSERT_EQ(::stat((dir / "a/b/c").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST(FirstFolderComponent, IsTheTextBeforeTheFirstSeparatorByte) {
  std::string out = "x";
  FirstFolderComponent("a/b/c", out);
  EXPECT_EQ(out, "a");
  FirstFolderComponent("a\\b", out);
  EXPECT_EQ(out, "a");
  FirstFolderComponent("file.txt", out);
  EXPECT_EQ(out, "");
  // Byte by byte: a CP932 trail byte 0x5C counts here.
  FirstFolderComponent("\x95\\x", out);
  EXPECT_EQ(out, "\x95");
}

TEST(IsDisguisedExecutable, EighteenByteBaseNamesWithProgramExtensions) {
  EXPECT_FALSE(IsDisguisedExecutable("abcdefghijklmnopq.exe"));
  EXPECT_TRUE(IsDisguisedExecutable("abcdefghijklmnopqr.exe"));
  EXPECT_TRUE(IsDisguisedExecutable("abcdefghijklmnopqr.EXE"));
  EXPECT_FALSE(IsDisguisedExecutable("abcdefghijklmnopqr.exe.txt"));
  EXPECT_TRUE(IsDisguisedExecutable("meeting-notes-2006.doc.exe"));
  EXPECT_TRUE(IsDisguisedExecutable("report.txt                    .vbs"));
  EXPECT_FALSE(IsDisguisedExecutable("setup.exe"));
  EXPECT_FALSE(IsDisguisedExecutable("a-very-long-folder-name-here/setup.exe"));
  EXPECT_TRUE(IsDisguisedExecutable("dir\\abcdefghijklmnopqr.js"));
  EXPECT_TRUE(HasExecutableExtension("x.WsH"));
  EXPECT_FALSE(HasExecutableExtension("x.exe/"));
  EXPECT_FALSE(HasExecutableExtension("exe"));
}

TEST(Utf8ToAnsi, ConvertsCutsOnCharactersAndLeavesBadTextAlone) {
  BuildLeadByteTable();
  std::string out = "unchanged";
  EXPECT_EQ(Utf8ToAnsi("\xff\xfe", out), 0u);
  EXPECT_EQ(out, "unchanged");
  std::string longName;
  for (int i = 0; i < 100; ++i) longName += "\xe3\x81\x82";  // 300 bytes
  size_t n = Utf8ToAnsi(longName, out);
  EXPECT_LE(n, kMaxNameLength);
  EXPECT_EQ(n, out.size());
  if (SystemCodePage().Id() == CodePageId::Utf8) {
    EXPECT_EQ(n, 258u);
    EXPECT_TRUE(IsValidUtf8(out));
  }
  EXPECT_EQ(Utf8ToAnsi("plain.txt", out), 9u);
  EXPECT_EQ(out, "plain.txt");
}

TEST(SetFileTimeFromDos, TakesTheDosTimeAsLocalTime) {
  test::ScratchDir dir;
  std::string file = dir / "t.txt";
  test::WriteFile(file, "x");
  // 2006-07-30 12:00:00
  const uint16_t date = static_cast<uint16_t>(((2006 - 1980) << 9) | (7 << 5) | 30);
  const uint16_t time = static_cast<uint16_t>(12 << 11);
  SetFileTimeFromDos(file, date, time);
  struct stat st;
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  std::tm local{};
  time_t t = st.st_mtime;
  ::localtime_r(&t, &local);
  EXPECT_EQ(local.tm_year + 1900, 2006);
  EXPECT_EQ(local.tm_mon + 1, 7);
  EXPECT_EQ(local.tm_mday, 30);
  EXPECT_EQ(local.tm_hour, 12);
  EXPECT_EQ(local.tm_min, 0);
  // A date that names no day leaves the file alone.
  SetFileTimeFromDos(file, 0, 0);
  struct stat again;
  ASSERT_EQ(::stat(file.c_str(), &again), 0);
  EXPECT_EQ(again.st_mtime, st.st_mtime);
}

class NullReader final : public ArchiveReader {
 public:
  bool Probe(const std::string&, uint64_t) override { return false; }
  bool Extract(const std::string&, const std::string&) override { return false; }
  bool FindRootFolder(const std::string&) override { return false; }
};

TEST(PromptPassword, AnswersTheTypedTextOrCancels) {
  test::ScopedUi scoped;
  NullReader reader;
  scoped.ui.passwords = {std::string(300, 'p'), test::kCancelAnswer};
  EXPECT_EQ(PromptPassword(reader), std::string(254, 'p'));
  EXPECT_FALSE(reader.cancelRequested);
  EXPECT_EQ(PromptPassword(reader), "");
  EXPECT_TRUE(reader.cancelRequested);
  EXPECT_EQ(scoped.ui.passwordPrompts, 2);
}

}  // namespace
}  // namespace quindo
