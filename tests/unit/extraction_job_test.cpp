// The extraction job on real files: format detection, the output-folder
// rules, refusals, passwords and cancel through the whole program path.
#include "app/extraction_job.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "app/settings.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_fixture.h"

namespace quindo {
namespace {

using test::Member;
using test::ZipBuilder;

const std::string kSep(1, platform::kPathSeparator);

class ExtractionJob : public ::testing::Test {
 protected:
  void SetUp() override {
    cwd_ = platform::GetCurrentDirectory();
    Configure("");
    ::setenv("XDG_CONFIG_HOME", (dir / "cfg").c_str(), 1);
  }
  void TearDown() override { platform::SetCurrentDirectory(cwd_); }

  // Settings with OPENDIR off (no file browser in a test) plus `extra` lines.
  void Configure(const std::string& extra) {
    test::WriteFile(ini, "[MELT]\nOUTPUT=2\nOUTPUT_PATH=" + out + "\nOPENDIR=0\n" + extra);
  }
  std::string Archive(const std::string& name, const ZipBuilder& builder) {
    test::WriteFile(dir / ("in/" + name), builder.bytes);
    return dir / ("in/" + name);
  }
  JobResult Run(const std::string& archive) {
    folder = out;
    return RunExtractionJob(archive, FormatNone, folder, Settings(ini), details);
  }

  test::ScopedUi ui;
  test::ScratchDir dir;
  std::string out = dir / "out", ini = dir / "cfg/quindo/quindo.ini", folder, details;

