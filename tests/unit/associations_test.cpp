// The .zip and .lzh associations over a registry kept in a map: what the
// classes root holds after registering and giving back, and what the
// settings file remembers.
#include <gtest/gtest.h>

#include <map>

#include "app/settings.h"
#include "config/associations.h"
#include "config/registry.h"
#include "tests/support/test_support.h"

namespace quindo {
namespace {

class MapRegistry final : public ClassesRegistry {
 public:
  std::map<std::string, std::string> values;  // key path -> default value
  int notices = 0;

  bool ReadDefault(const std::string& keyPath, std::string& value) override {
    if (values.count(keyPath)) value = values[keyPath];
    return values.count(keyPath);
  }
  bool WriteDefault(const std::string& keyPath, const std::string& value) override {
    values[keyPath] = value;
    return true;
  }
  bool DeleteTree(const std::string& keyPath) override {
    return std::erase_if(values, [&](const auto& v) {
             return v.first == keyPath || v.first.rfind(keyPath + "\\", 0) == 0;
           }) > 0;
  }
  void NotifyAssociationChanged() override { ++notices; }
};

class AssociationsTest : public ::testing::Test {
 protected:
  test::ScratchDir dir;
  Settings settings{dir / "quindo.ini"};
  MapRegistry registry;
  RegistryAssociationStore store{registry};
  const std::string program = "C:\\Tools\\quindo.exe";

  std::string Stored(const char* keyName) { return settings.ReadString("EXT_SETTING", keyName, "<missing>"); }
};

TEST_F(AssociationsTest, RegisterTakesTheTypeOverAndUnregisterGivesItToTheRememberedOwner) {
  registry.values[".zip"] = "X";
  RegisterAssociation("QuindoZip", store, settings, program);
  // The ProgID key has no value of its own.
  EXPECT_EQ(registry.values, (std::map<std::string, std::string>{
                                 {".zip", "QuindoZip"},
                                 {"QuindoZip\\DefaultIcon", "C:\\Tools\\quindo.exe,1"},
                                 {"QuindoZip\\shell\\open\\command", "\"C:\\Tools\\quindo.exe\" \"%1\""}}));
  EXPECT_EQ(Stored("OLD_ZIP_TYPE") + Stored("ZIP_STATUS") + Stored("LZH_STATUS"), "X1<missing>");
  EXPECT_EQ(registry.notices, 1);

  // Twice in a row: the first owner stays remembered, and is given the type
  // back whoever holds it now.
  RegisterAssociation("QuindoZip", store, settings, program);
  registry.values[".zip"] = "ThirdParty";
  UnregisterAssociation("QuindoZip", store, settings);
  EXPECT_EQ(registry.values[".zip"], "X");
  EXPECT_EQ(Stored("ZIP_STATUS") + Stored("OLD_ZIP_TYPE"), "0X");  // the owner is never cleared
  EXPECT_TRUE(registry.values.count("QuindoZip\\DefaultIcon"));  // the ProgID stays

  // No previous owner: the type is left empty.
  RegisterAssociation("QuindoLzh", store, settings, program);
  EXPECT_EQ(registry.values[".lzh"], "QuindoLzh");
  EXPECT_EQ(Stored("OLD_LZH_TYPE"), "<missing>");
  UnregisterAssociation("QuindoLzh", store, settings);
  EXPECT_EQ(registry.values.at(".lzh"), "");
}

TEST_F(AssociationsTest, UnknownProgIdMissingProgramOrExecutableExtensionChangesNothing) {
  registry.values[".zip"] = "X";
  registry.values[".EXE"] = "exefile";
  const auto before = registry.values;
  RegisterAssociation("quindozip", store, settings, program);
  UnregisterAssociation("QuindoRar", store, settings);
  RegisterAssociation("QuindoZip", store, settings, "");
  EXPECT_FALSE(store.SetExtensionOwner(".EXE", "QuindoZip"));
  EXPECT_FALSE(store.SetExtensionOwner(".exe", "QuindoZip"));
  EXPECT_EQ(registry.values, before);
  EXPECT_EQ(registry.notices, 0);
  EXPECT_FALSE(test::Exists(settings.Path()));
  EXPECT_EQ(FindAssociationRow(nullptr), nullptr);
  EXPECT_TRUE(store.SetExtensionOwner(".exec", "QuindoZip"));
}

}  // namespace
}  // namespace quindo
