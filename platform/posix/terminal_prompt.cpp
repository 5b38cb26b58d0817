// The password prompt on the terminal: /dev/tty without echo.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "app/archive_reader.h"
#include "platform/posix/terminal_ui.h"
#include "platform/posix/translation.h"

namespace quindo {

bool TerminalUi::AskPassword(ArchiveReader& reader, std::string& password) {
  password.clear();
  int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  // Echo goes off before the prompt is shown: whatever is typed after the
  // prompt appears is kept, only earlier typeahead is dropped.
  termios saved{};
  bool restore = ::tcgetattr(fd, &saved) == 0;
  if (restore) {
    termios quiet = saved;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    quiet.c_lflag |= ECHONL;
    ::tcsetattr(fd, TCSAFLUSH, &quiet);
  }
  const std::string prompt = Tr("パスワード: ");
  if (::write(fd, prompt.data(), prompt.size()) < 0) {
    if (restore) ::tcsetattr(fd, TCSANOW, &saved);
    ::close(fd);
    return false;
  }
  std::string line;
  bool gotLine = false;
  char c;
  for (;;) {
    ssize_t n = ::read(fd, &c, 1);
    if (n <= 0) break;  // end of input or an interrupted read: cancelled
    if (c == '\n' || c == '\r') {
      gotLine = true;
      break;
    }
    if (line.size() < 254) line += c;
  }
  if (restore) ::tcsetattr(fd, TCSANOW, &saved);
  ::close(fd);
  if (!gotLine) return false;
  password = line;
  return true;
}

}  // namespace quindo
