// The compression job driven through a scripted user interface: links and
// pipes, what whole jobs store, what is left out and told, and one thread
// against several.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

#include "app/compression_job.h"
#include "platform/file_fault.h"
#include "platform/platform.h"
#include "zip/parallel_deflate.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_fixture.h"

namespace quindo {
namespace {

using test::ListTree;
using test::ReadFile;
using Names = std::vector<std::string>;

// Every member by name, from the directory; the names in directory order
// go to `order`.
std::map<std::string, test::DirectoryEntry> Members(const std::string& archive, Names* order = nullptr) {
  std::map<std::string, test::DirectoryEntry> out;
  for (const test::DirectoryEntry& m : test::Directory(ReadFile(archive))) {
    out[m.name] = m;
    if (order) order->push_back(m.name);
  }
  return out;
}

class CompressionJobTest : public ::testing::Test {
 protected:
  test::ScratchDir dir;
  std::string out = dir / "out", temp = dir / "tmp", ini = dir / "quindo.ini";
  // The job's temporary file goes here, where a test can see it.
  test::ScopedEnv tmpdir{"TMPDIR", temp};
  test::ScopedUi scoped;

  void SetUp() override {
    std::filesystem::create_directories(out);
    std::filesystem::create_directories(temp);
  }

  std::string File(const std::string& relative, const std::string& bytes = "data") {
    test::WriteFile(dir / relative, bytes);
    return dir / relative;
  }
  std::string Folder(const std::string& relative) {
    std::filesystem::create_directories(dir / relative);
    return dir / relative;
  }
  JobResult Run(std::vector<std::string> paths, std::string folder = "") {
    paths.insert(paths.begin(), "quindo");
    if (folder.empty()) folder = out;
    return RunCompressionJob(paths, folder, Settings(ini));
  }
};

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
  Names names;
  const auto members = Members(out + "/tree.zip", &names);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (Names{"tree/", "tree/away/", "tree/link.txt", "tree/loop/", "tree/real.txt"}));
  EXPECT_EQ(members.at("tree/link.txt").size, 13u);
}

TEST_F(CompressionJobTest, WholeJobsAndWhatTheyStore) {
  // A file dropped beside its own folder is stored twice.
  const std::string a = Folder("a");
  Folder("a/empty");
  Names order;
  EXPECT_EQ(Run({a, File("a/x.txt", "xx")}), ResultOk);
  Members(out + "/a.zip", &order);
  ASSERT_EQ(order.size(), 4u);
  std::sort(order.begin() + 2, order.end());  // the folder's contents come in file-system order
  EXPECT_EQ(order, (Names{"a/", "x.txt", "a/empty/", "a/x.txt"}));

  // No dot in the first entry: test.zip; a missing path beside it is skipped.
  EXPECT_EQ(Run({dir / "gone.txt", File("README", std::string(5000, 'r'))}), ResultOk);
  const auto readme = Members(out + "/test.zip");
  ASSERT_EQ(readme.size(), 1u);
  EXPECT_EQ(readme.at("README").method, 8);

  // An empty dropped folder holds just its folder entry.
  EXPECT_EQ(Run({Folder("nothing")}), ResultOk);
  EXPECT_EQ(Members(out + "/nothing.zip").count("nothing/"), 1u);
  EXPECT_EQ(std::make_tuple(scoped.ui.boxes.size(), scoped.ui.progressRuns, ListTree(temp)), std::make_tuple(0u, 3, Names{}));

  // The level setting: 0 is the strongest level, 8 (flag 0x0002); 1, 2 and 7 are not.
  Settings settings(ini);
  const std::string t = File("t.txt", std::string(20000, 't'));
  for (int setting : {0, 1, 2, 7}) {
    settings.WriteInt("OPTION", "ZIP_LEVEL", setting);
    ASSERT_EQ(Run({t}), ResultOk);
    EXPECT_EQ(Members(out + "/t.zip").at("t.txt").flags, setting == 0 ? 0x0002 : 0) << setting;
  }
}

