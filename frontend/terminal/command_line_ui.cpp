#include "frontend/terminal/command_line_ui.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "app/worker.h"
#include "frontend/terminal/terminal_ui.h"
#include "frontend/terminal/translation.h"

namespace quindo {

namespace {

}  // namespace

void CommandLineUi::ShowMessage(std::string_view text, std::string_view title, MessageIcon icon) {
  terminal_.ShowMessage(TrLines(text), Tr(title), icon);
}

void CommandLineUi::ShowWorkerMessage(std::string_view text, std::string_view title, MessageIcon icon) {
  terminal_.ShowWorkerMessage(TrLines(text), Tr(title), icon);
}

PasswordAnswer CommandLineUi::AskPassword(const PasswordRequest& request, std::string& password) {
  if (!password_) return terminal_.AskPassword(request, password);
  // A script's password is the answer every time: a wrong one fails the
  // member after the reader's tries (and names it), and nobody is asked.
  password = *password_;
  return PasswordAnswer::Entered;
}

int CommandLineUi::RunProgress(ProgressMode mode, ProgressSource& source, Worker& worker) {
  return quiet_ ? WaitQuietly(source, worker) : terminal_.RunProgress(mode, source, worker);
}

bool CommandLineUi::Interrupted() const { return TerminalInterrupted(); }

// The progress view without its line: it waits for the worker in the same
// 100 ms steps, and Ctrl-C is still its Cancel button.
int CommandLineUi::WaitQuietly(ProgressSource& source, Worker& worker) {
  if (!worker.Started()) return 0;
  InterruptWatch watch;
  bool cancelled = false;
  while (!worker.WaitFor(std::chrono::milliseconds(100))) {
    if (TerminalInterrupted() && !cancelled) {
      cancelled = true;
      source.RequestCancel();
    }
  }
  return worker.ExitCode();
}

bool ReadPasswordFile(const std::string& path, std::string& password) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  // The first line is enough; a password longer than this is cut anyway.
  constexpr size_t kMostRead = 4096;
  std::string text;
  bool ok = true;
  char buffer[512];
  while (text.size() < kMostRead && text.find('\n') == std::string::npos) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  if (!ok) return false;
  const size_t end = text.find('\n');
  if (end != std::string::npos) text.resize(end);
  if (!text.empty() && text.back() == '\r') text.pop_back();
  password = text;
  return true;
}

}  // namespace quindo
