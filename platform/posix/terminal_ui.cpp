#include "platform/posix/terminal_ui.h"

#include <cstdio>
#include <mutex>
#include <string>


namespace quindo {

namespace {

std::mutex g_outputMutex;

void PrintBox(std::string_view text, std::string_view title) {
  std::lock_guard lock(g_outputMutex);
  std::string line(title);
  line += ": ";
  // One line per box: the box's line breaks become blanks.
  for (char c : text) line += (c == '\n') ? ' ' : c;
  while (!line.empty() && line.back() == ' ') line.pop_back();
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace

void TerminalUi::ShowMessage(std::string_view text, std::string_view title, MessageIcon icon) {
  PrintBox(text, title);
}

void TerminalUi::ShowWorkerMessage(std::string_view text, std::string_view title, MessageIcon icon) {
  PrintBox(text, title);
}

}  // namespace quindo
