#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/ini_text.h"
#include "app/output_folders.h"
#include "app/settings.h"
#include "tests/support/test_support.h"

namespace quindo {
namespace {

using test::ReadFile;
using test::ScratchDir;
using test::WriteFile;

struct KeyDefault {
  const char* sectionName;
  const char* keyName;
  const char* text;  // the default as text
  bool isFlag;
};

// Every key of the settings file with its default.
const KeyDefault kKeys[] = {
    {"ARC", "OUTPUT", "0", false},          {"ARC", "OUTPUT_PATH", "", false},
    {"ARC", "OVERWRITE", "1", true},        {"ARC", "OPENDIR", "0", true},
    {"MELT", "OUTPUT", "0", false},         {"MELT", "OUTPUT_PATH", "", false},
    {"MELT", "OVERWRITE", "1", true},       {"MELT", "OPENDIR", "1", true},
    {"OPTION", "ZIP_LEVEL", "1", false},    {"OPTION", "MAKE_DIRECTRY", "1", true},
    {"OPTION", "NUMBER_FILTER", "1", true}, {"OPTION", "SECURITY", "0", true},
    {"ZIP_OPTION", "USE_UTF8", "1", true},  {"EXT_SETTING", "ZIP_STATUS", "0", true},
    {"EXT_SETTING", "LZH_STATUS", "0", true}, {"EXT_SETTING", "OLD_ZIP_TYPE", "", false},
    {"EXT_SETTING", "OLD_LZH_TYPE", "", false},
};

void ExpectDefaults(const Settings& s) {
  for (const auto& k : kKeys) {
    SCOPED_TRACE(std::string(k.sectionName) + "/" + k.keyName);
    EXPECT_EQ(s.ReadString(k.sectionName, k.keyName, k.text), k.text);
    if (k.isFlag) EXPECT_EQ(s.ReadFlag(k.sectionName, k.keyName, k.text), std::string(k.text) == "1");
  }
  EXPECT_EQ(s.ReadInt("OPTION", "ZIP_LEVEL", 1), 1);
}

TEST(Settings, DefaultsFromMissingFileAndMissingKeys) {
  ScratchDir dir;
  ExpectDefaults(Settings(dir / "none.ini"));
  ExpectDefaults(Settings(""));  // no path at all
  WriteFile(dir / "other.ini", "[ARC]\nSOMETHING=else\n[UNRELATED]\nOUTPUT=2\n");
  ExpectDefaults(Settings(dir / "other.ini"));
}

TEST(Settings, NamesIgnoreCaseValuesDoNot) {
  ScratchDir dir;
  WriteFile(dir / "q.ini", "[arc]\noutput=2\nOutput_Path = /x/y \n[Option]\nSecurity=1\n");
  Settings s(dir / "q.ini");
  EXPECT_EQ(s.ReadInt("ARC", "OUTPUT", 0), 2);
  EXPECT_EQ(s.ReadString("ARC", "OUTPUT_PATH", ""), "/x/y");
  EXPECT_TRUE(s.ReadFlag("OPTION", "SECURITY", "0"));
}

TEST(Settings, FlagIsOnOnlyForExactlyOne) {
  ScratchDir dir;
  WriteFile(dir / "q.ini", "[ARC]\nOVERWRITE=yes\nOPENDIR=01\n[MELT]\nOVERWRITE=true\nOPENDIR=1\n");
  Settings s(dir / "q.ini");
  EXPECT_FALSE(s.ReadFlag("ARC", "OVERWRITE", "1"));
  EXPECT_FALSE(s.ReadFlag("ARC", "OPENDIR", "1"));
  EXPECT_FALSE(s.ReadFlag("MELT", "OVERWRITE", "1"));
  EXPECT_TRUE(s.ReadFlag("MELT", "OPENDIR", "0"));
}

TEST(Settings, IntegersReadLikeTheProfileApi) {
  EXPECT_EQ(ParseProfileInt("7"), 7);
  EXPECT_EQ(ParseProfileInt("abc"), 0);
  EXPECT_EQ(ParseProfileInt("12abc"), 12);
  EXPECT_EQ(ParseProfileInt("-1"), -1);
  EXPECT_EQ(ParseProfileInt(""), 0);
  ScratchDir dir;
  WriteFile(dir / "q.ini", "[ARC]\nOUTPUT=\n");
  EXPECT_EQ(Settings(dir / "q.ini").ReadInt("ARC", "OUTPUT", 5), 0);  // present but empty
}

TEST(Settings, LongValuesComeBackCutTo254Bytes) {
  ScratchDir dir;
  std::string longPath = "/" + std::string(299, 'p');
  WriteFile(dir / "q.ini", "[ARC]\nOUTPUT_PATH=" + longPath + "\n");
  std::string value = Settings(dir / "q.ini").ReadString("ARC", "OUTPUT_PATH", "");
  EXPECT_EQ(value.size(), 254u);
  EXPECT_EQ(value, longPath.substr(0, 254));
}

TEST(Settings, WritesCreateWhatTheyNeedAndChangeOneLine) {
  ScratchDir dir;
  Settings s(dir / "sub/q.ini");
  EXPECT_TRUE(s.WriteFlag("ARC", "OPENDIR", true));
  EXPECT_TRUE(s.ReadFlag("ARC", "OPENDIR", "0"));

  const std::string original = "; kept\n[MELT]\nOUTPUT=1\n\n[OPTION]\nZIP_LEVEL=2\nSECURITY=0\n";
  WriteFile(dir / "q.ini", original);
  Settings t(dir / "q.ini");
  EXPECT_TRUE(t.WriteInt("option", "zip_level", 0));
  EXPECT_TRUE(t.WriteString("ARC", "OUTPUT_PATH", "/out"));
  EXPECT_EQ(ReadFile(dir / "q.ini"),
            "; kept\n[MELT]\nOUTPUT=1\n\n[OPTION]\nzip_level=0\nSECURITY=0\n[ARC]\nOUTPUT_PATH=/out\n");
  EXPECT_EQ(t.ReadInt("OPTION", "ZIP_LEVEL", 1), 0);
  EXPECT_FALSE(Settings("").WriteFlag("ARC", "OPENDIR", true));
}

TEST(IniText, NewKeyGoesToTheEndOfItsSection) {
  EXPECT_EQ(IniReplace("[A]\nx=1\n\n[B]\ny=2\n", "A", "z", "3"), "[A]\nx=1\nz=3\n\n[B]\ny=2\n");
  EXPECT_EQ(IniReplace("[A]\r\nx=1\r\n", "a", "X", "2"), "[A]\r\nX=2\r\n");
  EXPECT_EQ(IniReplace("", "A", "k", "v"), "[A]\nk=v\n");
  EXPECT_EQ(IniReplace("[A]", "A", "k", "v"), "[A]\nk=v\n");
  EXPECT_FALSE(IniLookup("[A]\nk=v\n", "B", "k").has_value());
}

TEST(Settings, ConcurrentWritersLoseNoKey) {
  ScratchDir dir;
  const std::string path = dir / "q.ini";
  constexpr int kWriters = 4, kKeysEach = 25;
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      Settings s(path);
      for (int k = 0; k < kKeysEach; ++k)
        s.WriteInt("OPTION", ("K" + std::to_string(w) + "_" + std::to_string(k)).c_str(), w * 100 + k);
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int st = 0;
    waitpid(pid, &st, 0);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
  }
  Settings s(path);
  for (int w = 0; w < kWriters; ++w)
    for (int k = 0; k < kKeysEach; ++k)
      EXPECT_EQ(s.ReadInt("OPTION", ("K" + std::to_string(w) + "_" + std::to_string(k)).c_str(), -1),
                w * 100 + k);
}

TEST(Settings, AWriteKilledHalfwayLeavesTheOldFile) {
  // The new text goes to a temporary file that is renamed over the old one:
  // a writer that dies before the rename leaves at most a stray temporary.
  ScratchDir dir;
  const std::string path = dir / "q.ini";
  WriteFile(path, "[ARC]\nOUTPUT=1\n");
  WriteFile(path + ".AbC123", "[ARC]\nOUT");  // what a killed writer leaves
  Settings s(path);
  EXPECT_EQ(s.ReadInt("ARC", "OUTPUT", 0), 1);
  s.WriteInt("ARC", "OUTPUT", 2);
  EXPECT_EQ(ReadFile(path), "[ARC]\nOUTPUT=2\n");
}

TEST(OutputFolders, ModesOfBothSides) {
  ScratchDir dir;
  WriteFile(dir / "q.ini",
            "[ARC]\nOUTPUT=1\n[MELT]\nOUTPUT=2\nOUTPUT_PATH=/some/where\n");
  Settings s(dir / "q.ini");
  std::string out;
  ResolveCompressFolder(s, "/data/report.doc", out);
  EXPECT_EQ(out, "/data");
  ResolveCompressFolder(s, "/a.zip", out);
  EXPECT_EQ(out, "/");
  ResolveExtractFolder(s, "/data/x.zip", out);
  EXPECT_EQ(out, "/some/where");

  // OUTPUT 7, "abc" and a missing file all mean the desktop.
  std::string desktop;
  ASSERT_TRUE(GetDesktopFolder(desktop));
  for (const char* text : {"7", "abc"}) {
    WriteFile(dir / "d.ini", std::string("[ARC]\nOUTPUT=") + text + "\n[MELT]\nOUTPUT=" + text + "\n");
    Settings d(dir / "d.ini");
    out.clear();
    ResolveCompressFolder(d, "/data/report.doc", out);
    EXPECT_EQ(out, desktop) << text;
    out.clear();
    ResolveExtractFolder(d, "/data/x.zip", out);
    EXPECT_EQ(out, desktop) << text;
  }
  // OUTPUT 2 with no path: the empty folder.
  WriteFile(dir / "e.ini", "[ARC]\nOUTPUT=2\n");
  out = "previous";
  ResolveCompressFolder(Settings(dir / "e.ini"), "/x", out);
  EXPECT_EQ(out, "");
}

TEST(OutputFolders, WriteTestLeavesTheUsersFilesAlone) {
  ScratchDir dir;
  WriteFile(dir / "write_test", "the user's own file");
  EXPECT_TRUE(IsFolderWritable(dir.path()));
  EXPECT_EQ(ReadFile(dir / "write_test"), "the user's own file");
  // Nothing of the probe remains.
  EXPECT_EQ(test::ListTree(dir.path()), std::vector<std::string>{"write_test"});
  EXPECT_FALSE(IsFolderWritable(dir / "missing"));
  if (geteuid() != 0) {  // root writes everywhere
    std::string ro = dir / "ro";
    mkdir(ro.c_str(), 0555);
    EXPECT_FALSE(IsFolderWritable(ro));
  }
}

}  // namespace
}  // namespace quindo
