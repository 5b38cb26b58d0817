#include "frontend/terminal/command_line_ui.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "app/worker.h"
#include "frontend/terminal/translation.h"

namespace quindo {

namespace {

// Passes everything on, and notes the Cancel that only Ctrl-C presses here.
class CancelNoticingSource final : public ProgressSource {
 public:
  CancelNoticingSource(ProgressSource& inner, std::atomic<bool>& cancelled) : inner_(inner), cancelled_(cancelled) {}
  uint32_t Percent() const override { return inner_.Percent(); }
  std::string CurrentName() const override { return inner_.CurrentName(); }
  void RequestCancel() override {
    cancelled_.store(true);
    inner_.RequestCancel();
  }

 private:
  ProgressSource& inner_;
  std::atomic<bool>& cancelled_;
};

volatile sig_atomic_t g_quietInterrupt = 0;

void OnQuietInterrupt(int) { g_quietInterrupt = 1; }

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
  CancelNoticingSource noticing(source, interrupted_);
  return quiet_ ? WaitQuietly(noticing, worker) : terminal_.RunProgress(mode, noticing, worker);
}

// The progress view without its line: it waits for the worker in the same
// 100 ms steps, and Ctrl-C is still its Cancel button.
int CommandLineUi::WaitQuietly(ProgressSource& source, Worker& worker) {
  if (!worker.Started()) return 0;
  g_quietInterrupt = 0;
  struct sigaction action {}, saved {};
  action.sa_handler = OnQuietInterrupt;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, &saved);
  bool cancelled = false;
  while (!worker.WaitFor(std::chrono::milliseconds(100))) {
    if (g_quietInterrupt && !cancelled) {
      cancelled = true;
      source.RequestCancel();
    }
  }
  ::sigaction(SIGINT, &saved, nullptr);
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