TEST_F(CompressionJobTest, WhatCannotBeReadIsLeftOutAndListedAndTheRestIsStored) {
  const std::string proj = Folder("proj");
  File("proj/ok.txt", "fine");
  const std::string held = File("proj/held.xlsx"), secret = File("proj/secret.txt");
  const std::string broken = File("proj/broken.bin", std::string(2 << 20, 'b'));
  File("proj/locked/inside.txt");
  File("proj/" + std::string(255, 'n'));  // "proj/" and 255 bytes pass 259
  test::ScopedFaults faults({{.path = held, .openError = platform::FileError::InUse},
                       {.path = secret, .openError = platform::FileError::NoPermission},
                       {.path = broken, .readLimit = 1 << 20},
                       {.path = proj + "/locked", .openError = platform::FileError::NoPermission}});
  // A file whose size at the listing is not what is read: stored, and named.
  const bool proc = test::Exists("/proc/self/status");
  std::vector<std::string> dropped{proj};
  if (proc) dropped.push_back("/proc/self/status");
  EXPECT_EQ(Run(dropped), ResultFailed) << "an archive with items left out is no plain success";

  Names names;
  Members(out + "/proj.zip", &names);
  std::sort(names.begin(), names.end());
  const Names expected = proc ? Names{"proj/", "proj/ok.txt", "status"} : Names{"proj/", "proj/ok.txt"};
  EXPECT_EQ(names, expected);
  EXPECT_TRUE(ListTree(temp).empty());
  ASSERT_EQ(scoped.ui.boxes.size(), 1u);
  const auto& box = scoped.ui.boxes[0];
  EXPECT_EQ(std::tie(box.title, box.icon), std::make_tuple(kPartialTitle, MessageIcon::Warning));
  for (const std::string& line : Names{"proj/held.xlsx（他のプログラムが使用中です）", "proj/secret.txt（読み取る権限がありません）",
                                 "proj/broken.bin（読み取り中にエラーが発生しました）",
                                 "proj/locked（フォルダーの内容を読み取れません）", "proj/" + std::string(255, 'n') + "（名前が長すぎます）"})
    EXPECT_NE(box.text.find("\n" + line), std::string::npos) << line << "\n" << box.text;
  EXPECT_EQ(box.text.rfind(kLeftOutHeading, 0), 0u) << box.text;
  EXPECT_EQ(box.text.find("inside.txt"), std::string::npos);
  if (proc) {
    EXPECT_NE(box.text.find(std::string("\n\n") + kChangedHeading + "\nstatus"), std::string::npos) << box.text;
  }
}

TEST(CompressionReportTest, BothGroupsShareTheLineLimitAndEachNamesAnItem) {
  for (auto [leftOut, changed] : {std::pair{15, 5}, {10, 3}, {9, 1}, {9, 2}, {0, 14}, {14, 0}, {4, 4}}) {
    std::vector<ItemReport> reports;
    for (int i = 0; i < leftOut; ++i) reports.push_back({"l" + std::to_string(i), ItemProblem::InUse});
    for (int i = 0; i < changed; ++i) reports.push_back({"c" + std::to_string(i), ItemProblem::Changed});
    size_t lines = 0, named = 0, counted = 0;
    bool namesLeftOut = false, namesChanged = false;
    std::istringstream text(DescribeReports(reports));
    for (std::string line; std::getline(text, line);) {
      if (line.empty() || line == kLeftOutHeading || line == kChangedHeading) continue;
      ++lines;
      if (line.rfind("他 ", 0) == 0) {
        counted += std::stoul(line.substr(std::string("他 ").size()));
      } else {
        ++named;
        namesLeftOut |= line[0] == 'l';
        namesChanged |= line[0] == 'c';
      }
    }
    const std::string c = std::to_string(leftOut) + "+" + std::to_string(changed);
    EXPECT_EQ(lines, std::min<size_t>(kMaxDetailLines, leftOut + changed)) << c;
    EXPECT_EQ(named + counted, size_t(leftOut + changed)) << c;
    EXPECT_EQ(std::make_pair(namesLeftOut, namesChanged), std::make_pair(leftOut > 0, changed > 0)) << c;
  }
}

TEST_F(CompressionJobTest, FailuresWithoutAnArchiveSayWhatFailed) {
  // Nothing could be read: no archive, and the box names the item.
  const std::string only = File("only.txt");
  {
    test::ScopedFaults faults({{.path = only, .openError = platform::FileError::Vanished}});
    EXPECT_EQ(Run({only}), ResultFailed);
  }
  // The temporary folder fills up, and cannot take a file at all.
  {
    test::ScopedFaults faults({{.path = temp + "/", .writeLimit = 1000}});
    EXPECT_EQ(Run({File("big.txt", test::Text(100000)), File("more.txt", test::Text(20000))}), ResultFailed);
  }
  {
    test::ScopedEnv nowhere("TMPDIR", dir / "no/such/temp");
    EXPECT_EQ(Run({only}), ResultFailed);
  }

  ASSERT_EQ(scoped.ui.boxes.size(), 3u);
  for (const auto& box : scoped.ui.boxes)
    EXPECT_EQ(std::tie(box.title, box.icon), std::make_tuple(kFileErrorTitle, MessageIcon::Warning));
  EXPECT_EQ(scoped.ui.boxes[0].text, std::string(kNothingStoredText) +
                                         "\n\n次の項目を読み取れませんでした。\nonly.txt（見つかりません（削除または移動されました））");
  EXPECT_EQ(scoped.ui.boxes[1].text, kDiskFullText);
  EXPECT_EQ(scoped.ui.boxes[2].text, kTempFileText);
  EXPECT_EQ(std::make_pair(ListTree(out), ListTree(temp)), std::make_pair(Names{}, Names{}));
}

