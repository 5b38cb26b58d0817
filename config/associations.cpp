#include "config/associations.h"

#include <cstring>

#include "platform/platform.h"

namespace quindo {

namespace {

const AssociationRow kRows[] = {
    {"QuindoZip", ".zip", "application/zip", key::kZipStatus, key::kOldZipType},
    {"QuindoLzh", ".lzh", "application/x-lzh-compressed", key::kLzhStatus, key::kOldLzhType},
};

}  // namespace

const AssociationRow* FindAssociationRow(const char* progId) {
  if (!progId) return nullptr;
  for (const AssociationRow& row : kRows)
    if (std::strcmp(row.progId, progId) == 0) return &row;
  return nullptr;
}

void RegisterAssociation(const char* progId, AssociationStore& store, const Settings& settings,
                         const std::string& programPath) {
  const AssociationRow* row = FindAssociationRow(progId);
  if (!row || programPath.empty()) return;
  const std::string own = store.OwnName(*row);
  // Remember the owner being replaced, unless it is already us: registering
  // twice must not forget the first owner.
  std::string owner;
  if (store.ReadOwner(*row, owner) && owner.size() <= kMaxOwnerLength && owner != own)
    settings.WriteString(section::kExtSetting, row->oldOwnerKey, owner);
  store.SetOwner(*row, own);
  store.WriteOwnEntry(*row, programPath);
  store.NotifyChanged();
  settings.WriteString(section::kExtSetting, row->statusKey, "1");
}

void UnregisterAssociation(const char* progId, AssociationStore& store, const Settings& settings) {
  const AssociationRow* row = FindAssociationRow(progId);
  if (!row) return;
  const std::string previous = settings.ReadString(section::kExtSetting, row->oldOwnerKey, "");
  store.SetOwner(*row, previous);
  store.NotifyChanged();
  settings.WriteString(section::kExtSetting, row->statusKey, "0");
}

void RemoveAssociations(AssociationStore& store, const Settings& settings) {
  for (const AssociationRow& row : kRows) UnregisterAssociation(row.progId, store, settings);
  for (const AssociationRow& row : kRows) store.DeleteOwnEntry(row);
  // The system's caches still name the deleted entries until told.
  store.NotifyChanged();
}

}  // namespace quindo
