#pragma once
// The multibyte code pages of names and paths. Inside the core every name is
// UTF-8, on Windows as on Linux; archives carry CP932 (Shift-JIS) names too,
// and the walks can run over either. A CodePage answers how long the
// character at a byte is, so that path walks never split a character and never
// take a trail byte (0x5C in CP932) for a separator, and converts to and from
// UTF-8. The concrete code pages are bound to the system's converters by the
// platform layer (platform/platform.h).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quindo {

enum class CodePageId { Cp932 = 932, Utf8 = 65001 };

class CodePage {
 public:
  virtual ~CodePage() = default;
  virtual CodePageId Id() const = 0;
  // 2 for a CP932 lead byte, 1 otherwise (the lead-byte table's entry).
  // For UTF-8 every byte answers 1: no byte of a multibyte UTF-8 sequence is
  // below 0x80, so byte-wise walks are already safe.
  int LeadByteLength(uint8_t byte) const { return leadLength_[byte]; }
  bool IsLeadByte(uint8_t byte) const { return leadLength_[byte] == 2; }
  // Converts text of this code page to UTF-8 and back. False when the input
  // holds a sequence the other side cannot represent; `out` is then undefined.
  virtual bool ToUtf8(std::string_view text, std::string& out) const = 0;
  virtual bool FromUtf8(std::string_view utf8, std::string& out) const = 0;

 protected:
  int8_t leadLength_[256] = {};
};

// `utf8` with the characters that Japanese text reaches through the JIS
// mappings (U+301C WAVE DASH and its kin) replaced by the forms CP932 holds;
// false when there are none.
bool WithCp932Forms(std::string_view utf8, std::string& out);

// Strict UTF-8 validity (no overlongs, no surrogates, at most U+10FFFF).
bool IsValidUtf8(std::string_view text);

}  // namespace quindo
