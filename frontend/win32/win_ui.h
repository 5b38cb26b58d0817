#pragma once
// The Windows program's user interface: message boxes through the wide
// calls (the program's texts are UTF-8), the progress dialog (resource 201),
// the password dialog (resource 202) and the worker's boxes owned by the
// progress window.
#include <atomic>

#include "app/user_interface.h"

namespace quindo {

// Drains the calling thread's message queue.
void PumpMessages();

class WinUi final : public UserInterface {
 public:
  void ShowMessage(std::string_view text, std::string_view title, MessageIcon icon) override;
  int RunProgress(ProgressMode mode, ProgressSource& source, Worker& worker) override;
  PasswordAnswer AskPassword(const PasswordRequest& request, std::string& password) override;
  void ShowWorkerMessage(std::string_view text, std::string_view title, MessageIcon icon) override;

  // The progress view hands over its window once it is up (an HWND, or a
  // stand-in that is no window when none could be shown), and takes it back
  // when it ends.
  void SetProgressWindow(void* window) { progressWindow_.store(window); }
  // Handles the calling thread's messages until the progress view is up;
  // answers its window, or null when that is no real window.
  void* WaitForProgressWindow();

 private:
  std::atomic<void*> progressWindow_{nullptr};
};

}  // namespace quindo
