// The settings form: what it shows for a settings file, the rules between
// its controls, and what OK writes.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "app/settings.h"
#include "config/settings_form.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace quindo {
namespace {

using test::ReadFile;
using test::WriteFile;

struct RecordingActions final : AssociationActions {
  std::vector<std::string> calls;
  void Register(const char* progId) override { calls.push_back(std::string("+") + progId); }
  void Unregister(const char* progId) override { calls.push_back(std::string("-") + progId); }
};

struct ScriptedPicker final : FolderPicker {
  std::string answer;  // "" stands for Cancel
  std::vector<std::string> titles;
  bool PickFolder(const char* title, std::string& folder) override {
    titles.push_back(title);
    if (!answer.empty()) folder = answer;
    return !answer.empty();
  }
};

// The check boxes in one string: zip lzh, overwrite and open (extract,
// compress), utf8, make folder, number filter, security.
std::string Boxes(const SettingsForm& f) {
  std::string out;
  for (bool on : {f.zipAssociation, f.lzhAssociation, f.extractOverwrite, f.extractOpenDir, f.compressOverwrite,
                  f.compressOpenDir, f.useUtf8, f.makeDirectory, f.numberFilter, f.security})
    out += on ? '1' : '0';
  return out;
}

class SettingsFormTest : public ::testing::Test {
 protected:
  test::ScratchDir dir;
  std::string path = dir / "quindo.ini";
  Settings settings{path};
  RecordingActions actions;
  ScriptedPicker picker;

