// Member names from other systems as the walk reads them: the UTF-8 flag,
// the Unicode Path field, the judgement of an archive's names together,
// composed forms and the Mac's metadata (the CP932 forms of JIS characters:
// windows_names_test and the Windows platform check).
#include <gtest/gtest.h>

#include "app/member_names.h"
#include "common/unicode_text.h"
#include "tests/support/walk_fixture.h"
#include "tests/support/zip_fixture.h"
#include "platform/platform.h"

namespace quindo {
namespace {

using test::Member;
using test::MemberLayout;
using test::Put;
using test::ZipBuilder;
using Paths = std::vector<std::string>;

// か with a combining voiced mark, as a Mac stores が.
const std::string kGaDecomposed = "\xE3\x81\x8B\xE3\x82\x99";
const std::string kSjisTable = "\x95\x5C.txt";  // 表.txt in Shift-JIS

std::string UnicodePath(const std::string& stored, const std::string& utf8, uint8_t version = 1,
                        uint32_t crcChange = 0) {
  std::string field;
  Put(field, {{0x7075, 2}, {5 + utf8.size(), 2}, {version, 1}, {Crc32(stored.data(), stored.size()) ^ crcChange, 4}});
  return field + utf8;
}

MemberLayout Named(std::string name, uint16_t flags = 0, std::string extra = "") {
  MemberLayout m = Member(std::move(name), "x", 0);
  m.extraFlags = flags;
  m.extra = std::move(extra);
  return m;
}

struct Planned {
  Paths paths;
  std::string root;
  size_t count = 0;
};

Planned Plan(const std::string& zip, bool useUtf8 = true, bool keepMacMetadata = false) {
  BuildLeadByteTable();
  MemorySource source(test::Bytes(zip));
  ZipReader reader(source);
  ArchivePlan plan;
  EXPECT_TRUE(PlanArchive(reader, useUtf8, plan, nullptr, keepMacMetadata));
  Planned p{{}, plan.rootFolder, plan.memberCount};
  ForEachMember(reader, plan, [&](const PlannedMember& m) { return p.paths.push_back(m.path), true; });
  return p;
}

std::string One(const MemberLayout& m, bool useUtf8 = true) {
  const Paths paths = Plan(ZipBuilder().Add(m).bytes, useUtf8).paths;
  return paths.size() == 1 ? paths[0] : "(" + std::to_string(paths.size()) + " members)";
}

class MemberNamesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (SystemCodePage().Id() != CodePageId::Utf8) GTEST_SKIP() << "names are compared in UTF-8";
  }
};

TEST_F(MemberNamesTest, FlagThenUnicodePathFieldThenTheStoredName) {
  std::string overrun;  // a field that claims more than the extra field holds
  Put(overrun, {{0x7075, 2}, {40, 2}, {1, 1}, {Crc32("x.txt", 5), 4}});
  std::string zip64First;  // the sizes' field does not hide the fields after it
  Put(zip64First, {{0x0001, 2}, {0, 2}});
  const struct {
    MemberLayout member;
    std::string path;
  } cases[] = {
      {Named("caf\xC3\xA9.txt", 0x0800), "café.txt"},
      {Named("x.txt", 0, UnicodePath("x.txt", "emoji😀.txt")), "emoji😀.txt"},
      {Named(kSjisTable, 0, UnicodePath(kSjisTable, "表.txt")), "表.txt"},
      {Named("x.txt", 0, UnicodePath("x.txt", "ka" + kGaDecomposed + ".txt")), "kaが.txt"},
      {Named("x.txt", 0, zip64First + UnicodePath("x.txt", "한국어.txt")), "한국어.txt"},
      // The flag comes first; a field made for another name, of another
      // version, not UTF-8 or cut short is not used.
      {Named("a.txt", 0x0800, UnicodePath("a.txt", "b.txt")), "a.txt"},
      {Named("x.txt", 0, UnicodePath("x.txt", "b.txt", 1, 0x100)), "x.txt"},
      {Named("x.txt", 0, UnicodePath("x.txt", "b.txt", 2)), "x.txt"},
      {Named("x.txt", 0, UnicodePath("x.txt", "\xFF.txt")), "x.txt"},
      {Named("x.txt", 0, overrun + "b.txt"), "x.txt"},
  };
  for (const auto& c : cases) EXPECT_EQ(One(c.member), c.path) << c.member.name;
  // Without UTF-8 detection names are read as stored, whatever marks them.
  EXPECT_EQ(One(Named("x.txt", 0, UnicodePath("x.txt", "b.txt")), false), "x.txt");
  EXPECT_EQ(One(Named("世界.txt", 0x0800), false), "荳也阜.txt");
}

