#include "app/user_interface.h"

namespace quindo {

namespace {
UserInterface* g_ui = nullptr;
}

UserInterface& Ui() { return *g_ui; }
void SetUi(UserInterface* ui) { g_ui = ui; }

}  // namespace quindo
