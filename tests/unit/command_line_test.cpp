#include <gtest/gtest.h>

#include <cstdint>

#include "app/settings.h"
#include "frontend/terminal/command_line.h"
#include "frontend/terminal/translation.h"
#include "tests/support/test_support.h"

namespace quindo {
namespace {

using test::ScratchDir;
using test::WriteFile;

CommandLine Parse(std::vector<std::string> rest, bool expectOk = true) {
  rest.insert(rest.begin(), "quindo");
  CommandLine line;
  std::string error;
  EXPECT_EQ(ParseCommandLine(rest, line, error), expectOk) << error;
  return line;
}

TEST(CommandLine, OptionsAndPathsInAnyOrderAndForms) {
  CommandLine line = Parse({"a.zip", "-qy", "--output=out", "b.lzh", "--level", "best", "--extract"});
  EXPECT_EQ(line.paths, (std::vector<std::string>{"a.zip", "b.lzh"}));
  EXPECT_TRUE(line.quiet);
  EXPECT_EQ(line.overwrite, true);
  EXPECT_EQ(line.outputFolder, "out");
  EXPECT_EQ(line.zipLevel, 0);
  EXPECT_EQ(line.dispatch.job, DispatchChoice::Job::Extract);
  EXPECT_TRUE(line.dispatch.switches);
  EXPECT_FALSE(line.passwordFile);

  line = Parse({"-oout", "-n", "-p", "pw.txt", "--level=fast", "--compress", "x"});
  EXPECT_EQ(line.outputFolder, "out");
  EXPECT_EQ(line.overwrite, false);
  EXPECT_EQ(line.passwordFile, "pw.txt");
  EXPECT_EQ(line.zipLevel, 2);
  EXPECT_EQ(line.dispatch.job, DispatchChoice::Job::Compress);

  // Nothing given: the program's own dispatch, the settings form included.
  line = Parse({});
  EXPECT_FALSE(line.anyOption);
  EXPECT_TRUE(line.paths.empty());
  EXPECT_EQ(line.action, CommandLine::Action::Dispatch);
  EXPECT_EQ(Parse({"/install"}).paths, std::vector<std::string>{"/install"});
  // Each parse starts afresh, not where the one before stopped.
  EXPECT_EQ(Parse({"a", "b", "c"}).paths.size(), 3u);
}

// A .mo file as msgfmt writes it, with no hash table.
std::string MoFile(const std::vector<std::pair<std::string, std::string>>& messages, bool bigEndian = false) {
  std::string out;
  auto word = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>(bigEndian ? v >> (24 - 8 * i) : v >> (8 * i));
  };
  const uint32_t count = static_cast<uint32_t>(messages.size());
  const uint32_t originals = 28, translations = originals + 8 * count;
  uint32_t offset = translations + 8 * count;
  word(0x950412de);
  word(0);
  word(count);
  word(originals);
  word(translations);
  word(0);
  word(0);
  std::string strings;
  for (int side = 0; side < 2; ++side) {
    for (const auto& [id, text] : messages) {
      const std::string& s = side == 0 ? id : text;
      word(static_cast<uint32_t>(s.size()));
      word(offset + static_cast<uint32_t>(strings.size()));
      strings += s + '\0';
    }
  }
  return out + strings;
}

TEST(Catalogue, ReadsBothByteOrdersAndTranslatesLineByLine) {
  const std::vector<std::pair<std::string, std::string>> messages = {
      {"", "Content-Type: text/plain; charset=UTF-8\n"},
      {"ファイル エラー", "File error"},
      {"一行目。", "First line."},
      {"二行目。", "Second line."},
      {"ファイル：", "File: "},
      {"全体。\n二行。", "Whole."},
  };
  for (bool bigEndian : {false, true}) {
    Catalogue catalogue;
    ASSERT_TRUE(catalogue.LoadBytes(MoFile(messages, bigEndian)));
    EXPECT_EQ(catalogue.Size(), 5u);  // the header is no message
    EXPECT_EQ(*catalogue.Find("ファイル エラー"), "File error");
    EXPECT_EQ(catalogue.Find(""), nullptr);
    EXPECT_EQ(catalogue.TranslateLines("全体。\n二行。"), "Whole.");
    EXPECT_EQ(catalogue.TranslateLines("一行目。\n二行目。\n\nファイル：名前.txt\n"),
              "First line.\nSecond line.\n\nFile: 名前.txt\n");
    EXPECT_EQ(catalogue.TranslateLines("知らない行\n一行目。"), "知らない行\nFirst line.");
  }
}

TEST(Catalogue, RejectsDamagedFilesAndKeepsWhatItHad) {
  Catalogue catalogue;
  ASSERT_TRUE(catalogue.LoadBytes(MoFile({{"a", "b"}})));
  const std::string good = MoFile({{"x", "y"}, {"z", "w"}});
  std::vector<std::string> damaged = {"", "\xde\x12\x04", good.substr(0, good.size() - 3), good.substr(0, 30)};
  std::string badMagic = good;
  badMagic[0] = 'x';
  std::string badOffset = good;
  badOffset[28 + 4 + 3] = '\x7f';  // the first original's offset far beyond the end
  std::string hugeCount = good;
  hugeCount[8 + 3] = '\x7f';
  std::string badRevision = good;
  badRevision[4 + 2] = '\x02';
  damaged.insert(damaged.end(), {badMagic, badOffset, hugeCount, badRevision});
  for (const std::string& bytes : damaged) EXPECT_FALSE(catalogue.LoadBytes(bytes)) << bytes.size();
  ASSERT_NE(catalogue.Find("a"), nullptr);
  EXPECT_EQ(catalogue.Find("x"), nullptr);
  ScratchDir dir;
  EXPECT_FALSE(catalogue.Load(dir / "missing.mo"));
  EXPECT_FALSE(catalogue.Load(dir.path()));
  WriteFile(dir / "good.mo", good);
  EXPECT_TRUE(catalogue.Load(dir / "good.mo"));
  EXPECT_EQ(*catalogue.Find("z"), "w");
}

TEST(SettingsOverlay, ComesBeforeTheFileWhichAloneIsWritten) {
  ScratchDir dir;
  const std::string ini = dir / "quindo.ini";
  WriteFile(ini, "[ARC]\nOUTPUT=1\nOVERWRITE=1\n[MELT]\nOUTPUT=0\n");
  auto overlay = std::make_shared<SettingsOverlay>();
  const std::string longFolder = "/" + std::string(300, 'f');
  overlay->Set("arc", "output", "2");
  overlay->Set("ARC", "OUTPUT_PATH", longFolder);
  overlay->Set("OPTION", "ZIP_LEVEL", "0");
  const Settings settings(ini, overlay);
  EXPECT_EQ(settings.ReadInt("ARC", "OUTPUT", 0), 2);
  EXPECT_EQ(settings.ReadString("Arc", "Output_Path", ""), longFolder);  // used whole
  EXPECT_EQ(settings.ReadInt("OPTION", "ZIP_LEVEL", 1), 0);
  EXPECT_TRUE(settings.ReadFlag("ARC", "OVERWRITE", "0"));  // from the file
  EXPECT_EQ(settings.ReadInt("MELT", "OUTPUT", 1), 0);

  EXPECT_TRUE(settings.WriteInt("ARC", "OUTPUT", 0));
  EXPECT_EQ(Settings(ini).ReadInt("ARC", "OUTPUT", 5), 0);
  EXPECT_EQ(settings.ReadInt("ARC", "OUTPUT", 0), 2);  // the run still has its own

  // Stores made for the jobs take the process's overlay.
  SetProcessSettingsOverlay(overlay);
  EXPECT_EQ(Settings().ReadString("ARC", "OUTPUT_PATH", ""), longFolder);
  SetProcessSettingsOverlay(nullptr);
  EXPECT_NE(Settings().ReadString("ARC", "OUTPUT_PATH", ""), longFolder);
}

}  // namespace
}  // namespace quindo
