// The uninstaller's removal over a scripted system: which files, folders and
// entries go, in which order, what stays, and what the user is told.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <vector>

#include "uninstall/removal.h"

namespace quindo::uninstall {
namespace {

class FakeHost final : public RemovalHost {
 public:
  std::set<std::string> files;
  std::set<std::string> folders;  // with a trailing backslash
  std::map<std::string, std::string> record;  // "SECTION/KEY" -> value
  std::vector<std::string> log;
  bool quindoStarts = true;
  bool entryPresent = true;

  bool Exists(const std::string& path) override { return files.count(path) || IsFolder(path); }
  bool IsFolder(const std::string& path) override {
    return folders.count(path) || folders.count(path + "\\");
  }
  std::string ReadRecord(const std::string& recordPath, const char* section, const char* key) override {
    if (!files.count(recordPath)) return "";
    auto it = record.find(std::string(section) + "/" + key);
    return it == record.end() ? "" : it->second.substr(0, 254);
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
    for (const std::string& f : files)
      if (f.rfind(folder, 0) == 0) return false;
    for (const std::string& d : folders)
      if (d != folder && d.rfind(folder, 0) == 0) return false;
    return folders.erase(folder) > 0;
  }
  void DeleteUninstallEntry() override {
    log.push_back("delete entry");
    entryPresent = false;
  }
  void ShowMessage(const std::string& text, const std::string& caption, BoxIcon icon) override {
    log.push_back("box " + caption + ": " + text);
  }
  void ShowPathMessage(const std::string& path, const std::string& caption) override {
    log.push_back("box " + caption + ": " + path);
  }

