// The terminal progress line and Ctrl-C as the Cancel button.
//
// While a job's worker runs, one line on standard error shows the view's
// title, the current name and a bar with the percent, redrawn every 100 ms
// when its text changed, and only while standard error is a terminal. The
// line is cut to the terminal's width so that it never wraps (a wrapped line
// could not be redrawn in place). Ctrl-C asks the job to stop; the view, like
// the dialog, ends only when the worker has ended.
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "app/worker.h"
#include "common/code_page.h"
#include "common/display_text.h"
#include "frontend/terminal/terminal_ui.h"
#include "frontend/terminal/translation.h"
#include "platform/platform.h"

namespace quindo {

namespace {

std::atomic<bool> g_interrupted{false};
std::atomic<int> g_watchers{0};  // progress views and prompts under way

void OnInterrupt(int signal) {
  if (g_watchers.load() == 0) {
    // Nothing cancels: Ctrl-C ends the program, as without a handler.
    ::signal(signal, SIG_DFL);
    ::raise(signal);
    return;
  }
  g_interrupted.store(true);
}

// Length of the UTF-8 sequence that starts with `lead` (1 for a stray byte).
size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead < 0xF8) return 4;
  if (lead >= 0xE0) return lead < 0xF0 ? 3 : 1;
  if (lead >= 0xC0) return 2;
  return 1;
}

