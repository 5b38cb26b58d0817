// The settings form on a terminal: the dialog's fields as a numbered list.
// Typing a number toggles a check box, selects a radio or steps the level;
// "o" is OK (the associations first, then every setting), "c" or the end of
// input is Cancel, which writes nothing.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <unistd.h>
#include <sys/stat.h>

#include "config/associations.h"
#include "frontend/program_services.h"
#include "config/settings_form.h"
#include "common/display_text.h"
#include "frontend/terminal/translation.h"

namespace quindo {

namespace {

enum class Kind { Check, Radio, Level };

struct Field {
  Kind kind;
  int controlId;
  const char* heading;  // printed before the field when set
  Column column = Column::Extract;
  int radio = 0;
};

const Field kFields[] = {
    {Kind::Radio, control::kCompressDesktop, "圧縮先フォルダ", Column::Compress, kModeDesktop},
    {Kind::Radio, control::kCompressBeside, nullptr, Column::Compress, kModeBeside},
    {Kind::Radio, control::kCompressChosen, nullptr, Column::Compress, kModeChosen},
    {Kind::Check, control::kCompressOverwrite, "圧縮詳細オプション"},
    {Kind::Check, control::kCompressOpenDir, nullptr},
    {Kind::Level, control::kLevel, nullptr},
    {Kind::Check, control::kZipAssociation, "圧縮ファイルの関連付け"},
    {Kind::Check, control::kLzhAssociation, nullptr},
    {Kind::Radio, control::kExtractDesktop, "解凍先フォルダ", Column::Extract, kModeDesktop},
    {Kind::Radio, control::kExtractBeside, nullptr, Column::Extract, kModeBeside},
    {Kind::Radio, control::kExtractChosen, nullptr, Column::Extract, kModeChosen},
    {Kind::Check, control::kExtractOverwrite, "解凍詳細オプション"},
    {Kind::Check, control::kExtractOpenDir, nullptr},
    {Kind::Check, control::kMakeDirectory, nullptr},
    {Kind::Check, control::kNumberFilter, nullptr},
    {Kind::Check, control::kSecurity, nullptr},
    {Kind::Check, control::kUseUtf8, "ZIPファイル 文字コード"},
};

const char* const kRadioLabels[] = {"デスクトップ", "ファイルと同じ場所", "直接指定"};

bool ReadLine(std::string& line) {
  if (!std::getline(std::cin, line)) return false;
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return true;
}

// The folder browser of the terminal: an existing folder typed as a path.
class TerminalFolderPicker final : public FolderPicker {
 public:
  bool PickFolder(const char* title, std::string& folder) override {
    std::printf("%s\n%s > ", Tr(title).c_str(), Tr("(空行でキャンセル)").c_str());
    std::fflush(stdout);
    std::string line;
    if (!ReadLine(line) || line.empty()) return false;
    char resolved[PATH_MAX];
    struct stat st;
    if (!::realpath(line.c_str(), resolved) || ::stat(resolved, &st) != 0 || !S_ISDIR(st.st_mode)) {
      std::printf("%s\n", TrFormat("フォルダが見つかりません: %s", {SafeDisplayText(line)}).c_str());
      return false;
    }
    folder = resolved;
    return true;
  }
  void Refuse(const char* text) override { std::printf("%s\n", TrLines(text).c_str()); }
};

class SystemAssociations final : public AssociationActions {
 public:
  void Register(const char* progId) override { RegisterAssociation(progId); }
  void Unregister(const char* progId) override { UnregisterAssociation(progId); }
};

void Show(const SettingsForm& form) {
  std::printf("\n%s - %s%*s%s\n", form_text::kTitle, Tr(form_text::kHeader).c_str(), 8, "", form_text::kVersion);
  int number = 1;
  for (const Field& field : kFields) {
    if (field.heading) std::printf(" %s\n", Tr(field.heading).c_str());
    switch (field.kind) {
      case Kind::Check: {
        const CheckField* check = FindCheckField(field.controlId);
        const bool on = form.*check->member;
        const bool indented = field.controlId == control::kNumberFilter;
        const bool enabled = !indented || form.NumberFilterEnabled();
        std::printf("  %2d %s %s%s%s\n", number, on ? "[x]" : "[ ]", indented ? "  " : "", Tr(check->label).c_str(),
                    enabled ? "" : (" " + Tr("(無効)")).c_str());
        break;
      }
      case Kind::Radio: {
        const DestinationColumn& column = field.column == Column::Extract ? form.extract : form.compress;
        std::printf("  %2d %s %s", number, column.checkedRadio == field.radio ? "(*)" : "( )",
                    Tr(kRadioLabels[field.radio]).c_str());
        if (field.radio == kModeChosen) std::printf("  [%s]", SafeDisplayText(column.folder).c_str());
        std::printf("\n");
        break;
      }
      case Kind::Level: {
        const char* name = form.levelIndex >= 0 && form.levelIndex < 3 ? form_text::kLevelNames[form.levelIndex] : "";
        std::printf("  %2d     %s\n", number, TrFormat("圧縮レベル: %s", {Tr(name)}).c_str());
        break;
      }
    }
    ++number;
  }
  std::printf("%s", Tr("番号で切り替え / o: OK / c: キャンセル > ").c_str());
  std::fflush(stdout);
}

void Select(SettingsForm& form, const Field& field, FolderPicker& picker) {
  switch (field.kind) {
    case Kind::Check: {
      if (field.controlId == control::kNumberFilter && !form.NumberFilterEnabled()) return;
      const CheckField* check = FindCheckField(field.controlId);
      form.*check->member = !(form.*check->member);
      break;
    }
    case Kind::Radio: {
      // An auto radio checks itself, then the dialog hears of the click.
      form.ColumnOf(field.column).checkedRadio = field.radio;
      const int back = OnDestinationRadio(form, field.column, field.radio, picker);
      if (back != kNoRadio) OnDestinationRadio(form, field.column, back, picker);
      break;
    }
    case Kind::Level:
      form.levelIndex = form.levelIndex >= 0 && form.levelIndex < 2 ? form.levelIndex + 1 : 0;
      break;
  }
}

}  // namespace

void ShowSettingsDialog() {
  if (!::isatty(STDIN_FILENO) || !::isatty(STDOUT_FILENO)) {
    std::fputs("Quindo: the settings form needs a terminal; see quindo --help.\n", stderr);
    return;
  }
  Settings settings;
  SettingsForm form = LoadSettingsForm(settings);
  TerminalFolderPicker picker;
  const int count = static_cast<int>(sizeof kFields / sizeof kFields[0]);
  for (;;) {
    Show(form);
    std::string line;
    if (!ReadLine(line) || line == "c" || line == "C") {
      std::printf("\n");
      return;
    }
    if (line == "o" || line == "O") {
      SystemAssociations actions;
      if (!ApplySettingsForm(form, settings, actions))
        std::printf("%s\n", TrFormat("設定を保存できませんでした: %s", {SafeDisplayText(settings.Path())}).c_str());
      return;
    }
    char* end = nullptr;
    const long number = std::strtol(line.c_str(), &end, 10);
    if (line.empty() || *end != '\0' || number < 1 || number > count) continue;
    Select(form, kFields[number - 1], picker);
  }
}

}  // namespace quindo