TEST_F(MemberNamesTest, AnArchivesUnmarkedNamesAreJudgedTogether) {
  // A Mac's archive: UTF-8 without the flag, decomposed kana, 〜 as U+301C.
  // 世界 alone reads as valid Shift-JIS (荳也阜).
  ZipBuilder mac;
  for (const std::string& name : {std::string("世界/"), "世界/" + kGaDecomposed + ".txt", std::string("世界/〜.txt")})
    mac.Add(Named(name));
  const Planned p = Plan(mac.bytes);
  EXPECT_EQ(p.paths, (Paths{"世界", "世界/が.txt", "世界/〜.txt"}));
  EXPECT_EQ(p.root, "世界");

  // One Shift-JIS name among them: each name is judged alone, as before.
  const Planned mixed = Plan(ZipBuilder().Add(Named("世界.txt")).Add(Named(kSjisTable)).bytes);
  EXPECT_EQ(mixed.paths, (Paths{"荳也阜.txt", "表.txt"}));
  // Names with a mark do not take part; without detection nothing is UTF-8.
  EXPECT_EQ(Plan(ZipBuilder().Add(Named("世界.txt")).Add(Named(kSjisTable, 0x0800, "")).bytes).paths[0],
            "世界.txt");
  EXPECT_EQ(Plan(mac.bytes, false).paths[0], "荳也阜");
}

TEST_F(MemberNamesTest, MacMetadataIsLeftOutUnlessAsked) {
  const std::string zip = ZipBuilder()
                              .Add(Named("project/a.txt"))
                              .Add(Named("project/._a.txt"))
                              .Add(Named("__MACOSX/"))
                              .Add(Named("__MACOSX/project/._a.txt"))
                              .Add(Named("project/.hidden"))
                              .bytes;
  // Left out of everything: the plan, the count, the root folder, the walk.
  const Planned skipped = Plan(zip);
  EXPECT_EQ(skipped.paths, (Paths{"project/a.txt", "project/.hidden"}));
  EXPECT_EQ(skipped.count, 2u);
  EXPECT_EQ(skipped.root, "project");
  const Planned kept = Plan(zip, true, true);
  EXPECT_EQ(kept.paths.size(), 5u);
  EXPECT_EQ(kept.root, "");

  // Extracted, the skipped members are no failures.
  test::MemoryTree tree;
  test::ScriptedHost host;
  const test::Extracted r = test::ExtractInto(zip, tree, host);
  EXPECT_FALSE(r.record.Failed());
  EXPECT_EQ(r.record.files, 2u);
  EXPECT_EQ(tree.files.size(), 2u);
}

TEST_F(MemberNamesTest, NamesThatMeetWhenComposedBothComeOut) {
  const std::string zip = ZipBuilder()
                              .Add(Member("が.txt", "composed", 0))
                              .Add(Member(kGaDecomposed + ".txt", "decomposed", 0))
                              .bytes;
  test::MemoryTree tree;
  test::ScriptedHost host;
  EXPECT_FALSE(test::ExtractInto(zip, tree, host).record.Failed());
  EXPECT_EQ(tree.files, (std::map<std::string, std::string>{{"が.txt", "composed"}, {"が (2).txt", "decomposed"}}));
}

}  // namespace
}  // namespace quindo
