// The password dialog (resource 202). Until it exists every prompt counts as
// cancelled.
#include "platform/win32/win_ui.h"

namespace quindo {

bool WinUi::AskPassword(ArchiveReader& reader, std::string& password) {
  password.clear();
  return false;
}

}  // namespace quindo
