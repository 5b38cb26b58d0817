#include <gtest/gtest.h>

#include <deque>
#include <map>

#include "app/entry.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace quindo {
namespace {

using test::ScratchDir;
using test::WriteFile;

// Jobs replaced by a script: formats by path, one result per extraction.
struct ScriptedServices : AppServices {
  std::map<std::string, int> formats;
  std::deque<JobResult> extractionResults;
  std::string failureDetails;
  JobResult compressionResult = ResultOk;
  std::vector<std::string> calls;

  int DetectArchiveFormat(const std::string& path) override {
    calls.push_back("detect " + path);
    return formats.count(path) ? formats[path] : FormatNone;
  }
  JobResult RunCompressionJob(const std::vector<std::string>& args, std::string& outputFolder) override {
    calls.push_back("compress " + std::to_string(args.size() - 1));
    return compressionResult;
  }
  JobResult RunExtractionJob(const std::string& archivePath, int format, std::string& outputFolder,
                             std::string& details) override {
    calls.push_back("extract " + archivePath);
    details = failureDetails;
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
    services.formats = {{dir / "a.zip", FormatZip}, {dir / "b.lzh", FormatLzh}, {dir / "c.zip", FormatZip}};
  }
  int Run(std::vector<std::string> rest) {
    services.calls.clear();
    scoped.ui.boxes.clear();
    rest.insert(rest.begin(), "quindo");
    return RunApplication(rest, services, settings);
  }
  std::vector<std::string> Boxes() const {
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

TEST_F(EntryTest, ExtractionLoopOrderOfOutcomes) {
  const std::string a = dir / "a.zip", b = dir / "b.lzh", c = dir / "c.zip";
  services.extractionResults = {ResultFailed, ResultCannotWrite, ResultBadPath, ResultOk};
  EXPECT_NE(Run({a, b, c, a}), 0);
  EXPECT_EQ(Boxes(), (std::vector<std::string>{kM2, kM1, kM3}));
  EXPECT_TRUE(services.extractionResults.empty());  // every archive was tried
  services.extractionResults = {ResultOk, ResultCancelled, ResultFailed};
  EXPECT_NE(Run({a, b, c}), 0);  // a cancel ends the loop silently
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(services.calls.back(), "extract " + b);
  services.extractionResults.clear();
  EXPECT_EQ(Run({a, b}), 0);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(EntryTest, PathsAreMadeAbsoluteOnceAndFailuresSayWhat) {
  const std::string saved = platform::GetCurrentDirectory();
  platform::SetCurrentDirectory(dir.path());
  services.extractionResults = {ResultFailed};
  services.failureDetails = "a.txt: データが壊れています";
  Run({"a.zip"});
  platform::SetCurrentDirectory(saved);
  EXPECT_EQ(services.calls, (std::vector<std::string>{"detect " + (dir / "a.zip"), "extract " + (dir / "a.zip")}));
  EXPECT_EQ(Boxes(), std::vector<std::string>{kM2 + "\n\na.txt: データが壊れています"});
}

TEST_F(EntryTest, CompressionShowsOnlyCannotWrite) {
  services.compressionResult = ResultFailed;
  EXPECT_NE(Run({dir / "text.txt"}), 0);
  EXPECT_TRUE(Boxes().empty());
  services.compressionResult = ResultCannotWrite;
  EXPECT_NE(Run({dir / "text.txt"}), 0);
  // M1 names the folder that could not be written.
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].rfind(kM1 + "\n\n保存先: ", 0), 0u) << Boxes()[0];
}

}  // namespace
}  // namespace quindo
