// The extraction job on real files: format detection, the output-folder
// rules, refusals, passwords and cancel through the whole program path.
#include "app/extraction_job.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "app/entry.h"
#include "app/settings.h"
#include "tests/support/test_support.h"
#include "tests/unit/zip_fixture.h"

namespace quindo {
namespace {

using test::MemberSpec;
using test::ZipBuilder;

const std::string kSep(1, platform::kPathSeparator);

MemberSpec Member(std::string name, std::string data, std::string password = {}) {
  MemberSpec m;
  m.name = std::move(name);
  m.data = std::move(data);
  m.password = std::move(password);
  return m;
}

class ExtractionJob : public ::testing::Test {
 protected:
  void SetUp() override {
    cwd_ = platform::GetCurrentDirectory();
    out = dir / "out";
    ini = dir / "cfg/quindo/quindo.ini";
    Configure("");
    ::setenv("XDG_CONFIG_HOME", (dir / "cfg").c_str(), 1);
  }
  void TearDown() override { platform::SetCurrentDirectory(cwd_); }

  // Settings with OPENDIR off (no file browser in a test) plus `extra` lines.
  void Configure(const std::string& extra) {
    test::WriteFile(ini, "[MELT]\nOUTPUT=2\nOUTPUT_PATH=" + out + "\nOPENDIR=0\n" + extra);
  }
  std::string Archive(const std::string& name, ZipBuilder builder) {
    std::string path = dir / ("in/" + name);
    test::WriteFile(path, builder.Finish());
    return path;
  }
  JobResult Run(const std::string& archive, std::string& folder) {
    folder = out;
    return RunExtractionJob(archive, folder, Settings(ini));
  }
  // Every path under the scratch folder that is not input or settings.
  std::vector<std::string> Written() {
    std::vector<std::string> all;
    for (const std::string& p : test::ListTree(dir.path()))
      if (p.rfind("in/", 0) != 0 && p.rfind("cfg/", 0) != 0 && p != "in/" && p != "cfg/") all.push_back(p);
    return all;
  }

  test::ScopedUi ui;
  test::ScratchDir dir;
  std::string out, ini;

