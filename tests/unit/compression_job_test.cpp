// The compression job: collecting the dropped items, listing folders, naming
// the archive, and whole jobs driven through a scripted user interface.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "app/compression_job.h"
#include "common/little_endian.h"
#include "tests/support/test_support.h"
#include "zip/zip_writer.h"

namespace quindo {
namespace {

using test::ReadFile;
using test::ScratchDir;
using test::ScopedUi;
using test::WriteFile;

// Member names and methods of an archive, from its central directory.
struct Member {
  std::string name;
  uint16_t method;
  uint32_t size;
};

std::vector<Member> Members(const std::string& archive) {
  const std::string bytes = ReadFile(archive);
  std::vector<Member> out;
  if (bytes.size() < 22) return out;
  auto at = [&](size_t i) { return reinterpret_cast<const uint8_t*>(bytes.data()) + i; };
  const size_t end = bytes.size() - 22;
  EXPECT_EQ(LoadLe32(at(end)), zip::kEndRecordSignature);
  size_t pos = LoadLe32(at(end + 16));
  const uint16_t count = LoadLe16(at(end + 10));
  for (uint16_t i = 0; i < count && pos + 46 <= end; ++i) {
    const uint16_t n = LoadLe16(at(pos + 28));
    out.push_back({bytes.substr(pos + 46, n), LoadLe16(at(pos + 10)), LoadLe32(at(pos + 24))});
    pos += 46 + n + LoadLe16(at(pos + 30)) + LoadLe16(at(pos + 32));
  }
  return out;
}

std::vector<std::string> Names(const std::vector<Member>& members) {
  std::vector<std::string> names;
  for (const Member& m : members) names.push_back(m.name);
  return names;
}

std::vector<std::string> Names(const CompressionJob& job) {
  std::vector<std::string> names;
  for (const FileEntry& e : job.entries) names.push_back(e.name);
  return names;
}

class CompressionJobTest : public ::testing::Test {
 protected:
  ScratchDir dir;
  std::string out = dir / "out";
  std::string temp = dir / "tmp";
  std::string ini = dir / "quindo.ini";
  std::string savedTmp;
  ScopedUi scoped;

  void SetUp() override {
    std::filesystem::create_directories(out);
    std::filesystem::create_directories(temp);
    if (const char* t = std::getenv("TMPDIR")) savedTmp = t;
    // The job's temporary file goes here, where a test can see it.
    ::setenv("TMPDIR", temp.c_str(), 1);
  }
  void TearDown() override {
    if (savedTmp.empty())
      ::unsetenv("TMPDIR");
    else
      ::setenv("TMPDIR", savedTmp.c_str(), 1);
  }

