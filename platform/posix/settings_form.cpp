// The settings form on a terminal.
#include <cstdio>

#include "config/settings_dialog.h"

namespace quindo {

void ShowSettingsDialog() {
  std::fputs("Quindo: the settings form is not available yet; see quindo --help.\n", stderr);
}

}  // namespace quindo
