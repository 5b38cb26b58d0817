#include "uninstall/removal.h"

#include "common/ascii_case.h"

namespace quindo::uninstall {

namespace {

// The UTF-16 units of a UTF-8 path, which the wide calls' MAX_PATH counts:
// one for each character, two for one beyond the Basic Multilingual Plane.
size_t WideLength(const std::string& utf8) {
  size_t units = 0;
  for (char c : utf8) {
    const auto b = static_cast<unsigned char>(c);
    if ((b & 0xC0) != 0x80) units += b >= 0xF0 ? 2 : 1;
  }
  return units;
}

void DeleteIfPresent(RemovalHost& host, const std::string& path) {
  if (!path.empty() && host.Exists(path)) host.DeleteFile(path);
}

// Removes a folder when it is empty; answers false when it stands and could not go.
bool RemoveFolderIfPresent(RemovalHost& host, const std::string& folder) {
  if (folder.empty() || !host.IsFolder(folder)) return true;
  return host.RemoveFolder(folder);
}

}  // namespace

StartMode DecideStartMode(const std::vector<std::string>& args) {
  StartMode mode;
  if (args.size() >= 3 && EqualsIgnoringAsciiCase(args[1], "/uninstall")) {
    mode.worker = true;
    mode.recordPath = args[2];
  }
  return mode;
}

std::string WorkerParameters(const std::string& recordPath) { return "/uninstall \"" + recordPath + "\""; }

std::string QuindoCommandLine(const std::string& programPath) { return "\"" + programPath + "\" /uninstall"; }

int RunRemoval(RemovalHost& host, const std::string& recordPath) {
  // A path the system's path buffers cannot hold is not cut to another name.
  if (recordPath.empty() || WideLength(recordPath) > kMaxNameLength || !host.Exists(recordPath)) {
    host.ShowMessage(text::kNoRecord, text::kNoRecordCaption, BoxIcon::Exclamation);
    return 1;
  }
  auto read = [&](const char* section, const char* key) { return host.ReadRecord(recordPath, section, key); };
  const std::string folder = read("PROGRAM", "DIRECTRY");
  // Without an installation folder the file names would be taken relative
  // to the temporary folder and could name someone else's files there.
  auto programFile = [&](const char* key) {
    std::string name = read("PROGRAM", key);
    return folder.empty() || name.empty() ? std::string() : host.AppendPath(folder, name);
  };

  const std::string program = programFile("EXE_FILE");
  if (!program.empty()) host.RunAndWait(QuindoCommandLine(program));

  for (const char* key : {"SENDTO", "DESKTOP", "STARTMENU_EXE"}) DeleteIfPresent(host, read("SHORTCAT", key));
  for (const char* key : {"EXE_FILE", "HELP_FILE", "README_FILE", "CONFIG_FILE", "UNINSTALL_FILE"})
    DeleteIfPresent(host, programFile(key));

  const std::string startMenu = read("STARTMENU", "DIRECTRY");
  if (!startMenu.empty()) RemoveFolderIfPresent(host, host.WithTrailingSeparator(startMenu));

  host.DeleteFile(recordPath);
  if (!folder.empty()) {
    const std::string installFolder = host.WithTrailingSeparator(folder);
    if (!RemoveFolderIfPresent(host, installFolder))
      host.ShowPathMessage(installFolder, text::kFolderFailedCaption);
  }

  host.DeleteUninstallEntry();
  host.ShowMessage(text::kDone, text::kDoneCaption, BoxIcon::Information);
  return 1;
}

}  // namespace quindo::uninstall