  std::string File(const std::string& relative, const std::string& bytes = "data") {
    WriteFile(dir / relative, bytes);
    return dir / relative;
  }
  std::string Folder(const std::string& relative) {
    std::filesystem::create_directories(dir / relative);
    return dir / relative;
  }
  JobResult Run(std::vector<std::string> paths) {
    paths.insert(paths.begin(), "quindo");
    std::string folder = out;
    return RunCompressionJob(paths, folder, Settings(ini));
  }
  std::vector<std::string> TempFiles() { return test::ListTree(temp); }
};

TEST(SplitDroppedPath, NameAfterTheLastSeparator) {
  const CodePage& cp = Utf8CodePage();
  EXPECT_EQ(SplitDroppedPath("/work/Photos/", cp), "Photos\\");
  EXPECT_EQ(SplitDroppedPath("/work/notes.txt", cp), "notes.txt");
  EXPECT_EQ(SplitDroppedPath("notes.txt", cp), "notes.txt");
  EXPECT_EQ(SplitDroppedPath("/写真/", cp), "写真\\");
}

TEST_F(CompressionJobTest, CollectionRemovesNestedDroppedFoldersOnly) {
  const std::string a = Folder("a");
  Folder("a/b");
  Folder("a/c");
  Folder("ab");
  const std::string x = File("a/x.txt");
  const std::string top = File("top.txt");
  CompressionJob job;
  // Files first on the command line: folders still come first in the list.
  CollectDroppedItems(job, {"quindo", top, a + "/b", x, a, dir / "missing", a + "/c", dir / "ab"});
  EXPECT_EQ(Names(job), (std::vector<std::string>{"a\\", "ab\\", "top.txt", "x.txt"}));
  EXPECT_EQ(job.entries[0].path, a + "/");
  EXPECT_TRUE(job.entries[1].isFolder);
  EXPECT_EQ(job.entries[3].path, x);
  EXPECT_EQ(job.totalSize.load(), 8u);
}

TEST_F(CompressionJobTest, RelativeDroppedPathsUseTheRealFolderName) {
  const std::string cwd = std::filesystem::current_path();
  Folder("proj/sub");
  File("proj/f.txt");
  ASSERT_EQ(::chdir((dir / "proj/sub").c_str()), 0);
  CompressionJob job;
  CollectDroppedItems(job, {"quindo", "..", "./../f.txt"});
  ASSERT_EQ(::chdir(cwd.c_str()), 0);
  EXPECT_EQ(Names(job), (std::vector<std::string>{"proj\\", "f.txt"}));
}

TEST_F(CompressionJobTest, FoldersAreListedDepthFirstAfterTheTopLevel) {
  const std::string photos = Folder("Photos");
  File("Photos/2006/beach.jpg");
  File("Photos/2007/snow.jpg");
  File("Photos/2007/deep/ice.jpg");
  const std::string docs = Folder("docs");
  File("docs/a.txt");
  const std::string notes = File("notes.txt");
  CompressionJob job;
  CollectDroppedItems(job, {"quindo", photos, notes, docs});
  ExpandFolders(job);
  std::vector<std::string> names = Names(job);
  ASSERT_EQ(names.size(), 10u);
  EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + 3),
            (std::vector<std::string>{"Photos\\", "docs\\", "notes.txt"}));
  // Photos' contents, then docs'; every folder right ahead of its contents.
  auto index = [&](const std::string& n) { return std::find(names.begin(), names.end(), n) - names.begin(); };
  EXPECT_LT(index("Photos\\2006"), index("Photos\\2006\\beach.jpg"));
  EXPECT_EQ(index("Photos\\2006") + 1, index("Photos\\2006\\beach.jpg"));
  EXPECT_LT(index("Photos\\2007"), index("Photos\\2007\\snow.jpg"));
  EXPECT_LT(index("Photos\\2007"), index("Photos\\2007\\deep"));
  EXPECT_EQ(index("Photos\\2007\\deep") + 1, index("Photos\\2007\\deep\\ice.jpg"));
  EXPECT_EQ(names.back(), "docs\\a.txt");
  for (const FileEntry& e : job.entries) {
    if (e.isFolder && e.name.back() != '\\') {
      EXPECT_TRUE(e.path.empty()) << e.name;
    }
  }
}

TEST_F(CompressionJobTest, LinksToFilesAreStoredAndLinksToFoldersNotFollowed) {
  const std::string tree = Folder("tree");
  File("tree/real.txt", "real contents");
  File("elsewhere/outside.txt", "outside");
  ASSERT_EQ(::symlink((dir / "tree/real.txt").c_str(), (dir / "tree/link.txt").c_str()), 0);
  ASSERT_EQ(::symlink(tree.c_str(), (dir / "tree/loop").c_str()), 0);
  ASSERT_EQ(::symlink((dir / "elsewhere").c_str(), (dir / "tree/away").c_str()), 0);
  ASSERT_EQ(::symlink((dir / "nowhere").c_str(), (dir / "tree/dangling").c_str()), 0);
  // A named pipe would block the job for good: it is left out, dropped or listed.
  ASSERT_EQ(::mkfifo((dir / "tree/pipe").c_str(), 0600), 0);
  EXPECT_EQ(Run({tree, dir / "tree/pipe"}), ResultOk);
  std::vector<Member> members = Members(out + "/tree.zip");
  std::vector<std::string> names = Names(members);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"tree/", "tree/away/", "tree/link.txt", "tree/loop/", "tree/real.txt"}));
  for (const Member& m : members) {
    if (m.name == "tree/link.txt") {
      EXPECT_EQ(m.size, 13u);
    }
  }
}

