#pragma once
// Comparison without regard to ASCII letter case, as lstrcmpiA does for the
// switches, extensions, device names and profile names this program compares.
// Bytes outside ASCII compare as they are, so a multibyte character is never
// folded.
#include <string_view>

namespace quindo {

inline char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

inline bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

}  // namespace quindo
