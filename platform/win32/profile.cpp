// Profile files on Windows: the system's profile API, which already has the
// semantics the settings store relies on.
#include "platform/win32/windows_api.h"

#include "common/text_limits.h"
#include "platform/platform.h"

namespace quindo::platform {

std::string ReadProfileString(const std::string& file, const std::string& section,
                              const std::string& key, const std::string& defaultValue) {
  // A value comes back as at most kMaxValueLength bytes.
  char buffer[kMaxValueLength + 1] = {};
  DWORD n = ::GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), buffer,
                                       sizeof buffer, file.c_str());
  return std::string(buffer, n);
}

bool WriteProfileString(const std::string& file, const std::string& section, const std::string& key,
                        const std::string& value) {
  return ::WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file.c_str()) != 0;
}

}  // namespace quindo::platform