TEST_F(CompressionJobTest, ArchiveNameFromTheFirstEntry) {
  struct Case {
    const char* first;
    const char* archive;
  } cases[] = {{"Photos\\", "Photos.zip"}, {"report.final.doc", "report.zip"}, {"photos.old\\", "photos.zip"},
               {".profile", ".zip"},      {"写真\\", "写真.zip"}};
  for (const Case& c : cases) {
    CompressionJob job;
    job.entries.push_back({c.first, "", 0, false});
    EXPECT_TRUE(ChooseArchiveName(job)) << c.first;
    EXPECT_EQ(job.archiveName, c.archive);
  }
  CompressionJob job;
  job.entries.push_back({"README", "", 0, false});
  EXPECT_FALSE(ChooseArchiveName(job));
  EXPECT_FALSE(ChooseArchiveName(*std::make_unique<CompressionJob>()));
}

TEST_F(CompressionJobTest, WholeJobsAndWhatTheyStore) {
  // A file dropped beside its own folder is stored twice.
  const std::string a = Folder("a");
  const std::string x = File("a/x.txt", "xx");
  Folder("a/empty");
  EXPECT_EQ(Run({a, x}), ResultOk);
  std::vector<std::string> names = Names(Members(out + "/a.zip"));
  ASSERT_EQ(names.size(), 4u);
  std::sort(names.begin() + 2, names.end());  // the folder's contents come in file-system order
  EXPECT_EQ(names, (std::vector<std::string>{"a/", "x.txt", "a/empty/", "a/x.txt"}));

  // No dot in the first entry: test.zip; a missing path beside it is skipped.
  const std::string readme = File("README", std::string(5000, 'r'));
  EXPECT_EQ(Run({dir / "gone.txt", readme}), ResultOk);
  std::vector<Member> members = Members(out + "/test.zip");
  ASSERT_EQ(members.size(), 1u);
  EXPECT_EQ(members[0].name, "README");
  EXPECT_EQ(members[0].method, 8);

  // An empty dropped folder holds just its folder entry.
  const std::string empty = Folder("nothing");
  EXPECT_EQ(Run({empty}), ResultOk);
  EXPECT_EQ(Names(Members(out + "/nothing.zip")), (std::vector<std::string>{"nothing/"}));

  EXPECT_TRUE(scoped.ui.boxes.empty());
  EXPECT_EQ(scoped.ui.progressRuns, 3);
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(CompressionJobTest, NameTakenWithAndWithoutOverwrite) {
  const std::string src = File("doc.txt", "new contents");
  WriteFile(out + "/doc.zip", "old archive");
  Settings settings(ini);
  settings.WriteFlag("ARC", "OVERWRITE", false);
  EXPECT_EQ(Run({src}), ResultFailed);
  ASSERT_EQ(scoped.ui.boxes.size(), 1u);
  EXPECT_EQ(scoped.ui.boxes[0].title, "ファイル名重複エラー");
  EXPECT_EQ(scoped.ui.boxes[0].text,
            "既に同名の圧縮ファイルが存在するため、処理を中止しました。\n"
            "設定画面で「上書きを許可」すると強制的に上書き出力できます。");
  EXPECT_EQ(scoped.ui.boxes[0].icon, MessageIcon::Warning);
  EXPECT_EQ(test::ListTree(out), (std::vector<std::string>{"doc.zip"}));
  EXPECT_EQ(ReadFile(out + "/doc.zip"), "old archive");
  EXPECT_TRUE(TempFiles().empty());

  settings.WriteFlag("ARC", "OVERWRITE", true);
  EXPECT_EQ(Run({src}), ResultOk);
  EXPECT_EQ(scoped.ui.boxes.size(), 1u);
  EXPECT_EQ(Names(Members(out + "/doc.zip")), (std::vector<std::string>{"doc.txt"}));
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(CompressionJobTest, LevelSettingReachesTheWriter) {
  const std::string src = File("t.txt", std::string(20000, 't'));
  Settings settings(ini);
  auto flagsOfFirstMember = [&] {
    const std::string bytes = ReadFile(out + "/t.zip");
    return LoadLe16(reinterpret_cast<const uint8_t*>(bytes.data()) + 6);
  };
  settings.WriteInt("OPTION", "ZIP_LEVEL", 0);
  ASSERT_EQ(Run({src}), ResultOk);
  EXPECT_EQ(flagsOfFirstMember(), 0x0002) << "0 is the strongest level, 8";
  for (int setting : {1, 2, 7}) {
    settings.WriteInt("OPTION", "ZIP_LEVEL", setting);
    ASSERT_EQ(Run({src}), ResultOk);
    EXPECT_EQ(flagsOfFirstMember(), 0) << setting;
  }
}

TEST_F(CompressionJobTest, NothingCollectedShowsABoxAndNoProgress) {
  EXPECT_EQ(Run({dir / "missing1", dir / "missing2"}), ResultFailed);
  EXPECT_EQ(scoped.ui.progressRuns, 0);
  ASSERT_EQ(scoped.ui.boxes.size(), 1u);
  EXPECT_EQ(scoped.ui.boxes[0].text, kNothingToCompressText);
  EXPECT_EQ(scoped.ui.boxes[0].title, kNothingToCompressTitle);
  EXPECT_TRUE(test::ListTree(out).empty());
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(CompressionJobTest, UnwritableOutputFolderCollectsNothing) {
  const std::string src = File("t.txt");
  std::vector<std::string> args = {"quindo", src};
  std::string folder = dir / "no/such/folder";
  EXPECT_EQ(RunCompressionJob(args, folder, Settings(ini)), ResultCannotWrite);
  EXPECT_EQ(scoped.ui.progressRuns, 0);
  EXPECT_TRUE(scoped.ui.boxes.empty());
}

TEST_F(CompressionJobTest, CancelAndFailedMembersLeaveNothing) {
  // Cancel while a large file is deflated.
  std::string big(48 << 20, '\0');
  uint32_t seed = 1;
  for (char& c : big) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
  const std::string src = File("big.bin", big);
  scoped.ui.cancelAfterTicks = 2;
  EXPECT_EQ(Run({src}), ResultFailed);
  EXPECT_TRUE(test::ListTree(out).empty());
  EXPECT_TRUE(TempFiles().empty());
  EXPECT_TRUE(scoped.ui.boxes.empty()) << "a cancel is no error to report";
  scoped.ui.cancelAfterTicks = 0;

  // A member the format cannot hold (4 GiB, sparse) fails the whole job.
  const std::string huge = File("folder/huge.bin", "");
  ASSERT_EQ(::truncate(huge.c_str(), 0x100000000LL), 0);
  File("folder/a.txt");
  EXPECT_EQ(Run({dir / "folder"}), ResultFailed);
  EXPECT_TRUE(test::ListTree(out).empty());
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(CompressionJobTest, ProgressPercentInSixtyFourBits) {
  CompressionJob job;
  EXPECT_EQ(job.Percent(), 0u);
  job.totalSize = 10ull << 32;  // 40 GiB in all
  job.doneTotal = 5ull << 32;
  job.currentDone = 1ull << 32;
  EXPECT_EQ(job.Percent(), 60u);
  job.currentDone = 6ull << 32;  // a file that grew while it was read
  EXPECT_EQ(job.Percent(), 100u);
  job.SetCurrentName("表.txt");
  EXPECT_EQ(job.CurrentName(), "表.txt");
  job.RequestCancel();
  EXPECT_TRUE(job.stop.load());
}

}  // namespace
}  // namespace quindo
