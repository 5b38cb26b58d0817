// The settings form: what it shows for a settings file, the rules between
// its controls, and what OK writes.
#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "app/settings.h"
#include "common/gradient_label.h"
#include "config/settings_form.h"
#include "tests/support/test_support.h"

namespace quindo {
namespace {

using test::ReadFile;
using test::ScratchDir;
using test::WriteFile;

struct RecordingActions final : AssociationActions {
  std::vector<std::string> calls;
  void Register(const char* progId) override { calls.push_back(std::string("+") + progId); }
  void Unregister(const char* progId) override { calls.push_back(std::string("-") + progId); }
};

struct ScriptedPicker final : FolderPicker {
  std::deque<std::string> answers;  // "" stands for Cancel
  std::vector<std::string> titles;
  bool PickFolder(const char* title, std::string& folder) override {
    titles.push_back(title);
    if (answers.empty()) return false;
    std::string answer = answers.front();
    answers.pop_front();
    if (answer.empty()) return false;
    folder = answer;
    return true;
  }
};

class SettingsFormTest : public ::testing::Test {
 protected:
  ScratchDir dir;
  std::string path = dir / "quindo.ini";
  Settings settings{path};
  RecordingActions actions;
  ScriptedPicker picker;

  std::string Stored(const char* sectionName, const char* keyName) {
    return settings.ReadString(sectionName, keyName, "<missing>");
  }

