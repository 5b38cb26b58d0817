// The password prompt on the terminal: /dev/tty without echo. It waits for
// a line in short steps, so that Ctrl-C ends it at once, like Cancel.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "common/display_text.h"
#include "frontend/terminal/terminal_ui.h"
#include "frontend/terminal/translation.h"
#include "common/text_limits.h"

namespace quindo {

namespace {

constexpr int kPollMilliseconds = 100;

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

std::string PromptText(const PasswordRequest& request) {
  std::string text;
  if (request.previousWrong) text += Tr("パスワードが違います。") + "\n";
  if (request.memberName.empty()) return text + Tr("パスワード: ");
  return text + TrFormat("%s のパスワード: ", {SafeDisplayText(request.memberName)});
}

enum class LineResult { Line, Cancelled };

// Reads one line from the terminal; Ctrl-C (the interrupt flag), the end of
// input or a read error cancel.
LineResult ReadLine(int fd, std::string& line) {
  for (;;) {
    if (TerminalInterrupted()) return LineResult::Cancelled;
    pollfd ready{fd, POLLIN, 0};
    const int n = ::poll(&ready, 1, kPollMilliseconds);
    if (n < 0 && errno != EINTR) return LineResult::Cancelled;
    if (n <= 0) continue;
    if (ready.revents & (POLLERR | POLLNVAL)) return LineResult::Cancelled;
    char c;
    const ssize_t got = ::read(fd, &c, 1);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) return LineResult::Cancelled;
    if (c == '\n' || c == '\r') return LineResult::Line;
    if (line.size() < kMaxValueLength) line += c;
  }
}

}  // namespace

PasswordAnswer TerminalUi::AskPassword(const PasswordRequest& request, std::string& password) {
  password.clear();
  InterruptWatch watch;  // Ctrl-C here cancels, even before the progress view runs
  const int fd = ::open(ttyPath_.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return PasswordAnswer::Unavailable;
  if (::isatty(fd) != 1) {
    ::close(fd);
    return PasswordAnswer::Unavailable;
  }
  HideLine();
  // Echo goes off before the prompt is shown: whatever is typed after the
  // prompt appears is kept, only earlier typeahead is dropped.
  termios saved{};
  const bool restore = ::tcgetattr(fd, &saved) == 0;
  if (restore) {
    termios quiet = saved;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    quiet.c_lflag |= ECHONL | ICANON;
    ::tcsetattr(fd, TCSAFLUSH, &quiet);
  }
  PasswordAnswer answer = PasswordAnswer::Unavailable;
  std::string line;
  if (WriteAll(fd, PromptText(request))) {
    if (ReadLine(fd, line) == LineResult::Line) {
      answer = PasswordAnswer::Entered;
      password = std::move(line);
    } else {
      answer = PasswordAnswer::Cancelled;
      WriteAll(fd, "\n");  // what follows starts on a line of its own
    }
  }
  line.assign(line.size(), '\0');
  if (restore) ::tcsetattr(fd, TCSANOW, &saved);
  ::close(fd);
  if (answer == PasswordAnswer::Cancelled) {
    std::lock_guard lock(mutex_);
    promptCancelled_ = true;
  }
  ShowLine();
  return answer;
}

}  // namespace quindo
