// Moving a finished archive into place: a name that is taken stays taken
// unless replacing was asked for, on one file system and across two. Unique
// temporary names, for new files and for nameless ones.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace quindo {
namespace {

using test::Exists;
using test::ReadFile;
using test::ScratchDir;
using test::WriteFile;

// A folder on another file system than the scratch folder, when there is one.
std::string OtherFileSystemFolder() {
  return ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "";
}

TEST(MoveFileIntoPlace, KeepsATakenNameUnlessAskedToReplace) {
  ScratchDir dir;
  std::vector<std::string> sources = {dir / "new.tmp"};
  const std::string other = OtherFileSystemFolder();
  std::string remote;
  if (!other.empty()) {
    remote = other + "/quindo-move-" + std::to_string(::getpid());
    sources.push_back(remote);
  }
  for (const std::string& from : sources) {
    SCOPED_TRACE(from);
    const std::string to = dir / "a.zip";
    WriteFile(from, "new");
    WriteFile(to, "user's own");
    EXPECT_FALSE(platform::MoveFileIntoPlace(from, to, false));
    EXPECT_EQ(ReadFile(to), "user's own");
    EXPECT_TRUE(Exists(from));
    EXPECT_EQ(test::ListTree(dir.path()).size(), from == remote ? 1u : 2u);  // no partial copy left

    EXPECT_TRUE(platform::MoveFileIntoPlace(from, to, true));
    EXPECT_EQ(ReadFile(to), "new");
    EXPECT_FALSE(Exists(from));

    WriteFile(from, "free");
    EXPECT_TRUE(platform::MoveFileIntoPlace(from, dir / "b.zip", false));
    EXPECT_EQ(ReadFile(dir / "b.zip"), "free");
    EXPECT_FALSE(Exists(from));
    ::unlink((dir / "a.zip").c_str());
    ::unlink((dir / "b.zip").c_str());
  }
}

TEST(UniqueNames, NewAndNamelessFilesTakeDistinctTemporaryNames) {
  ScratchDir dir;
  const std::string folder = dir / "";
  std::vector<std::string> names;
  platform::File created, nameless;
  std::string path;
  ASSERT_TRUE(created.CreateUnique(folder, "arc", path));
  names.push_back(path);
  if (nameless.CreateNameless(folder)) {  // not on every file system
    ASSERT_TRUE(nameless.Write("whole", 5));
    for (int i = 0; i < 2; ++i) {
      ASSERT_TRUE(nameless.LinkUnique(folder, ".quindo-", path));
      names.push_back(path);
      EXPECT_EQ(ReadFile(path), "whole");
    }
  }
  for (const std::string& name : names) {
    const std::string file = name.substr(folder.size());
    EXPECT_EQ(file.size(), file.find('-') == std::string::npos ? 3u + 12u : 8u + 12u) << file;
    EXPECT_EQ(file.substr(file.size() - 4), ".tmp");
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(std::unique(names.begin(), names.end()), names.end());
  EXPECT_EQ(test::ListTree(dir.path()).size(), names.size());
}

}  // namespace
}  // namespace quindo
