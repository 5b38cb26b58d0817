// The profile-file text: lookups and replacements over arbitrary text never
// fail, and a value that was set reads back.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/ini_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  (void)quindo::IniLookup(text, "ARC", "OUTPUT");
  std::string updated = quindo::IniReplace(text, "OPTION", "ZIP_LEVEL", "2");
  auto value = quindo::IniLookup(updated, "option", "zip_level");
  // An earlier key line with that name in a malformed section header can
  // shadow ours only if it was there before; a fresh name always reads back.
  std::string fresh = quindo::IniReplace(text, "QUINDO_FUZZ_SECTION", "FRESH_KEY", "v");
  auto freshValue = quindo::IniLookup(fresh, "QUINDO_FUZZ_SECTION", "FRESH_KEY");
  if (text.find("QUINDO_FUZZ_SECTION") == std::string::npos && text.find('\r') == std::string::npos &&
      (!freshValue || *freshValue != "v"))
    std::abort();
  (void)value;
  return 0;
}
