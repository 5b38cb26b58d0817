// The terminal progress line and Ctrl-C as the Cancel button.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>

#include "app/worker.h"
#include "platform/posix/terminal_ui.h"

namespace quindo {

namespace {

std::atomic<bool> g_interrupted{false};

void OnInterrupt(int) { g_interrupted.store(true); }

// Installs the Ctrl-C handler for the life of one progress view.
class InterruptScope {
 public:
  InterruptScope() {
    g_interrupted.store(false);
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &saved_);
  }
  ~InterruptScope() { ::sigaction(SIGINT, &saved_, nullptr); }

 private:
  struct sigaction saved_ {};
};

void DrawLine(const char* title, const std::string& name, uint32_t percent) {
  if (percent > 100) percent = 100;
  constexpr int kWidth = 20;
  int filled = static_cast<int>(percent) * kWidth / 100;
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kWidth - filled), '-');
  std::string shown = name.size() > 40 ? "..." + name.substr(name.size() - 37) : name;
  std::fprintf(stderr, "\r\x1b[K%s %s [%s] %3u%%", title, shown.c_str(), bar.c_str(), percent);
  std::fflush(stderr);
}

}  // namespace

int TerminalUi::RunProgress(ProgressMode mode, ProgressSource& source, Worker& worker) {
  if (!worker.Started()) return 0;
  const char* title = mode == ProgressMode::Extract ? "解凍状況" : "圧縮状況";
  const bool drawing = ::isatty(STDERR_FILENO) == 1;
  InterruptScope interrupts;
  // The terminal has no window to own prompts; the view is "up" at once.
  static int kTerminalWindow;
  source.SetProgressWindow(&kTerminalWindow);
  bool cancelled = false;
  while (!worker.WaitFor(std::chrono::milliseconds(100))) {
    if (g_interrupted.load() && !cancelled) {
      cancelled = true;
      source.RequestCancel();
    }
    if (drawing) DrawLine(title, source.CurrentName(), source.Percent());
  }
  const int code = worker.ExitCode();
  if (drawing) {
    DrawLine(title, source.CurrentName(), code == 1 ? 100 : source.Percent());
    std::fputs("\n", stderr);
  }
  return code;
}

}  // namespace quindo
