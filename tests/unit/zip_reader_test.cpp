// The ZIP reader through the extraction walk, over archives built in memory:
// the header scan, names, integrity checks, overwrite and links, encryption
// and prompts.
#include "zip/zip_reader.h"

#include <gtest/gtest.h>

#include "app/member_names.h"
#include "tests/support/walk_fixture.h"
#include "tests/support/zip_fixture.h"
#include "platform/platform.h"

namespace quindo {
namespace {

using test::Member;
using test::MemberLayout;
using test::MemoryTree;
using test::ScriptedHost;
using test::Text;
using test::ZipBuilder;
using Files = std::map<std::string, std::string>;
using Outcomes = std::map<std::string, MemberOutcome>;

const std::string kSep(1, platform::kPathSeparator);

class ZipReaderTest : public ::testing::Test {
 protected:
  test::Extracted Run(const std::string& zip, ExtractionOptions options = {}) {
    return test::ExtractInto(zip, tree, host, options);
  }
  MemoryTree tree;
  ScriptedHost host;
};

TEST_F(ZipReaderTest, ScanSkipsJunkNamesEndAtNulAndLongNamesStayDistinct) {
  ZipBuilder b;
  b.bytes = "MZ junk PPPK PK\x03 PPK";  // a prefix of P bytes before the signature
  b.Add(Member("one", "1", 0)).bytes += "PK\x03\x04garbage that fails to parse";
  b.bytes += std::string("PK\x03\x04\x14\x00\x00\x00\xc8\x00", 10) + std::string(20, '\0');  // method 200
  // Names that differ only after the 259 bytes that are kept must not meet.
  const std::string longName(300, 'n');
  b.Add(Member(std::string("bad\0note", 8), "x", 0)).Add(Member(longName + "1", "first", 0))
      .Add(Member(longName + "2", "second", 0)).Add(Member("two", "2"));
  EXPECT_FALSE(Run(b.bytes).record.Failed());
  const std::string cut(kMaxNameLength, 'n');
  const std::string distinct = std::string(kMaxNameLength - 4, 'n') + " (2)";
  EXPECT_EQ(tree.files, (Files{{"one", "1"}, {"bad", "x"}, {cut, "first"}, {distinct, "second"}, {"two", "2"}}));
}

TEST_F(ZipReaderTest, DamagedMembersLeaveNoFileAndEveryMemberIsTried) {
  MemberLayout wrongCrc = Member("crc", Text(5000)), cut = Member("cut", Text(70000));
  MemberLayout cutStored = Member("cut-stored", Text(500), 0), badDeflate = Member("bad", Text(100));
  wrongCrc.badCrc = true;
  cut.truncateData = 100;
  cutStored.truncateData = 10;
  badDeflate.raw = std::string(8, '\xff');  // a block type that does not exist
  const std::pair<MemberLayout, MemberOutcome> cases[] = {
      {wrongCrc, MemberOutcome::Damaged}, {cut, MemberOutcome::Truncated},
      {cutStored, MemberOutcome::Truncated}, {badDeflate, MemberOutcome::Damaged}};
  for (const auto& [m, outcome] : cases) {
    SCOPED_TRACE(m.name);
    MemoryTree t;
    ZipBuilder b;
    b.Add(m);
    // Cut data would run into what follows: with nothing after it, the
    // member must not take that for its end.
    const std::string zip = m.truncateData ? b.bytes : b.Add(Member("after", "ok", 0)).bytes;
    const test::Extracted r = test::ExtractInto(zip, t, host);
    EXPECT_TRUE(r.record.Failed());
    EXPECT_EQ(r.Outcomes().at(m.name), outcome);
    EXPECT_EQ(t.files, m.truncateData ? Files() : Files({{"after", "ok"}}));
    EXPECT_EQ(t.tempsLeft(), 0);
  }
  // A header that promises data and has none: not an empty file.
  std::string zip = ZipBuilder().Add(Member("promised", "")).bytes;
  zip[18] = 0;   // no compressed bytes
  zip[22] = 73;  // and yet an uncompressed size
  EXPECT_EQ(Run(zip).Outcomes(), (Outcomes{{"promised", MemberOutcome::Truncated}}));
  EXPECT_EQ(tree.files.size(), 0u);

  MemoryTree full;
  full.failWritesAfter = 1000;  // a full disk
  EXPECT_EQ(test::ExtractInto(ZipBuilder().Add(Member("big", Text(100000))).bytes, full, host).Outcomes(),
            (Outcomes{{"big", MemberOutcome::WriteFailed}}));
  EXPECT_EQ(std::make_pair(full.files.size(), full.tempsLeft()), std::make_pair(size_t{0}, 0));
}

TEST_F(ZipReaderTest, DataDescriptorMembersWithoutSizesAreReadToTheirEnd) {
  // Stored data ends at the descriptor that gives its own length: a look-alike
  // with another length inside the data, or a whole archive stored as a
  // member, must not end it or add members.
  const std::string inner = ZipBuilder().Add(Member("inner", "not a member here", 0)).bytes;
  MemberLayout streamed = Member("streamed", Text(200000)), storedEmpty = Member("stored-empty", "", 0);
  MemberLayout storedData = Member("stored", "a PK\x07\x08 look-alike" + std::string(12, '\0') + Text(3000000), 0);
  MemberLayout storedZip = Member("inner.zip", inner, 0), secret = Member("secret", "stored and encrypted", 0, "pw");
  // Without a signature, data that starts with four zero bytes.
  MemberLayout unsignedZeros = Member("unsigned", std::string(4, '\0') + Text(500), 0);
  unsignedZeros.unsignedDescriptor = true;
  for (MemberLayout* m : {&streamed, &storedEmpty, &storedData, &storedZip, &secret, &unsignedZeros})
    m->descriptor = m->zeroSizes = true;
  host.passwords = {"pw"};
  std::string zip = ZipBuilder().Add(streamed).Add(storedEmpty).Add(storedData).Add(storedZip).Add(secret)
                        .Add(unsignedZeros).Add(Member("after", "a", 0)).bytes;
  EXPECT_FALSE(Run(zip).record.Failed());
  EXPECT_EQ(tree.files, (Files{{"streamed", streamed.data}, {"stored-empty", ""}, {"stored", storedData.data},
                               {"inner.zip", inner}, {"secret", secret.data}, {"unsigned", unsignedZeros.data},
                               {"after", "a"}}));
  // Passed over when it is not written either.
  MemoryTree kept;
  kept.files["inner.zip"] = "mine";
  ExtractionOptions keep;
  keep.overwrite = false;
  host.passwords = {"pw"};
  test::ExtractInto(zip, kept, host, keep);
  EXPECT_EQ(std::make_pair(kept.files.count("inner"), kept.files["inner.zip"]), std::make_pair(size_t{0}, std::string("mine")));

  // With no descriptor to end it the data cannot be told from what follows:
  // a failure, not an empty file passed off as the member; and a later
  // streamed member still finds its own end.
  MemoryTree t;
  ZipBuilder unended;
  unended.Add(storedData).bytes.resize(unended.bytes.size() - 16);
  const test::Extracted r =
      test::ExtractInto(unended.Add(Member("after", "a", 0)).Add(storedEmpty).Add(unsignedZeros).bytes, t, host);
  EXPECT_EQ(r.Outcomes()["stored"], MemberOutcome::Damaged);
  EXPECT_EQ(t.files, (Files{{"after", "a"}, {"stored-empty", ""}, {"unsigned", unsignedZeros.data}}));
}

TEST_F(ZipReaderTest, MethodsNotDecodedAreReportedByNameAndSkippedByTheirSize) {
  // A first member of a method that is not decoded still makes a ZIP; its
  // data (here an archive) is skipped by its size, never searched.
  const std::string inner = ZipBuilder().Add(Member("inside", "no", 0)).bytes;
  std::string zip = ZipBuilder().Add(Member("bz", inner, 0)).Add(Member("odd", "x", 0)).Add(Member("ok", "fine", 0)).bytes;
  zip[8] = 12;  // bzip2
  zip[zip.find("odd") - 22] = 11;  // a number no method has
  EXPECT_EQ(test::FormatOf(zip), FormatZip);
  const test::Extracted r = Run(zip);
  EXPECT_EQ(r.Outcomes(), (Outcomes{{"bz", MemberOutcome::Unsupported}, {"odd", MemberOutcome::Unsupported}}));
  EXPECT_EQ(r.record.members[0].method, "BZip2");
  EXPECT_EQ(r.record.members[1].method, "method 11");
  EXPECT_EQ(tree.files, (Files{{"ok", "fine"}}));

  MemberLayout strong = Member("strong", "secret", 0, "pw");
  strong.extraFlags = 0x40;
  MemoryTree t;
  ScriptedHost asked;
  EXPECT_EQ(test::ExtractInto(ZipBuilder().Add(strong).bytes, t, asked).Outcomes(),
            (Outcomes{{"strong", MemberOutcome::Unsupported}}));
  EXPECT_EQ(t.files.size(), 0u);
  EXPECT_EQ(asked.prompts.size(), 0u);
}

TEST_F(ZipReaderTest, OverwriteOffKeepsFilesAndLinksAreReplacedNeverWrittenThrough) {
  std::string zip = ZipBuilder().Add(Member("keep.txt", "new", 0)).Add(Member("dir/sub/", "", 0))
                        .Add(Member("link", "data", 0)).Add(Member("via/x", "x", 0)).bytes;
  tree.files["keep.txt"] = "old";
  tree.links = {"link", "via"};  // a dangling link counts as taken too
  ExtractionOptions keep;
  keep.overwrite = false;
  const test::Extracted r = Run(zip, keep);
  EXPECT_EQ(r.Outcomes(), (Outcomes{{"keep.txt", MemberOutcome::Kept}, {"link", MemberOutcome::Kept},
                                    {"via" + kSep + "x", MemberOutcome::CannotCreate}}));
  EXPECT_EQ(tree.files, (Files{{"keep.txt", "old"}}));
  EXPECT_EQ(tree.folders, (std::set<std::string>{"dir", "dir" + kSep + "sub"}));
  EXPECT_TRUE(tree.dated.empty());  // neither a kept file nor a folder entry is dated

  Run(zip);
  EXPECT_EQ(tree.files, (Files{{"keep.txt", "new"}, {"link", "data"}}));
  EXPECT_EQ(tree.links, std::set<std::string>{"via"});  // a link in the way of a folder is left alone
}

TEST_F(ZipReaderTest, SecurityWarningNamesTheDisguisedFile) {
  std::string zip = ZipBuilder().Add(Member("docs/meeting-notes-2006.doc.exe", "MZ", 0)).Add(Member("setup.exe", "MZ", 0)).bytes;
  ExtractionOptions options;
  options.securityCheck = true;
  Run(zip, options);
  EXPECT_EQ(host.warnings, std::vector<std::string>{"meeting-notes-2006.doc.exe"});
  EXPECT_EQ(tree.files.size(), 2u);  // extraction goes on after the warning
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
  const std::string first = ZipBuilder().Add(Member("first", Text(800), 8, "right")).Add(Member("later", "l", 0)).bytes;
  // With a descriptor the check is the time: another time refuses the right password.
  MemberLayout timed = Member("t", "payload", 0, "pw");
  timed.descriptor = true;
  const std::string timedZip = ZipBuilder().Add(timed).bytes;
  std::string otherTime = timedZip;
  otherTime[10] ^= 0x20;
  auto run = [&](const std::string& archive, std::deque<std::string> answers) {
    MemoryTree t;
    ScriptedHost h;
    h.passwords = std::move(answers);
    const test::Extracted r = test::ExtractInto(archive, t, h);
    std::vector<bool> wrong;
    for (const auto& p : h.prompts) wrong.push_back(p.second);
    return std::make_tuple(r.record.Failed(), r.record.cancelled, wrong, t.files);
  };
  using V = std::vector<bool>;
  EXPECT_EQ(run(five.bytes, {"secret"}), std::make_tuple(false, false, V{false}, fiveFiles));
  EXPECT_EQ(run(first, {"wrong", "right"}), std::make_tuple(false, false, V{false, true}, Files{{"first", Text(800)}, {"later", "l"}}));
  // Three wrong: nothing under the member's name, and the walk ends there.
  EXPECT_EQ(run(first, {"a", "b", "c", "right"}), std::make_tuple(true, false, V{false, true, true}, Files{}));
  EXPECT_EQ(run(first, {ScriptedHost::kCancel}), std::make_tuple(true, true, V{false}, Files{}));
  EXPECT_EQ(run(timedZip, {"pw"}), std::make_tuple(false, false, V{false}, Files{{"t", "payload"}}));
  EXPECT_EQ(run(otherTime, {"pw", "pw", "pw"}), std::make_tuple(true, false, V{false, true, true}, Files{}));
  // A password typed as UTF-8 opens members enciphered with its CP932 bytes
  // (Japanese Windows) as well as with its UTF-8 bytes, with one prompt.
  const std::string japanese = ZipBuilder()
                                   .Add(Member("cp932", "a", 0, "\x83\x70\x83\x58\x83\x8f\x81\x5b\x83\x68"))
                                   .Add(Member("utf8", Text(300), 8, "パスワード"))
                                   .bytes;
  EXPECT_EQ(run(japanese, {"パスワード"}), std::make_tuple(false, false, V{false}, Files{{"cp932", "a"}, {"utf8", Text(300)}}));

  // Without a way to ask, encrypted members are reported, the rest come out.
  host.noTerminal = true;
  const test::Extracted r = Run(five.bytes);
  EXPECT_EQ(host.prompts.size(), 1u);
  EXPECT_EQ(tree.files, (Files{{"plain", "no password"}}));
  EXPECT_EQ(r.Outcomes()["m0"], MemberOutcome::NoPassword);
  EXPECT_EQ(r.Outcomes()["m4"], MemberOutcome::NoPassword);
}

}  // namespace
}  // namespace quindo
