// LzhReader against archives made by real LHA-family tools (../shared/corpus/lzh),
// with lhasa as a second oracle where it reads the method. Extract answers true only when every member's CRC-16 matched.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>

#include "app/path_utils.h"
#include "lzh/lzh_reader.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"
#include "tests/support/walk_fixture.h"

namespace fs = std::filesystem;

namespace quindo::test {
namespace {

// Archives the reader refuses, or cannot decode, on purpose: -lh4-, header
// level 3, -lhx-, LHARK's own -lh7- variant and truncated data.
const std::set<std::string> kRefused = {
    "lha_amiga_122/lh4.lzh",  "lha_amiga_122/lh4_long.lzh", "lha_os2_208/h3_lfn.lzh", "lha_os2_208/h3_lh0.lzh",
    "lha_os2_208/h3_lh5.lzh", "lha_os2_208/h3_subdir.lzh",  "libarchive/header3.lzh", "unlha32/h2_lhx.lzh",
    "unlha32/lhx_long.lzh",   "lhark04d/lh7.lzh",           "lhark04d/lh7_long.lzh",  "regression/truncated.lzh"};

int Shell(const std::string& command) {
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveTool(const std::string& tool) { return Shell("command -v " + tool + " >/dev/null 2>&1") == 0; }

// Extracts into `folder` (created) through the extraction walk; true when
// every member came out intact.
bool ExtractInto(const std::string& archive, const std::string& folder) {
  fs::create_directories(folder);
  ScriptedHost host;
  const Extracted r = ExtractToFolder(ReadFile(archive), fs::absolute(folder).string(), host);
  return r.format == FormatLzh && !r.record.Failed();
}

// Extracts with lhasa into `folder`; false when lhasa refuses the archive.
bool LhasaInto(const std::string& archive, const std::string& folder) {
  fs::create_directories(folder);
  return Shell("cd '" + folder + "' && lhasa xq '" + archive + "' >/dev/null 2>&1") == 0;
}

// Regular files below `root` (links not followed), by relative path.
std::map<std::string, std::string> Files(const std::string& root) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (!e.is_symlink() && e.is_regular_file()) out[fs::relative(e.path(), root).generic_string()] = ReadFile(e.path());
  return out;
}

TEST(LzhCorpus, EveryArchiveExtractsWithMatchingCrcsOrIsRefusedCleanlyAndAgreesWithLhasa) {
  const std::string root = CorpusDir().empty() ? "" : CorpusDir() + "/lzh";
  if (root.empty() || !fs::is_directory(root)) GTEST_SKIP() << "no ../shared/corpus/lzh: corpus tests skipped";
  BuildLeadByteTable();
  ScratchDir scratch;
  const bool lhasa = HaveTool("lhasa");
  int extracted = 0, regression = 0, compared = 0, longLh1 = 0;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string rel = fs::relative(e.path(), root).generic_string(), archive = fs::absolute(e.path());
    if (!e.is_regular_file() || e.path().filename().string().rfind("README", 0) == 0) continue;
    SCOPED_TRACE(rel);
    const bool refused = kRefused.count(rel), isRegression = rel.rfind("regression/", 0) == 0;
    const std::string base = scratch / "x", ours = base + "/out";
    EXPECT_EQ(ExtractInto(archive, ours), !refused);
    // Nothing is written outside the output folder, whatever the archive holds.
    for (const std::string& f : ListTree(base)) EXPECT_EQ(f.rfind("out/", 0), 0u) << f;
    extracted += !refused, regression += isRegression;
    if (rel == "lengths/lh1-2m.lzh") {  // -lh1- over several MiB: the tree is rebuilt many times
      auto files = Files(ours);
      longLh1 += files.size() == 1 && files.begin()->second.size() == 2u << 20;
    }
    // lhasa unwraps the MacBinary files of MacLHA archives, where the members
    // themselves are what the archive stores; h2_huge holds 400 MiB of zeros.
    if (lhasa && !refused && !isRegression && rel.rfind("maclha", 0) != 0 && rel.find("h2_huge") == std::string::npos &&
        LhasaInto(archive, base + "/peer")) {
      auto mine = Files(ours);
      for (const auto& [path, bytes] : Files(base + "/peer")) {
        auto it = mine.find(path);
        if (it == mine.end()) continue;
        EXPECT_TRUE(it->second == bytes) << path;
        ++compared;
      }
    }
    fs::remove_all(base);
  }
  EXPECT_GT(extracted, 150);
  EXPECT_GE(regression, 10);
  EXPECT_EQ(longLh1, 1);
  if (lhasa) { EXPECT_GT(compared, 100); }
}

}  // namespace
}  // namespace quindo::test
