// LzhReader against archives made by real LHA-family tools (../shared/corpus/lzh)
// and by jlha on this machine, with lhasa as a second oracle where it reads
// the method. Extract answers true only when every member's CRC-16 matched.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <utime.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <random>
#include <set>

#include "app/path_utils.h"
#include "lzh/lzh_reader.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace quindo::test {
namespace {

// Archives the reader refuses, or cannot decode, on purpose.
const std::map<std::string, std::string> kRefused = {
    {"lha_amiga_122/lh4.lzh", "-lh4-"},
    {"lha_amiga_122/lh4_long.lzh", "-lh4-"},
    {"lha_os2_208/h3_lfn.lzh", "header level 3"},
    {"lha_os2_208/h3_lh0.lzh", "header level 3"},
    {"lha_os2_208/h3_lh5.lzh", "header level 3"},
    {"lha_os2_208/h3_subdir.lzh", "header level 3"},
    {"libarchive/header3.lzh", "header level 3"},
    {"unlha32/h2_lhx.lzh", "-lhx-"},
    {"unlha32/lhx_long.lzh", "-lhx-"},
    {"lhark04d/lh7.lzh", "LHARK's own -lh7- variant"},
    {"lhark04d/lh7_long.lzh", "LHARK's own -lh7- variant"},
    {"regression/truncated.lzh", "truncated data"},
};

std::string LzhCorpusDir() {
  std::string corpus = CorpusDir();
  if (corpus.empty() || !fs::is_directory(fs::path(corpus) / "lzh")) return {};
  return fs::absolute(fs::path(corpus) / "lzh").lexically_normal().string();
}

std::vector<std::string> CorpusArchives(const std::string& root) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_regular_file()) continue;
    std::string name = e.path().filename().string();
    if (name.rfind("README", 0) == 0) continue;
    out.push_back(fs::relative(e.path(), root).generic_string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

bool HaveTool(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

int RunShell(const std::string& command) {
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

// Extracts `archive` into `folder` (created) the way the job does.
bool ExtractInto(const std::string& archive, const std::string& folder) {
  fs::create_directories(folder);
  std::string saved = platform::GetCurrentDirectory();
  platform::SetCurrentDirectory(folder);
  LzhReader reader;
  bool ok = reader.Extract(archive, folder);
  platform::SetCurrentDirectory(saved);
  return ok;
}

// Regular files below `root` (links not followed), by relative path.
std::map<std::string, std::string> Files(const std::string& root) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (e.is_symlink() || !e.is_regular_file()) continue;
    out[fs::relative(e.path(), root).generic_string()] = ReadFile(e.path().string());
  }
  return out;
}

class LzhCorpus : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = LzhCorpusDir();
    if (root_.empty()) GTEST_SKIP() << "no ../shared/corpus/lzh: corpus tests skipped";
    BuildLeadByteTable();
  }
  std::string root_;
  ScratchDir scratch_;
};

TEST_F(LzhCorpus, EveryArchiveOfTheAcceptedFormatsExtractsWithMatchingCrcs) {
  int extracted = 0;
  for (const std::string& rel : CorpusArchives(root_)) {
    if (kRefused.count(rel)) continue;
    std::string folder = scratch_ / ("x" + std::to_string(extracted++));
    EXPECT_TRUE(ExtractInto(root_ + "/" + rel, folder)) << rel;
  }
  EXPECT_GT(extracted, 150);
}

TEST_F(LzhCorpus, RefusedFormatsEndCleanly) {
  int n = 0;
  for (const auto& [rel, why] : kRefused) {
    std::string base = scratch_ / ("r" + std::to_string(n++));
    EXPECT_FALSE(ExtractInto(root_ + "/" + rel, base + "/out")) << rel << ": " << why;
    for (const std::string& f : ListTree(base)) EXPECT_EQ(f.rfind("out/", 0), 0u) << rel << ": " << f;
  }
}

TEST_F(LzhCorpus, RegressionArchivesWriteNothingOutsideTheOutputFolder) {
  int n = 0;
  for (const std::string& rel : CorpusArchives(root_ + "/regression")) {
    std::string base = scratch_ / ("g" + std::to_string(n++));
    ExtractInto(root_ + "/regression/" + rel, base + "/out");
    for (const std::string& f : ListTree(base)) EXPECT_EQ(f.rfind("out/", 0), 0u) << rel << ": " << f;
  }
  EXPECT_GE(n, 10);
}

TEST_F(LzhCorpus, AdaptiveTreeRebuildInLongMembers) {
  // Several MiB of -lh1-: the tree is rebuilt many times on the way.
  std::string folder = scratch_ / "long";
  ASSERT_TRUE(ExtractInto(root_ + "/lengths/lh1-2m.lzh", folder));
  auto files = Files(folder);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files.begin()->second.size(), 2u * 1024 * 1024);
}

