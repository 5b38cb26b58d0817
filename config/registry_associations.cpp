#include "config/registry.h"

#include "common/ascii_case.h"

namespace quindo {

std::string OpenCommandText(const std::string& programPath) {
  return "\"" + programPath + "\" \"%1\"";
}

std::string DefaultIconText(const std::string& programPath) { return programPath + ",1"; }

bool RegistryAssociationStore::ReadOwner(const AssociationRow& row, std::string& owner) {
  return registry_.ReadDefault(row.extension, owner);
}

bool RegistryAssociationStore::SetExtensionOwner(const std::string& extension, const std::string& progId) {
  if (EqualsIgnoringAsciiCase(extension, ".exe")) return false;
  registry_.WriteDefault(extension, progId);
  return true;
}

bool RegistryAssociationStore::SetOwner(const AssociationRow& row, const std::string& owner) {
  return SetExtensionOwner(row.extension, owner);
}

void RegistryAssociationStore::WriteOwnEntry(const AssociationRow& row, const std::string& programPath) {
  const std::string progId = row.progId;
  registry_.WriteDefault(progId + "\\shell\\open\\command", OpenCommandText(programPath));
  registry_.WriteDefault(progId + "\\DefaultIcon", DefaultIconText(programPath));
}

void RegistryAssociationStore::DeleteOwnEntry(const AssociationRow& row) { registry_.DeleteTree(row.progId); }

}  // namespace quindo
