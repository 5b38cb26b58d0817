#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "common/ini_text.h"
#include "app/output_folders.h"
#include "app/settings.h"
#include "tests/support/test_support.h"

namespace quindo {
namespace {

using test::ReadFile;
using test::ScratchDir;
using test::WriteFile;

TEST(Settings, WritesCreateWhatTheyNeedAndChangeOneLine) {
  ScratchDir dir;
  Settings s(dir / "sub/q.ini");
  EXPECT_TRUE(s.WriteFlag("ARC", "OPENDIR", true));
  EXPECT_TRUE(s.ReadFlag("ARC", "OPENDIR", "0"));
  EXPECT_FALSE(Settings("").WriteFlag("ARC", "OPENDIR", true));

  WriteFile(dir / "q.ini", "; kept\n[MELT]\nOUTPUT=1\n\n[OPTION]\nZIP_LEVEL=2\nSECURITY=0\n");
  Settings t(dir / "q.ini");
  EXPECT_TRUE(t.WriteInt("option", "zip_level", 0));
  EXPECT_TRUE(t.WriteString("ARC", "OUTPUT_PATH", "/out"));
  EXPECT_EQ(ReadFile(dir / "q.ini"),
            "; kept\n[MELT]\nOUTPUT=1\n\n[OPTION]\nzip_level=0\nSECURITY=0\n[ARC]\nOUTPUT_PATH=/out\n");
  EXPECT_EQ(t.ReadInt("OPTION", "ZIP_LEVEL", 1), 0);

  // A new key goes to the end of its section.
  EXPECT_EQ(IniReplace("[A]\nx=1\n\n[B]\ny=2\n", "A", "z", "3"), "[A]\nx=1\nz=3\n\n[B]\ny=2\n");
  EXPECT_EQ(IniReplace("[A]\r\nx=1\r\n", "a", "X", "2"), "[A]\r\nX=2\r\n");
  EXPECT_EQ(IniReplace("[A]", "A", "k", "v"), "[A]\nk=v\n");
}

TEST(Settings, AWriterKilledInTheMiddleOfItsWriteLeavesTheOldFile) {
  ScratchDir dir;
  const std::string path = dir / "q.ini", old = "[ARC]\nOUTPUT=1\n";
  WriteFile(path, old);
  // The child may write files of 1 KiB at most; the default action of the
  // signal for a write past that ends it in the middle of an 8 KiB value.
  const pid_t pid = fork();
  if (pid == 0) {
    const rlimit limit{1024, 1024};
    setrlimit(RLIMIT_FSIZE, &limit);
    Settings(path).WriteString("OPTION", "NOTE", std::string(8192, 'n'));
    _exit(0);
  }
  int status = -1;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the writer was not killed: " << status;
  EXPECT_EQ(WTERMSIG(status), SIGXFSZ);
  EXPECT_EQ(ReadFile(path), old);
  Settings s(path);
  EXPECT_EQ(s.ReadInt("ARC", "OUTPUT", 0), 1);
  EXPECT_EQ(s.ReadString("OPTION", "NOTE", "none"), "none");
  // What the killed writer left in the folder stands in no later write's way.
  EXPECT_TRUE(s.WriteInt("ARC", "OUTPUT", 2));
  EXPECT_EQ(ReadFile(path), "[ARC]\nOUTPUT=2\n");
}

TEST(OutputFolders, ModesOfBothSides) {
  ScratchDir dir;
  std::string desktop;
  ASSERT_TRUE(GetDesktopFolder(desktop));
  struct Row {
    const char* ini;
    std::string compress, extract;  // for /data/report.doc and /data/x.zip
  };
  const Row rows[] = {
      {"[ARC]\nOUTPUT=1\n[MELT]\nOUTPUT=2\nOUTPUT_PATH=/some/where\n", "/data", "/some/where"},
      {"[ARC]\nOUTPUT=7\n[MELT]\nOUTPUT=7\n", desktop, desktop},
      {"[ARC]\nOUTPUT=abc\n[MELT]\nOUTPUT=abc\n", desktop, desktop},
      {"[ARC]\nOUTPUT=2\n", "", desktop},  // OUTPUT 2 with no path: the empty folder
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.ini);
    WriteFile(dir / "q.ini", row.ini);
    std::string compress = "previous", extract = "previous";
    ResolveCompressFolder(Settings(dir / "q.ini"), "/data/report.doc", compress);
    ResolveExtractFolder(Settings(dir / "q.ini"), "/data/x.zip", extract);
    EXPECT_EQ((std::pair{compress, extract}), (std::pair{row.compress, row.extract}));
  }
  std::string root;  // beside a file in the root folder
  WriteFile(dir / "q.ini", "[ARC]\nOUTPUT=1\n");
  ResolveCompressFolder(Settings(dir / "q.ini"), "/a.zip", root);
  EXPECT_EQ(root, "/");
}

TEST(OutputFolders, WriteTestLeavesTheUsersFilesAlone) {
  ScratchDir dir;
  WriteFile(dir / "write_test", "the user's own file");
  EXPECT_TRUE(IsFolderWritable(dir.path()));
  EXPECT_EQ(ReadFile(dir / "write_test"), "the user's own file");
  EXPECT_EQ(test::ListTree(dir.path()), std::vector<std::string>{"write_test"});  // nothing of the probe remains
  EXPECT_FALSE(IsFolderWritable(dir / "missing"));
  if (geteuid() != 0) {  // root writes everywhere
    mkdir((dir / "ro").c_str(), 0555);
    EXPECT_FALSE(IsFolderWritable(dir / "ro"));
  }
}

}  // namespace
}  // namespace quindo
