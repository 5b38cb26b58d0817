#pragma once
// The uninstaller's work, apart from the window: which process does what,
// and the removal steps over the installation record "setup.inf". The
// system calls go through RemovalHost so that the order and the rules can
// be run against a scripted host. Texts and paths are UTF-8.
#include <string>
#include <vector>

#include "common/text_limits.h"

namespace quindo::uninstall {

enum class BoxIcon { None, Exclamation, Information };

class RemovalHost {
 public:
  virtual ~RemovalHost() = default;
  virtual bool Exists(const std::string& path) = 0;
  virtual bool IsFolder(const std::string& path) = 0;
  // A value of the record, empty when missing; at most 254 characters (a
  // longer one is empty, never cut to another name).
  virtual std::string ReadRecord(const std::string& recordPath, const char* section, const char* key) = 0;
  // PathAppend: `name` below `folder`.
  virtual std::string AppendPath(const std::string& folder, const std::string& name) = 0;
  // PathAddBackslash.
  virtual std::string WithTrailingSeparator(const std::string& path) = 0;
  // Starts a command line and waits until the process has ended; false when
  // it could not be started.
  virtual bool RunAndWait(const std::string& commandLine) = 0;
  virtual bool DeleteFile(const std::string& path) = 0;
  virtual bool RemoveFolder(const std::string& path) = 0;
  // The product's entry in the list of installed programs, with everything below it.
  virtual void DeleteUninstallEntry() = 0;
  // A box with the program's own (UTF-8) text, and one whose text is a path.
  virtual void ShowMessage(const std::string& text, const std::string& caption, BoxIcon icon) = 0;
  virtual void ShowPathMessage(const std::string& path, const std::string& caption) = 0;
};

// The registry key of the product's uninstall entry, below HKEY_LOCAL_MACHINE.
inline constexpr const char* kUninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\quindo";

namespace text {
inline constexpr const char* kTitle = "「Quindo」のアンインストール";
inline constexpr const char* kHeader = "「Quindo」をコンピュータから削除します";
inline constexpr const char* kExplanation =
    "全ての関連付け情報を削除します。\n\n「Quindo」を終了させてからアンインストールを実行してください。\n"
    "一部のファイルは、次回のシステム再起動時に削除されます。";
inline constexpr const char* kNoRecord =
    "インストール情報を検出できませんでした。\nアンインストールを実行することはできませんでした。";
inline constexpr const char* kNoRecordCaption = "エラー";
inline constexpr const char* kFolderFailedCaption = "削除失敗";
inline constexpr const char* kDone = "アンインストールは正常に終了しました。";
inline constexpr const char* kDoneCaption = "アンインストール";
}  // namespace text

// What a start of the program is: the launcher (copy yourself to the
// temporary folder and start the copy) or the worker (show the dialog over
// the given record). args[0] is the program.
struct StartMode {
  bool worker = false;
  std::string recordPath;
};
StartMode DecideStartMode(const std::vector<std::string>& args);

// The launcher's parameters for the copy: /uninstall "RECORD".
std::string WorkerParameters(const std::string& recordPath);

// quindo's command line that gives the associations back, the program path
// quoted so that blanks in the folder cannot start another program.
std::string QuindoCommandLine(const std::string& programPath);

// The removal behind the dialog's button. Answers the dialog's result (1).
int RunRemoval(RemovalHost& host, const std::string& recordPath);

}  // namespace quindo::uninstall
