#pragma once
// The settings dialog (Windows) or form (Linux terminal), shown when the
// program starts without arguments. Implemented by the platform layer.

namespace quindo {

void ShowSettingsDialog();

}  // namespace quindo