TEST_F(LzhCorpus, AgreesWithLhasaWhereItReadsTheMethod) {
  if (!HaveTool("lhasa")) GTEST_SKIP() << "lhasa is not installed";
  int compared = 0;
  int n = 0;
  for (const std::string& rel : CorpusArchives(root_)) {
    // lhasa unwraps the MacBinary files of MacLHA archives; the members
    // themselves are what the archive stores.
    // h2_huge holds 400 MiB of zeros: its size is checked elsewhere.
    if (kRefused.count(rel) || rel.rfind("regression/", 0) == 0 || rel.rfind("maclha", 0) == 0 ||
        rel.find("h2_huge") != std::string::npos)
      continue;
    std::string ours = scratch_ / ("o" + std::to_string(n)), peer = scratch_ / ("p" + std::to_string(n));
    ++n;
    ASSERT_TRUE(ExtractInto(root_ + "/" + rel, ours)) << rel;
    fs::create_directories(peer);
    if (RunShell("cd " + Quote(peer) + " && lhasa xq " + Quote(root_ + "/" + rel) + " >/dev/null 2>&1") != 0) continue;
    auto mine = Files(ours);
    for (const auto& [path, bytes] : Files(peer)) {
      auto it = mine.find(path);
      if (it == mine.end()) continue;
      EXPECT_TRUE(it->second == bytes) << rel << ": " << path;
      ++compared;
    }
  }
  EXPECT_GT(compared, 100);
}

// Archives made here with jlha at each header level, over a tree with
// empty, tiny, repetitive and random files, two identical members, a
// sub-folder and known times.
class LzhJlha : public LzhCorpus {
 protected:
  void SetUp() override {
    if (!HaveTool("jlha")) GTEST_SKIP() << "jlha is not installed";
    BuildLeadByteTable();
    src_ = scratch_ / "src";
    std::mt19937 rng(42);
    std::string text;
    while (text.size() < 300000) text += "line " + std::to_string(rng() % 5000) + " of a long repetitive text\n";
    std::string random(150000, '\0');
    for (char& c : random) c = static_cast<char>(rng());
    std::string far;  // repeats 60000 bytes apart, for the larger windows
    for (int i = 0; i < 4; ++i) far += random.substr(0, 60000);
    files_ = {{"empty.txt", ""},           {"one.bin", "x"},        {"text.txt", text},
              {"random.bin", random},      {"far.bin", far},        {"copy1.txt", text.substr(0, 70000)},
              {"copy2.txt", text.substr(0, 70000)}, {"sub/deeper/inner.txt", text.substr(1000, 5000)}};
    std::time_t when = 1262322000;  // 2010-01-01 05:00 UTC, an even second
    for (const auto& [name, bytes] : files_) {
      WriteFile(src_ + "/" + name, bytes);
      struct utimbuf t {when, when};
      utime((src_ + "/" + name).c_str(), &t);
      when += 3600 * 24 * 40 + 2;
    }
  }
  std::string src_;
  std::vector<std::pair<std::string, std::string>> files_;
};

TEST_F(LzhJlha, ArchivesOfEveryLevelExtractByteIdenticalWithTheirTimes) {
  for (const char* mode : {"a0o5", "a1o6", "a2o7", "a0o7", "a2o5", "a1o7"}) {
    SCOPED_TRACE(mode);
    std::string archive = scratch_ / (std::string(mode) + ".lzh");
    ASSERT_EQ(RunShell("cd " + Quote(src_) + " && jlha " + mode + " " + Quote(archive) +
                  " empty.txt one.bin text.txt random.bin far.bin copy1.txt copy2.txt sub >/dev/null 2>&1"),
              0);
    std::string out = scratch_ / (std::string("out-") + mode);
    ASSERT_TRUE(ExtractInto(archive, out));
    for (const auto& [name, bytes] : files_) {
      EXPECT_EQ(ReadFile(out + "/" + name), bytes) << name;
      struct stat a, b;
      ASSERT_EQ(stat((src_ + "/" + name).c_str(), &a), 0);
      ASSERT_EQ(stat((out + "/" + name).c_str(), &b), 0) << name;
      EXPECT_EQ(a.st_mtime, b.st_mtime) << name;
    }
    EXPECT_TRUE(fs::is_directory(out + "/sub/deeper"));

    if (HaveTool("lhasa")) {
      std::string peer = scratch_ / (std::string("lhasa-") + mode);
      fs::create_directories(peer);
      ASSERT_EQ(RunShell("cd " + Quote(peer) + " && lhasa xq " + Quote(archive) + " >/dev/null 2>&1"), 0);
      EXPECT_TRUE(Files(peer) == Files(out));
    }
  }
}

}  // namespace
}  // namespace quindo::test
