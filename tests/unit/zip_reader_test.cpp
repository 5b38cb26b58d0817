// The ZIP reader over archives built in memory: the header scan, names,
// integrity checks, overwrite and folder entries, encryption and prompts.
#include "zip/zip_reader.h"

#include <gtest/gtest.h>

#include <deque>

#include "app/path_utils.h"
#include "tests/support/test_support.h"
#include "tests/unit/zip_fixture.h"

namespace quindo {
namespace {

using test::ExtractInMemory;
using test::Member;
using test::MemberLayout;
using test::MemoryTarget;
using test::Text;
using test::ZipBuilder;
using Files = std::map<std::string, std::string>;

const std::string kSep(1, platform::kPathSeparator);

class ZipReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { BuildLeadByteTable(); }
  test::ScopedUi ui;
  ZipReader reader;
  MemoryTarget target;
};

TEST_F(ZipReaderTest, StoredAndDeflatedMembersComeOutWithTheirTimes) {
  const std::string big = Text(3 * 1024 * 1024);  // several work-buffer rounds
  std::string zip = ZipBuilder().Add(Member("a.txt", "hello", 0)).Add(Member("dir/big.txt", big))
                        .Add(Member("empty", "", 0)).Add(Member("empty-deflated", "")).Finish();
  EXPECT_TRUE(ExtractInMemory(reader, zip, target));
  EXPECT_EQ(target.files, (Files{{"a.txt", "hello"}, {"dir" + kSep + "big.txt", big}, {"empty", ""}, {"empty-deflated", ""}}));
  EXPECT_EQ(target.folders, std::set<std::string>{"dir"});
  EXPECT_EQ(target.times["a.txt"], std::make_pair(test::kDosDate, test::kDosTime));
  EXPECT_EQ(reader.progressPercent, 100u);
}

TEST_F(ZipReaderTest, ScanSkipsJunkAndHeadersThatAreNoMembersAndCutsLongNames) {
  ZipBuilder b;
  b.bytes = "MZ junk PPPK PK\x03 PPK";  // a prefix of P bytes before the signature
  b.Add(Member("one", "1", 0)).bytes += "PK\x03\x04garbage that fails to parse";
  b.bytes += std::string("PK\x03\x04\x14\x00\x00\x00\x0d\x00", 10) + std::string(20, '\0');  // method 13
  b.Add(Member(std::string("bad\0name", 8), "x", 0)).Add(Member(std::string(300, 'n'), "long", 0)).Add(Member("two", "2"));
  EXPECT_TRUE(ExtractInMemory(reader, b.Finish(), target));
  EXPECT_EQ(target.files, (Files{{"one", "1"}, {"two", "2"}, {std::string(kMaxNameLength, 'n'), "long"}}));
}

TEST_F(ZipReaderTest, DamagedMembersAndWriteErrorsFailTheWalkButEveryMemberIsTried) {
  MemberLayout wrongCrc = Member("crc", Text(5000)), cut = Member("cut", Text(70000));
  MemberLayout cutStored = Member("cut-stored", Text(500), 0), badDeflate = Member("bad", Text(100));
  wrongCrc.badCrc = true;
  cut.truncateData = 100;
  cutStored.truncateData = 10;
  badDeflate.raw = std::string(8, '\xff');  // a block type that does not exist
  for (const MemberLayout& m : {wrongCrc, cut, cutStored, badDeflate}) {
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
  target.failWritesAfter = 1000;  // a full disk
  EXPECT_FALSE(ExtractInMemory(reader, ZipBuilder().Add(Member("big", Text(100000))).Finish(), target));
}

TEST_F(ZipReaderTest, DataDescriptorMembersWithoutSizesAreReadToTheirEnd) {
  // Stored data ends at the descriptor that gives its own length: a look-alike
  // with another length inside the data, or a whole archive stored as a
  // member, must not end it or add members.
  const std::string inner = ZipBuilder().Add(Member("inner", "not a member here", 0)).Finish();
  MemberLayout streamed = Member("streamed", Text(200000)), storedEmpty = Member("stored-empty", "", 0);
  MemberLayout storedData = Member("stored", "a PK\x07\x08 look-alike" + std::string(12, '\0') + Text(3000000), 0);
  MemberLayout storedZip = Member("inner.zip", inner, 0), secret = Member("secret", "stored and encrypted", 0, "pw");
  for (MemberLayout* m : {&streamed, &storedEmpty, &storedData, &storedZip, &secret}) m->descriptor = m->zeroSizes = true;
  ui.ui.passwords = {"pw"};
  std::string zip = ZipBuilder().Add(streamed).Add(storedEmpty).Add(storedData).Add(storedZip).Add(secret)
                        .Add(Member("after", "a", 0)).Finish();
  EXPECT_TRUE(ExtractInMemory(reader, zip, target));
  EXPECT_EQ(target.files, (Files{{"streamed", streamed.data}, {"stored-empty", ""}, {"stored", storedData.data},
                                 {"inner.zip", inner}, {"secret", secret.data}, {"after", "a"}}));
  // Passed over when it is not written either.
  MemoryTarget kept;
  kept.files["inner.zip"] = "mine";
  reader.overwrite = false;
  ui.ui.passwords = {"pw"};
  EXPECT_TRUE(ExtractInMemory(reader, zip, kept));
  EXPECT_EQ(std::make_pair(kept.files.count("inner"), kept.files["inner.zip"]), std::make_pair(size_t{0}, std::string("mine")));
  reader.overwrite = true;
  // With no descriptor to end it the data cannot be told from what follows:
  // a failure, not an empty file passed off as the member.
  MemoryTarget t;
  ZipBuilder unended;
  unended.Add(storedData).bytes.resize(unended.bytes.size() - 16);
  EXPECT_FALSE(ExtractInMemory(reader, unended.Add(Member("after", "a", 0)).Finish(), t));
  EXPECT_EQ(t.files["after"], "a");
}

TEST_F(ZipReaderTest, ForeignMethodsAndStrongEncryptionEndCleanlyAsFailures) {
  std::string zip = ZipBuilder().Add(Member("bz", "whatever", 0)).Add(Member("ok", "fine", 0)).Finish();
  zip[8] = 12;  // bzip2
  EXPECT_FALSE(ExtractInMemory(reader, zip, target));
  EXPECT_EQ(target.files, (Files{{"ok", "fine"}}));

  MemberLayout strong = Member("strong", "secret", 0, "pw");
  strong.extraFlags = 0x40;
  MemoryTarget t;
  EXPECT_FALSE(ExtractInMemory(reader, ZipBuilder().Add(strong).Finish(), t));
  EXPECT_EQ(t.files.size() + ui.ui.passwordPrompts, 0u);  // nothing written, nothing asked
}

TEST_F(ZipReaderTest, OverwriteOffLeavesExistingFilesAndFolderEntriesMakeFolders) {
  std::string zip = ZipBuilder().Add(Member("keep.txt", "new", 0)).Add(Member("dir/sub/", "", 0)).Finish();
  target.files["keep.txt"] = "old";
  reader.overwrite = false;
  EXPECT_TRUE(ExtractInMemory(reader, zip, target));
  EXPECT_EQ(target.files, (Files{{"keep.txt", "old"}}));
  EXPECT_EQ(target.folders, (std::set<std::string>{"dir", "dir" + kSep + "sub"}));
  EXPECT_TRUE(target.times.empty());  // neither the kept file nor a folder entry is dated

  reader.overwrite = true;
  EXPECT_TRUE(ExtractInMemory(reader, zip, target));
  EXPECT_EQ(target.files["keep.txt"], "new");
}

TEST_F(ZipReaderTest, SecurityWarningNamesTheDisguisedFile) {
  std::string zip = ZipBuilder().Add(Member("docs/meeting-notes-2006.doc.exe", "MZ", 0)).Add(Member("setup.exe", "MZ", 0)).Finish();
  reader.securityCheck = true;
  EXPECT_TRUE(ExtractInMemory(reader, zip, target));
  ASSERT_EQ(ui.ui.boxes.size(), 1u);
  EXPECT_EQ(std::tie(ui.ui.boxes[0].fromWorker, ui.ui.boxes[0].title), std::make_tuple(true, "セキュリティ"));
  EXPECT_NE(ui.ui.boxes[0].text.find("ファイル：meeting-notes-2006.doc.exe\n"), std::string::npos);
  EXPECT_EQ(target.files.size(), 2u);  // extraction goes on after the warning
}

TEST_F(ZipReaderTest, PasswordsArePromptedOnceRetriedThriceAndCancelled) {
  // Five members under one password, mixed methods, one with a descriptor.
  ZipBuilder five;
  Files fiveFiles{{"plain", "no password"}};
  for (int i = 0; i < 5; ++i) {
    MemberLayout m = Member("m" + std::to_string(i), Text(1000 + i), i % 2 ? 0 : 8, "secret");
    m.descriptor = i == 3;
    five.Add(m);
    fiveFiles[m.name] = m.data;
    if (i == 2) five.Add(Member("plain", "no password", 0));
  }
  const std::string first = ZipBuilder().Add(Member("first", Text(800), 8, "right")).Add(Member("later", "l", 0)).Finish();
  // With a descriptor the check is the time: another time refuses the right password.
  MemberLayout timed = Member("t", "payload", 0, "pw");
  timed.descriptor = true;
  const std::string timedZip = ZipBuilder().Add(timed).Finish();
  std::string otherTime = timedZip;
  otherTime[10] ^= 0x20;
  auto run = [&](const std::string& archive, std::deque<std::string> answers, bool cancelled) {
    ZipReader fresh;
    MemoryTarget t;
    ui.ui.passwords = std::move(answers);
    ui.ui.passwordPrompts = 0;
    const bool ok = ExtractInMemory(fresh, archive, t);
    EXPECT_EQ(fresh.cancelRequested, cancelled);
    return std::make_tuple(ok, ui.ui.passwordPrompts, t.files);
  };
  EXPECT_EQ(run(five.Finish(), {"secret"}, false), std::make_tuple(true, 1, fiveFiles));
  EXPECT_EQ(run(first, {"wrong", "right"}, false), std::make_tuple(true, 2, Files{{"first", Text(800)}, {"later", "l"}}));
  // Three wrong: the member's file is removed, later ones untouched.
  EXPECT_EQ(run(first, {"a", "b", "c", "right"}, false), std::make_tuple(false, 3, Files{}));
  EXPECT_EQ(run(first, {test::kCancelAnswer}, true), std::make_tuple(false, 1, Files{}));
  EXPECT_EQ(run(timedZip, {"pw"}, false), std::make_tuple(true, 1, Files{{"t", "payload"}}));
  EXPECT_EQ(run(otherTime, {"pw", "pw", "pw"}, false), std::make_tuple(false, 3, Files{}));
}

TEST(LooksLikeUtf8, JudgesStoredNames) {
  const std::pair<const char*, bool> cases[] = {
      {"plain.txt", true}, {"\xc2\xa9", true},
      {"\xe8\xa1\xa8\xe3\x81\xa0\xe3\x82\x88.txt", true},  // UTF-8 表だよ
      {"\x95\\\x82\xbe\x82\xe6.txt", false},               // Shift-JIS 表だよ
      {"\xb1\xb2\xb3", true},                              // half-width katakana only
      {"\x82\xa0\xb1", true}, {"\x87\x40\xb1", false},     // double plus kana; plus a vendor character
      {"\x82\x20", true}, {"ab\x82", false},               // a bad trail byte; a lead byte left at the end
  };
  for (const auto& [name, utf8] : cases) EXPECT_EQ(LooksLikeUtf8(name), utf8) << name;
}

TEST(MemberNameForSystem, ShiftJisNamesAreConvertedAndUtf8OnlyWhenAllowed) {
  BuildLeadByteTable();
  const std::string sjis = "\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\x90\xa2\x8a\x45.txt", utf8 = "こんにちは世界.txt";
  const bool onUtf8 = SystemCodePage().Id() == CodePageId::Utf8;
  EXPECT_EQ(MemberNameForSystem(sjis, true), onUtf8 ? utf8 : sjis);
  EXPECT_EQ(MemberNameForSystem(utf8, true), onUtf8 ? utf8 : sjis);
  // With the UTF-8 judgement off every name is taken as Shift-JIS.
  EXPECT_EQ(MemberNameForSystem(onUtf8 ? sjis : utf8, false), utf8);
}

TEST_F(ZipReaderTest, RootFolderIsTheCommonFirstFolderAndProbeFindsTheFirstGoodHeader) {
  auto root = [&](std::initializer_list<const char*> names) {
    ZipBuilder b;
    for (const char* n : names) b.Add(Member(n, "", 0));
    const std::string zip = b.Finish();
    MemorySource source(test::Bytes(zip));
    return reader.FindRootFolderIn(source) ? reader.rootFolder : "(none)";
  };
  EXPECT_EQ(root({"a/x", "A/y"}), "(none)");
  EXPECT_EQ(root({"a/x", "a\\b/y"}), "a");
  EXPECT_EQ(root({"a/x", "top"}), "(none)");
  EXPECT_EQ(root({}), "");
  EXPECT_EQ(root({"../a/x", "../a/y"}), "__");  // the folder the members land in, not the stored text
  // An archive stored in a streamed member lends it no names.
  MemberLayout inner = Member("top/inner.zip", ZipBuilder().Add(Member("other/x", "", 0)).Finish(), 0);
  inner.descriptor = inner.zeroSizes = true;
  const std::string outer = ZipBuilder().Add(inner).Add(Member("top/y", "", 0)).Finish();
  MemorySource streamed(test::Bytes(outer));
  EXPECT_TRUE(reader.FindRootFolderIn(streamed));
  EXPECT_EQ(reader.rootFolder, "top");

  std::string zip = ZipBuilder().Add(Member("a", "x", 0)).Finish();
  EXPECT_TRUE(test::ProbeInMemory(reader, std::string(5000, 'M') + zip));  // appended to a program
  zip[8] = 12;  // passes the pre-check, not the parser
  EXPECT_FALSE(test::ProbeInMemory(reader, zip));
}

}  // namespace
}  // namespace quindo
