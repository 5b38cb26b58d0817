// What makes a name that reaches the user safe to show.
#include <gtest/gtest.h>

#include "common/display_text.h"

namespace quindo {
namespace {

TEST(SafeDisplayText, ControlsOverridesAndBytesThatAreNotUtf8AreReplaced) {
  const std::string r = "\xEF\xBF\xBD";  // the replacement character
  const std::pair<std::string, std::string> cases[] = {
      // C0 (escape sequences, bell, backspace, carriage return, line feed), DEL.
      {"a\x1b[2Jb\x07\x08\r\x7F", "a?[2Jb????"}, {"one\ntwo", "one?two"}, {std::string("nul\0x", 5), "nul?x"},
      // C1 written as UTF-8 (U+009B is the one-character CSI); U+00A0 stays.
      {"x\xC2\x9B" "31my\xC2\x80\xC2\x9F", "x?31my??"}, {"\xC2\xA0", "\xC2\xA0"},
      // Direction overrides would show "evil\u202Etxt.exe" as "evilexe.txt".
      {"evil\xE2\x80\xAEtxt.exe", "evil?txt.exe"}, {"\xE2\x81\xA6\xE2\x80\x8F\xE2\x80\xA8", "???"},
      // Shift-JIS never converted, a lone lead byte at the end, an overlong
      // "/", a surrogate, past U+10FFFF, a C1 byte on its own.
      {"\x95\x5C.txt", r + "\\.txt"}, {"ab\xE3\x81", "ab" + r + r}, {"\xC0\xAF", r + r},
      {"\xED\xA0\x80", r + r + r}, {"\xF4\x90\x80\x80", r + r + r + r}, {"\x9B" "2J", r + "2J"},
      {"漢字 かな ｶﾅ émoji \xF0\x9F\x93\xA6 [1].txt", "漢字 かな ｶﾅ émoji \xF0\x9F\x93\xA6 [1].txt"},
  };
  for (const auto& [text, shown] : cases) EXPECT_EQ(SafeDisplayText(text), shown) << ::testing::PrintToString(text);
  // Line breaks stay only when asked.
  EXPECT_EQ(SafeDisplayText("one\ntwo\r\n", LineBreaks::Keep), "one\ntwo?\n");
  EXPECT_EQ(SafeDisplayText("a\tb", LineBreaks::Keep), "a?b");
}

}  // namespace
}  // namespace quindo
