#include "app/settings.h"

#include "platform/platform.h"

namespace quindo {

Settings::Settings() : path_(platform::SettingsFilePath()) {}

std::string Settings::ReadString(const char* sectionName, const char* keyName,
                                 const std::string& def) const {
  std::string value = path_.empty() ? def : platform::ReadProfileString(path_, sectionName, keyName, def);
  if (value.size() > kMaxSettingLength) value.resize(kMaxSettingLength);
  return value;
}

int ParseProfileInt(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > 0x7FFFFFFF) value = 0x7FFFFFFF;
  }
  return static_cast<int>(negative ? -value : value);
}

int Settings::ReadInt(const char* sectionName, const char* keyName, int def) const {
  // A sentinel that no stored text can equal tells "missing" from "empty".
  static const std::string kMissing = std::string("\x01missing\x01");
  std::string text = ReadString(sectionName, keyName, kMissing);
  if (text == kMissing) return def;
  return ParseProfileInt(text);
}

bool Settings::ReadFlag(const char* sectionName, const char* keyName, const char* def) const {
  return ReadString(sectionName, keyName, def) == "1";
}

bool Settings::WriteString(const char* sectionName, const char* keyName, const std::string& text) const {
  if (path_.empty()) return false;
  platform::WriteProfileString(path_, sectionName, keyName, text);
  return true;
}

bool Settings::WriteInt(const char* sectionName, const char* keyName, int value) const {
  return WriteString(sectionName, keyName, std::to_string(value));
}

bool Settings::WriteFlag(const char* sectionName, const char* keyName, bool on) const {
  return WriteString(sectionName, keyName, on ? "1" : "0");
}

}  // namespace quindo