 private:
  std::string cwd_;
};

TEST(ArchiveFolderName, StripsOneByteSerialsOnly) {
  std::string name;
  ArchiveFolderName("/dl/photos[1].zip", true, name);
  EXPECT_EQ(name, "photos");
  ArchiveFolderName("/dl/photos[10].zip", true, name);
  EXPECT_EQ(name, "photos[10]");
  ArchiveFolderName("/dl/photos[1].zip", false, name);
  EXPECT_EQ(name, "photos[1]");
  ArchiveFolderName("/dl/[1].zip", true, name);
  EXPECT_EQ(name, "");
  ArchiveFolderName("/dl/a.tar.zip", true, name);
  EXPECT_EQ(name, "a.tar");
  ArchiveFolderName("/dl/noext", true, name);
  EXPECT_EQ(name, "noext");
}

TEST_F(ExtractionJob, DetectsFormatsByContent) {
  std::string zip = Archive("data.bin", ZipBuilder().Add(Member("a", "x")));
  EXPECT_EQ(DetectArchiveFormat(zip), FormatZip);
  test::WriteFile(dir / "in/sfx.exe", std::string(4096, 'M') + test::ReadFile(zip));
  EXPECT_EQ(DetectArchiveFormat(dir / "in/sfx.exe"), FormatZip);
  test::WriteFile(dir / "in/text.zip", "just text, nothing to extract here");
  EXPECT_EQ(DetectArchiveFormat(dir / "in/text.zip"), FormatNone);
  EXPECT_EQ(DetectArchiveFormat(dir / "in/missing.zip"), FormatNone);
}

#if __has_include("lzh/lzh_reader.h")
TEST_F(ExtractionJob, AFileThatPassesBothProbesIsLzh) {
  const std::string corpus = test::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "the archive corpus (../shared/corpus) is absent";
  const std::string lzh = test::ReadFile(corpus + "/lzh/explzh_723/h2_lh5.lzh");
  ASSERT_FALSE(lzh.empty());
  test::WriteFile(dir / "in/both.zip", lzh + ZipBuilder().Add(Member("z", "zip")).Finish());
  EXPECT_EQ(DetectArchiveFormat(dir / "in/both.zip"), FormatLzh);
  EXPECT_EQ(DetectArchiveFormat(corpus + "/lzh/explzh_723/h2_lh5.lzh"), FormatLzh);
}
#endif

TEST_F(ExtractionJob, OutputFolderFollowsTheArchiveLayout) {
  std::string folder;
  std::string flat = Archive("photos[1].zip", ZipBuilder().Add(Member("a.jpg", "A")).Add(Member("b.jpg", "B")));
  EXPECT_EQ(Run(flat, folder), ResultOk);
  EXPECT_EQ(folder, out + kSep + "photos" + kSep);
  EXPECT_EQ(test::ReadFile(dir / "out/photos/a.jpg"), "A");

  std::string rooted = Archive("trip[1].zip", ZipBuilder().Add(Member("trip/a.jpg", "A")).Add(Member("trip/b.jpg", "B")));
  EXPECT_EQ(Run(rooted, folder), ResultOk);
  EXPECT_EQ(folder, out + kSep + "trip" + kSep);  // the folder opened afterwards
  EXPECT_TRUE(test::Exists(dir / "out/trip/b.jpg"));

  std::string mixed = Archive("mixed[1].zip", ZipBuilder().Add(Member("trip/a.jpg", "A")).Add(Member("x.txt", "X")));
  EXPECT_EQ(Run(mixed, folder), ResultOk);
  EXPECT_TRUE(test::Exists(dir / "out/mixed/trip/a.jpg"));

  Configure("[OPTION]\nNUMBER_FILTER=0\n");
  EXPECT_EQ(Run(flat, folder), ResultOk);
  EXPECT_TRUE(test::Exists(dir / "out/photos[1]/a.jpg"));

  Configure("[OPTION]\nMAKE_DIRECTRY=0\n");
  EXPECT_EQ(Run(flat, folder), ResultOk);
  EXPECT_TRUE(test::Exists(dir / "out/a.jpg"));

  Configure("");
  std::string bare = Archive("[1].zip", ZipBuilder().Add(Member("bare.txt", "b")));
  EXPECT_EQ(Run(bare, folder), ResultOk);
  EXPECT_TRUE(test::Exists(dir / "out/bare.txt"));
}

TEST_F(ExtractionJob, MissingOutputFoldersAreCreatedAndBadOnesRefused) {
  std::string zip = Archive("a.zip", ZipBuilder().Add(Member("f", "x")));
  out = dir / "deep/er/still";
  Configure("");
  std::string folder;
  EXPECT_EQ(Run(zip, folder), ResultOk);
  EXPECT_TRUE(test::Exists(dir / "deep/er/still/a/f"));

  out = dir / "x/../y";
  Configure("");
  EXPECT_EQ(Run(zip, folder), ResultBadPath);
  EXPECT_FALSE(test::Exists(dir / "x"));
  EXPECT_FALSE(test::Exists(dir / "y"));
}

TEST_F(ExtractionJob, ReadOnlyFolderCannotBeWritten) {
  if (::geteuid() == 0) GTEST_SKIP() << "the superuser writes anywhere";
  std::string zip = Archive("a.zip", ZipBuilder().Add(Member("f", "x")));
  test::WriteFile(dir / "out/keep", "");
  ::chmod(out.c_str(), 0555);
  Configure("[OPTION]\nMAKE_DIRECTRY=0\n");
  std::string folder;
  EXPECT_EQ(Run(zip, folder), ResultCannotWrite);
  ::chmod(out.c_str(), 0755);
}

TEST_F(ExtractionJob, UnknownFormatsAndDamagedArchivesFail) {
  test::WriteFile(dir / "in/not.zip", "no archive here");
  std::string folder;
  EXPECT_EQ(Run(dir / "in/not.zip", folder), ResultFailed);
  ASSERT_EQ(ui.ui.boxes.size(), 1u);
  EXPECT_EQ(ui.ui.boxes[0].text, "非対応フォーマットのファイルです。");
  EXPECT_EQ(ui.ui.boxes[0].title, "処理エラー");

  MemberSpec bad = Member("bad.txt", std::string(5000, 'z'));
  bad.badCrc = true;
  std::string damaged = Archive("damaged.zip", ZipBuilder().Add(bad).Add(Member("good.txt", "g")));
  EXPECT_EQ(Run(damaged, folder), ResultFailed);
  EXPECT_EQ(test::ReadFile(dir / "out/damaged/good.txt"), "g");
  EXPECT_EQ(test::ReadFile(dir / "out/damaged/bad.txt").size(), 5000u);
}

TEST_F(ExtractionJob, HostileNamesWriteNothingOutsideTheOutputFolder) {
  ZipBuilder b;
  for (const char* name : {"../escape.txt", "../../escape2.txt", "/tmp/quindo-abs-escape.txt", "C:/x.txt",
                           "a\\..\\..\\b.txt", "CON", "nul.txt", "dir/COM1/x", ".. /y"})
    b.Add(Member(name, "h"));
  b.Add(Member(std::string(300, 'L') + ".txt", "long"));
  b.Add(Member("ok/" + std::string(200, 'M') + "/" + std::string(100, 'N'), "nested"));
  std::string zip = Archive("hostile.zip", b);
  std::string folder;
  Run(zip, folder);
  for (const std::string& p : Written()) EXPECT_EQ(p.rfind("out/", 0), 0u) << p;
  EXPECT_FALSE(test::Exists("/tmp/quindo-abs-escape.txt"));
  EXPECT_TRUE(test::Exists(dir / "out/hostile/__/escape.txt"));
  EXPECT_TRUE(test::Exists(dir / "out/hostile/_CON"));
  EXPECT_TRUE(test::Exists(dir / "out/hostile/dir/_COM1/x"));
}

TEST_F(ExtractionJob, PasswordsAcrossTheProgram) {
  ZipBuilder five;
  for (int i = 0; i < 5; ++i) five.Add(Member("m" + std::to_string(i) + ".txt", std::string(100 + i, 'p'), "pw"));
  std::string locked = Archive("locked.zip", five);
  std::string later = Archive("later.zip", ZipBuilder().Add(Member("later.txt", "l")));
  std::string folder;

  ui.ui.passwords = {"pw"};
  EXPECT_EQ(Run(locked, folder), ResultOk);
  EXPECT_EQ(ui.ui.passwordPrompts, 1);
  EXPECT_EQ(test::ListTree(dir / "out/locked").size(), 5u);

  ui.ui.passwordPrompts = 0;
  ui.ui.passwords = {"x", "y", "z"};
  EXPECT_EQ(Run(locked, folder), ResultFailed);
  EXPECT_EQ(ui.ui.passwordPrompts, 3);

  // Cancel in the prompt ends the whole run: the next archive stays untouched.
  ui.ui.passwordPrompts = 0;
  ui.ui.passwords = {test::kCancelAnswer};
  ui.ui.boxes.clear();
  const std::vector<std::string> args = {"quindo", locked, later};
  EXPECT_EQ(RunApplication(args, ProgramServices(), Settings(ini)), 1);
  EXPECT_EQ(ui.ui.passwordPrompts, 1);
  EXPECT_FALSE(test::Exists(dir / "out/later"));
  EXPECT_TRUE(ui.ui.boxes.empty());  // a cancel shows no box
}

TEST_F(ExtractionJob, CancelDuringExtractionIsACancel) {
  ZipBuilder big;
  for (int i = 0; i < 40; ++i) big.Add(Member("f" + std::to_string(i), std::string(1 << 20, static_cast<char>('a' + i % 26))));
  std::string zip = Archive("big.zip", big);
  ui.ui.cancelAfterTicks = 1;
  std::string folder;
  EXPECT_EQ(Run(zip, folder), ResultCancelled);
  EXPECT_LT(test::ListTree(dir / "out/big").size(), 40u);
}

}  // namespace
}  // namespace quindo
