#pragma once
// The .zip and .lzh file associations. quindo takes a file type over and
// gives it back to the program that owned it before: the settings file's
// "EXT_SETTING" section remembers, per type, whether quindo owns it and
// which owner it replaced. Where the association itself lives is the
// system's business (the registry under HKEY_CLASSES_ROOT on Windows, the
// XDG MIME defaults on Linux), behind AssociationStore.
#include <string>

#include "app/settings.h"

namespace quindo {

// One file type quindo can own.
struct AssociationRow {
  const char* progId;        // "QuindoZip"
  const char* extension;     // ".zip"
  const char* mimeType;      // "application/zip"
  const char* statusKey;     // "ZIP_STATUS"
  const char* oldOwnerKey;   // "OLD_ZIP_TYPE"
};
// The row of a ProgID (exact comparison), nullptr when it has none.
const AssociationRow* FindAssociationRow(const char* progId);

// An owner name this long or longer is not remembered.
inline constexpr size_t kMaxOwnerLength = 63;

class AssociationStore {
 public:
  virtual ~AssociationStore() = default;
  // The name quindo's own entry for the type goes by (the ProgID on Windows).
  virtual std::string OwnName(const AssociationRow& row) = 0;
  // The type's current owner. False when there is none to be read.
  virtual bool ReadOwner(const AssociationRow& row, std::string& owner) = 0;
  // Makes `owner` the type's owner; an empty owner leaves the type to nobody.
  virtual bool SetOwner(const AssociationRow& row, const std::string& owner) = 0;
  // quindo's own entry for the type: how it opens a file and its icon.
  virtual void WriteOwnEntry(const AssociationRow& row, const std::string& programPath) = 0;
  virtual void DeleteOwnEntry(const AssociationRow& row) = 0;
  // Tells the desktop that the associations changed.
  virtual void NotifyChanged() = 0;
};

// The operations over a given store, settings file and program path (an
// empty path makes RegisterAssociation change nothing).
void RegisterAssociation(const char* progId, AssociationStore& store, const Settings& settings,
                         const std::string& programPath);
void UnregisterAssociation(const char* progId, AssociationStore& store, const Settings& settings);
void RemoveAssociations(AssociationStore& store, const Settings& settings);

}  // namespace quindo
