// LzhReader over small archives written by the tests: integrity checks,
// hostile names, folders, the root folder and the first-header search (the
// times of each header level: the jlha archives of lzh_corpus_test).
#include <gtest/gtest.h>

#include <algorithm>

#include "app/path_utils.h"
#include "app/work_buffer.h"
#include "lzh/lzh_reader.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"
#include "tests/unit/lzh_test_streams.h"

namespace quindo::test {
namespace {

std::string Stored(int level, const std::string& name, const std::string& data) {
  return MakeMember({.level = level, .name = name, .data = data});
}

class LzhReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BuildLeadByteTable();
    platform::CreateDirectory(out_);
  }
  std::string Archive(const std::string& bytes) {
    WriteFile(dir_ / "test.lzh", bytes);
    return dir_ / "test.lzh";
  }
  // Extracts into <scratch>/out, as the job does: from inside the folder.
  bool Extract(const std::string& bytes, LzhReader&& reader = LzhReader()) {
    std::string path = Archive(bytes), saved = platform::GetCurrentDirectory();
    platform::SetCurrentDirectory(out_);
    bool ok = reader.Extract(path, out_);
    platform::SetCurrentDirectory(saved);
    return ok;
  }
  std::string Out(const std::string& relative) { return out_ + "/" + relative; }

  ScratchDir dir_;
  std::string out_ = dir_ / "out";
};

TEST_F(LzhReaderTest, EveryMemberIsTriedAndABadCrcOrATruncatedMemberFailsTheArchive) {
  std::string sub =
      MakeMember({.level = 2, .name = "c.txt", .data = "charlie", .extended = {ExtendedHeader(0x02, "sub\xff")}});
  std::string bad = MakeMember({.level = 1, .name = "b.txt", .data = "bravo", .badDataCrc = true});
  EXPECT_FALSE(Extract(Stored(0, "a.txt", "alpha") + bad + sub + '\0'));
  EXPECT_EQ(ReadFile(Out("a.txt")) + ReadFile(Out("b.txt")) + ReadFile(Out("sub/c.txt")), "alphabravocharlie");
  EXPECT_TRUE(Extract(Stored(0, "a.txt", "alpha") + sub));

  std::string cut = Stored(0, "t.txt", "0123456789");
  EXPECT_FALSE(Extract(cut.substr(0, cut.size() - 4)));
  EXPECT_EQ(ReadFile(Out("t.txt")), "012345");  // what was there is kept
}

TEST_F(LzhReaderTest, MethodsWithoutDecoderAndFolderEntries) {
  EXPECT_FALSE(Extract(MakeMember({.name = "packed.bin", .data = "not really lh4", .method = "-lh4-"})));
  EXPECT_TRUE(Exists(Out("packed.bin")) && ReadFile(Out("packed.bin")).empty());

  // A member flagged as a folder holds folder metadata, not a file.
  EXPECT_TRUE(Extract(MakeMember({.name = "dir\\", .method = "-lhd-", .attribute = 0x10}) +
                      Stored(0, "dir\\in.txt", "inside") +
                      MakeMember({.name = "meta", .data = "extended attributes", .attribute = 0x10})));
  EXPECT_EQ(ReadFile(Out("dir/in.txt")), "inside");
  platform::FileInfo info;
  EXPECT_TRUE(platform::GetFileInfo(Out("meta"), info) && (info.attributes & platform::kAttrDirectory));
}

