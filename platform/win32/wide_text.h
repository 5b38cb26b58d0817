#pragma once
// UTF-8 <-> UTF-16 at the Win32 boundary. The core carries every name and
// path as UTF-8 on Windows as on Linux; the Windows layer and the front end
// hand them to the wide ("W") calls and take the system's answers back
// through these two conversions.
#include <string>
#include <string_view>

namespace quindo::platform {

// The UTF-16 form of UTF-8 text. Text that is not valid UTF-8 names no file:
// it gives an empty string, which every file call refuses, rather than a
// name with U+FFFD in it that may be another file's.
std::wstring WidePath(std::string_view utf8);
// The UTF-8 form of UTF-16 text from the system (`length` units, or up to
// the terminating zero when it is npos). An unpaired surrogate, which no
// UTF-8 can hold, becomes U+FFFD.
std::string Utf8FromWide(const wchar_t* text, size_t length = std::wstring::npos);
inline std::string Utf8FromWide(const std::wstring& text) { return Utf8FromWide(text.c_str(), text.size()); }

}  // namespace quindo::platform
