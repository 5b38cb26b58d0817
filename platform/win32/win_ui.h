#pragma once
// The Windows program's user interface: message boxes through the wide
// calls (the program's texts are UTF-8), the progress dialog (resource 201),
// the password dialog (resource 202) and the worker's boxes owned by the
// progress window.
#include "app/user_interface.h"

namespace quindo {

// Drains the calling thread's message queue.
void PumpMessages();
// The window that owns the worker's boxes: the progress view's, once it
// exists. WaitForProgressWindow handles the calling thread's messages until
// it is there and answers it (an HWND).
void SetWorkerOwner(void* window);
void* WaitForProgressWindow();

class WinUi final : public UserInterface {
 public:
  void ShowMessage(std::string_view text, std::string_view title, MessageIcon icon) override;
  int RunProgress(ProgressMode mode, ProgressSource& source, Worker& worker) override;
  PasswordAnswer AskPassword(const PasswordRequest& request, std::string& password) override;
  void ShowWorkerMessage(std::string_view text, std::string_view title, MessageIcon icon) override;
};

}  // namespace quindo
