#pragma once
// The Linux front end's user interface: message boxes print as
// "title: text" on standard error, the progress view is one redrawn line on
// standard error while it is a terminal, Ctrl-C is Cancel, and prompts use
// /dev/tty (no echo for a password; without a terminal a prompt is cancelled).
#include "app/user_interface.h"

namespace quindo {

class TerminalUi final : public UserInterface {
 public:
  void ShowMessage(std::string_view text, std::string_view title, MessageIcon icon) override;
  int RunProgress(ProgressMode mode, ProgressSource& source, Worker& worker) override;
  PasswordAnswer AskPassword(const PasswordRequest& request, std::string& password) override;
  void ShowWorkerMessage(std::string_view text, std::string_view title, MessageIcon icon) override;
};

}  // namespace quindo
