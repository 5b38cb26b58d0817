// Profile files on Windows: the system's profile API, which already has the
// semantics the settings store relies on. The file stays what it always was,
// text in the ANSI code page: values come back as UTF-8 for the core, cut to
// 254 bytes of that code page as the 255-byte buffers of earlier versions
// did, and a value the code page cannot hold exactly is not written at all
// (the system would put "?" or a look-alike in its place).
#include "platform/win32/windows_api.h"

#include "common/text_limits.h"
#include "platform/platform.h"
#include "platform/win32/wide_text.h"

namespace quindo::platform {

namespace {


std::wstring WideText(std::string_view utf8) { return utf8.empty() ? std::wstring() : WidePath(utf8); }

// The ANSI form of wide text; false when a character has none.
bool ToAnsi(const std::wstring& wide, std::string& out) {
  out.clear();
  if (wide.empty()) return true;
  BOOL lossy = FALSE;
  const int units = static_cast<int>(wide.size());
  const int n = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), units, nullptr, 0, nullptr, &lossy);
  if (n <= 0 || lossy) return false;
  out.assign(static_cast<size_t>(n), '\0');
  return ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), units, out.data(), n, nullptr, &lossy) ==
             n &&
         !lossy;
}

std::wstring FromAnsi(std::string_view ansi) {
  if (ansi.empty()) return {};
  const int bytes = static_cast<int>(ansi.size());
  const int n = ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), bytes, nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), bytes, out.data(), n);
  return out;
}

}  // namespace

std::string ReadProfileString(const std::string& file, const std::string& section,
                              const std::string& key, const std::string& defaultValue) {
  const std::wstring path = WidePath(file);
  if (path.empty()) return defaultValue.substr(0, kMaxValueLength);
  wchar_t buffer[4096] = {};
  const DWORD n = ::GetPrivateProfileStringW(WideText(section).c_str(), WideText(key).c_str(),
                                             WideText(defaultValue).c_str(), buffer, 4096, path.c_str());
  const std::wstring value(buffer, n);
  std::string ansi;
  // A file saved as UTF-16 may hold what the code page cannot: no cut then.
  if (!ToAnsi(value, ansi)) return Utf8FromWide(value);
  if (ansi.size() > kMaxValueLength) {
    size_t keep = 0;
    for (size_t i = 0; i < ansi.size();) {
      const size_t step = ::IsDBCSLeadByte(static_cast<BYTE>(ansi[i])) ? 2 : 1;
      if (i + step > kMaxValueLength) break;
      i += step;
      keep = i;
    }
    ansi.resize(keep);
  }
  return Utf8FromWide(FromAnsi(ansi));
}

bool WriteProfileString(const std::string& file, const std::string& section, const std::string& key,
                        const std::string& value) {
  const std::wstring path = WidePath(file);
  const std::wstring wide = WideText(value);
  std::string ansi;
  if (path.empty() || (!value.empty() && wide.empty()) || !ToAnsi(wide, ansi)) {
    ::SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return false;
  }
  return ::WritePrivateProfileStringW(WideText(section).c_str(), WideText(key).c_str(), wide.c_str(),
                                      path.c_str()) != 0;
}

}  // namespace quindo::platform
