// The settings dialog (resource 129).
#include "config/settings_dialog.h"

namespace quindo {

void ShowSettingsDialog() {}

}  // namespace quindo
