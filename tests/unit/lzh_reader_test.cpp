// The LZH reader through the extraction walk, into real folders: integrity
// checks, methods it cannot decode, hostile names and links in the way
// (overwrite and the security warning, which the walk does for both formats:
// zip_reader_test).
#include <gtest/gtest.h>
#include <unistd.h>


#include "lzh/lzh_reader.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"
#include "tests/support/walk_fixture.h"
#include "tests/support/lzh_fixture.h"

namespace quindo::test {
namespace {

using Outcomes = std::map<std::string, MemberOutcome>;

std::string Stored(int level, const std::string& name, const std::string& data) {
  return MakeMember({.level = level, .name = name, .data = data});
}

class LzhReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::CreateDirectory(out_); }
  Extracted Extract(const std::string& bytes, ExtractionOptions options = {}) {
    return ExtractToFolder(bytes, out_, host_, options);
  }
  std::string Out(const std::string& relative) { return out_ + "/" + relative; }

  ScratchDir dir_;
  std::string out_ = dir_ / "out";
  ScriptedHost host_;
};

TEST_F(LzhReaderTest, EveryMemberIsTriedAndADamagedMemberLeavesNoFile) {
  std::string sub =
      MakeMember({.level = 2, .name = "c.txt", .data = "charlie", .extended = {ExtendedHeader(0x02, "sub\xff")}});
  std::string bad = MakeMember({.level = 1, .name = "b.txt", .data = "bravo", .badDataCrc = true});
  Extracted r = Extract(Stored(0, "a.txt", "alpha") + bad + sub + '\0');
  EXPECT_EQ(r.format, FormatLzh);
  EXPECT_EQ(r.Outcomes(), (Outcomes{{"b.txt", MemberOutcome::Damaged}}));
  EXPECT_EQ(r.record.written, 2u);
  EXPECT_EQ(ListTree(out_), (std::vector<std::string>{"a.txt", "sub/", "sub/c.txt"}));
  EXPECT_EQ(ReadFile(Out("a.txt")) + ReadFile(Out("sub/c.txt")), "alphacharlie");

  std::string cut = Stored(0, "t.txt", "0123456789");
  EXPECT_EQ(Extract(cut.substr(0, cut.size() - 4)).Outcomes(), (Outcomes{{"t.txt", MemberOutcome::Truncated}}));
  EXPECT_FALSE(Exists(Out("t.txt")));  // nothing cut short under the member's name
}

TEST_F(LzhReaderTest, MethodsWithoutDecoderAndFolderEntries) {
  Extracted r = Extract(MakeMember({.name = "packed.bin", .data = "not really lh4", .method = "-lh4-"}));
  EXPECT_EQ(r.Outcomes(), (Outcomes{{"packed.bin", MemberOutcome::Unsupported}}));
  EXPECT_EQ(r.record.members[0].method, "-lh4-");
  EXPECT_FALSE(Exists(Out("packed.bin")));

  // A folder entry is one without data (or named with a final separator); a
  // member that has the folder bit and data is a file all the same.
  r = Extract(MakeMember({.name = "dir\\", .method = "-lhd-", .attribute = 0x10}) +
              Stored(0, "dir\\in.txt", "inside") + MakeMember({.name = "empty-dir", .method = "-lhd-", .attribute = 0x10}) +
              MakeMember({.name = "meta", .data = "extended attributes", .attribute = 0x10}));
  EXPECT_FALSE(r.record.Failed());
  EXPECT_EQ(ReadFile(Out("dir/in.txt")), "inside");
  EXPECT_EQ(ReadFile(Out("meta")), "extended attributes");
  EXPECT_EQ(platform::QueryPathKind(Out("empty-dir")), platform::PathKind::Folder);
}

TEST_F(LzhReaderTest, HostileNamesStayInsideTheOutputFolder) {
  const std::vector<std::string> linkHeaders = {ExtendedHeader(0x01, "link|../../target"),
                                                ExtendedHeader(0x02, "d\xff")};
  std::string link = MakeMember({.level = 2, .name = "", .method = "-lhd-", .extended = linkHeaders});
  Extract(Stored(0, "..\\..\\evil.txt", "e") + Stored(0, "/abs/x.txt", "x") + Stored(1, "C:\\win.ini", "w") + link +
          Stored(0, "a|b?.txt", "q") + Stored(0, "Photos \\a.jpg", "p") + Stored(0, "...", "3") + Stored(0, ". .", "s"));
  // Nothing outside out/; the link is an ordinary empty file named after
  // link and target; trailing dots and blanks keep names apart.
  EXPECT_EQ(ListTree(dir_.path()),
            (std::vector<std::string>{"out/", "out/. ._", "out/..._", "out/Photos _/", "out/Photos _/a.jpg", "out/__/",
                                      "out/__/__/", "out/__/__/evil.txt", "out/a_b_.txt", "out/abs/", "out/abs/x.txt",
                                      "out/d/", "out/d/link_.._.._target", "out/win.ini"}));
}

TEST_F(LzhReaderTest, LinksInTheOutputFolderAreReplacedNeverFollowed) {
  ScratchDir outside;
  WriteFile(outside / "victim.txt", "precious");
  ASSERT_EQ(::symlink((outside / "victim.txt").c_str(), Out("a.txt").c_str()), 0);
  ASSERT_EQ(::symlink(outside.path().c_str(), Out("sub").c_str()), 0);
  ASSERT_EQ(::symlink((outside / "missing").c_str(), Out("dangling").c_str()), 0);
  const std::string archive = Stored(0, "a.txt", "new") + Stored(0, "sub\\x.txt", "x") + Stored(0, "dangling", "d");
  ExtractionOptions keep;
  keep.overwrite = false;
  Extracted r = Extract(archive, keep);
  EXPECT_EQ(r.Outcomes(), (Outcomes{{"a.txt", MemberOutcome::Kept}, {"sub/x.txt", MemberOutcome::CannotCreate},
                                    {"dangling", MemberOutcome::Kept}}));
  r = Extract(archive);
  EXPECT_EQ(r.Outcomes(), (Outcomes{{"sub/x.txt", MemberOutcome::CannotCreate}}));
  EXPECT_EQ(ListTree(outside.path()), std::vector<std::string>{"victim.txt"});
  EXPECT_EQ(ReadFile(outside / "victim.txt"), "precious");
  EXPECT_EQ(ReadFile(Out("a.txt")) + ReadFile(Out("dangling")), "newd");
  EXPECT_EQ(platform::QueryPathKind(Out("a.txt")), platform::PathKind::File);
}

}  // namespace
}  // namespace quindo::test
