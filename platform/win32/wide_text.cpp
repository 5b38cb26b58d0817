#include "platform/win32/wide_text.h"

#include <cwchar>

#include "platform/win32/windows_api.h"

namespace quindo::platform {

std::wstring WidePath(std::string_view utf8) {
  if (utf8.empty() || utf8.size() > 0x3FFFFFFF) return {};
  const int length = static_cast<int>(utf8.size());
  const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length, nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  if (::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length, out.data(), n) != n) return {};
  // A NUL inside would cut the name short at the call.
  if (out.find(L'\0') != std::wstring::npos) return {};
  return out;
}

std::string Utf8FromWide(const wchar_t* text, size_t length) {
  if (!text) return {};
  if (length == std::wstring::npos) length = std::wcslen(text);
  if (length == 0 || length > 0x3FFFFFFF) return {};
  const int units = static_cast<int>(length);
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, units, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  if (::WideCharToMultiByte(CP_UTF8, 0, text, units, out.data(), n, nullptr, nullptr) != n) return {};
  return out;
}

}  // namespace quindo::platform
