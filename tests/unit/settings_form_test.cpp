// The settings form: what OK writes, and when (what it shows and the rules
// between its controls: the Wine test of the settings dialog).
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "app/settings.h"
#include "common/text_limits.h"
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

class SettingsFormTest : public ::testing::Test {
 protected:
  test::ScratchDir dir;
  std::string path = dir / "quindo.ini";
  Settings settings{path};
  RecordingActions actions;
};

TEST_F(SettingsFormTest, OkWritesEveryKeyInOrderAndAssociationsOnlyWhenChanged) {
  WriteFile(path, "[EXT_SETTING]\nZIP_STATUS=1\nLZH_STATUS=0\n");
  SettingsForm form = LoadSettingsForm(settings);
  EXPECT_EQ(std::make_pair(form.zipAssociation, form.lzhAssociation), std::make_pair(true, false));
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
  EXPECT_EQ(settings.ReadString("MELT", "OUTPUT", "<missing>") + settings.ReadString("ARC", "OUTPUT", ""),
            "<missing>1");
}

TEST_F(SettingsFormTest, OkTellsWhenTheSettingsFileCannotBeWritten) {
  // A folder where the file should be: no value can replace it.
  const std::string blocked = path + ".d";
  ASSERT_TRUE(platform::CreateDirectory(blocked));
  Settings unwritable{blocked};
  EXPECT_FALSE(ApplySettingsForm(LoadSettingsForm(unwritable), unwritable, actions));
}

// A picked folder that the settings file cannot keep whole would be kept as
// another folder: it is refused, with a word, and the column keeps its mode.
TEST_F(SettingsFormTest, AFolderTooLongToKeepIsRefusedNotCut) {
  struct Picker final : FolderPicker {
    std::string answer;
    std::vector<std::string> refusals;
    bool PickFolder(const char*, std::string& folder) override {
      folder = answer;
      return true;
    }
    void Refuse(const char* text) override { refusals.push_back(text); }
  } picker;
  SettingsForm form = LoadSettingsForm(settings);
  form.extract.mode = kModeBeside;
  form.extract.checkedRadio = kModeChosen;  // the radio's own click
  picker.answer = std::string(1, platform::kPathSeparator) + std::string(kMaxValueLength, 'a');
  EXPECT_EQ(OnDestinationRadio(form, Column::Extract, kModeChosen, picker), kModeBeside);
  EXPECT_EQ(std::make_pair(form.extract.mode, form.extract.folder), std::make_pair(kModeBeside, std::string()));
  EXPECT_EQ(picker.refusals, std::vector<std::string>{form_text::kFolderTooLong});

  picker.answer.pop_back();  // exactly as long as a value can be
  form.extract.checkedRadio = kModeChosen;
  EXPECT_EQ(OnDestinationRadio(form, Column::Extract, kModeChosen, picker), kNoRadio);
  EXPECT_EQ(std::make_pair(form.extract.mode, form.extract.folder), std::make_pair(kModeChosen, picker.answer));
  EXPECT_EQ(picker.refusals.size(), 1u);
}

}  // namespace
}  // namespace quindo
