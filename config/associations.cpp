#include "config/associations.h"

namespace quindo {

// Registration arrives with the shell integration; until then nothing changes.
void RegisterAssociation(const char* progId) {}
void RemoveAssociations() {}

}  // namespace quindo