uint32_t DecodeAt(const std::string& s, size_t i, size_t length) {
  const auto b = [&](size_t k) { return static_cast<uint32_t>(static_cast<unsigned char>(s[i + k])); };
  switch (length) {
    case 2: return ((b(0) & 0x1F) << 6) | (b(1) & 0x3F);
    case 3: return ((b(0) & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
    case 4: return ((b(0) & 0x07) << 18) | ((b(1) & 0x3F) << 12) | ((b(2) & 0x3F) << 6) | (b(3) & 0x3F);
    default: return b(0);
  }
}

// Columns a character takes: 2 for the wide East Asian ranges, else 1.
int ColumnsOf(uint32_t c) {
  const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
                    (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                    (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                    (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1FAFF) ||
                    (c >= 0x20000 && c <= 0x3FFFD);
  return wide ? 2 : 1;
}

struct Character {
  size_t offset, length;
  int columns;
};

std::vector<Character> Characters(const std::string& text) {
  std::vector<Character> out;
  for (size_t i = 0; i < text.size();) {
    size_t length = SequenceLength(static_cast<unsigned char>(text[i]));
    if (i + length > text.size()) length = 1;
    const uint32_t c = DecodeAt(text, i, length);
    // Control characters would move the cursor: they show as "?".
    out.push_back({i, length, c < 0x20 || c == 0x7F ? -1 : ColumnsOf(c)});
    i += length;
  }
  return out;
}

// The name fitted into `columns`: whole when it fits, else its end after "...".
std::string FitName(const std::string& name, int columns) {
  std::vector<Character> chars = Characters(name);
  int total = 0;
  for (const Character& c : chars) total += c.columns < 0 ? 1 : c.columns;
  size_t first = 0;
  std::string prefix;
  if (total > columns) {
    prefix = "...";
    const int room = columns - 3;
    if (room < 0) return std::string();
    size_t i = chars.size();
    int used = 0;
    while (i > 0) {
      const int w = chars[i - 1].columns < 0 ? 1 : chars[i - 1].columns;
      if (used + w > room) break;
      used += w;
      --i;
    }
    first = i;
  }
  std::string out = prefix;
  for (size_t i = first; i < chars.size(); ++i) {
    if (chars[i].columns < 0)
      out += '?';
    else
      out.append(name, chars[i].offset, chars[i].length);
  }
  return out;
}

int TerminalColumns(int fd) {
  struct winsize size {};
  if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

// Columns of a UTF-8 text without control characters.
int TextColumns(const std::string& text) {
  int total = 0;
  for (const Character& c : Characters(text)) total += c.columns < 0 ? 1 : c.columns;
  return total;
}

// The label's name (system code page) as UTF-8 that is safe to show.
std::string ShownName(const std::string& name) {
  std::string utf8;
  if (!SystemCodePage().ToUtf8(name, utf8)) utf8 = name;
  return SafeDisplayText(utf8);
}

// Title, name, bar, percent and, at the end, what happened ("キャンセル",
// "失敗"; empty while running and on success).
std::string ProgressLine(int terminalColumns, const char* title, const std::string& name, uint32_t percent,
                         const std::string& outcome) {
  if (percent > 100) percent = 100;
  constexpr int kBarWidth = 20;
  const int filled = static_cast<int>(percent) * kBarWidth / 100;
  std::string bar = "[" + std::string(static_cast<size_t>(filled), '#') +
                    std::string(static_cast<size_t>(kBarWidth - filled), '-') + "]";
  char tail[8];
  std::snprintf(tail, sizeof tail, "%3u%%", percent);
  // Title (8 columns), name, bar and percent, one space between, and one
  // column spare so that the cursor never reaches the edge.
  const int outcomeColumns = outcome.empty() ? 0 : 1 + TextColumns(outcome);
  const int room = terminalColumns - 1 - (8 + 1 + 1 + kBarWidth + 2 + 1 + 4) - outcomeColumns;
  std::string line = title;
  if (room >= 4) line += " " + FitName(name, room);
  line += " " + bar + " " + tail;
  if (!outcome.empty()) line += " " + outcome;
  return line;
}

}  // namespace

void InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  action.sa_flags = SA_RESTART;  // the worker's system calls carry on
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
}

bool TerminalInterrupted() { return g_interrupted.load(); }

InterruptWatch::InterruptWatch() { g_watchers.fetch_add(1); }
InterruptWatch::~InterruptWatch() { g_watchers.fetch_sub(1); }

int TerminalUi::RunProgress(ProgressMode mode, ProgressSource& source, Worker& worker) {
  if (!worker.Started()) return 0;
  const std::string titleText = Tr(mode == ProgressMode::Extract ? "解凍状況" : "圧縮状況");
  const char* title = titleText.c_str();
  const bool drawing = ::isatty(errorFd_) == 1;
  InterruptWatch watch;
  {
    std::lock_guard lock(mutex_);
    promptCancelled_ = false;
  }
  auto line = [&](uint32_t percent, const char* outcome) {
    return ProgressLine(TerminalColumns(errorFd_), title, ShownName(source.CurrentName()), percent, outcome);
  };
  if (drawing) DrawLine(line(0, ""));
  bool cancelled = false;
  // A job that failed or was cancelled ends at the point it reached: its
  // own percent, or, when that claims the end, what the view saw last while
  // the worker ran.
  uint32_t seen = 0;
  while (!worker.WaitFor(std::chrono::milliseconds(100))) {
    if (g_interrupted.load() && !cancelled) {
      cancelled = true;
      source.RequestCancel();
    }
    seen = std::min<uint32_t>(source.Percent(), 100);
    if (drawing) DrawLine(line(seen, ""));
  }
  const int code = worker.ExitCode();
  if (drawing) {
    bool promptCancelled;
    {
      std::lock_guard lock(mutex_);
      promptCancelled = promptCancelled_;
    }
    const std::string outcome =
        code == 1 ? "" : Tr((cancelled || promptCancelled || g_interrupted.load()) ? "キャンセル" : "失敗");
    uint32_t reached = std::min<uint32_t>(source.Percent(), 100);
    if (reached == 100) reached = seen;
    DrawLine(line(code == 1 ? 100 : reached, outcome.c_str()), true);
    std::lock_guard lock(mutex_);
    WriteLocked("\n");
    line_.clear();
    drawn_.clear();
  }
  return code;
}

}  // namespace quindo
