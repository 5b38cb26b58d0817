#include "frontend/terminal/terminal_ui.h"
#include "frontend/terminal/translation.h"

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
  // The box's own text on one line after its title (its line breaks become
  // blanks); details, which follow a blank line, one per line below it,
  // indented. Nothing in the text can move the cursor.
  const std::string safe = SafeDisplayText(text, LineBreaks::Keep);
  const size_t blank = safe.find("\n\n");
  std::string line = SafeDisplayText(title) + ": ";
  for (char c : std::string_view(safe).substr(0, blank)) line += (c == '\n') ? ' ' : c;
  while (!line.empty() && line.back() == ' ') line.pop_back();
  line += '\n';
  if (blank != std::string::npos) {
    size_t start = blank + 2;
    while (start <= safe.size()) {
      size_t end = safe.find('\n', start);
      if (end == std::string::npos) end = safe.size();
      if (end > start) line += "  " + safe.substr(start, end - start) + "\n";
      start = end + 1;
    }
  }
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
  WriteLocked(Tr("出力先: ") + SafeDisplayText(folder) + "\n");
}

}  // namespace quindo