TEST_F(LzhReaderTest, HostileNamesStayInsideTheOutputFolder) {
  const std::vector<std::string> linkHeaders = {ExtendedHeader(0x01, "link|../../target"),
                                                ExtendedHeader(0x02, "d\xff")};
  std::string link = MakeMember({.level = 2, .name = "", .method = "-lhd-", .extended = linkHeaders});
  EXPECT_TRUE(Extract(Stored(0, "..\\..\\evil.txt", "e") + Stored(0, "/abs/x.txt", "x") +
                      Stored(1, "C:\\win.ini", "w") + link + Stored(0, "a|b?.txt", "q")));
  // Nothing outside out/; the link is an ordinary empty file named after
  // link and target.
  EXPECT_EQ(ListTree(dir_.path()), (std::vector<std::string>{"out/", "out/__/", "out/__/__/", "out/__/__/evil.txt",
                                                             "out/a_b_.txt", "out/abs/", "out/abs/x.txt", "out/d/",
                                                             "out/d/link_.._.._target", "out/win.ini", "test.lzh"}));
}

TEST_F(LzhReaderTest, OverwriteOffAndTheSecurityWarning) {
  ScopedUi scoped;
  WriteFile(Out("keep.txt"), "original");
  LzhReader reader;
  reader.overwrite = false, reader.securityCheck = true;
  EXPECT_TRUE(
      Extract(Stored(0, "keep.txt", "new") + Stored(0, "abcdefghijklmnopqr.exe", "MZ") + Stored(0, "setup.exe", "MZ"),
              std::move(reader)));
  // The disguised program is warned about and extracted all the same.
  EXPECT_EQ(ReadFile(Out("keep.txt")) + ReadFile(Out("abcdefghijklmnopqr.exe")), "originalMZ");
  ASSERT_EQ(scoped.ui.boxes.size(), 1u);
  const auto& box = scoped.ui.boxes[0];
  EXPECT_TRUE(box.fromWorker && box.title == "セキュリティ");
  EXPECT_NE(box.text.find("ファイル：abcdefghijklmnopqr.exe\n"), std::string::npos);
}

TEST_F(LzhReaderTest, RootFolderOfTheMembers) {
  LzhReader reader;
  std::string deep =
      MakeMember({.level = 2, .name = "b.txt", .data = "b", .extended = {ExtendedHeader(0x02, "top\xffsub\xff")}});
  EXPECT_TRUE(reader.FindRootFolder(Archive(Stored(0, "top\\a.txt", "a") + deep)));
  EXPECT_EQ(reader.rootFolder, "top");
  for (const std::string& other : {Stored(0, "x.txt", "x"), Stored(0, "other\\x", "x")})
    EXPECT_FALSE(reader.FindRootFolder(Archive(Stored(0, "top\\a.txt", "a") + other)));
  EXPECT_FALSE(reader.FindRootFolder(Archive("no archive here")));
}

TEST_F(LzhReaderTest, ProbeLooksAt300KiBAndExtractAtTheFirstMiB) {
  std::string member = Stored(0, "sfx.txt", "inside the program");
  for (size_t junk : {size_t{200} * 1024, size_t{310} * 1024}) {
    std::string file = std::string(junk, 'M') + member;
    auto buffer = WorkBuffer();
    std::copy_n(file.begin(), std::min(file.size(), buffer.size()), buffer.begin());
    EXPECT_EQ(LzhReader().Probe(Archive(file), file.size()), junk < 300 * 1024) << junk;
    EXPECT_TRUE(Extract(file)) << junk;
    EXPECT_EQ(ReadFile(Out("sfx.txt")), "inside the program");
  }
  EXPECT_FALSE(Extract(std::string(1100 * 1024, 'M') + member));
}

#ifndef _WIN32
TEST_F(LzhReaderTest, Cp932NamesBecomeUtf8) {
  // "ソフト\表.txt": the second byte of ソ and of 表 is 0x5C.
  ASSERT_TRUE(Extract(Stored(0, "\x83\x5c\x83\x74\x83\x67\\\x95\x5c.txt", "sjis")));
  EXPECT_EQ(ReadFile(Out("\xe3\x82\xbd\xe3\x83\x95\xe3\x83\x88/\xe8\xa1\xa8.txt")), "sjis");
}
#endif

}  // namespace
}  // namespace quindo::test
