// Linux uses libutf8proc; Debian has no build of it for mingw-w64, and
// Windows has the same normalisation built in (NormalizeString, normaliz.dll),
// so the Windows build asks the system. Both follow the Unicode tables of
// their version; names within a plane of common use come out the same.
#include "common/unicode_text.h"

#include "common/code_page.h"

#ifdef _WIN32
#include <windows.h>
#include <winnls.h>
#else
#include <utf8proc.h>

#include <cstdlib>
#endif

namespace quindo {

namespace {

bool IsAscii(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

}  // namespace

bool ToNfc(std::string_view utf8, std::string& out) {
  if (!IsValidUtf8(utf8)) return false;
  if (IsAscii(utf8)) {
    out.assign(utf8);
    return true;
  }
#ifdef _WIN32
  if (utf8.size() > 0x3FFFFFF) return false;
  const int inLength = static_cast<int>(utf8.size());
  const int wide = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), inLength, nullptr, 0);
  if (wide <= 0) return false;
  std::wstring source(static_cast<size_t>(wide), L'\0');
  if (::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), inLength, source.data(), wide) != wide)
    return false;
  // The first answer is an estimate; a short buffer is reported and retried.
  int estimate = ::NormalizeString(NormalizationC, source.data(), wide, nullptr, 0);
  std::wstring composed;
  for (int attempt = 0; attempt < 4 && estimate > 0; ++attempt) {
    composed.assign(static_cast<size_t>(estimate), L'\0');
    const int got = ::NormalizeString(NormalizationC, source.data(), wide, composed.data(), estimate);
    if (got > 0) {
      composed.resize(static_cast<size_t>(got));
      break;
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    estimate = -got;
    composed.clear();
  }
  if (composed.empty()) return false;
  const int cl = static_cast<int>(composed.size());
  const int bytes = ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, composed.data(), cl, nullptr, 0, nullptr,
                                          nullptr);
  if (bytes <= 0) return false;
  out.assign(static_cast<size_t>(bytes), '\0');
  return ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, composed.data(), cl, out.data(), bytes, nullptr,
                               nullptr) == bytes;
#else
  utf8proc_uint8_t* mapped = nullptr;
  const utf8proc_ssize_t n =
      utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(utf8.data()), static_cast<utf8proc_ssize_t>(utf8.size()),
                   &mapped, static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
  if (n < 0) return false;
  out.assign(reinterpret_cast<const char*>(mapped), static_cast<size_t>(n));
  std::free(mapped);
  return true;
#endif
}

}  // namespace quindo
