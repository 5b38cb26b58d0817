#pragma once
// The settings store over the profile file. No cached copy: each read opens
// the file, so a change made by another process applies to the next job.
// Flags are the texts "1" and "0"; a flag is on only for exactly "1".
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "common/text_limits.h"

namespace quindo {

namespace section {
inline constexpr const char* kArc = "ARC";
inline constexpr const char* kMelt = "MELT";
inline constexpr const char* kOption = "OPTION";
inline constexpr const char* kZipOption = "ZIP_OPTION";
inline constexpr const char* kExtSetting = "EXT_SETTING";
}  // namespace section

namespace key {
inline constexpr const char* kOutput = "OUTPUT";
inline constexpr const char* kOutputPath = "OUTPUT_PATH";
inline constexpr const char* kOverwrite = "OVERWRITE";
inline constexpr const char* kOpenDir = "OPENDIR";
inline constexpr const char* kZipLevel = "ZIP_LEVEL";
inline constexpr const char* kThreads = "THREADS";
inline constexpr const char* kMakeDirectory = "MAKE_DIRECTRY";  // spelled so in the file
inline constexpr const char* kNumberFilter = "NUMBER_FILTER";
inline constexpr const char* kSecurity = "SECURITY";
inline constexpr const char* kMacMetadata = "MAC_METADATA";  // [OPTION]: extract __MACOSX and ._ files
inline constexpr const char* kUseUtf8 = "USE_UTF8";
inline constexpr const char* kZipStatus = "ZIP_STATUS";
inline constexpr const char* kLzhStatus = "LZH_STATUS";
inline constexpr const char* kOldZipType = "OLD_ZIP_TYPE";
inline constexpr const char* kOldLzhType = "OLD_LZH_TYPE";
}  // namespace key

// Values that hold for one run of the program in place of the file's, such
// as the command line's output folder. Reads see them first; writes still go
// to the file alone, so a run never stores its overrides.
class SettingsOverlay {
 public:
  // Section and key names without regard to ASCII case, as in the file.
  void Set(const char* sectionName, const char* keyName, std::string value);
  const std::string* Find(const char* sectionName, const char* keyName) const;
  bool Empty() const { return values_.empty(); }

 private:
  std::map<std::pair<std::string, std::string>, std::string> values_;
};

// The overlay that every store made with Settings() takes from now on (the
// jobs make their own stores); null for none.
void SetProcessSettingsOverlay(std::shared_ptr<const SettingsOverlay> overlay);

class Settings {
 public:
  // The store over the program's own settings file, with the process's overlay.
  Settings();
  // The store over a given file (an empty path reads defaults, writes nothing).
  explicit Settings(std::string path, std::shared_ptr<const SettingsOverlay> overlay = nullptr)
      : path_(std::move(path)), overlay_(std::move(overlay)) {}

  const std::string& Path() const { return path_; }

  std::string ReadString(const char* sectionName, const char* keyName, const std::string& def) const;
  // Leading decimal digits (with a sign) of the stored text; 0 for text that
  // does not start with a number; the default when the key is missing.
  int ReadInt(const char* sectionName, const char* keyName, int def) const;
  bool ReadFlag(const char* sectionName, const char* keyName, const char* def) const;

  bool WriteString(const char* sectionName, const char* keyName, const std::string& text) const;
  bool WriteInt(const char* sectionName, const char* keyName, int value) const;
  bool WriteFlag(const char* sectionName, const char* keyName, bool on) const;

 private:
  std::string path_;
  std::shared_ptr<const SettingsOverlay> overlay_;
};

// GetPrivateProfileIntA's reading of a stored text.
int ParseProfileInt(const std::string& text);

}  // namespace quindo
