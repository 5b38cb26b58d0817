#include "app/message_text.h"

#include <algorithm>
#include <vector>

#include "common/code_page.h"
#include "common/display_text.h"
#include "common/path_text.h"
#include "platform/platform.h"

namespace quindo {

std::string ReasonText(MemberProblem problem, std::string_view method) {
  switch (problem) {
    case MemberProblem::DamagedData:
      return "データが壊れています";
    case MemberProblem::WrongPassword:
      return "パスワードが違います";
    case MemberProblem::PasswordNeeded:
      return "パスワードが必要です";
    case MemberProblem::MethodNotSupported:
      if (method.empty()) return "対応していない圧縮方式です";
      return FillIn("対応していない圧縮方式です (%s)", SafeDisplayText(method));
    case MemberProblem::CannotCreate:
      return "ファイルを作成できませんでした";
    case MemberProblem::CutShort:
      return "データが途中で終わっています";
  }
  return "不明なエラーです";
}

std::string ListedLines(std::span<const std::string> lines, size_t maxLines, size_t atLeast) {
  if (maxLines == 0) maxLines = 1;
  // All of them when they fit; otherwise one line less, and the count.
  const size_t listed =
      lines.size() <= maxLines ? lines.size() : std::min(lines.size(), std::max(maxLines - 1, atLeast));
  std::string out;
  for (size_t i = 0; i < listed; ++i) {
    if (i) out += '\n';
    out += lines[i];
  }
  if (listed < lines.size()) {
    if (listed) out += '\n';
    out += FillIn("他 %s 件", std::to_string(lines.size() - listed));
  }
  return out;
}

std::string FailureDetails(std::span<const MemberFailure> failures, size_t maxLines) {
  // Only the lines that can be listed are made; the rest are counted.
  const size_t made = std::min(failures.size(), std::max<size_t>(maxLines, 1));
  std::vector<std::string> lines(failures.size());
  for (size_t i = 0; i < made; ++i) {
    lines[i] = SafeDisplayText(failures[i].name) + ": " + ReasonText(failures[i].problem, failures[i].method);
  }
  return ListedLines(lines, maxLines);
}

std::string FolderDetails(std::string_view folder, FolderProblem problem) {
  std::string out = "保存先: " + SafeDisplayText(folder);
  switch (problem) {
    case FolderProblem::Missing:
      out += "\nフォルダが見つかりません";
      break;
    case FolderProblem::ReadOnly:
      out += "\nフォルダが読み取り専用です";
      break;
    case FolderProblem::Other:
      break;
  }
  return out;
}

FolderProblem FolderProblemOf(const std::string& folder) {
  std::string path = folder;
  RemoveTrailingSeparator(path, SystemCodePage());
  const uint32_t attributes = platform::GetFileAttributes(path);
  if (attributes == platform::kInvalidAttributes || !(attributes & platform::kAttrDirectory))
    return FolderProblem::Missing;
  return (attributes & platform::kAttrReadOnly) ? FolderProblem::ReadOnly : FolderProblem::Other;
}

std::string CannotWriteDetails(const std::string& folder) {
  std::string shown;
  if (!SystemCodePage().ToUtf8(folder, shown)) shown = folder;
  return FolderDetails(shown, FolderProblemOf(folder));
}

std::string FillIn(std::string_view format, std::string_view value) {
  std::string out(format);
  const size_t at = out.find("%s");
  if (at != std::string::npos) out.replace(at, 2, value);
  return out;
}

std::string WithDetails(std::string_view text, std::string_view details) {
  std::string out(text);
  if (!details.empty()) {
    out += "\n\n";
    out += details;
  }
  return out;
}

}  // namespace quindo
