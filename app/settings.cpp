#include "app/settings.h"

#include "common/ascii_case.h"
#include "platform/platform.h"

namespace quindo {

namespace {

std::shared_ptr<const SettingsOverlay> g_processOverlay;

std::string Lowered(const char* name) {
  std::string out(name);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

}  // namespace

void SettingsOverlay::Set(const char* sectionName, const char* keyName, std::string value) {
  values_[{Lowered(sectionName), Lowered(keyName)}] = std::move(value);
}

const std::string* SettingsOverlay::Find(const char* sectionName, const char* keyName) const {
  auto it = values_.find({Lowered(sectionName), Lowered(keyName)});
  return it == values_.end() ? nullptr : &it->second;
}

void SetProcessSettingsOverlay(std::shared_ptr<const SettingsOverlay> overlay) {
  g_processOverlay = std::move(overlay);
}

Settings::Settings() : path_(platform::SettingsFilePath()), overlay_(g_processOverlay) {}

std::string Settings::ReadString(const char* sectionName, const char* keyName,
                                 const std::string& def) const {
  // An overlay value is not cut: a folder named on the command line is used
  // whole rather than shortened into another one.
  if (overlay_) {
    if (const std::string* value = overlay_->Find(sectionName, keyName)) return *value;
  }
  std::string value = path_.empty() ? def : platform::ReadProfileString(path_, sectionName, keyName, def);
  if (value.size() > kMaxValueLength) value.resize(kMaxValueLength);
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
  return platform::WriteProfileString(path_, sectionName, keyName, text);
}

bool Settings::WriteInt(const char* sectionName, const char* keyName, int value) const {
  return WriteString(sectionName, keyName, std::to_string(value));
}

bool Settings::WriteFlag(const char* sectionName, const char* keyName, bool on) const {
  return WriteString(sectionName, keyName, on ? "1" : "0");
}

}  // namespace quindo