  // A click on a radio as the dialog sees it: the radio checks itself, the
  // form hears of it, and a radio it hands back is clicked in turn.
  void Click(SettingsForm& form, Column column, int radio) {
    form.ColumnOf(column).checkedRadio = radio;
    int back = OnDestinationRadio(form, column, radio, picker);
    if (back != kNoRadio) {
      form.ColumnOf(column).checkedRadio = back;
      EXPECT_EQ(OnDestinationRadio(form, column, back, picker), kNoRadio);
    }
  }
};

TEST_F(SettingsFormTest, EmptyFileShowsTheDefaults) {
  WriteFile(path, "");
  SettingsForm form = LoadSettingsForm(settings);
  EXPECT_FALSE(form.zipAssociation);
  EXPECT_FALSE(form.lzhAssociation);
  EXPECT_TRUE(form.extractOverwrite);
  EXPECT_TRUE(form.compressOverwrite);
  EXPECT_TRUE(form.useUtf8);
  EXPECT_TRUE(form.makeDirectory);
  EXPECT_TRUE(form.numberFilter);
  EXPECT_TRUE(form.NumberFilterEnabled());
  EXPECT_TRUE(form.extractOpenDir);
  EXPECT_FALSE(form.compressOpenDir);
  EXPECT_FALSE(form.security);
  EXPECT_EQ(form.levelIndex, 1);
  EXPECT_STREQ(form_text::kLevelNames[form.levelIndex], "通常圧縮");
  EXPECT_EQ(form.extract.checkedRadio, kModeDesktop);
  EXPECT_EQ(form.compress.checkedRadio, kModeDesktop);
  EXPECT_EQ(form.extract.mode, kModeDesktop);
  EXPECT_EQ(form.compress.mode, kModeDesktop);
  EXPECT_EQ(form.extract.folder, "");
  EXPECT_EQ(form.compress.folder, "");
}

TEST_F(SettingsFormTest, OnlyExactOneChecksAndOkRewritesOtherTextsAsZero) {
  WriteFile(path,
            "[MELT]\nOVERWRITE=true\nOPENDIR=01\n[ARC]\nOVERWRITE=1\nOPENDIR=1\n"
            "[OPTION]\nSECURITY= 1\nMAKE_DIRECTRY=yes\n[EXT_SETTING]\nZIP_STATUS=true\n");
  SettingsForm form = LoadSettingsForm(settings);
  EXPECT_FALSE(form.extractOverwrite);
  EXPECT_FALSE(form.extractOpenDir);
  EXPECT_TRUE(form.compressOverwrite);
  EXPECT_TRUE(form.compressOpenDir);
  EXPECT_TRUE(form.security);  // blanks around a value are not part of it
  EXPECT_FALSE(form.makeDirectory);
  EXPECT_FALSE(form.NumberFilterEnabled());
  EXPECT_FALSE(form.zipAssociation);

  ApplySettingsForm(form, settings, actions);
  EXPECT_EQ(Stored("MELT", "OVERWRITE"), "0");
  EXPECT_EQ(Stored("MELT", "OPENDIR"), "0");
  EXPECT_EQ(Stored("ARC", "OVERWRITE"), "1");
  EXPECT_EQ(Stored("OPTION", "MAKE_DIRECTRY"), "0");
  // The number filter keeps its state while disabled and is still written.
  EXPECT_EQ(Stored("OPTION", "NUMBER_FILTER"), "1");
  // The status keys belong to the associations, not to OK.
  EXPECT_EQ(Stored("EXT_SETTING", "ZIP_STATUS"), "true");
  EXPECT_EQ(Stored("EXT_SETTING", "LZH_STATUS"), "<missing>");
  EXPECT_TRUE(actions.calls.empty());
}

TEST_F(SettingsFormTest, LevelOutsideTheListSelectsNothingAndOkWritesMinusOne) {
  for (const char* stored : {"7", "-1", "x"}) {
    WriteFile(path, std::string("[OPTION]\nZIP_LEVEL=") + stored + "\n");
    SettingsForm form = LoadSettingsForm(settings);
    // Text that is not a number reads as 0, the first entry.
    const int expected = std::string(stored) == "x" ? 0 : kNoRadio;
    EXPECT_EQ(form.levelIndex, expected) << stored;
    ApplySettingsForm(form, settings, actions);
    EXPECT_EQ(Stored("OPTION", "ZIP_LEVEL"), std::to_string(expected)) << stored;
  }
  WriteFile(path, "[OPTION]\nZIP_LEVEL=2\n");
  EXPECT_EQ(LoadSettingsForm(settings).levelIndex, 2);
}

TEST_F(SettingsFormTest, UnknownDestinationModeSelectsTheDesktop) {
  WriteFile(path, "[MELT]\nOUTPUT=5\n[ARC]\nOUTPUT=2\nOUTPUT_PATH=/data/out\n");
  SettingsForm form = LoadSettingsForm(settings);
  EXPECT_EQ(form.extract.checkedRadio, kModeDesktop);
  EXPECT_EQ(form.extract.mode, kModeDesktop);
  EXPECT_EQ(form.compress.checkedRadio, kModeChosen);
  EXPECT_EQ(form.compress.mode, kModeChosen);
  EXPECT_EQ(form.compress.folder, "/data/out");
  ApplySettingsForm(form, settings, actions);
  EXPECT_EQ(Stored("MELT", "OUTPUT"), "0");
  EXPECT_EQ(Stored("ARC", "OUTPUT"), "2");
  EXPECT_EQ(Stored("ARC", "OUTPUT_PATH"), "/data/out");
  EXPECT_EQ(Stored("MELT", "OUTPUT_PATH"), "");
}

TEST_F(SettingsFormTest, ChosenFolderRadioOpensTheBrowserOnlyOnEntering) {
  WriteFile(path, "[ARC]\nOUTPUT=2\nOUTPUT_PATH=/old\n");
  SettingsForm form = LoadSettingsForm(settings);

  // Already in chosen-folder mode: a click opens nothing.
  picker.answers = {"/never"};
  Click(form, Column::Compress, kModeChosen);
  EXPECT_TRUE(picker.titles.empty());
  EXPECT_EQ(form.compress.folder, "/old");

  // Another radio first, then the chosen folder again: the browser opens.
  Click(form, Column::Compress, kModeBeside);
  EXPECT_EQ(form.compress.mode, kModeBeside);
  EXPECT_EQ(form.compress.folder, "/old");  // the field keeps its text
  Click(form, Column::Compress, kModeChosen);
  ASSERT_EQ(picker.titles.size(), 1u);
  EXPECT_EQ(picker.titles[0], "圧縮ファイルの保存先を指定してください。");
  EXPECT_EQ(form.compress.folder, "/never");
  EXPECT_EQ(form.compress.mode, kModeChosen);
  EXPECT_EQ(form.compress.checkedRadio, kModeChosen);
  // The other column is untouched.
  EXPECT_EQ(form.extract.mode, kModeDesktop);
  EXPECT_EQ(form.extract.checkedRadio, kModeDesktop);
}

TEST_F(SettingsFormTest, CancelledBrowserGoesBackToThePreviousRadio) {
  WriteFile(path, "[MELT]\nOUTPUT=1\nOUTPUT_PATH=/kept\n");
  SettingsForm form = LoadSettingsForm(settings);
  picker.answers = {""};
  Click(form, Column::Extract, kModeChosen);
  ASSERT_EQ(picker.titles.size(), 1u);
  EXPECT_EQ(picker.titles[0], "解凍ファイルの保存先を指定してください。");
  EXPECT_EQ(form.extract.checkedRadio, kModeBeside);
  EXPECT_EQ(form.extract.mode, kModeBeside);
  EXPECT_EQ(form.extract.folder, "/kept");

  Click(form, Column::Extract, kModeDesktop);
  picker.answers = {""};
  Click(form, Column::Extract, kModeChosen);
  EXPECT_EQ(form.extract.checkedRadio, kModeDesktop);
  EXPECT_EQ(form.extract.mode, kModeDesktop);

  // A radio that did not end up checked opens nothing.
  form.extract.checkedRadio = kModeDesktop;
  EXPECT_EQ(OnDestinationRadio(form, Column::Extract, kModeChosen, picker), kNoRadio);
  EXPECT_EQ(picker.titles.size(), 2u);
}

TEST_F(SettingsFormTest, CancelWritesNothing) {
  const std::string original = "[MELT]\nOVERWRITE=true\n[OPTION]\nZIP_LEVEL=7\n";
  WriteFile(path, original);
  SettingsForm form = LoadSettingsForm(settings);
  form.zipAssociation = true;
  form.security = true;
  picker.answers = {"/picked"};
  Click(form, Column::Compress, kModeChosen);
  // Cancel is the form dropped without ApplySettingsForm.
  EXPECT_EQ(ReadFile(path), original);
  EXPECT_TRUE(actions.calls.empty());
}

TEST_F(SettingsFormTest, LongStoredPathIsShownAndWrittenBackCut) {
  const std::string longPath = "/" + std::string(299, 'p');
  WriteFile(path, "[MELT]\nOUTPUT=2\nOUTPUT_PATH=" + longPath + "\n[ARC]\nOUTPUT_PATH=" + longPath + "\n");
  SettingsForm form = LoadSettingsForm(settings);
  EXPECT_EQ(form.extract.folder, longPath.substr(0, 254));
  EXPECT_EQ(form.compress.folder, longPath.substr(0, 254));
  ApplySettingsForm(form, settings, actions);
  const std::string text = ReadFile(path);
  EXPECT_NE(text.find("OUTPUT_PATH=" + longPath.substr(0, 254) + "\n"), std::string::npos);
  EXPECT_EQ(text.find(longPath.substr(0, 255)), std::string::npos);
}

TEST_F(SettingsFormTest, OkChangesAssociationsOnlyAgainstTheStoredStatus) {
  WriteFile(path, "[EXT_SETTING]\nZIP_STATUS=1\nLZH_STATUS=0\n");
  SettingsForm form = LoadSettingsForm(settings);
  EXPECT_TRUE(form.zipAssociation);
  EXPECT_FALSE(form.lzhAssociation);
  ApplySettingsForm(form, settings, actions);  // unchanged boxes: no calls
  EXPECT_TRUE(actions.calls.empty());

  form.zipAssociation = false;
  form.lzhAssociation = true;
  ApplySettingsForm(form, settings, actions);
  EXPECT_EQ(actions.calls, (std::vector<std::string>{"-QuindoZip", "+QuindoLzh"}));
}

TEST_F(SettingsFormTest, OkWritesEveryKeyInOrder) {
  SettingsForm form;
  form.levelIndex = 0;
  form.compress.checkedRadio = kModeBeside;
  ApplySettingsForm(form, settings, actions);
  EXPECT_EQ(ReadFile(path),
            "[MELT]\nOVERWRITE=1\nOPENDIR=1\nOUTPUT=0\nOUTPUT_PATH=\n"
            "[ARC]\nOVERWRITE=1\nOPENDIR=0\nOUTPUT=1\nOUTPUT_PATH=\n"
            "[ZIP_OPTION]\nUSE_UTF8=1\n"
            "[OPTION]\nMAKE_DIRECTRY=1\nNUMBER_FILTER=1\nSECURITY=0\nZIP_LEVEL=0\n");
  // No radio checked: the mode is not written.
  WriteFile(path, "");
  form.extract.checkedRadio = kNoRadio;
  ApplySettingsForm(form, settings, actions);
  EXPECT_EQ(Stored("MELT", "OUTPUT"), "<missing>");
  EXPECT_EQ(Stored("ARC", "OUTPUT"), "1");
}

TEST_F(SettingsFormTest, WithoutASettingsFileOkRegistersTickedTypesAndWritesNothing) {
  Settings none{""};
  SettingsForm form = LoadSettingsForm(none);
  EXPECT_FALSE(form.zipAssociation);
  form.zipAssociation = true;
  ApplySettingsForm(form, none, actions);
  ApplySettingsForm(form, none, actions);
  EXPECT_EQ(actions.calls, (std::vector<std::string>{"+QuindoZip", "+QuindoZip"}));
  EXPECT_FALSE(test::Exists(path));
}

TEST(GradientLabelTest, BandsCoverTheWidthAndStopOneStepShortOfTheEnd) {
  const Rgb start{50, 50, 255}, end{150, 150, 240};
  auto bands = GradientBands(4, 510, start, end);
  ASSERT_EQ(bands.size(), 255u);
  EXPECT_EQ(bands.front().left, 4);
  EXPECT_EQ(bands.back().right, 514);
  for (size_t i = 1; i < bands.size(); ++i) EXPECT_EQ(bands[i].left, bands[i - 1].right);
  EXPECT_EQ(bands[0].colour, start);
  // 50 + 100 * 254 / 255 = 149.6 and 255 - 15 * 254 / 255 = 240.06, both cut down.
  EXPECT_EQ(bands[254].colour, (Rgb{149, 149, 240}));
  // A falling channel is cut towards zero too: 255 - 15/255 is 254.
  EXPECT_EQ(bands[1].colour.b, 254);
  EXPECT_EQ(bands[1].colour.r, 50);

  // Narrower than 255 pixels: empty bands, the last reaching the right edge.
  auto narrow = GradientBands(0, 100, start, end);
  EXPECT_EQ(narrow[0].right, 0);
  EXPECT_EQ(narrow[254].right, 100);

  GradientStyle header = HeaderLabelStyle();
  for (const GradientBand& band : GradientBands(0, 300, header.start, header.end))
    EXPECT_EQ(band.colour, (Rgb{255, 255, 255}));
  EXPECT_EQ(header.text, (Rgb{0, 0, 0}));
  EXPECT_EQ(SectionLabelStyle().text, (Rgb{255, 255, 255}));
}

}  // namespace
}  // namespace quindo