  // A complete installation in "C:\Program Files\Quindo".
  void Install() {
    const std::string dir = "C:\\Program Files\\Quindo";
    folders = {dir + "\\", "C:\\Menu\\Quindo\\"};
    files = {dir + "\\setup.inf", dir + "\\quindo.exe", dir + "\\quindo.chm", dir + "\\readme.txt",
             dir + "\\quindo.ini", dir + "\\uninstall.exe", "C:\\SendTo\\Quindo.lnk",
             "C:\\Desktop\\Quindo.lnk", "C:\\Menu\\Quindo\\Quindo.lnk"};
    record = {{"PROGRAM/DIRECTRY", dir},
              {"PROGRAM/EXE_FILE", "quindo.exe"},
              {"PROGRAM/HELP_FILE", "quindo.chm"},
              {"PROGRAM/README_FILE", "readme.txt"},
              {"PROGRAM/CONFIG_FILE", "quindo.ini"},
              {"PROGRAM/UNINSTALL_FILE", "uninstall.exe"},
              {"SHORTCAT/SENDTO", "C:\\SendTo\\Quindo.lnk"},
              {"SHORTCAT/DESKTOP", "C:\\Desktop\\Quindo.lnk"},
              {"SHORTCAT/STARTMENU_EXE", "C:\\Menu\\Quindo\\Quindo.lnk"},
              {"STARTMENU/DIRECTRY", "C:\\Menu\\Quindo"}};
  }
};

const std::string kRecord = "C:\\Program Files\\Quindo\\setup.inf";

TEST(UninstallStartTest, OnlySwitchAndPathStartTheWorker) {
  EXPECT_FALSE(DecideStartMode({"uninstall.exe"}).worker);
  EXPECT_FALSE(DecideStartMode({"uninstall.exe", "/uninstall"}).worker);
  EXPECT_FALSE(DecideStartMode({"uninstall.exe", "/remove", kRecord}).worker);
  StartMode mode = DecideStartMode({"uninstall.exe", "/UNINSTALL", kRecord, "extra"});
  EXPECT_TRUE(mode.worker);
  EXPECT_EQ(mode.recordPath, kRecord);
  EXPECT_EQ(WorkerParameters(kRecord), "/uninstall \"C:\\Program Files\\Quindo\\setup.inf\"");
  EXPECT_EQ(QuindoCommandLine("C:\\Program Files\\Quindo\\quindo.exe"),
            "\"C:\\Program Files\\Quindo\\quindo.exe\" /uninstall");
}

TEST(UninstallRemovalTest, RemovesEverythingListedInOrder) {
  FakeHost host;
  host.Install();
  EXPECT_EQ(RunRemoval(host, kRecord), 1);
  const std::string dir = "C:\\Program Files\\Quindo\\";
  EXPECT_EQ(host.log, (std::vector<std::string>{
                          "run \"" + dir + "quindo.exe\" /uninstall",
                          "delete C:\\SendTo\\Quindo.lnk",
                          "delete C:\\Desktop\\Quindo.lnk",
                          "delete C:\\Menu\\Quindo\\Quindo.lnk",
                          "delete " + dir + "quindo.exe",
                          "delete " + dir + "quindo.chm",
                          "delete " + dir + "readme.txt",
                          "delete " + dir + "quindo.ini",
                          "delete " + dir + "uninstall.exe",
                          "rmdir C:\\Menu\\Quindo\\",
                          "delete " + kRecord,
                          "rmdir " + dir,
                          "delete entry",
                          "box アンインストール: アンインストールは正常に終了しました。",
                      }));
  EXPECT_TRUE(host.files.empty());
  EXPECT_TRUE(host.folders.empty());
  EXPECT_FALSE(host.entryPresent);
}

TEST(UninstallRemovalTest, UnlistedFileKeepsTheFolderAndIsReported) {
  FakeHost host;
  host.Install();
  host.files.insert("C:\\Program Files\\Quindo\\mine.txt");
  host.files.insert("C:\\Menu\\Quindo\\other.lnk");
  host.quindoStarts = false;  // a quindo that cannot start does not stop the rest
  RunRemoval(host, kRecord);
  EXPECT_EQ(host.files, (std::set<std::string>{"C:\\Program Files\\Quindo\\mine.txt", "C:\\Menu\\Quindo\\other.lnk"}));
  // The start-menu folder fails silently; the installation folder is named.
  ASSERT_GE(host.log.size(), 3u);
  EXPECT_EQ(host.log[host.log.size() - 3], "box 削除失敗: C:\\Program Files\\Quindo\\");
  EXPECT_EQ(host.log[host.log.size() - 2], "delete entry");
  EXPECT_EQ(host.log.back(), "box アンインストール: アンインストールは正常に終了しました。");
}

TEST(UninstallRemovalTest, SecondRunFindsNoRecordAndDoesNothing) {
  FakeHost host;
  host.Install();
  RunRemoval(host, kRecord);
  host.log.clear();
  host.entryPresent = true;
  EXPECT_EQ(RunRemoval(host, kRecord), 1);
  EXPECT_EQ(host.log, (std::vector<std::string>{
                          "box エラー: インストール情報を検出できませんでした。\n"
                          "アンインストールを実行することはできませんでした。"}));
  EXPECT_TRUE(host.entryPresent);
}

TEST(UninstallRemovalTest, MissingValuesAddressNothing) {
  FakeHost host;
  host.Install();
  // A record without the installation folder: nothing in the current
  // folder is taken for a program file, and quindo is not started.
  host.record.erase("PROGRAM/DIRECTRY");
  host.record.erase("SHORTCAT/DESKTOP");
  host.files.insert("quindo.exe");
  RunRemoval(host, kRecord);
  EXPECT_TRUE(host.files.count("quindo.exe"));
  EXPECT_TRUE(host.files.count("C:\\Desktop\\Quindo.lnk"));
  EXPECT_FALSE(host.files.count("C:\\SendTo\\Quindo.lnk"));
  for (const std::string& line : host.log) EXPECT_NE(line.rfind("run ", 0), 0u) << line;
  EXPECT_FALSE(host.files.count(kRecord));

  // An empty file name leaves the folder's files alone.
  FakeHost other;
  other.Install();
  other.record["PROGRAM/HELP_FILE"] = "";
  RunRemoval(other, kRecord);
  EXPECT_EQ(other.files, (std::set<std::string>{"C:\\Program Files\\Quindo\\quindo.chm"}));
}

TEST(UninstallRemovalTest, OverlongRecordPathIsNotCutToAnotherName) {
  FakeHost host;
  host.Install();
  const std::string longPath = "C:\\" + std::string(260, 'd') + "\\setup.inf";
  host.files.insert(longPath);
  host.files.insert(longPath.substr(0, 259));
  RunRemoval(host, longPath);
  ASSERT_EQ(host.log.size(), 1u);
  EXPECT_EQ(host.log[0].rfind("box エラー: ", 0), 0u);
  EXPECT_TRUE(host.files.count(longPath.substr(0, 259)));
}

}  // namespace
}  // namespace quindo::uninstall
