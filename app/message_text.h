#pragma once
// The texts of the result boxes and the details that follow them: which
// members failed and why, which folder could not be written. The boxes keep
// their fixed text and title; the details come after a blank line. All
// texts are UTF-8.
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "app/user_interface.h"

namespace quindo {

// The three result boxes of the entry.
namespace result_box {
inline constexpr const char* kCannotWriteText =
    "ファイルの出力ができませんでした。\n保存先に対する書き込み権限があるかを確認してください。";
inline constexpr const char* kCannotWriteTitle = "ファイル エラー";
inline constexpr const char* kFailedText = "処理失敗";
inline constexpr const char* kFailedTitle = "ファイルエラーが検出されました。";
inline constexpr const char* kBadPathText = "不正なファイルパスが指定されています。";
inline constexpr const char* kBadPathTitle = "ファイル エラー";
}  // namespace result_box

// Shown by the password prompt when it asks again.
inline constexpr const char* kWrongPasswordText = "パスワードが違います。";

// Why a member did not come out.
enum class MemberProblem {
  DamagedData,         // a check value or the compressed data is wrong
  WrongPassword,       // every answer to the prompt was wrong
  PasswordNeeded,      // encrypted, and there was no way to ask
  MethodNotSupported,  // with the method's name
  CannotCreate,        // the output file could not be created or written
  CutShort,            // the archive ends inside the member
};

struct MemberFailure {
  std::string name;    // UTF-8, as the member is called in the archive
  MemberProblem problem = MemberProblem::DamagedData;
  std::string method;  // MethodNotSupported: the method's name ("-lh4-", "Implode")
};

// Why a folder could not be written.
enum class FolderProblem { Missing, ReadOnly, Other };

// The detail list shows at most this many lines; the rest are counted.
inline constexpr size_t kMaxDetailLines = 10;

std::string ReasonText(MemberProblem problem, std::string_view method = {});

// The lines joined by newlines: all of them when there are at most
// `maxLines` (at least 1), otherwise maxLines - 1 of them, but no fewer than
// `atLeast`, and a last line that counts the rest ("他 N 件").
std::string ListedLines(std::span<const std::string> lines, size_t maxLines, size_t atLeast = 0);

// One line per failure ("name: reason"), in the order given. When there are
// more than `maxLines`, the last line counts the rest ("他 N 件"), so the
// list never runs longer than `maxLines` lines. Names are made safe to show
// and kept on their line. Empty for no failures.
std::string FailureDetails(std::span<const MemberFailure> failures, size_t maxLines = kMaxDetailLines);

// "保存先: folder" (UTF-8) and what is wrong with it.
std::string FolderDetails(std::string_view folder, FolderProblem problem);
// What keeps a folder (a path in the system code page) from being written:
// it, or the path to it, does not exist; it is marked read-only; or neither.
FolderProblem FolderProblemOf(const std::string& folder);
// The details of the box for a folder that failed the write test.
std::string CannotWriteDetails(const std::string& folder);

// A text with its "%s" replaced by `value`. Texts with a number or a name in
// them are written this way, so that the Linux program finds them whole in
// its catalogue.
std::string FillIn(std::string_view format, std::string_view value);

// A box's fixed text followed by its details after a blank line; the text
// alone when there are none.
std::string WithDetails(std::string_view text, std::string_view details);

}  // namespace quindo
