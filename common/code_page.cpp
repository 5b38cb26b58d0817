#include "common/code_page.h"

namespace quindo {

namespace {

// Characters that Japanese text reaches through the JIS mappings (a Mac's,
// ISO-2022-JP's) where Windows has its own: each goes to the form CP932
// holds, so that 〜 in a name is not lost.
struct JisForm {
  const char* from;
  const char* to;
};
constexpr JisForm kJisForms[] = {
    {"\xE3\x80\x9C", "\xEF\xBD\x9E"},  // U+301C WAVE DASH -> U+FF5E
    {"\xE2\x88\x92", "\xEF\xBC\x8D"},  // U+2212 MINUS SIGN -> U+FF0D
    {"\xE2\x80\x96", "\xE2\x88\xA5"},  // U+2016 DOUBLE VERTICAL LINE -> U+2225
    {"\xE2\x80\x94", "\xE2\x80\x95"},  // U+2014 EM DASH -> U+2015
    {"\xC2\xA2", "\xEF\xBF\xA0"},          // U+00A2 CENT SIGN -> U+FFE0
    {"\xC2\xA3", "\xEF\xBF\xA1"},          // U+00A3 POUND SIGN -> U+FFE1
    {"\xC2\xAC", "\xEF\xBF\xA2"},          // U+00AC NOT SIGN -> U+FFE2
};

}  // namespace

bool WithCp932Forms(std::string_view utf8, std::string& out) {
  bool any = false;
  out.clear();
  for (size_t i = 0; i < utf8.size();) {
    bool replaced = false;
    if (static_cast<uint8_t>(utf8[i]) >= 0xC2) {
      for (const JisForm& form : kJisForms) {
        const std::string_view from(form.from);
        if (utf8.substr(i, from.size()) == from) {
          out += form.to;
          i += from.size();
          replaced = any = true;
          break;
        }
      }
    }
    if (!replaced) out += utf8[i++];
  }
  return any;
}

bool IsValidUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const uint8_t*>(text.data());
  size_t n = text.size(), i = 0;
  while (i < n) {
    uint8_t c = p[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    int len;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + len > n) return false;
    for (int k = 1; k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += len;
  }
  return true;
}

}  // namespace quindo
