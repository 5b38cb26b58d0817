// LzhReader over small archives written by the tests: integrity checks,
// hostile names, folders, times, the root folder and the first-header
// search.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/path_utils.h"
#include "app/work_buffer.h"
#include "common/file_time.h"
#include "lzh/lzh_reader.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"
#include "tests/unit/lzh_test_streams.h"

namespace quindo::test {
namespace {

// Extracts into <scratch>/out, as the job does: from inside the folder.
class LzhReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BuildLeadByteTable();
    out_ = dir_ / "out";
    platform::CreateDirectory(out_);
    saved_ = platform::GetCurrentDirectory();
  }
  void TearDown() override { platform::SetCurrentDirectory(saved_); }

  std::string Archive(const std::string& bytes) {
    std::string path = dir_ / "test.lzh";
    WriteFile(path, bytes);
    return path;
  }
  bool Extract(LzhReader& reader, const std::string& bytes) {
    std::string path = Archive(bytes);
    platform::SetCurrentDirectory(out_);
    bool ok = reader.Extract(path, out_);
    platform::SetCurrentDirectory(saved_);
    return ok;
  }
  bool Extract(const std::string& bytes) {
    LzhReader reader;
    return Extract(reader, bytes);
  }
  std::string Out(const std::string& relative) { return out_ + "/" + relative; }

  ScratchDir dir_;
  std::string out_, saved_;
};

MemberLayout Stored(int level, const std::string& name, const std::string& data) {
  MemberLayout s;
  s.level = level;
  s.name = name;
  s.data = data;
  return s;
}

TEST_F(LzhReaderTest, EveryMemberIsTriedAndABadCrcFailsTheArchive) {
  MemberLayout bad = Stored(1, "b.txt", "bravo");
  bad.badDataCrc = true;
  MemberLayout sub = Stored(2, "c.txt", "charlie");
  sub.extended = {ExtendedHeader(0x02, "sub\xff")};
  std::string archive = MakeMember(Stored(0, "a.txt", "alpha")) + MakeMember(bad) + MakeMember(sub) + '\0';
  EXPECT_FALSE(Extract(archive));
  EXPECT_EQ(ReadFile(Out("a.txt")), "alpha");
  EXPECT_EQ(ReadFile(Out("b.txt")), "bravo");
  EXPECT_EQ(ReadFile(Out("sub/c.txt")), "charlie");

  EXPECT_TRUE(Extract(MakeMember(Stored(0, "a.txt", "alpha")) + MakeMember(sub)));
}

TEST_F(LzhReaderTest, TruncatedMemberKeepsWhatWasThereAndFails) {
  std::string member = MakeMember(Stored(0, "t.txt", "0123456789"));
  EXPECT_FALSE(Extract(member.substr(0, member.size() - 4)));
  EXPECT_EQ(ReadFile(Out("t.txt")), "012345");
}

TEST_F(LzhReaderTest, MethodsWithoutDecoderAndFolderEntries) {
  MemberLayout lh4 = Stored(0, "packed.bin", "not really lh4");
  lh4.method = "-lh4-";
  EXPECT_FALSE(Extract(MakeMember(lh4)));
  EXPECT_TRUE(Exists(Out("packed.bin")));
  EXPECT_EQ(ReadFile(Out("packed.bin")), "");

  MemberLayout folder = Stored(0, "dir\\", "");
  folder.method = "-lhd-";
  folder.attribute = 0x10;
  // A member flagged as a folder holds folder metadata, not a file.
  MemberLayout metadata = Stored(0, "meta", "extended attributes");
  metadata.attribute = 0x10;
  EXPECT_TRUE(Extract(MakeMember(folder) + MakeMember(Stored(0, "dir\\in.txt", "inside")) + MakeMember(metadata)));
  EXPECT_EQ(ReadFile(Out("dir/in.txt")), "inside");
  platform::FileInfo info;
  ASSERT_TRUE(platform::GetFileInfo(Out("meta"), info));
  EXPECT_TRUE(info.attributes & platform::kAttrDirectory);
}

TEST_F(LzhReaderTest, HostileNamesStayInsideTheOutputFolder) {
  MemberLayout link = Stored(2, "", "");
  link.method = "-lhd-";
  link.extended = {ExtendedHeader(0x01, "link|../../target"), ExtendedHeader(0x02, "d\xff")};
  std::string archive = MakeMember(Stored(0, "..\\..\\evil.txt", "e")) + MakeMember(Stored(0, "/abs/x.txt", "x")) +
                        MakeMember(Stored(1, "C:\\win.ini", "w")) + MakeMember(link) +
                        MakeMember(Stored(0, "a|b?.txt", "q"));
  EXPECT_TRUE(Extract(archive));
  std::vector<std::string> all = ListTree(dir_.path());
  for (const std::string& f : all)
    EXPECT_TRUE(f == "test.lzh" || f.rfind("out/", 0) == 0) << f;
  EXPECT_EQ(ReadFile(Out("__/__/evil.txt")), "e");
  EXPECT_EQ(ReadFile(Out("abs/x.txt")), "x");
  EXPECT_EQ(ReadFile(Out("win.ini")), "w");
  EXPECT_TRUE(Exists(Out("a_b_.txt")));
  // The link is an ordinary empty file named after link and target.
  std::vector<std::string> inD;
  for (const std::string& f : all)
    if (f.rfind("out/d/", 0) == 0 && f.back() != '/') inD.push_back(f);
  ASSERT_EQ(inD.size(), 1u) << ::testing::PrintToString(all);
  EXPECT_EQ(inD[0], "out/d/link_.._.._target");
}

