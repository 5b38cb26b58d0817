// The progress dialog (resource 201). Until it is drawn, the job waits for its
// worker without a window.
#include "app/worker.h"
#include "platform/win32/win_ui.h"

namespace quindo {

int WinUi::RunProgress(ProgressMode mode, ProgressSource& source, Worker& worker) {
  if (!worker.Started()) return 0;
  static int kNoWindow;
  source.SetProgressWindow(&kNoWindow);
  while (!worker.WaitFor(std::chrono::milliseconds(100))) {
  }
  return worker.ExitCode();
}

}  // namespace quindo
