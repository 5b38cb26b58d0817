#pragma once
// A small view of the registry under HKEY_CLASSES_ROOT: default values of
// keys, whole-tree deletion and the shell's change notice. Windows binds it
// to the real registry; tests bind it to a map.
#include <string>

#include "config/associations.h"

namespace quindo {

class ClassesRegistry {
 public:
  virtual ~ClassesRegistry() = default;
  // The default value of an existing key; false when the key or the value
  // cannot be read.
  virtual bool ReadDefault(const std::string& keyPath, std::string& value) = 0;
  // Creates the key (and the keys on the way) and sets its default value,
  // stored as text with its terminating zero.
  virtual bool WriteDefault(const std::string& keyPath, const std::string& value) = 0;
  // Deletes a key with everything below it.
  virtual bool DeleteTree(const std::string& keyPath) = 0;
  virtual void NotifyAssociationChanged() = 0;
};

// The associations as the Windows shell keeps them: the extension key names
// the ProgID, the ProgID key holds the open command and the icon.
class RegistryAssociationStore final : public AssociationStore {
 public:
  explicit RegistryAssociationStore(ClassesRegistry& registry) : registry_(registry) {}

  std::string OwnName(const AssociationRow& row) override { return row.progId; }
  bool ReadOwner(const AssociationRow& row, std::string& owner) override;
  // Refuses ".exe", whatever its case.
  bool SetOwner(const AssociationRow& row, const std::string& owner) override;
  void WriteOwnEntry(const AssociationRow& row, const std::string& programPath) override;
  void DeleteOwnEntry(const AssociationRow& row) override;
  void NotifyChanged() override { registry_.NotifyAssociationChanged(); }

  bool SetExtensionOwner(const std::string& extension, const std::string& progId);

 private:
  ClassesRegistry& registry_;
};

// "\"C:\\Tools\\quindo.exe\" \"%1\"" and "C:\\Tools\\quindo.exe,1".
std::string OpenCommandText(const std::string& programPath);
std::string DefaultIconText(const std::string& programPath);

}  // namespace quindo