TEST_F(CompressionJobTest, TheArchiveNeverReplacesOneOfItsSources) {
  // A download that failed: "report.zip" that is no archive, dropped with
  // the output folder beside it. With or without OVERWRITE the archive
  // takes the next free name, and an unrelated "report (2).zip" stays.
  const std::string report = File("out/report.zip", "not an archive");
  File("out/report (2).zip", "someone else's");
  Settings settings(ini);
  for (const bool overwrite : {false, true}) {
    SCOPED_TRACE(overwrite);
    settings.WriteFlag("ARC", "OVERWRITE", overwrite);
    EXPECT_EQ(Run({report}), ResultOk);
    EXPECT_EQ(ReadFile(report), "not an archive");
    EXPECT_EQ(ReadFile(out + "/report (2).zip"), "someone else's");
    EXPECT_EQ(Members(out + "/report (3).zip").count("report.zip"), 1u);
    ASSERT_EQ(::unlink((out + "/report (3).zip").c_str()), 0);
  }
  // A link under another name is the same file.
  ASSERT_EQ(::symlink(report.c_str(), (dir / "alias.zip").c_str()), 0);
  settings.WriteFlag("ARC", "OVERWRITE", true);
  EXPECT_EQ(Run({dir / "alias.zip"}, dir.path()), ResultOk);
  EXPECT_EQ(ReadFile(report), "not an archive");
  EXPECT_EQ(Members(dir / "alias (2).zip").count("alias.zip"), 1u);
  EXPECT_TRUE(scoped.ui.boxes.empty());
}

// A file last written an hour ago and read just now: reading it again
// leaves its access time, which the archive records, as it is.
void Settle(const std::string& path) {
  timespec times[2];
  ::clock_gettime(CLOCK_REALTIME, &times[0]);
  times[1] = times[0];
  times[1].tv_sec -= 3600;
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// Every member's name, CRC, size and inflated data.
Names Contents(const std::string& archive) {
  Names out;
  for (const test::DirectoryEntry& m : test::Directory(archive))
    out.push_back(m.name + " " + std::to_string(m.crc) + " " + std::to_string(m.size) + " " +
                  (m.method == 8 ? test::RawInflate(m.data, m.size).value_or("corrupt") : m.data));
  return out;
}

TEST_F(CompressionJobTest, OneAndSeveralThreadsGiveTheSameArchive) {
  auto compress = [&](const Names& paths, int threads) {
    Settings(ini).WriteInt("OPTION", "THREADS", threads);
    EXPECT_EQ(Run(paths), ResultOk);
    const std::string zip = out + "/" + std::filesystem::path(paths.front()).stem().string() + ".zip";
    const std::string bytes = ReadFile(zip);
    std::filesystem::remove(zip);
    return bytes;
  };
  // Dropped files only: folder entries carry the time they were added.
  Names files;
  for (uint32_t i = 0; i < 30; ++i) files.push_back(File("f" + std::to_string(i) + ".txt", test::Text(3000 * i, i)));
  files.push_back(File("kept.zip", test::Noise(5000, 1)));
  files.push_back(File("r.bin", test::Noise(300000, 2)));
  for (const std::string& f : files) Settle(f);
  const std::string one = compress(files, 1);
  EXPECT_EQ(compress(files, 4), one);

  // Above the chunk size the data differ but hold the same bytes.
  files.push_back(File("big.txt", test::Text(2 * ParallelDeflate::kDefaultChunkSize + 12345, 7)));
  File("tree/sub/deep.txt", test::Text(2000, 8));
  files.insert(files.begin(), dir / "tree");
  const std::string single = compress(files, 1), parallel = compress(files, 3);
  EXPECT_EQ(Contents(parallel), Contents(single));
  EXPECT_LE(parallel.size(), single.size() + single.size() / 200);
}

}  // namespace
}  // namespace quindo
