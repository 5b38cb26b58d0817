// The uninstaller's removal over a scripted system: which files, folders and
// entries go, in which order, and what the user is told (what stays: the
// Wine test).
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <vector>

#include "uninstall/removal.h"

namespace quindo::uninstall {
namespace {

const std::string kDir = "C:\\Program Files\\Quindo\\";
const std::string kRecord = kDir + "setup.inf";
const std::string kDone = "box アンインストール: アンインストールは正常に終了しました。";

// A complete installation in "C:\Program Files\Quindo" to start with.
class FakeHost final : public RemovalHost {
 public:
  std::set<std::string> folders{kDir, "C:\\Menu\\Quindo\\"};  // with a trailing backslash
  std::set<std::string> files{kRecord, "C:\\SendTo\\Quindo.lnk", "C:\\Desktop\\Quindo.lnk",
                              "C:\\Menu\\Quindo\\Quindo.lnk"};
  std::map<std::string, std::string> record{  // "SECTION/KEY" -> value
      {"PROGRAM/DIRECTRY", kDir.substr(0, kDir.size() - 1)},
      {"SHORTCAT/SENDTO", "C:\\SendTo\\Quindo.lnk"},
      {"SHORTCAT/DESKTOP", "C:\\Desktop\\Quindo.lnk"},
      {"SHORTCAT/STARTMENU_EXE", "C:\\Menu\\Quindo\\Quindo.lnk"},
      {"STARTMENU/DIRECTRY", "C:\\Menu\\Quindo"}};
  std::vector<std::string> log;
  bool quindoStarts = true, entryPresent = true;

  FakeHost() {
    for (auto [key, name] : {std::pair{"EXE_FILE", "quindo.exe"}, {"HELP_FILE", "quindo.chm"},
                             {"README_FILE", "readme.txt"}, {"CONFIG_FILE", "quindo.ini"},
                             {"UNINSTALL_FILE", "uninstall.exe"}}) {
      record[std::string("PROGRAM/") + key] = name;
      files.insert(kDir + name);
    }
  }

  bool Exists(const std::string& path) override { return files.count(path) || IsFolder(path); }
  bool IsFolder(const std::string& path) override { return folders.count(path) || folders.count(path + "\\"); }
  std::string ReadRecord(const std::string& recordPath, const char* section, const char* key) override {
    auto it = record.find(std::string(section) + "/" + key);
    return !files.count(recordPath) || it == record.end() ? "" : it->second.substr(0, 254);
  }
  std::string AppendPath(const std::string& folder, const std::string& name) override {
    return folder.empty() || folder.back() == '\\' ? folder + name : folder + "\\" + name;
  }
  std::string WithTrailingSeparator(const std::string& path) override {
    return !path.empty() && path.back() == '\\' ? path : path + "\\";
  }
  bool RunAndWait(const std::string& commandLine) override {
    log.push_back("run " + commandLine);
    return quindoStarts;
  }
  bool DeleteFile(const std::string& path) override {
    log.push_back("delete " + path);
    return files.erase(path) > 0;
  }
  bool RemoveFolder(const std::string& path) override {
    log.push_back("rmdir " + path);
    std::string folder = WithTrailingSeparator(path);
    for (const auto* set : {&files, &folders})
      for (const std::string& item : *set)
        if (item != folder && item.rfind(folder, 0) == 0) return false;
    return folders.erase(folder) > 0;
  }
  void DeleteUninstallEntry() override {
    log.push_back("delete entry");
    entryPresent = false;
  }
  void ShowMessage(const std::string& text, const std::string& caption, BoxIcon) override {
    log.push_back("box " + caption + ": " + text);
  }
  void ShowPathMessage(const std::string& path, const std::string& caption) override { ShowMessage(path, caption, {}); }
};

TEST(UninstallRemovalTest, RemovesEverythingListedInOrderAndASecondRunFindsNothing) {
  FakeHost host;
  host.quindoStarts = false;  // a quindo that cannot start does not stop the rest
  EXPECT_EQ(RunRemoval(host, kRecord), 1);
  std::vector<std::string> expected = {"run \"" + kDir + "quindo.exe\" /uninstall", "delete C:\\SendTo\\Quindo.lnk",
                                       "delete C:\\Desktop\\Quindo.lnk", "delete C:\\Menu\\Quindo\\Quindo.lnk"};
  for (const char* name : {"quindo.exe", "quindo.chm", "readme.txt", "quindo.ini", "uninstall.exe"})
    expected.push_back("delete " + kDir + name);
  expected.insert(expected.end(), {"rmdir C:\\Menu\\Quindo\\", "delete " + kRecord, "rmdir " + kDir,
                                   "delete entry", kDone});
  EXPECT_EQ(host.log, expected);
  EXPECT_EQ(std::make_tuple(host.files.size(), host.folders.size(), host.entryPresent), std::make_tuple(0u, 0u, false));

  host.log.clear();
  host.entryPresent = true;
  EXPECT_EQ(RunRemoval(host, kRecord), 1);
  EXPECT_EQ(host.log, (std::vector<std::string>{
                          "box エラー: インストール情報を検出できませんでした。\n"
                          "アンインストールを実行することはできませんでした。"}));
  EXPECT_TRUE(host.entryPresent);
}

TEST(UninstallRemovalTest, OverlongRecordPathIsNotCutToAnotherName) {
  FakeHost host;
  const std::string longPath = "C:\\" + std::string(260, 'd') + "\\setup.inf";
  host.files.insert({longPath, longPath.substr(0, 259)});
  RunRemoval(host, longPath);
  ASSERT_EQ(host.log.size(), 1u);
  EXPECT_EQ(host.log[0].rfind("box エラー: ", 0), 0u) << host.log[0];
  EXPECT_EQ(host.files.count(longPath.substr(0, 259)), 1u);
  // The limit counts characters, as the wide calls do, not UTF-8 bytes.
  FakeHost japanese;
  std::string deep = "C:\\";
  for (int i = 0; i < 200; ++i) deep += "あ";
  deep += "\\setup.inf";
  japanese.files.insert(deep);
  RunRemoval(japanese, deep);
  EXPECT_EQ(japanese.log.back(), kDone);
}

}  // namespace
}  // namespace quindo::uninstall
