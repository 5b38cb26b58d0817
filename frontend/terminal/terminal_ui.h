#pragma once
// The Linux front end's user interface: message boxes print as
// "title: text" on standard error, the progress view is one redrawn line on
// standard error while it is a terminal, Ctrl-C is Cancel, and prompts use
// the terminal (/dev/tty; no echo for a password). The progress line is
// cleared before a prompt or a box of the worker and drawn again after it.
#include <mutex>
#include <string>

#include "app/user_interface.h"

namespace quindo {

// Ctrl-C is the Cancel button of the progress view and of the password
// prompt, which watch for it (InterruptWatch) and read TerminalInterrupted.
// The handler is installed once, before any job starts, so that Ctrl-C at a
// prompt shown before its view is not lost; with nothing watching, Ctrl-C
// ends the program as it would without a handler. Once set, the flag stays
// set: a cancel ends the run.
void InstallInterruptHandler();
bool TerminalInterrupted();
class InterruptWatch {
 public:
  InterruptWatch();
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;
};

class TerminalUi final : public UserInterface {
 public:
  // Tests pass a pseudo-terminal for both; -1 means standard error.
  explicit TerminalUi(int errorFd = -1, std::string ttyPath = "/dev/tty");

  void ShowMessage(std::string_view text, std::string_view title, MessageIcon icon) override;
  int RunProgress(ProgressMode mode, ProgressSource& source, Worker& worker) override;
  PasswordAnswer AskPassword(const PasswordRequest& request, std::string& password) override;
  void ShowWorkerMessage(std::string_view text, std::string_view title, MessageIcon icon) override;
  void ReportOutputFolder(std::string_view folder) override;

 private:
  // Writes to the error stream under the lock.
  void WriteLocked(std::string_view bytes);
  void PrintBox(std::string_view text, std::string_view title);
  // The progress line: Draw replaces it when `line` differs (or always with
  // `force`); Hide clears it for a prompt and Show puts it back.
  void DrawLine(const std::string& line, bool force = false);
  void HideLine();
  void ShowLine();

  int errorFd_;
  std::string ttyPath_;
  std::mutex mutex_;
  std::string line_;   // the progress line as it should be, empty when none
  std::string drawn_;  // the progress line as it is on screen, empty when none
  int hidden_ = 0;            // prompts under way
  bool promptCancelled_ = false;
};

}  // namespace quindo
