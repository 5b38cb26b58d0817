#pragma once
// The .zip and .lzh file associations.

namespace quindo {

// progId "QuindoZip" or "QuindoLzh".
void RegisterAssociation(const char* progId);
void RemoveAssociations();

}  // namespace quindo
