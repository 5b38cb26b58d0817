// Code pages on Windows. The core carries names as UTF-8 here as on Linux
// and the file calls take them in their wide forms, so the system code page
// of the core is UTF-8 whatever the ANSI code page is. Conversions of CP932
// text (archive names, the limits counted in its bytes) are explicit,
// through the system's own CP932 tables.
#include "platform/win32/windows_api.h"

#include "platform/platform.h"

namespace quindo::platform {

namespace {

constexpr UINT kCp932 = 932;

// text in `from` -> UTF-16 -> `to`; false when a character has no mapping.
bool Convert(UINT from, UINT to, std::string_view text, std::string& out) {
  out.clear();
  if (text.empty()) return true;
  if (text.size() > 0x3FFFFFFF) return false;
  const int inLength = static_cast<int>(text.size());
  int wide = ::MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, text.data(), inLength, nullptr, 0);
  if (wide <= 0) return false;
  std::wstring utf16(static_cast<size_t>(wide), L'\0');
  if (::MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, text.data(), inLength, utf16.data(), wide) != wide)
    return false;
  // CP932 reports unmappable characters through the default-character flag;
  // UTF-8 (which takes no such flag) through WC_ERR_INVALID_CHARS.
  BOOL usedDefault = FALSE;
  const DWORD flags = to == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL* defaultFlag = to == CP_UTF8 ? nullptr : &usedDefault;
  int bytes = ::WideCharToMultiByte(to, flags, utf16.data(), wide, nullptr, 0, nullptr, defaultFlag);
  if (bytes <= 0 || usedDefault) return false;
  out.assign(static_cast<size_t>(bytes), '\0');
  if (::WideCharToMultiByte(to, flags, utf16.data(), wide, out.data(), bytes, nullptr, defaultFlag) != bytes ||
      usedDefault) {
    out.clear();
    return false;
  }
  return true;
}

}  // namespace

CodePageId SystemCodePageId() { return CodePageId::Utf8; }

bool AnsiCodePageIsCp932() { return ::GetACP() == kCp932; }

bool ConvertCp932ToUtf8(std::string_view text, std::string& out) {
  return Convert(kCp932, CP_UTF8, text, out);
}

bool ConvertUtf8ToCp932(std::string_view utf8, std::string& out) {
  return Convert(CP_UTF8, kCp932, utf8, out);
}

}  // namespace quindo::platform
