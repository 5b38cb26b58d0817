#pragma once
// What the real program binds together: the jobs, the association store of
// the running system and the settings dialog (Windows) or form (Linux
// terminal) that each front end provides.
#include "app/entry.h"
#include "config/associations.h"

namespace quindo {

// The services of the real program.
AppServices& ProgramServices();

// The running system's association store (registry on Windows, XDG on
// Linux) and its settings view: each front end implements these.
AssociationStore& SystemAssociationStore();
void ShowSettingsDialog();

// The association operations over the system store, a settings store made
// anew for each call and the running program's path.
void RegisterAssociation(const char* progId);
void UnregisterAssociation(const char* progId);
void RemoveAssociations();

}  // namespace quindo
