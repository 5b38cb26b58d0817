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

// Set by Ctrl-C while a progress view runs (the view's Cancel button); the
// password prompt looks at it too, so that Ctrl-C there cancels at once.
bool TerminalInterrupted();

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
