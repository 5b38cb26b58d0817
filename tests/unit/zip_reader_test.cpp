// The ZIP reader over archives built in memory: the header scan, names,
// integrity checks, overwrite and folder entries, encryption and prompts.
#include "zip/zip_reader.h"

#include <gtest/gtest.h>

#include "app/path_utils.h"
#include "tests/support/test_support.h"
#include "tests/unit/zip_fixture.h"

namespace quindo {
namespace {

using test::ExtractInMemory;
using test::Member;
using test::MemberSpec;
using test::MemoryTarget;
using test::ZipBuilder;

const std::string kSep(1, platform::kPathSeparator);

std::string Text(size_t n) {
  std::string s;
  for (size_t i = 0; s.size() < n; ++i) s += "line " + std::to_string(i * 7919 % 1000) + "\n";
  s.resize(n);
  return s;
}

MemberSpec Locked(std::string name, std::string data, std::string password, uint16_t method = 8) {
  MemberSpec m = Member(std::move(name), std::move(data), method);
  m.password = std::move(password);
  return m;
}

class ZipReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { BuildLeadByteTable(); }
  test::ScopedUi ui;
  ZipReader reader;
  MemoryTarget target;
};

TEST_F(ZipReaderTest, StoredAndDeflatedMembersComeOutWithTheirTimes) {
  const std::string big = Text(3 * 1024 * 1024);  // several work-buffer rounds
  std::string zip = ZipBuilder()
                        .Add(Member("a.txt", "hello", 0))
                        .Add(Member("dir/big.txt", big))
                        .Add(Member("empty", "", 0))
                        .Add(Member("empty-deflated", ""))
                        .Finish();
  EXPECT_TRUE(ExtractInMemory(reader, zip, target));
  EXPECT_EQ(target.files["a.txt"], "hello");
  EXPECT_EQ(target.files["dir" + kSep + "big.txt"], big);
  EXPECT_EQ(target.files.count("empty") + target.files.count("empty-deflated"), 2u);
  EXPECT_EQ(target.folders, std::set<std::string>{"dir"});
  EXPECT_EQ(target.times["a.txt"], std::make_pair(test::kDosDate, test::kDosTime));
  EXPECT_EQ(reader.progressPercent, 100u);
}

TEST_F(ZipReaderTest, ScanSkipsJunkAndHeadersThatAreNoMembersAndCutsLongNames) {
  std::string zip = ZipBuilder()
                        .Raw("MZ junk PPPK PK\x03 PPK")  // a prefix of P bytes before the signature
                        .Add(Member("one", "1", 0))
                        .Raw("PK\x03\x04garbage that fails to parse")
                        .Raw(std::string("PK\x03\x04\x14\x00\x00\x00\x0d\x00", 10) + std::string(20, '\0'))  // method 13
                        .Add(Member(std::string("bad\0name", 8), "x", 0))
                        .Add(Member(std::string(300, 'n'), "long", 0))
                        .Add(Member("two", "2"))
                        .Finish();
  EXPECT_TRUE(ExtractInMemory(reader, zip, target));
  EXPECT_EQ(target.files, (std::map<std::string, std::string>{
                              {"one", "1"}, {"two", "2"}, {std::string(kMaxNameLength, 'n'), "long"}}));
}

TEST_F(ZipReaderTest, DamagedMembersFailTheWalkButEveryMemberIsTried) {
  MemberSpec wrongCrc = Member("crc", Text(5000));
  wrongCrc.badCrc = true;
  MemberSpec cut = Member("cut", Text(70000)), cutStored = Member("cut-stored", Text(500), 0);
  cut.truncateData = 100;
  cutStored.truncateData = 10;
  MemberSpec badDeflate = Member("bad", Text(100));
  badDeflate.raw = std::string(8, '\xff');  // a block type that does not exist
  for (const MemberSpec& m : {wrongCrc, cut, cutStored, badDeflate}) {
    SCOPED_TRACE(m.name);
    MemoryTarget t;
    ZipBuilder b;
    b.Add(m);
    // Cut data would run into what follows: with nothing after it, the
    // member must not take that for its end.
    std::string zip = m.truncateData ? b.bytes : b.Add(Member("after", "ok", 0)).Finish();
    EXPECT_FALSE(ExtractInMemory(reader, zip, t));
    ASSERT_EQ(t.files.count(m.name), 1u);  // kept as written: what decoded, no more
    const std::string& kept = t.files[m.name];
    EXPECT_EQ(kept, m.badCrc ? m.data : m.data.substr(0, kept.size()));
    EXPECT_EQ(t.files["after"], m.truncateData ? "" : "ok");
  }
}

TEST_F(ZipReaderTest, WriteErrorsFailTheMember) {
  target.failWritesAfter = 1000;
  EXPECT_FALSE(ExtractInMemory(reader, ZipBuilder().Add(Member("big", Text(100000))).Finish(), target));
}

TEST_F(ZipReaderTest, DataDescriptorMembersWithoutSizesAreReadToTheirEnd) {
  MemberSpec streamed = Member("streamed", Text(200000)), storedEmpty = Member("stored-empty", "", 0);
  streamed.descriptor = streamed.zeroSizes = storedEmpty.descriptor = storedEmpty.zeroSizes = true;
  std::string zip = ZipBuilder().Add(streamed).Add(storedEmpty).Add(Member("after", "a", 0)).Finish();
  EXPECT_TRUE(ExtractInMemory(reader, zip, target));
  EXPECT_EQ(target.files, (std::map<std::string, std::string>{
                              {"streamed", streamed.data}, {"stored-empty", ""}, {"after", "a"}}));

  // Stored data without sizes cannot be told from what follows: a failure,
  // not an empty file passed off as the member.
  MemberSpec storedData = Member("stored", "some data", 0);
  storedData.descriptor = storedData.zeroSizes = true;
  MemoryTarget t;
  EXPECT_FALSE(ExtractInMemory(reader, ZipBuilder().Add(storedData).Finish(), t));
}

TEST_F(ZipReaderTest, ForeignMethodsAndStrongEncryptionEndCleanlyAsFailures) {
  std::string zip = ZipBuilder().Add(Member("bz", "whatever", 0)).Add(Member("ok", "fine", 0)).Finish();
  zip[8] = 12;  // bzip2
  EXPECT_FALSE(ExtractInMemory(reader, zip, target));
  EXPECT_EQ(target.files, (std::map<std::string, std::string>{{"ok", "fine"}}));

  MemberSpec strong = Locked("strong", "secret", "pw", 0);
  strong.extraFlags = 0x40;
  MemoryTarget t;
  EXPECT_FALSE(ExtractInMemory(reader, ZipBuilder().Add(strong).Finish(), t));
  EXPECT_TRUE(t.files.empty());
  EXPECT_EQ(ui.ui.passwordPrompts, 0);
}

TEST_F(ZipReaderTest, OverwriteOffLeavesExistingFilesAndFolderEntriesMakeFolders) {
  std::string zip = ZipBuilder().Add(Member("keep.txt", "new", 0)).Add(Member("dir/sub/", "", 0)).Finish();
  target.files["keep.txt"] = "old";
  reader.overwrite = false;
  EXPECT_TRUE(ExtractInMemory(reader, zip, target));
  EXPECT_EQ(target.files, (std::map<std::string, std::string>{{"keep.txt", "old"}}));
  EXPECT_EQ(target.folders, (std::set<std::string>{"dir", "dir" + kSep + "sub"}));
  EXPECT_TRUE(target.times.empty());  // neither the kept file nor a folder entry is dated

  reader.overwrite = true;
  EXPECT_TRUE(ExtractInMemory(reader, zip, target));
  EXPECT_EQ(target.files["keep.txt"], "new");
}

TEST_F(ZipReaderTest, SecurityWarningNamesTheDisguisedFile) {
  std::string zip = ZipBuilder()
                        .Add(Member("docs/meeting-notes-2006.doc.exe", "MZ", 0))
                        .Add(Member("setup.exe", "MZ", 0))
                        .Finish();
  reader.securityCheck = true;
  EXPECT_TRUE(ExtractInMemory(reader, zip, target));
  ASSERT_EQ(ui.ui.boxes.size(), 1u);
  EXPECT_TRUE(ui.ui.boxes[0].fromWorker);
  EXPECT_EQ(ui.ui.boxes[0].title, "セキュリティ");
  EXPECT_NE(ui.ui.boxes[0].text.find("ファイル：meeting-notes-2006.doc.exe\n"), std::string::npos);
  EXPECT_EQ(target.files.size(), 2u);  // extraction goes on after the warning
}

TEST_F(ZipReaderTest, OnePromptOpensEveryMemberWithTheSamePassword) {
  ZipBuilder builder;
  for (int i = 0; i < 5; ++i) {
    MemberSpec m = Locked("m" + std::to_string(i), Text(1000 + i), "secret", i % 2 ? 0 : 8);
    m.descriptor = i == 3;
    builder.Add(m);
    if (i == 2) builder.Add(Member("plain", "no password", 0));
  }
  ui.ui.passwords = {"secret"};
  EXPECT_TRUE(ExtractInMemory(reader, builder.Finish(), target));
  EXPECT_EQ(ui.ui.passwordPrompts, 1);
  EXPECT_EQ(target.files.size(), 6u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(target.files["m" + std::to_string(i)], Text(1000 + i)) << i;
  EXPECT_EQ(target.files["plain"], "no password");
}

TEST_F(ZipReaderTest, WrongPasswordsAreAskedAgainThenEndTheWalkAsFailure) {
  std::string zip = ZipBuilder().Add(Locked("first", Text(800), "right")).Add(Member("later", "l", 0)).Finish();
  ui.ui.passwords = {"wrong", "right"};
  EXPECT_TRUE(ExtractInMemory(reader, zip, target));
  EXPECT_EQ(ui.ui.passwordPrompts, 2);

  MemoryTarget t;
  ZipReader again;
  ui.ui.passwordPrompts = 0;
  ui.ui.passwords = {"a", "b", "c", "right"};
  EXPECT_FALSE(ExtractInMemory(again, zip, t));
  EXPECT_EQ(ui.ui.passwordPrompts, 3);
  EXPECT_TRUE(t.files.empty());  // the member's file is removed, later ones untouched
  EXPECT_FALSE(again.cancelRequested);
}

TEST_F(ZipReaderTest, CancelInThePromptStopsAsCancel) {
  ui.ui.passwords = {test::kCancelAnswer};
  std::string zip = ZipBuilder().Add(Locked("x", "data", "pw")).Add(Member("y", "y", 0)).Finish();
  EXPECT_FALSE(ExtractInMemory(reader, zip, target));
  EXPECT_TRUE(reader.cancelRequested);
  EXPECT_TRUE(target.files.empty());
}

TEST_F(ZipReaderTest, DescriptorMembersCheckTheTimeNotTheCrcByte) {
  MemberSpec m = Locked("t", "payload", "pw", 0);
  m.descriptor = true;
  std::string zip = ZipBuilder().Add(m).Finish();
  // A header with another time must refuse the right password.
  std::string other = zip;
  other[10] = static_cast<char>(other[10] ^ 0x20);
  ui.ui.passwords = {"pw", "pw", "pw"};
  EXPECT_FALSE(ExtractInMemory(reader, other, target));
  EXPECT_EQ(ui.ui.passwordPrompts, 3);
  ui.ui.passwords = {"pw"};
  MemoryTarget t;
  ZipReader fresh;
  EXPECT_TRUE(ExtractInMemory(fresh, zip, t));
  EXPECT_EQ(t.files["t"], "payload");
}

TEST(LooksLikeUtf8, JudgesStoredNames) {
  const struct {
    const char* name;
    bool utf8;
  } cases[] = {
      {"plain.txt", true},
      {"\xe8\xa1\xa8\xe3\x81\xa0\xe3\x82\x88.txt", true},  // UTF-8 表だよ
      {"\x95\\\x82\xbe\x82\xe6.txt", false},               // Shift-JIS 表だよ
      {"\xb1\xb2\xb3", true},                              // half-width katakana only
      {"\x82\xa0\xb1", true},                              // double plus kana, nothing else
      {"\x87\x40\xb1", false},                             // ... plus a vendor character
      {"\x82\x20", true},                                  // a bad trail byte
      {"ab\x82", false},                                   // a lead byte left at the end
      {"\xc2\xa9", true},
  };
  for (const auto& c : cases) EXPECT_EQ(LooksLikeUtf8(c.name), c.utf8) << c.name;
}

TEST(MemberNameForSystem, ConvertsToTheSystemCodePage) {
  BuildLeadByteTable();
  const std::string sjis = "\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\x90\xa2\x8a\x45.txt";
  const std::string utf8 = "\xe3\x81\x93\xe3\x82\x93\xe3\x81\xab\xe3\x81\xa1\xe3\x81\xaf\xe4\xb8\x96\xe7\x95\x8c.txt";
  const bool onUtf8 = SystemCodePage().Id() == CodePageId::Utf8;
  EXPECT_EQ(MemberNameForSystem("plain.txt", true), "plain.txt");
  EXPECT_EQ(MemberNameForSystem("plain.txt", false), "plain.txt");
  EXPECT_EQ(MemberNameForSystem(sjis, true), onUtf8 ? utf8 : sjis);
  EXPECT_EQ(MemberNameForSystem(utf8, true), onUtf8 ? utf8 : sjis);
  EXPECT_EQ(MemberNameForSystem(onUtf8 ? sjis : utf8, false), utf8);
}

TEST_F(ZipReaderTest, RootFolderIsTheCommonFirstFolder) {
  auto root = [&](std::initializer_list<const char*> names) {
    ZipBuilder b;
    for (const char* n : names) b.Add(Member(n, "", 0));
    return test::RootOf(reader, b.Finish()) ? reader.rootFolder : "(none)";
  };
  EXPECT_EQ(root({"a/x", "A/y"}), "(none)");
  EXPECT_EQ(root({"a/x", "a\\b/y"}), "a");
  EXPECT_EQ(root({"a/x", "top"}), "(none)");
  EXPECT_EQ(root({}), "");
  // The root is the folder the members land in, not the stored text.
  EXPECT_EQ(root({"../a/x", "../a/y"}), "__");
}

TEST_F(ZipReaderTest, ProbeTakesTheFirstHeaderThatPassesThePreCheck) {
  std::string zip = ZipBuilder().Add(Member("a", "x", 0)).Finish();
  EXPECT_TRUE(test::ProbeInMemory(reader, zip));
  EXPECT_TRUE(test::ProbeInMemory(reader, std::string(5000, 'M') + zip));  // appended to a program
  EXPECT_FALSE(test::ProbeInMemory(reader, "not an archive at all, just some text that is long enough"));
  zip[8] = 12;  // passes the pre-check, not the parser
  EXPECT_FALSE(test::ProbeInMemory(reader, zip));
}

}  // namespace
}  // namespace quindo
