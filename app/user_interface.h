#pragma once
// Everything a job shows the user goes through this interface: message
// boxes, the progress view, and the worker's own prompts. Windows shows
// dialogs, Linux the terminal, tests a scripted double. Every text given to
// the interface is UTF-8 (names from the file system or an archive are
// converted by the caller, CodePage::ToUtf8); the front ends make each text
// safe to show (SafeDisplayText) before it reaches a box or the terminal.
#include <cstdint>
#include <string>
#include <string_view>

#include "common/archive.h"  // PasswordAnswer

namespace quindo {

class Worker;

enum class MessageIcon { Information, Warning, Error };

enum class ProgressMode { Compress = 2000, Extract = 2300 };

// What the progress view polls every tick, and how its Cancel reaches the job.
class ProgressSource {
 public:
  virtual ~ProgressSource() = default;
  virtual uint32_t Percent() const = 0;
  // The label text, in the system code page; the view converts it to UTF-8.
  virtual std::string CurrentName() const = 0;
  virtual void RequestCancel() = 0;
};

struct PasswordRequest {
  std::string memberName;      // UTF-8, shown in the prompt
  bool previousWrong = false;  // the last answer did not open the member: say so
};

class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // A box with no owner and one OK button, on the main thread.
  virtual void ShowMessage(std::string_view text, std::string_view title, MessageIcon icon) = 0;

  // Shows the progress view until the worker has ended; answers the worker's
  // exit code. A worker that was never started ends the view at once with 0.
  virtual int RunProgress(ProgressMode mode, ProgressSource& source, Worker& worker) = 0;

  // On the worker thread, over the progress view (the interface waits until
  // the view is up): asks for a password. `password` holds the answer only
  // when the result is Entered; it is empty otherwise.
  virtual PasswordAnswer AskPassword(const PasswordRequest& request, std::string& password) = 0;
  // On the worker thread, owned by the progress view: a box with OK.
  virtual void ShowWorkerMessage(std::string_view text, std::string_view title, MessageIcon icon) = 0;

  // After a job succeeded: where its output went (a folder, UTF-8).
  virtual void ReportOutputFolder(std::string_view folder) {}
};

// The process's interface; the platform's front end installs its own at
// start-up, tests install scripted ones.
UserInterface& Ui();
void SetUi(UserInterface* ui);

}  // namespace quindo
