// Names between the core's UTF-8 and the bytes of the Japanese Windows code
// page: which names a new archive carries as CP932 and which as flagged
// UTF-8, and how a name's length limit is counted there. The rules are
// portable; the CP932 page is bound to this system's converter.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "app/member_names.h"
#include "app/path_utils.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_fixture.h"
#include "zip/zip_writer.h"

namespace quindo {
namespace {

std::string Repeat(const std::string& text, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) out += text;
  return out;
}

std::string Cp932(const std::string& utf8) {
  std::string bytes;
  EXPECT_TRUE(Cp932CodePage().FromUtf8(utf8, bytes)) << utf8;
  return bytes;
}

class WindowsArchiveNamesTest : public ::testing::Test {
 protected:
  test::ScratchDir dir;
  std::string archive = dir / "names.zip";
  std::string source = dir / "n.txt";

  void SetUp() override { test::WriteFile(source, "n"); }

  // What a writer with the CP932 legacy page makes of one name: its stored
  // bytes and flags, or the result when it refuses the name.
  struct Stored {
    ZipResult result = ZipOk;
    std::string name;
    uint16_t flags = 0;
  };
  Stored Write(const std::string& name, bool folder) {
    ZipWriter w(Utf8CodePage());
    w.SetLegacyNames(&Cp932CodePage());
    Stored out;
    EXPECT_EQ(w.Create(archive), ZipOk);
    std::atomic<uint64_t> progress{0};
    std::atomic<bool> abort{false};
    out.result = folder ? w.AddFolder(name) : w.AddFile(name, source, progress, abort, 6);
    EXPECT_EQ(w.Close(), ZipOk);
    const auto entries = test::Directory(test::ReadFile(archive));
    if (out.result == ZipOk && entries.size() == 1) {
      out.name = entries[0].name;
      out.flags = entries[0].flags;
    }
    return out;
  }
};

TEST_F(WindowsArchiveNamesTest, Cp932WhenItHoldsTheNameElseFlaggedUtf8) {
  const std::string kanji129 = Repeat("漢", 129);
  const struct {
    std::string name;
    bool folder;
    std::string stored;
    bool utf8Flag;
  } cases[] = {
      // What older tools read: CP932 bytes, no flag, byte for byte what the
      // ANSI program wrote ("\" becomes "/", the trail byte 0x5C of 表 stays).
      {"日本語.txt", false, Cp932("日本語.txt"), false},
      {"資料\\表.txt", false, "\x8E\x91\x97\xBF/\x95\x5C.txt", false},
      {"写真", true, Cp932("写真") + "/", false},
      {"ｶﾀｶﾅ～.txt", false, Cp932("ｶﾀｶﾅ～.txt"), false},
      {"plain.txt", false, "plain.txt", false},
      // What CP932 cannot hold exactly goes out as UTF-8 with bit 11.
      {"café.txt", false, "café.txt", true},
      {"한국어.txt", false, "한국어.txt", true},
      {"emoji😀.txt", false, "emoji😀.txt", true},
      {"〜.txt", false, "〜.txt", true},
      {"資料\\café", true, "資料/café/", true},
      // The limit counts the bytes stored: 129 kanji and a letter are 259
      // bytes of CP932 though 388 of UTF-8.
      {kanji129 + "a", false, Cp932(kanji129) + "a", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Stored s = Write(c.name, c.folder);
    ASSERT_EQ(s.result, ZipOk);
    EXPECT_EQ(s.name, c.stored);
    EXPECT_EQ((s.flags & zip::kFlagUtf8Name) != 0, c.utf8Flag);
  }
  EXPECT_EQ(Write(kanji129 + "ab", false).result, ZipNameTooLong);
  EXPECT_EQ(Write(Repeat("漢", 85) + "😀.txt", false).result, ZipNameTooLong) << "266 bytes of UTF-8";
}

TEST(WindowsNames, TheNameLimitCountsCp932BytesWhereCp932HoldsTheName) {
  const CodePage& utf8 = Utf8CodePage();
  const CodePage* cp932 = &Cp932CodePage();
  const struct {
    std::string name;
    const CodePage* legacy;
    std::string cut;
  } cases[] = {
      {Repeat("漢", 130), cp932, Repeat("漢", 129)},  // two bytes a kanji
      {Repeat("ｱ", 300), cp932, Repeat("ｱ", 259)},   // one byte a half-width kana
      {"a" + Repeat("漢", 130), cp932, "a" + Repeat("漢", 129)},
      {Repeat("〜", 130), cp932, Repeat("〜", 129)},  // counted as the CP932 form it would take
      // UTF-8 bytes where CP932 does not hold the name, and on Linux.
      {"😀" + Repeat("漢", 130), cp932, "😀" + Repeat("漢", 85)},
      {Repeat("漢", 130), nullptr, Repeat("漢", 86)},
      {"short.txt", cp932, "short.txt"},
  };
  for (const auto& c : cases) {
    std::string name = c.name;
    CutName(name, utf8, kMaxNameLength, c.legacy);
    EXPECT_EQ(name, c.cut) << c.name.substr(0, 12) << (c.legacy ? " with CP932" : "");
  }
  // A name already in CP932 bytes counts its own bytes, never half a character.
  std::string bytes = Cp932("a" + Repeat("漢", 130));
  CutName(bytes, Cp932CodePage(), kMaxNameLength, cp932);
  EXPECT_EQ(bytes, Cp932("a" + Repeat("漢", 129)));
  // A " (2)" rename cuts the base between folder and suffix, counted alike:
  // 7 + 8 bytes of CP932 around 122 kanji, 10 + 8 of UTF-8 around 80.
  for (auto [legacy, kept] : {std::pair{cp932, size_t(122)}, {nullptr, size_t(80)}}) {
    std::string base = Repeat("漢", 200);
    EXPECT_TRUE(CutToFit("資料集/", base, " (2).txt", utf8, kMaxNameLength, legacy));
    EXPECT_EQ(base, Repeat("漢", kept)) << (legacy ? "with CP932" : "UTF-8");
  }
  std::string base = "base";
  EXPECT_FALSE(CutToFit(std::string(256, 'f'), base, " (2)", utf8, kMaxNameLength, cp932));
  EXPECT_EQ(base, "");
}

}  // namespace
}  // namespace quindo