 private:
  std::string cwd_;
};

TEST_F(ExtractionJob, OutputFolderFollowsTheArchiveLayout) {
  // Each member holds its own name. Answers what `file` holds and the folder
  // the job opens afterwards.
  auto run = [&](const char* settings, const char* archive, std::initializer_list<const char*> members,
                 const std::string& file) {
    ZipBuilder b;
    for (const char* m : members) b.Add(Member(m, m));
    Configure(settings);
    EXPECT_EQ(Run(Archive(archive, b)), ResultOk) << archive;
    return std::make_pair(test::ReadFile(dir / ("out/" + file)), folder);
  };
  EXPECT_EQ(run("", "photos[1].zip", {"a.jpg", "b.jpg"}, "photos/a.jpg"),
            std::make_pair(std::string("a.jpg"), out + kSep + "photos" + kSep));
  EXPECT_EQ(run("", "trip[1].zip", {"trip/a.jpg", "trip/b.jpg"}, "trip/b.jpg"),
            std::make_pair(std::string("trip/b.jpg"), out + kSep + "trip" + kSep));
  EXPECT_EQ(run("", "mixed[1].zip", {"trip/a.jpg", "x.txt"}, "mixed/trip/a.jpg").first, "trip/a.jpg");
  EXPECT_EQ(run("[OPTION]\nNUMBER_FILTER=0\n", "photos[1].zip", {"a.jpg"}, "photos[1]/a.jpg").first, "a.jpg");
  EXPECT_EQ(run("[OPTION]\nMAKE_DIRECTRY=0\n", "photos[1].zip", {"a.jpg"}, "a.jpg").first, "a.jpg");
  EXPECT_EQ(run("", "[1].zip", {"bare.txt"}, "bare.txt").first, "bare.txt");
}

TEST_F(ExtractionJob, MissingOutputFoldersAreCreatedAndBadOnesRefused) {
  std::string zip = Archive("a.zip", ZipBuilder().Add(Member("f", "x")));
  out = dir / "deep/er/still";
  Configure("");
  EXPECT_EQ(Run(zip), ResultOk);
  EXPECT_EQ(test::ReadFile(dir / "deep/er/still/a/f"), "x");
  out = dir / "x/../y";
  Configure("");
  EXPECT_EQ(Run(zip), ResultBadPath);
  EXPECT_FALSE(test::Exists(dir / "x"));
  EXPECT_FALSE(test::Exists(dir / "y"));
}

TEST_F(ExtractionJob, UnknownFormatsAndDamagedArchivesFail) {
  test::WriteFile(dir / "in/not.zip", "no archive here");
  EXPECT_EQ(Run(dir / "in/not.zip"), ResultFailed);
  ASSERT_EQ(ui.ui.boxes.size(), 1u);
  EXPECT_EQ(ui.ui.boxes[0].text, "非対応フォーマットのファイルです。");
  EXPECT_EQ(ui.ui.boxes[0].title, "処理エラー");

  test::MemberLayout bad = Member("bad.txt", std::string(5000, 'z'));
  bad.badCrc = true;
  EXPECT_EQ(Run(Archive("damaged.zip", ZipBuilder().Add(bad).Add(Member("good.txt", "g")))), ResultFailed);
  EXPECT_EQ(test::ListTree(dir / "out/damaged"), std::vector<std::string>{"good.txt"});
  EXPECT_EQ(details, "bad.txt: データが壊れています");
}

TEST_F(ExtractionJob, OneThreadAndSeveralGiveTheSameTree) {
  ZipBuilder b;
  for (int i = 0; i < 60; ++i) {
    const std::string data(1000 + 997 * i, static_cast<char>('a' + i % 26));
    b.Add(Member("d" + std::to_string(i % 4) + "/f" + std::to_string(i), data, i % 3 ? 8 : 0));
  }
  test::MemberLayout bad = Member("d0/bad", std::string(3000, 'x'));
  bad.badCrc = true;
  b.Add(bad).Add(Member("d1/f1", "a second member of the same name"));
  const std::string zip = Archive("many.zip", b);
  std::map<std::string, std::string> trees[2];
  std::string reports[2];
  for (int run = 0; run < 2; ++run) {
    out = dir / ("out" + std::to_string(run));
    Configure(run == 0 ? "[OPTION]\nTHREADS=1\n" : "[OPTION]\nTHREADS=4\n");
    EXPECT_EQ(Run(zip), ResultFailed);
    reports[run] = details;
    for (const std::string& f : test::ListTree(out))
      trees[run][f] = f.back() == '/' ? "(folder)" : test::ReadFile(out + "/" + f);
  }
  EXPECT_EQ(trees[0].size(), 66u);  // the archive's folder, 4 folders in it and 61 files
  EXPECT_EQ(trees[0]["many/d1/f1 (2)"], "a second member of the same name");
  EXPECT_EQ(trees[0], trees[1]);
  EXPECT_EQ(reports[0], "d0/bad: データが壊れています");
  EXPECT_EQ(reports[1], reports[0]);
}

TEST_F(ExtractionJob, NoMemberReplacesTheArchiveBeingRead) {
  // The archive lies in the output folder and holds a member of its own name.
  out = dir / "in";
  Configure("[OPTION]\nMAKE_DIRECTRY=0\n");
  const std::string zip = Archive("self.zip", ZipBuilder().Add(Member("self.zip", "not the archive")).Add(Member("x", "x")));
  const std::string before = test::ReadFile(zip);
  EXPECT_EQ(Run(zip), ResultFailed);
  EXPECT_EQ(test::ReadFile(zip), before);
  EXPECT_EQ(test::ReadFile(dir / "in/x"), "x");
  EXPECT_EQ(details, "self.zip: ファイルを作成できませんでした");
}

TEST_F(ExtractionJob, WrongPasswordsFailAndCancelIsACancel) {
  ZipBuilder five;
  for (int i = 0; i < 5; ++i) five.Add(Member("m" + std::to_string(i) + ".txt", std::string(100 + i, 'p'), 8, "pw"));
  const std::string locked = Archive("locked.zip", five);
  ui.ui.passwords = {"x", "y", "z"};
  EXPECT_EQ(Run(locked), ResultFailed);
  EXPECT_EQ(details, "m0.txt: パスワードが違います\n以降の 4 件は展開されていません");
  EXPECT_EQ(ui.ui.passwordPrompts, 3);
  ui.ui.passwords = {test::kCancelAnswer};
  EXPECT_EQ(Run(locked), ResultCancelled);
  EXPECT_EQ(ui.ui.passwordPrompts, 4);  // one for the run cancelled
  // Without a terminal nothing is asked, every member is named, and an
  // archive that wrote nothing leaves no folder behind.
  ui.ui.passwords = {test::kUnavailableAnswer};
  EXPECT_EQ(Run(locked), ResultFailed);
  EXPECT_EQ(details.find("m0.txt: パスワードが必要です\n"), 0u);
}

}  // namespace
}  // namespace quindo
