#include "config/settings_form.h"

#include "app/member_names.h"
#include "platform/platform.h"

namespace quindo {

const std::array<CheckField, 10> kCheckFields = {{
    {control::kZipAssociation, section::kExtSetting, key::kZipStatus, "0", "zip",
     &SettingsForm::zipAssociation},
    {control::kLzhAssociation, section::kExtSetting, key::kLzhStatus, "0", "lzh",
     &SettingsForm::lzhAssociation},
    {control::kExtractOverwrite, section::kMelt, key::kOverwrite, "1", "ファイルの上書きを許可する",
     &SettingsForm::extractOverwrite},
    {control::kCompressOverwrite, section::kArc, key::kOverwrite, "1", "ファイルの上書きを許可する",
     &SettingsForm::compressOverwrite},
    {control::kUseUtf8, section::kZipOption, key::kUseUtf8, "1", "UTF-8 自動判定", &SettingsForm::useUtf8},
    {control::kMakeDirectory, section::kOption, key::kMakeDirectory, "1", "フォルダを自動生成する",
     &SettingsForm::makeDirectory},
    {control::kNumberFilter, section::kOption, key::kNumberFilter, "1", "連番除去フィルタ",
     &SettingsForm::numberFilter},
    {control::kExtractOpenDir, section::kMelt, key::kOpenDir, "1", "解凍先フォルダを開く",
     &SettingsForm::extractOpenDir},
    {control::kCompressOpenDir, section::kArc, key::kOpenDir, "0", "圧縮先フォルダを開く",
     &SettingsForm::compressOpenDir},
    {control::kSecurity, section::kOption, key::kSecurity, "0", "簡易セキュリティチェック",
     &SettingsForm::security},
}};

const CheckField* FindCheckField(int controlId) {
  for (const CheckField& field : kCheckFields)
    if (field.controlId == controlId) return &field;
  return nullptr;
}

namespace {

// Holds a folder text to the limit on a whole character (counted in CP932
// bytes where the settings file holds CP932).
void HoldToLimit(std::string& folder) { CutName(folder, SystemCodePage(), kFolderTextLimit, LegacyNameCodePage()); }

void LoadColumn(const Settings& settings, const char* sectionName, DestinationColumn& column) {
  int mode = settings.ReadInt(sectionName, key::kOutput, kModeDesktop);
  if (mode != kModeBeside && mode != kModeChosen) mode = kModeDesktop;
  column.mode = mode;
  column.checkedRadio = mode;
  column.folder = settings.ReadString(sectionName, key::kOutputPath, "");
  HoldToLimit(column.folder);
}

bool ApplyColumn(const Settings& settings, const char* sectionName, const DestinationColumn& column) {
  bool written = true;
  if (column.checkedRadio >= kModeDesktop && column.checkedRadio <= kModeChosen)
    written = settings.WriteInt(sectionName, key::kOutput, column.checkedRadio);
  std::string folder = column.folder;
  HoldToLimit(folder);
  return settings.WriteString(sectionName, key::kOutputPath, folder) && written;
}

void ApplyAssociation(const Settings& settings, const char* statusKey, bool checked, const char* progId,
                      AssociationActions& actions) {
  const bool stored = settings.ReadString(section::kExtSetting, statusKey, "") == "1";
  if (checked && !stored) actions.Register(progId);
  if (!checked && stored) actions.Unregister(progId);
}

}  // namespace

SettingsForm LoadSettingsForm(const Settings& settings) {
  SettingsForm form;
  for (const CheckField& field : kCheckFields)
    form.*field.member = settings.ReadFlag(field.section, field.key, field.missing);
  int level = settings.ReadInt(section::kOption, key::kZipLevel, 1);
  form.levelIndex = level >= 0 && level < static_cast<int>(form_text::kLevelNames.size()) ? level : kNoRadio;
  LoadColumn(settings, section::kMelt, form.extract);
  LoadColumn(settings, section::kArc, form.compress);
  return form;
}

int OnDestinationRadio(SettingsForm& form, Column column, int radio, FolderPicker& picker) {
  DestinationColumn& c = form.ColumnOf(column);
  if (radio == kModeDesktop || radio == kModeBeside) {
    c.mode = radio;
    return kNoRadio;
  }
  if (radio != kModeChosen || c.mode == kModeChosen || c.checkedRadio != kModeChosen) return kNoRadio;
  const char* title =
      column == Column::Extract ? form_text::kExtractBrowseTitle : form_text::kCompressBrowseTitle;
  std::string folder;
  if (picker.PickFolder(title, folder)) {
    std::string kept = folder;
    CutName(kept, SystemCodePage(), kMaxValueLength, LegacyNameCodePage());
    if (kept == folder) {
      c.folder = folder;
      c.mode = kModeChosen;
      return kNoRadio;
    }
    picker.Refuse(form_text::kFolderTooLong);
  }
  // Back to the radio of the mode the column had; its own command keeps the mode.
  const int previous = c.mode == kModeDesktop ? kModeDesktop : kModeBeside;
  c.checkedRadio = previous;
  return previous;
}

bool ApplySettingsForm(const SettingsForm& form, const Settings& settings, AssociationActions& actions) {
  ApplyAssociation(settings, key::kZipStatus, form.zipAssociation, "QuindoZip", actions);
  ApplyAssociation(settings, key::kLzhStatus, form.lzhAssociation, "QuindoLzh", actions);
  // The association boxes are written by the associations themselves. Every
  // value is tried, whatever became of the one before.
  bool written = true;
  for (size_t i = 2; i < kCheckFields.size(); ++i) {
    const CheckField& field = kCheckFields[i];
    written = settings.WriteFlag(field.section, field.key, form.*field.member) && written;
  }
  written = settings.WriteInt(section::kOption, key::kZipLevel, form.levelIndex) && written;
  written = ApplyColumn(settings, section::kMelt, form.extract) && written;
  return ApplyColumn(settings, section::kArc, form.compress) && written;
}

}  // namespace quindo
