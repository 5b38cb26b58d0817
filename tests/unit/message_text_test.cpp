// Texts that reach the user: what makes a name safe to show, and the detail
// lists of the result boxes.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include <sys/stat.h>

#include "app/message_text.h"
#include "common/display_text.h"
#include "tests/support/test_support.h"

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

std::vector<MemberFailure> Failures(int count) {
  std::vector<MemberFailure> out;
  for (int i = 1; i <= count; ++i) out.push_back({"f" + std::to_string(i) + ".txt", MemberProblem::DamagedData, {}});
  return out;
}

int Lines(const std::string& text) { return text.empty() ? 0 : 1 + static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

TEST(FailureDetails, LongListsEndWithTheCountOfTheRest) {
  // Ten fit exactly; from eleven on, nine names and the count: never more
  // than ten lines, and every failure is either named or counted.
  EXPECT_EQ(Lines(FailureDetails(Failures(10))), 10);
  EXPECT_EQ(FailureDetails(Failures(10)).find("他"), std::string::npos);
  const std::string eleven = FailureDetails(Failures(11));
  EXPECT_EQ(Lines(eleven), 10);
  EXPECT_NE(eleven.find("f9.txt: "), std::string::npos);
  EXPECT_EQ(eleven.find("f10.txt"), std::string::npos);
  EXPECT_EQ(eleven.substr(eleven.rfind('\n') + 1), "他 2 件");
  const std::string many = FailureDetails(Failures(5000));
  EXPECT_EQ(Lines(many), 10);
  EXPECT_EQ(many.substr(many.rfind('\n') + 1), "他 4991 件");
  EXPECT_EQ(FailureDetails(Failures(3), 1), "他 3 件");
  EXPECT_EQ(FailureDetails(Failures(1), 1), "f1.txt: データが壊れています");
}

TEST(FailureDetails, HostileNamesStayOnTheirLine) {
  // A name cannot forge a line of its own, nor move the terminal's cursor.
  const std::vector<MemberFailure> failures = {{"x\nf2.txt: ok\x1b[1A", MemberProblem::CutShort, {}},
                                               {"y", MemberProblem::MethodNotSupported, "m\ne\x1b"}};
  const std::string details = FailureDetails(failures);
  EXPECT_EQ(Lines(details), 2);
  EXPECT_EQ(details.find('\x1b'), std::string::npos);
  EXPECT_EQ(details, "x?f2.txt: ok?[1A: データが途中で終わっています\ny: 対応していない圧縮方式です (m?e?)");
}

TEST(CannotWriteDetails, SayWhetherTheFolderIsMissingOrReadOnly) {
  test::ScratchDir scratch;
  const std::string missing = scratch / "gone/deeper/";
  EXPECT_EQ(FolderProblemOf(missing), FolderProblem::Missing);
  EXPECT_EQ(CannotWriteDetails(missing), "保存先: " + missing + "\nフォルダが見つかりません");
  // A file where the folder should be is no folder either.
  test::WriteFile(scratch / "file", "x");
  EXPECT_EQ(FolderProblemOf(scratch / "file/"), FolderProblem::Missing);
  const std::string locked = scratch / "locked";
  ASSERT_EQ(::mkdir(locked.c_str(), 0555), 0);
  EXPECT_EQ(FolderProblemOf(locked + "/"), FolderProblem::ReadOnly);
  EXPECT_EQ(CannotWriteDetails(locked), "保存先: " + locked + "\nフォルダが読み取り専用です");
  EXPECT_EQ(FolderProblemOf(scratch.path()), FolderProblem::Other);
  EXPECT_EQ(FolderDetails("D:\\x\x1b", FolderProblem::Missing), "保存先: D:\\x?\nフォルダが見つかりません");
  EXPECT_EQ(FolderDetails("/o", FolderProblem::Other), "保存先: /o");
}

}  // namespace
}  // namespace quindo
