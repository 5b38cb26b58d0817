#pragma once
// The Windows program's user interface: message boxes through the wide
// calls (the program's texts are UTF-8), the progress dialog (resource 201),
// the password dialog (resource 202) and the worker's boxes owned by the
// progress window.
#include "app/user_interface.h"

namespace quindo {

// Drains the calling thread's message queue.
void PumpMessages();
// Handles the calling thread's messages until the progress view has handed
// its window to the reader; answers that window (an HWND).
void* WaitForProgressWindow(ArchiveReader& reader);

class WinUi final : public UserInterface {
 public:
  void ShowMessage(std::string_view text, std::string_view title, MessageIcon icon) override;
  int RunProgress(ProgressMode mode, ProgressSource& source, Worker& worker) override;
  bool AskPassword(ArchiveReader& reader, std::string& password) override;
  void ShowWorkerMessage(ArchiveReader& reader, std::string_view text, std::string_view title,
                         MessageIcon icon) override;
};

}  // namespace quindo
