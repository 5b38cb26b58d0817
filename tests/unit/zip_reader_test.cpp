// The ZIP reader over archives built in memory: the header scan, names,
// integrity checks, overwrite and folder entries, encryption and prompts.
#include "zip/zip_reader.h"

#include <gtest/gtest.h>

#include "app/path_utils.h"
#include "tests/support/test_support.h"
#include "tests/unit/zip_fixture.h"

namespace quindo {
namespace {

using test::MemberSpec;
using test::MemoryTarget;
using test::ZipBuilder;

const std::string kSep(1, platform::kPathSeparator);

MemberSpec Member(std::string name, std::string data, uint16_t method = 8) {
  MemberSpec m;
  m.name = std::move(name);
  m.data = std::move(data);
  m.method = method;
  return m;
}

std::string Text(size_t n) {
  std::string s;
  for (size_t i = 0; s.size() < n; ++i) s += "line " + std::to_string(i * 7919 % 1000) + "\n";
  s.resize(n);
  return s;
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
  EXPECT_TRUE(test::ExtractInMemory(reader, zip, target));
  EXPECT_EQ(target.files["a.txt"], "hello");
  EXPECT_EQ(target.files["dir" + kSep + "big.txt"], big);
  EXPECT_EQ(target.files.count("empty"), 1u);
  EXPECT_EQ(target.files.count("empty-deflated"), 1u);
  EXPECT_EQ(target.folders, std::set<std::string>{"dir"});
  EXPECT_EQ(target.times["a.txt"].second, 0x6000);
  EXPECT_EQ(reader.progressPercent, 100u);
}

TEST_F(ZipReaderTest, ScanSkipsJunkAndHeadersThatAreNoMembers) {
  std::string zip = ZipBuilder()
                        .Raw("MZ junk PPPK PK\x03 PPK")  // a prefix of P bytes before the signature
                        .Add(Member("one", "1", 0))
                        .Raw("PK\x03\x04garbage that fails to parse")
                        .Raw(std::string("PK\x03\x04\x14\x00\x00\x00\x0d\x00", 10) + std::string(20, '\0'))  // method 13
                        .Add(Member("two", "2"))
                        .Finish();
  EXPECT_TRUE(test::ExtractInMemory(reader, zip, target));
  EXPECT_EQ(target.files.size(), 2u);
  EXPECT_EQ(target.files["one"], "1");
  EXPECT_EQ(target.files["two"], "2");
}

TEST_F(ZipReaderTest, NameWithNulIsNoMemberAndLongNamesAreCut) {
  std::string zip = ZipBuilder()
                        .Add(Member(std::string("bad\0name", 8), "x", 0))
                        .Add(Member(std::string(300, 'n'), "long", 0))
                        .Finish();
  EXPECT_TRUE(test::ExtractInMemory(reader, zip, target));
  ASSERT_EQ(target.files.size(), 1u);
  EXPECT_EQ(target.files.begin()->first, std::string(kMaxNameLength, 'n'));
}

TEST_F(ZipReaderTest, DamagedMembersFailTheWalkButEveryMemberIsTried) {
  MemberSpec wrongCrc = Member("crc", Text(5000));
  wrongCrc.badCrc = true;
  MemberSpec cut = Member("cut", Text(70000));
  cut.truncateData = 100;
  MemberSpec cutStored = Member("cut-stored", Text(500), 0);
  cutStored.truncateData = 10;
  {
    std::string zip = ZipBuilder().Add(wrongCrc).Add(Member("after", "ok", 0)).Finish();
    EXPECT_FALSE(test::ExtractInMemory(reader, zip, target));
    EXPECT_EQ(target.files["crc"], wrongCrc.data);  // kept as written
    EXPECT_EQ(target.files["after"], "ok");
  }
  for (const MemberSpec& m : {cut, cutStored}) {
    MemoryTarget t;
    std::string zip = ZipBuilder().Add(m).Finish();
    // The cut data runs into the central directory, which must not help.
    zip.resize(ZipBuilder().Add(m).bytes.size());
    EXPECT_FALSE(test::ExtractInMemory(reader, zip, t)) << m.name;
    EXPECT_EQ(t.files.count(m.name), 1u);
  }
  {
    // DEFLATE data that breaks its format.
    MemberSpec garbage = Member("garbage", "", 0);
    std::string zip = ZipBuilder().Add(garbage).bytes;
    std::string broken = "PK\x03\x04";
    test::Put16(broken, 20);
    test::Put16(broken, 0);
    test::Put16(broken, 8);
    test::Put32(broken, 0);
    test::Put32(broken, 0x12345678);
    test::Put32(broken, 8);
    test::Put32(broken, 100);
    test::Put16(broken, 3);
    test::Put16(broken, 0);
    broken += "bad";
    broken += std::string("\xff\xff\xff\xff\xff\xff\xff\xff", 8);
    MemoryTarget t;
    EXPECT_FALSE(test::ExtractInMemory(reader, broken + ZipBuilder().Add(Member("next", "n")).Finish(), t));
    EXPECT_EQ(t.files["next"], "n");
  }
}

TEST_F(ZipReaderTest, WriteErrorsFailTheMember) {
  target.failWritesAfter = 1000;
  std::string zip = ZipBuilder().Add(Member("big", Text(100000))).Finish();
  EXPECT_FALSE(test::ExtractInMemory(reader, zip, target));
}

TEST_F(ZipReaderTest, DataDescriptorMembersWithoutSizesAreReadToTheirEnd) {
  MemberSpec streamed = Member("streamed", Text(200000));
  streamed.descriptor = true;
  streamed.zeroSizes = true;
  MemberSpec storedEmpty = Member("stored-empty", "", 0);
  storedEmpty.descriptor = true;
  storedEmpty.zeroSizes = true;
  std::string zip = ZipBuilder().Add(streamed).Add(storedEmpty).Add(Member("after", "a", 0)).Finish();
  EXPECT_TRUE(test::ExtractInMemory(reader, zip, target));
  EXPECT_EQ(target.files["streamed"], streamed.data);
  EXPECT_EQ(target.files["stored-empty"], "");
  EXPECT_EQ(target.files["after"], "a");

  // Stored data without sizes cannot be told from what follows: a failure,
  // not an empty file passed off as the member.
  MemberSpec storedData = Member("stored", "some data", 0);
  storedData.descriptor = true;
  storedData.zeroSizes = true;
  MemoryTarget t;
  EXPECT_FALSE(test::ExtractInMemory(reader, ZipBuilder().Add(storedData).Finish(), t));
}

TEST_F(ZipReaderTest, ForeignMethodsAndStrongEncryptionEndCleanlyAsFailures) {
  std::string zip = ZipBuilder().Add(Member("bz", "whatever", 0)).Add(Member("ok", "fine", 0)).Finish();
  zip[8] = 12;  // bzip2
  EXPECT_FALSE(test::ExtractInMemory(reader, zip, target));
  EXPECT_EQ(target.files.count("bz"), 0u);
  EXPECT_EQ(target.files["ok"], "fine");

  MemberSpec strong = Member("strong", "secret", 0);
  strong.password = "pw";
  strong.extraFlags = 0x40;
  MemoryTarget t;
  EXPECT_FALSE(test::ExtractInMemory(reader, ZipBuilder().Add(strong).Finish(), t));
  EXPECT_TRUE(t.files.empty());
  EXPECT_EQ(ui.ui.passwordPrompts, 0);
}

TEST_F(ZipReaderTest, OverwriteOffLeavesExistingFilesAndFolderEntriesMakeFolders) {
  std::string zip = ZipBuilder().Add(Member("keep.txt", "new", 0)).Add(Member("dir/sub/", "", 0)).Finish();
  target.files["keep.txt"] = "old";
  reader.overwrite = false;
  EXPECT_TRUE(test::ExtractInMemory(reader, zip, target));
  EXPECT_EQ(target.files["keep.txt"], "old");
  EXPECT_EQ(target.times.count("keep.txt"), 0u);
  EXPECT_EQ(target.folders, (std::set<std::string>{"dir", "dir" + kSep + "sub"}));
  EXPECT_EQ(target.files.size(), 1u);
  EXPECT_EQ(target.times.size(), 0u);  // a folder entry is not dated

  reader.overwrite = true;
  EXPECT_TRUE(test::ExtractInMemory(reader, zip, target));
  EXPECT_EQ(target.files["keep.txt"], "new");
}

TEST_F(ZipReaderTest, HostileNamesStayInsideTheOutputFolder) {
  std::string zip = ZipBuilder()
                        .Add(Member("../../evil.txt", "e", 0))
                        .Add(Member("/etc/passwd", "p", 0))
                        .Add(Member("C:\\Windows\\system.ini", "s", 0))
                        .Add(Member("..\\..\\x/../y", "y", 0))
                        .Add(Member("aux.txt", "d", 0))
                        .Finish();
  EXPECT_TRUE(test::ExtractInMemory(reader, zip, target));
  for (const auto& [path, data] : target.files) {
    EXPECT_NE(path.front(), platform::kPathSeparator) << path;
    EXPECT_EQ(path.find(".."), std::string::npos) << path;
  }
  EXPECT_EQ(target.files.count("__" + kSep + "__" + kSep + "evil.txt"), 1u);
  EXPECT_EQ(target.files.count("etc" + kSep + "passwd"), 1u);
  EXPECT_EQ(target.files.count("Windows" + kSep + "system.ini"), 1u);
  EXPECT_EQ(target.files.count("_aux.txt"), 1u);
}

TEST_F(ZipReaderTest, SecurityWarningNamesTheDisguisedFile) {
  std::string zip = ZipBuilder()
                        .Add(Member("docs/meeting-notes-2006.doc.exe", "MZ", 0))
                        .Add(Member("setup.exe", "MZ", 0))
                        .Finish();
  reader.securityCheck = true;
  EXPECT_TRUE(test::ExtractInMemory(reader, zip, target));
  ASSERT_EQ(ui.ui.boxes.size(), 1u);
  EXPECT_TRUE(ui.ui.boxes[0].fromWorker);
  EXPECT_EQ(ui.ui.boxes[0].title, "セキュリティ");
  EXPECT_NE(ui.ui.boxes[0].text.find("ファイル：meeting-notes-2006.doc.exe\n"), std::string::npos);
  EXPECT_EQ(target.files.size(), 2u);  // extraction goes on after the warning
}

TEST_F(ZipReaderTest, OnePromptOpensEveryMemberWithTheSamePassword) {
  ZipBuilder builder;
  for (int i = 0; i < 5; ++i) {
    MemberSpec m = Member("m" + std::to_string(i), Text(1000 + i), i % 2 ? 0 : 8);
    m.password = "secret";
    m.descriptor = i == 3;
    builder.Add(m);
    if (i == 2) builder.Add(Member("plain", "no password", 0));
  }
  ui.ui.passwords = {"secret"};
  EXPECT_TRUE(test::ExtractInMemory(reader, builder.Finish(), target));
  EXPECT_EQ(ui.ui.passwordPrompts, 1);
  EXPECT_EQ(target.files.size(), 6u);
  EXPECT_EQ(target.files["m1"], Text(1001));  // stored: compressed size - 12 bytes
  EXPECT_EQ(target.files["m4"], Text(1004));
  EXPECT_EQ(target.files["plain"], "no password");
}

TEST_F(ZipReaderTest, WrongPasswordsAreAskedAgainThenEndTheWalkAsFailure) {
  MemberSpec first = Member("first", Text(800));
  first.password = "right";
  std::string zip = ZipBuilder().Add(first).Add(Member("later", "untouched", 0)).Finish();
  ui.ui.passwords = {"wrong", "right"};
  EXPECT_TRUE(test::ExtractInMemory(reader, zip, target));
  EXPECT_EQ(ui.ui.passwordPrompts, 2);

  MemoryTarget t;
  ZipReader again;
  ui.ui.passwordPrompts = 0;
  ui.ui.passwords = {"a", "b", "c", "right"};
  EXPECT_FALSE(test::ExtractInMemory(again, zip, t));
  EXPECT_EQ(ui.ui.passwordPrompts, 3);
  EXPECT_TRUE(t.files.empty());  // the member's file is removed, later ones untouched
  EXPECT_FALSE(again.cancelRequested);
}

TEST_F(ZipReaderTest, CancelInThePromptStopsAsCancel) {
  MemberSpec m = Member("x", "data");
  m.password = "pw";
  ui.ui.passwords = {test::kCancelAnswer};
  EXPECT_FALSE(test::ExtractInMemory(reader, ZipBuilder().Add(m).Add(Member("y", "y", 0)).Finish(), target));
  EXPECT_TRUE(reader.cancelRequested);
  EXPECT_TRUE(target.files.empty());
}

TEST_F(ZipReaderTest, DescriptorMembersCheckTheTimeNotTheCrcByte) {
  MemberSpec m = Member("t", "payload", 0);
  m.password = "pw";
  m.descriptor = true;
  std::string zip = ZipBuilder().Add(m).Finish();
  // A header with another time must refuse the right password.
  std::string other = zip;
  other[10] = static_cast<char>(other[10] ^ 0x20);
  ui.ui.passwords = {"pw", "pw", "pw"};
  EXPECT_FALSE(test::ExtractInMemory(reader, other, target));
  EXPECT_EQ(ui.ui.passwordPrompts, 3);
  ui.ui.passwords = {"pw"};
  MemoryTarget t;
  ZipReader fresh;
  EXPECT_TRUE(test::ExtractInMemory(fresh, zip, t));
  EXPECT_EQ(t.files["t"], "payload");
}

TEST(ZipCipher, KnownKeysAfterAPassword) {
  ZipCipher c;
  c.Reset("");
  EXPECT_EQ(c.key0, 0x12345678u);
  EXPECT_EQ(c.key1, 0x23456789u);
  EXPECT_EQ(c.key2, 0x34567890u);
  // Enciphering then deciphering with the same password is the identity.
  std::string data = "The quick brown fox";
  ZipCipher e, d;
  e.Reset("pw");
  d.Reset("pw");
  EncryptBytes(e, reinterpret_cast<uint8_t*>(data.data()), data.size());
  EXPECT_NE(data, "The quick brown fox");
  d.Decrypt(reinterpret_cast<uint8_t*>(data.data()), data.size());
  EXPECT_EQ(data, "The quick brown fox");
}

TEST(LooksLikeUtf8, JudgesStoredNames) {
  EXPECT_TRUE(LooksLikeUtf8("plain.txt"));
  EXPECT_TRUE(LooksLikeUtf8("\xe8\xa1\xa8\xe3\x81\xa0\xe3\x82\x88.txt"));  // UTF-8 表だよ
  EXPECT_TRUE(LooksLikeUtf8("\xe3\x81\x93\xe3\x82\x93\xe3\x81\xab\xe3\x81\xa1\xe3\x81\xaf"));
  EXPECT_FALSE(LooksLikeUtf8("\x95\\\x82\xbe\x82\xe6.txt"));  // Shift-JIS 表だよ
  EXPECT_FALSE(LooksLikeUtf8("\x8a\xbf\x8e\x9a"));             // Shift-JIS 漢字
  EXPECT_TRUE(LooksLikeUtf8("\xb1\xb2\xb3"));                  // half-width katakana only
  EXPECT_TRUE(LooksLikeUtf8("\x82\xa0\xb1"));                  // double plus kana, nothing else
  EXPECT_FALSE(LooksLikeUtf8("\x87\x40\xb1"));                 // ... plus a vendor character
  EXPECT_TRUE(LooksLikeUtf8("\x82\x20"));                      // a bad trail byte
  EXPECT_FALSE(LooksLikeUtf8("ab\x82"));                       // a lead byte left at the end
  EXPECT_TRUE(LooksLikeUtf8("\xc2\xa9"));
}

TEST(MemberNameForSystem, ConvertsToTheSystemCodePage) {
  BuildLeadByteTable();
  const std::string sjis = "\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\x90\xa2\x8a\x45.txt";
  const std::string utf8 = "\xe3\x81\x93\xe3\x82\x93\xe3\x81\xab\xe3\x81\xa1\xe3\x81\xaf\xe4\xb8\x96\xe7\x95\x8c.txt";
  EXPECT_EQ(MemberNameForSystem("plain.txt", true), "plain.txt");
  EXPECT_EQ(MemberNameForSystem("plain.txt", false), "plain.txt");
  if (SystemCodePage().Id() == CodePageId::Utf8) {
    EXPECT_EQ(MemberNameForSystem(sjis, true), utf8);
    EXPECT_EQ(MemberNameForSystem(utf8, true), utf8);
    EXPECT_EQ(MemberNameForSystem(sjis, false), utf8);
  } else {
    EXPECT_EQ(MemberNameForSystem(sjis, true), sjis);
    EXPECT_EQ(MemberNameForSystem(utf8, true), sjis);
    EXPECT_EQ(MemberNameForSystem(utf8, false), utf8);
  }
}

TEST_F(ZipReaderTest, RootFolderIsTheCommonFirstFolder) {
  EXPECT_FALSE(test::RootOf(reader, ZipBuilder().Add(Member("a/x", "", 0)).Add(Member("A/y", "", 0)).Finish()));
  EXPECT_TRUE(test::RootOf(reader, ZipBuilder().Add(Member("a/x", "", 0)).Add(Member("a\\b/y", "", 0)).Finish()));
  EXPECT_EQ(reader.rootFolder, "a");
  EXPECT_FALSE(test::RootOf(reader, ZipBuilder().Add(Member("a/x", "", 0)).Add(Member("top", "", 0)).Finish()));
  EXPECT_TRUE(test::RootOf(reader, ZipBuilder().Finish()));
  EXPECT_EQ(reader.rootFolder, "");
  // The root is the folder the members land in, not the stored text.
  EXPECT_TRUE(test::RootOf(reader, ZipBuilder().Add(Member("../a/x", "", 0)).Add(Member("../a/y", "", 0)).Finish()));
  EXPECT_EQ(reader.rootFolder, "__");
}

TEST_F(ZipReaderTest, ProbeTakesTheFirstHeaderThatPassesThePreCheck) {
  std::string zip = ZipBuilder().Add(Member("a", "x", 0)).Finish();
  auto probe = [&](const std::string& data) {
    MemorySource source({reinterpret_cast<const uint8_t*>(data.data()), data.size()});
    return reader.ProbeData({reinterpret_cast<const uint8_t*>(data.data()), data.size()}, source);
  };
  EXPECT_TRUE(probe(zip));
  EXPECT_TRUE(probe(std::string(5000, 'M') + zip));  // appended to a program
  EXPECT_FALSE(probe("not an archive at all, just some text that is long enough"));
  std::string bzip = zip;
  bzip[8] = 12;  // passes the pre-check, not the parser
  EXPECT_FALSE(probe(bzip));
}

}  // namespace
}  // namespace quindo
