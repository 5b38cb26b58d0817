#pragma once
// What the command line changes in the terminal's user interface: texts in
// the user's language, no progress line with --quiet, the password of
// --password-file or QUINDO_PASSWORD instead of a prompt, and a record of
// Ctrl-C, which makes the exit status 130.
#include <optional>
#include <string>

#include "app/user_interface.h"

namespace quindo {

class CommandLineUi final : public UserInterface {
 public:
  CommandLineUi(UserInterface& terminal, bool quiet, std::optional<std::string> password)
      : terminal_(terminal), quiet_(quiet), password_(std::move(password)) {}

  void ShowMessage(std::string_view text, std::string_view title, MessageIcon icon) override;
  int RunProgress(ProgressMode mode, ProgressSource& source, Worker& worker) override;
  PasswordAnswer AskPassword(const PasswordRequest& request, std::string& password) override;
  void ShowWorkerMessage(std::string_view text, std::string_view title, MessageIcon icon) override;
  void ReportOutputFolder(std::string_view folder) override {
    if (!quiet_) terminal_.ReportOutputFolder(folder);
  }

  // True once Ctrl-C has cancelled a job (or a prompt).
  bool Interrupted() const;

 private:
  int WaitQuietly(ProgressSource& source, Worker& worker);

  UserInterface& terminal_;
  const bool quiet_;
  const std::optional<std::string> password_;
};

// The first line of a password file, without its line end. False when the
// file cannot be read.
bool ReadPasswordFile(const std::string& path, std::string& password);

}  // namespace quindo
