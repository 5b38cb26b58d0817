#include "platform/posix/terminal_ui.h"

#include <errno.h>
#include <unistd.h>

#include <string>

#include "common/display_text.h"

namespace quindo {

TerminalUi::TerminalUi(int errorFd, std::string ttyPath)
    : errorFd_(errorFd < 0 ? STDERR_FILENO : errorFd), ttyPath_(std::move(ttyPath)) {}

void TerminalUi::WriteLocked(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(errorFd_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // nowhere left to report to
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

void TerminalUi::DrawLine(const std::string& line, bool force) {
  std::lock_guard lock(mutex_);
  line_ = line;
  if (hidden_ > 0 || (!force && line == drawn_)) return;
  WriteLocked("\r\x1b[K" + line);
  drawn_ = line;
}

void TerminalUi::HideLine() {
  std::lock_guard lock(mutex_);
  ++hidden_;
  if (!drawn_.empty()) WriteLocked("\r\x1b[K");
  drawn_.clear();
}

void TerminalUi::ShowLine() {
  std::lock_guard lock(mutex_);
  if (hidden_ > 0) --hidden_;
  if (hidden_ > 0 || line_.empty()) return;
  WriteLocked("\r\x1b[K" + line_);
  drawn_ = line_;
}

void TerminalUi::PrintBox(std::string_view text, std::string_view title) {
  // One line per box: the box's line breaks become blanks, and nothing in
  // the text can move the cursor.
  std::string line = SafeDisplayText(title) + ": ";
  for (char c : SafeDisplayText(text, LineBreaks::Keep)) line += (c == '\n') ? ' ' : c;
  while (!line.empty() && line.back() == ' ') line.pop_back();
  line += '\n';
  HideLine();
  {
    std::lock_guard lock(mutex_);
    WriteLocked(line);
  }
  ShowLine();
}

void TerminalUi::ShowMessage(std::string_view text, std::string_view title, MessageIcon icon) {
  PrintBox(text, title);
}

void TerminalUi::ShowWorkerMessage(std::string_view text, std::string_view title, MessageIcon icon) {
  PrintBox(text, title);
}

void TerminalUi::ReportOutputFolder(std::string_view folder) {
  if (::isatty(errorFd_) != 1) return;
  std::lock_guard lock(mutex_);
  WriteLocked("出力先: " + SafeDisplayText(folder) + "\n");
}

}  // namespace quindo
