#pragma once
// The settings dialog's logic as a plain record: what each control shows,
// the rules between controls, and the apply step on OK. The Windows dialog
// and the Linux terminal form only move values between this record and
// their controls; nothing is written while the form is open.
#include <array>
#include <string>

#include "app/settings.h"

namespace quindo {

// Control identifiers of dialog 129; the terminal form uses them as field keys.
namespace control {
inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;
inline constexpr int kZipAssociation = 1003;
inline constexpr int kLzhAssociation = 1004;
inline constexpr int kUseUtf8 = 1006;
inline constexpr int kNumberFilter = 1007;
inline constexpr int kMakeDirectory = 1008;
inline constexpr int kExtractOverwrite = 1009;
inline constexpr int kExtractOpenDir = 1010;
inline constexpr int kHeader = 1011;
inline constexpr int kLabelZipCode = 1012;
inline constexpr int kLabelExtractOptions = 1013;
inline constexpr int kLabelAssociations = 1014;
inline constexpr int kLabelCompressOptions = 1015;
inline constexpr int kCompressOverwrite = 1016;
inline constexpr int kCompressOpenDir = 1017;
inline constexpr int kSeparatorTop = 1018;
inline constexpr int kSecurity = 1019;
inline constexpr int kLabelCompressFolder = 1020;
inline constexpr int kLevel = 1021;
inline constexpr int kLabelExtractFolder = 1022;
inline constexpr int kSeparatorBottom = 1023;
inline constexpr int kExtractDesktop = 1024;
inline constexpr int kExtractBeside = 1025;
inline constexpr int kExtractChosen = 1026;
inline constexpr int kExtractFolder = 1027;
inline constexpr int kCompressRadioGroup = 1028;
inline constexpr int kLink = 1030;
inline constexpr int kVersion = 1031;
inline constexpr int kHelp = 1032;
inline constexpr int kCompressDesktop = 1033;
inline constexpr int kCompressBeside = 1034;
inline constexpr int kCompressChosen = 1035;
inline constexpr int kCompressFolder = 1036;
}  // namespace control

// The fixed texts the form shows.
namespace form_text {
inline constexpr const char* kTitle = "Quindo";
inline constexpr const char* kVersion = "Version 0.5.0";
inline constexpr const char* kHeader = "圧縮・解凍動作の設定";
inline constexpr const char* kLink = "最新バージョンの確認";
// The product's web page, the one place for its address. Until the project
// has a public site it is empty, and the link opens the help file's start
// page instead.
inline constexpr const char* kLinkTarget = "";
inline constexpr const char* kHelpFile = "quindo.chm";  // beside the program
inline constexpr const char* kHelpStartPage = "index.html";
inline constexpr const char* kExtractBrowseTitle = "解凍ファイルの保存先を指定してください。";
inline constexpr const char* kCompressBrowseTitle = "圧縮ファイルの保存先を指定してください。";
inline constexpr const char* kFolderTooLong =
    "このフォルダーのパスは長すぎて設定ファイルに保存できないため、出力先に選べません。\n"
    "別のフォルダーを選んでください。";
inline constexpr std::array<const char*, 3> kLevelNames = {"圧縮率優先", "通常圧縮", "処理速度優先"};
}  // namespace form_text

// Destination modes of a radio column.
inline constexpr int kModeDesktop = 0;
inline constexpr int kModeBeside = 1;
inline constexpr int kModeChosen = 2;
inline constexpr int kNoRadio = -1;

// A folder text is held to the edit control's limit.
inline constexpr size_t kFolderTextLimit = 260;

// One destination column: three radios, a read-only folder field and the
// mode that steers the folder browser.
struct DestinationColumn {
  int checkedRadio = kModeDesktop;  // 0, 1, 2 or kNoRadio
  int mode = kModeDesktop;
  std::string folder;
};

enum class Column { Extract, Compress };

struct SettingsForm {
  bool zipAssociation = false;     // 1003
  bool lzhAssociation = false;     // 1004
  bool extractOverwrite = true;    // 1009
  bool compressOverwrite = true;   // 1016
  bool useUtf8 = true;             // 1006
  bool makeDirectory = true;       // 1008
  bool numberFilter = true;        // 1007
  bool extractOpenDir = true;      // 1010
  bool compressOpenDir = false;    // 1017
  bool security = false;           // 1019
  int levelIndex = 1;              // 1021, kNoRadio when nothing is selected
  DestinationColumn extract;       // 1024..1027
  DestinationColumn compress;      // 1033..1036

  // 1007 can be changed only while 1008 is checked; it keeps its state.
  bool NumberFilterEnabled() const { return makeDirectory; }
  DestinationColumn& ColumnOf(Column c) { return c == Column::Extract ? extract : compress; }
};

// A check box and where it is stored, in the order the form loads them.
struct CheckField {
  int controlId;
  const char* section;
  const char* key;
  const char* missing;
  const char* label;
  bool SettingsForm::*member;
};
extern const std::array<CheckField, 10> kCheckFields;
const CheckField* FindCheckField(int controlId);

// What OK asks of the file associations.
class AssociationActions {
 public:
  virtual ~AssociationActions() = default;
  virtual void Register(const char* progId) = 0;
  virtual void Unregister(const char* progId) = 0;
};

// The shell's folder browser: false when the user cancelled or the pick has
// no file-system path. Refuse tells the user why a picked folder was not
// taken.
class FolderPicker {
 public:
  virtual ~FolderPicker() = default;
  virtual bool PickFolder(const char* title, std::string& folder) = 0;
  virtual void Refuse(const char* text) = 0;
};

// The form as the settings file describes it.
SettingsForm LoadSettingsForm(const Settings& settings);

// A command from a radio of a column (0 desktop, 1 beside, 2 chosen folder),
// after the radio's own click has checked it. The chosen-folder radio opens
// the browser only when the column is not already in that mode; a cancelled
// browser, or a folder whose path the settings file cannot keep whole (it
// would be kept as another folder), gives the check back to the radio of the
// previous mode. Answers the
// radio the view must click to follow (kNoRadio when none).
int OnDestinationRadio(SettingsForm& form, Column column, int radio, FolderPicker& picker);

// OK: the association changes first, then every setting. False when some
// value could not be written to the settings file.
bool ApplySettingsForm(const SettingsForm& form, const Settings& settings, AssociationActions& actions);

}  // namespace quindo
