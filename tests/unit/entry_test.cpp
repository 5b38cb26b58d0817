#include <gtest/gtest.h>

#include <deque>
#include <map>

#include "app/entry.h"
#include "tests/support/test_support.h"

namespace quindo {
namespace {

using test::ScratchDir;
using test::WriteFile;

// Jobs replaced by a script: formats by path, one result per extraction.
class ScriptedServices : public AppServices {
 public:
  std::map<std::string, int> formats;
  std::deque<JobResult> extractionResults;
  JobResult compressionResult = ResultOk;
  std::vector<std::string> calls;

  int DetectArchiveFormat(const std::string& path) override {
    calls.push_back("detect " + path);
    auto it = formats.find(path);
    return it == formats.end() ? FormatNone : it->second;
  }
  JobResult RunCompressionJob(const std::vector<std::string>& args, std::string& outputFolder) override {
    calls.push_back("compress " + std::to_string(args.size() - 1) + " into " + outputFolder);
    return compressionResult;
  }
  JobResult RunExtractionJob(const std::string& archivePath, std::string& outputFolder) override {
    calls.push_back("extract " + archivePath);
    JobResult r = extractionResults.empty() ? ResultOk : extractionResults.front();
    if (!extractionResults.empty()) extractionResults.pop_front();
    return r;
  }
  void RegisterAssociation(const char* progId) override { calls.push_back(std::string("register ") + progId); }
  void RemoveAssociations() override { calls.push_back("remove"); }
  void ShowSettingsDialog() override { calls.push_back("settings"); }
};

class EntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"a.zip", "b.lzh", "c.zip", "text.txt"}) WriteFile(dir / name, name);
    services.formats[dir / "a.zip"] = FormatZip;
    services.formats[dir / "b.lzh"] = FormatLzh;
    services.formats[dir / "c.zip"] = FormatZip;
  }
  int Run(std::vector<std::string> rest) {
    rest.insert(rest.begin(), "quindo");
    return RunApplication(rest, services, settings);
  }
  std::vector<std::string> Titles() const {
    std::vector<std::string> t;
    for (const auto& b : scoped.ui.boxes) t.push_back(b.title + "|" + b.text);
    return t;
  }

  ScratchDir dir;
  test::ScopedUi scoped;
  ScriptedServices services;
  Settings settings{""};
};

const std::string kM1 =
    "ファイル エラー|ファイルの出力ができませんでした。\n保存先に対する書き込み権限があるかを確認してください。";
const std::string kM2 = "ファイルエラーが検出されました。|処理失敗";
const std::string kM3 = "ファイル エラー|不正なファイルパスが指定されています。";

TEST_F(EntryTest, SwitchesInAnyCase) {
  EXPECT_EQ(Run({"/INSTALL"}), 0);
  EXPECT_EQ(Run({"/UnInstall", "ignored"}), 0);
  EXPECT_EQ(Run({}), 0);
  EXPECT_EQ(services.calls, (std::vector<std::string>{"register QuindoZip", "register QuindoLzh", "remove",
                                                      "settings"}));
}

TEST_F(EntryTest, InstallAsSecondArgumentIsAPath) {
  Run({dir / "a.zip", "/install"});
  // "/install" does not exist, so it selects compression of both.
  ASSERT_FALSE(services.calls.empty());
  EXPECT_EQ(services.calls.back().rfind("compress 2", 0), 0u);
}

TEST_F(EntryTest, DetectionStopsAtTheFirstPathThatCompresses) {
  Run({dir / "a.zip", dir.path(), dir / "c.zip"});
  EXPECT_EQ(services.calls.front(), "detect " + (dir / "a.zip"));
  EXPECT_EQ(services.calls.size(), 2u);  // the folder decided; c.zip was never probed
  EXPECT_EQ(services.calls.back().rfind("compress 3", 0), 0u);

  services.calls.clear();
  Run({dir / "a.zip", dir / "text.txt", dir / "c.zip"});
  EXPECT_EQ(services.calls.size(), 3u);
  services.calls.clear();
  Run({dir / "missing.zip", dir / "a.zip"});
  EXPECT_EQ(services.calls.size(), 1u);  // a missing path counts as a folder
}

TEST_F(EntryTest, ExtractionLoopOrderOfOutcomes) {
  services.extractionResults = {ResultFailed, ResultCannotWrite, ResultBadPath, ResultOk};
  std::vector<std::string> archives = {dir / "a.zip", dir / "b.lzh", dir / "c.zip", dir / "a.zip"};
  EXPECT_NE(Run(archives), 0);
  EXPECT_EQ(Titles(), (std::vector<std::string>{kM2, kM1, kM3}));
  int extracted = 0;
  for (const auto& c : services.calls) extracted += c.rfind("extract", 0) == 0;
  EXPECT_EQ(extracted, 4);
}

TEST_F(EntryTest, CancelEndsTheLoopSilently) {
  services.extractionResults = {ResultOk, ResultCancelled, ResultFailed};
  EXPECT_NE(Run({dir / "a.zip", dir / "b.lzh", dir / "c.zip"}), 0);
  EXPECT_TRUE(scoped.ui.boxes.empty());
  EXPECT_EQ(services.calls.back(), "extract " + (dir / "b.lzh"));
}

TEST_F(EntryTest, AllOkExitsZero) {
  EXPECT_EQ(Run({dir / "a.zip", dir / "b.lzh"}), 0);
  EXPECT_TRUE(scoped.ui.boxes.empty());
}

TEST_F(EntryTest, CompressionShowsOnlyCannotWrite) {
  services.compressionResult = ResultFailed;
  EXPECT_NE(Run({dir / "text.txt"}), 0);
  EXPECT_TRUE(scoped.ui.boxes.empty());
  services.compressionResult = ResultCannotWrite;
  Run({dir / "text.txt"});
  EXPECT_EQ(Titles(), std::vector<std::string>{kM1});
}

}  // namespace
}  // namespace quindo