TEST_F(LzhReaderTest, OverwriteOffLeavesExistingFilesAlone) {
  WriteFile(Out("keep.txt"), "original");
  LzhReader reader;
  reader.overwrite = false;
  EXPECT_TRUE(Extract(reader, MakeMember(Stored(0, "keep.txt", "replacement")) + MakeMember(Stored(0, "new.txt", "n"))));
  EXPECT_EQ(ReadFile(Out("keep.txt")), "original");
  EXPECT_EQ(ReadFile(Out("new.txt")), "n");
}

TEST_F(LzhReaderTest, SecurityCheckWarnsAboutDisguisedProgramsAndGoesOn) {
  ScopedUi scoped;
  LzhReader reader;
  reader.securityCheck = true;
  EXPECT_TRUE(Extract(reader, MakeMember(Stored(0, "abcdefghijklmnopqr.exe", "MZ")) +
                                  MakeMember(Stored(0, "setup.exe", "MZ"))));
  ASSERT_EQ(scoped.ui.boxes.size(), 1u);
  EXPECT_TRUE(scoped.ui.boxes[0].fromWorker);
  EXPECT_EQ(scoped.ui.boxes[0].title, "セキュリティ");
  EXPECT_NE(scoped.ui.boxes[0].text.find("ファイル：abcdefghijklmnopqr.exe\n"), std::string::npos);
  EXPECT_EQ(ReadFile(Out("abcdefghijklmnopqr.exe")), "MZ");
}

TEST_F(LzhReaderTest, TimesOfEachLevel) {
  MemberLayout unixTime = Stored(2, "epoch.txt", "1970");
  unixTime.time = 0;
  MemberLayout dosTime = Stored(0, "dos.txt", "2006");
  DosDateTime dos{static_cast<uint16_t>(((2006 - 1980) << 9) | (7 << 5) | 30), static_cast<uint16_t>(12 << 11)};
  dosTime.time = (uint32_t{dos.date} << 16) | dos.time;
  ASSERT_TRUE(Extract(MakeMember(unixTime) + MakeMember(dosTime)));
  platform::FileInfo info;
  ASSERT_TRUE(platform::GetFileInfo(Out("epoch.txt"), info));
  EXPECT_EQ(UnixFromFileTime(info.writeTime), 0);
  ASSERT_TRUE(platform::GetFileInfo(Out("dos.txt"), info));
  EXPECT_EQ(UnixFromFileTime(info.writeTime), *UnixFromDosLocal(dos));
}

TEST_F(LzhReaderTest, RootFolderOfTheMembers) {
  LzhReader reader;
  MemberLayout deep = Stored(2, "b.txt", "b");
  deep.extended = {ExtendedHeader(0x02, "top\xffsub\xff")};
  EXPECT_TRUE(reader.FindRootFolder(Archive(MakeMember(Stored(0, "top\\a.txt", "a")) + MakeMember(deep))));
  EXPECT_EQ(reader.rootFolder, "top");
  EXPECT_FALSE(reader.FindRootFolder(Archive(MakeMember(Stored(0, "top\\a.txt", "a")) + MakeMember(Stored(0, "x.txt", "x")))));
  EXPECT_FALSE(reader.FindRootFolder(Archive(MakeMember(Stored(0, "top\\a.txt", "a")) + MakeMember(Stored(0, "other\\x", "x")))));
  EXPECT_FALSE(reader.FindRootFolder(Archive("no archive here")));
}

TEST_F(LzhReaderTest, ProbeLooksAt300KiBAndExtractAtTheFirstMiB) {
  std::string member = MakeMember(Stored(0, "sfx.txt", "inside the program"));
  for (size_t junk : {size_t{200} * 1024, size_t{310} * 1024}) {
    std::string file = std::string(junk, 'M') + member;
    std::string path = Archive(file);
    auto buffer = WorkBuffer();
    std::copy_n(file.begin(), std::min(file.size(), buffer.size()), buffer.begin());
    LzhReader reader;
    EXPECT_EQ(reader.Probe(path, file.size()), junk < 300 * 1024) << junk;
    EXPECT_TRUE(Extract(file)) << junk;
    EXPECT_EQ(ReadFile(Out("sfx.txt")), "inside the program");
  }
  EXPECT_FALSE(Extract(std::string(1100 * 1024, 'M') + member));
}

#ifndef _WIN32
TEST_F(LzhReaderTest, Cp932NamesBecomeUtf8) {
  // "ソフト\表.txt": the second byte of ソ and of 表 is 0x5C.
  std::string name = "\x83\x5c\x83\x74\x83\x67\\\x95\x5c.txt";
  ASSERT_TRUE(Extract(MakeMember(Stored(0, name, "sjis"))));
  EXPECT_EQ(ReadFile(Out("\xe3\x82\xbd\xe3\x83\x95\xe3\x83\x88/\xe8\xa1\xa8.txt")), "sjis");
}
#endif

}  // namespace
}  // namespace quindo::test
