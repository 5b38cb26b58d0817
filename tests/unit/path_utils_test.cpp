// Member names into safe relative paths, folders made only at real
// separators, and the names no folder may have.
#include "app/path_utils.h"

#include <gtest/gtest.h>

#include <vector>

#include "zip/zip_reader.h"
#include "tests/support/test_support.h"
#include "platform/platform.h"

namespace quindo {
namespace {

// Replaces "/" in an expected path with the platform's separator.
std::string P(std::string s) {
  for (char& c : s)
    if (c == '/') c = platform::kPathSeparator;
  return s;
}

// The safe path of `name` and the folders made on the way to it.
std::pair<std::string, std::vector<std::string>> Sanitize(std::string name, const CodePage& cp) {
  std::vector<std::string> folders;
  size_t start = SanitizeMemberPath(name, cp, [&](const std::string& f) { folders.push_back(f); });
  return {name.substr(start), folders};
}

TEST(SanitizeMemberPath, NamesBecomeHarmlessPathsInsideTheFolder) {
  const CodePage *both = nullptr, *cp932 = &Cp932CodePage(), *utf8 = &Utf8CodePage();
  const std::string japanese = "\xe8\xa1\xa8\xe3\x81\xa0\xe3\x82\x88/\xe6\xbc\xa2\xe5\xad\x97.txt";
  const struct {
    const CodePage* cp;  // nullptr: both code pages
    std::string name, path;
  } cases[] = {
      // Climbing, absolute and drive names, mixed separators; a single dot is harmless.
      {both, "../evil.txt", "__/evil.txt"}, {both, "C:/Windows/system.ini", "Windows/system.ini"},
      {both, "C:\\Windows\\win.ini", "Windows/win.ini"}, {both, "/abs/x", "abs/x"},
      {both, "\\\\?\\C:\\x", "x"}, {both, "a/.../b", "a/___/b"},
      {both, "a\\..\\..\\b/../c", "a/__/__/b/__/c"}, {both, "./a", "./a"},
      // Forbidden bytes; half-width katakana are characters of their own.
      {cp932, "a|b?c*d\x01.txt", "a_b_c_d_.txt"}, {cp932, "x\"y<z>:w", "x_y_z__w"},
      {cp932, "del\x7f\x80\xfd.txt", "del___.txt"}, {cp932, "\xb1\xb2\xdf.txt", "\xb1\xb2\xdf.txt"},
      // "表" is 0x95 0x5C: no separator. A lead byte at the very end stays.
      {cp932, "\x95\\\x82\xbe\x82\xe6/\x88\xea\x97\x97\x95\\.txt", "\x95\\\x82\xbe\x82\xe6/\x88\xea\x97\x97\x95\\.txt"},
      {cp932, "ab\x95", "ab\x95"}, {utf8, japanese, japanese}, {utf8, "a\xff\xc3.txt", "a__.txt"},
      // Device names, with or without an extension, and only those.
      {cp932, "CON", "_CON"}, {cp932, "con.txt", "_con.txt"}, {cp932, "dir/NUL/file", "dir/_NUL/file"},
      {cp932, "LPT9", "_LPT9"}, {cp932, "aux .c", "_aux .c"}, {cp932, "CONSOLE.txt", "CONSOLE.txt"},
      {cp932, "COM10", "COM10"}, {cp932, "LPT0", "LPT0"},
      // Windows drops a trailing dot or blank: ".. " would otherwise climb,
      // and "a." would meet "a". A "_" after it keeps names apart.
      {cp932, ".. /x", ".. _/x"}, {cp932, "a./b ", "a._/b _"}, {cp932, "..", ".._"},
      {cp932, "...", "..._"}, {cp932, ". .", ". ._"}, {cp932, "Photos /a.jpg", "Photos _/a.jpg"},
  };
  for (const auto& c : cases)
    for (const CodePage* cp : {cp932, utf8})
      if (!c.cp || c.cp == cp) {
        EXPECT_EQ(Sanitize(c.name, *cp).first, P(c.path)) << c.name;
      }
}

TEST(SanitizeMemberPath, FoldersAreMadeOnlyAtRealSeparators) {
  const CodePage& cp = Cp932CodePage();
  using Folders = std::vector<std::string>;
  EXPECT_EQ(Sanitize("../../etc/passwd", Utf8CodePage()).second, (Folders{"__", P("__/__"), P("__/__/etc")}));
  EXPECT_EQ(Sanitize("\x95\\\x82\xbe\x82\xe6/\x88\xea\x95\\.txt", cp).second, Folders{"\x95\\\x82\xbe\x82\xe6"});
  EXPECT_TRUE(Sanitize("\x95\\", cp).second.empty());
  // A lead byte before a byte that is no trail byte hides no separator.
  auto hidden = Sanitize("\x95\x95\x95/../x", cp);
  EXPECT_EQ(hidden.first, P("\x95\x95_/__/x"));
  EXPECT_EQ(hidden.second, (Folders{"\x95\x95_", P("\x95\x95_/__")}));
  EXPECT_EQ(Sanitize("prn/x", cp).second, Folders{"_prn"});
  EXPECT_EQ(Sanitize("dir/sub/", cp), std::make_pair(P("dir/sub/"), Folders{"dir", P("dir/sub")}));
}

TEST(HasInvalidPathChars, RefusesDotOnlyFoldersAndForbiddenBytes) {
  const CodePage& cp = Cp932CodePage();
  for (const auto& [path, invalid] : std::vector<std::pair<std::string, bool>>{
           {"D:/tmp/../x/", true}, {"D:/tmp/.../x/", true}, {"D:/tmp/./x/", false}, {"D:/tmp//x/", false},
           {"D:/tmp/a|b/", true}, {"D:/tmp/a:b/", true}, {"/tmp/a\x01/", true},
           {"/home/u/\x83\x66\x83\x58\x83\x4e\x83\x67\x83\x62\x83\x76/", false}}) {
    std::string copy = path;
    EXPECT_EQ(HasInvalidPathChars(copy, cp), invalid) << path;
  }
  std::string utf8 = "/home/u/\xe3\x83\x87\xe3\x82\xb9\xe3\x82\xaf/";
  EXPECT_FALSE(HasInvalidPathChars(utf8, Utf8CodePage()));
  std::string rewritten = "D:/a/b/";
  HasInvalidPathChars(rewritten, cp);
  EXPECT_EQ(rewritten, P("D:/a/b/"));
}

}  // namespace
}  // namespace quindo