  std::string Stored(const char* section, const char* key) { return settings.ReadString(section, key, "<missing>"); }

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

TEST_F(SettingsFormTest, StoredValuesOutsideTheRulesAreShownAndWrittenBackAsTheRulesSay) {
  const std::string longPath = "/" + std::string(299, 'p');
  WriteFile(path, "[MELT]\nOVERWRITE=true\nOPENDIR=01\nOUTPUT=5\nOUTPUT_PATH=" + longPath +
                      "\n[ARC]\nOVERWRITE=1\nOPENDIR=1\nOUTPUT=2\nOUTPUT_PATH=" + longPath +
                      "\n[OPTION]\nSECURITY= 1\nMAKE_DIRECTRY=yes\nZIP_LEVEL=7\n[EXT_SETTING]\nZIP_STATUS=true\n");
  SettingsForm form = LoadSettingsForm(settings);
  // Only the exact text "1" checks; blanks around a value are not part of it.
  EXPECT_EQ(Boxes(form), "0000111011");
  EXPECT_FALSE(form.NumberFilterEnabled());
  EXPECT_EQ(form.levelIndex, kNoRadio);
  EXPECT_EQ((std::vector{form.extract.checkedRadio, form.extract.mode, form.compress.checkedRadio}),
            (std::vector{kModeDesktop, kModeDesktop, kModeChosen}));
  const std::string cut = longPath.substr(0, 254);
  EXPECT_EQ(std::make_pair(form.extract.folder, form.compress.folder), std::make_pair(cut, cut));

  // The number filter keeps its state while disabled and is still written;
  // the status keys belong to the associations, not to OK.
  ApplySettingsForm(form, settings, actions);
  EXPECT_EQ(ReadFile(path), "[MELT]\nOVERWRITE=0\nOPENDIR=0\nOUTPUT=0\nOUTPUT_PATH=" + cut +
                                "\n[ARC]\nOVERWRITE=1\nOPENDIR=1\nOUTPUT=2\nOUTPUT_PATH=" + cut +
                                "\n[OPTION]\nSECURITY=1\nMAKE_DIRECTRY=0\nZIP_LEVEL=-1\nNUMBER_FILTER=1"
                                "\n[EXT_SETTING]\nZIP_STATUS=true\n[ZIP_OPTION]\nUSE_UTF8=1\n");
  EXPECT_TRUE(actions.calls.empty());
}

TEST_F(SettingsFormTest, ChosenFolderRadioOpensTheBrowserOnlyOnEntering) {
  WriteFile(path, "[ARC]\nOUTPUT=2\nOUTPUT_PATH=/old\n[MELT]\nOUTPUT=1\nOUTPUT_PATH=/kept\n");
  SettingsForm form = LoadSettingsForm(settings);
  // Already in chosen-folder mode: a click opens nothing.
  picker.answer = "/never";
  Click(form, Column::Compress, kModeChosen);
  EXPECT_EQ(std::make_pair(picker.titles.size(), form.compress.folder), std::make_pair(size_t{0}, std::string("/old")));

  // Another radio first, then the chosen folder again: the browser opens.
  Click(form, Column::Compress, kModeBeside);
  EXPECT_EQ((std::pair{form.compress.mode, form.compress.folder}), (std::pair{kModeBeside, std::string("/old")}));
  Click(form, Column::Compress, kModeChosen);
  EXPECT_EQ(picker.titles, std::vector<std::string>{"圧縮ファイルの保存先を指定してください。"});
  EXPECT_EQ(form.compress.folder, "/never");
  EXPECT_EQ((std::pair{form.compress.mode, form.compress.checkedRadio}), (std::pair{kModeChosen, kModeChosen}));

  // A cancelled browser goes back to the previous radio, folder kept.
  picker.answer = "";
  Click(form, Column::Extract, kModeChosen);
  EXPECT_EQ(picker.titles.back(), "解凍ファイルの保存先を指定してください。");
  EXPECT_EQ((std::pair{form.extract.mode, form.extract.checkedRadio}), (std::pair{kModeBeside, kModeBeside}));
  EXPECT_EQ(std::make_tuple(form.extract.folder, form.compress.folder), std::make_tuple("/kept", "/never"));

  // A radio that did not end up checked opens nothing.
  form.extract.checkedRadio = kModeDesktop;
  EXPECT_EQ(OnDestinationRadio(form, Column::Extract, kModeChosen, picker), kNoRadio);
  EXPECT_EQ(picker.titles.size(), 2u);

  // Cancel is the form dropped without ApplySettingsForm: nothing written.
  EXPECT_EQ(ReadFile(path), "[ARC]\nOUTPUT=2\nOUTPUT_PATH=/old\n[MELT]\nOUTPUT=1\nOUTPUT_PATH=/kept\n");
}

TEST_F(SettingsFormTest, OkWritesEveryKeyInOrderAndAssociationsOnlyWhenChanged) {
  WriteFile(path, "[EXT_SETTING]\nZIP_STATUS=1\nLZH_STATUS=0\n");
  SettingsForm form = LoadSettingsForm(settings);
  EXPECT_EQ(Boxes(form).substr(0, 2), "10");
  form.levelIndex = 0;
  form.compress.checkedRadio = kModeBeside;
  ApplySettingsForm(form, settings, actions);  // unchanged boxes: no calls
  EXPECT_TRUE(actions.calls.empty());
  EXPECT_EQ(ReadFile(path),
            "[EXT_SETTING]\nZIP_STATUS=1\nLZH_STATUS=0\n"
            "[MELT]\nOVERWRITE=1\nOPENDIR=1\nOUTPUT=0\nOUTPUT_PATH=\n"
            "[ARC]\nOVERWRITE=1\nOPENDIR=0\nOUTPUT=1\nOUTPUT_PATH=\n"
            "[ZIP_OPTION]\nUSE_UTF8=1\n"
            "[OPTION]\nMAKE_DIRECTRY=1\nNUMBER_FILTER=1\nSECURITY=0\nZIP_LEVEL=0\n");
  // No radio checked: the mode is not written.
  WriteFile(path, "[EXT_SETTING]\nZIP_STATUS=1\nLZH_STATUS=0\n");
  form.zipAssociation = false, form.lzhAssociation = true, form.extract.checkedRadio = kNoRadio;
  EXPECT_TRUE(ApplySettingsForm(form, settings, actions));
  EXPECT_EQ(actions.calls, (std::vector<std::string>{"-QuindoZip", "+QuindoLzh"}));
  EXPECT_EQ(Stored("MELT", "OUTPUT") + Stored("ARC", "OUTPUT"), "<missing>1");
}

TEST_F(SettingsFormTest, OkTellsWhenTheSettingsFileCannotBeWritten) {
  // A folder where the file should be: no value can replace it.
  const std::string blocked = path + ".d";
  ASSERT_TRUE(platform::CreateDirectory(blocked));
  Settings unwritable{blocked};
  EXPECT_FALSE(ApplySettingsForm(LoadSettingsForm(unwritable), unwritable, actions));
}

}  // namespace
}  // namespace quindo
