#include <gtest/gtest.h>

#include <cstdint>

#include "app/settings.h"
#include "frontend/terminal/command_line.h"
#include "tests/support/test_support.h"

namespace quindo {
namespace {

using test::ScratchDir;
using test::WriteFile;

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
