// The code pages the core walks and converts names with, bound to this
// system's converters (iconv on Linux, the Win32 conversions on Windows).
#include "platform/platform.h"

namespace quindo {

namespace {

class Cp932 final : public CodePage {
 public:
  Cp932() {
    leadLength_[0] = 0;
    for (int b = 1; b < 256; ++b)
      leadLength_[b] = ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) ? 2 : 1;
  }
  CodePageId Id() const override { return CodePageId::Cp932; }
  bool ToUtf8(std::string_view text, std::string& out) const override {
    return platform::ConvertCp932ToUtf8(text, out);
  }
  bool FromUtf8(std::string_view utf8, std::string& out) const override {
    std::string mapped;
    if (IsValidUtf8(utf8) && WithCp932Forms(utf8, mapped)) return platform::ConvertUtf8ToCp932(mapped, out);
    return platform::ConvertUtf8ToCp932(utf8, out);
  }
};

class Utf8 final : public CodePage {
 public:
  Utf8() {
    leadLength_[0] = 0;
    for (int b = 1; b < 256; ++b) leadLength_[b] = 1;
  }
  CodePageId Id() const override { return CodePageId::Utf8; }
  bool ToUtf8(std::string_view text, std::string& out) const override {
    if (!IsValidUtf8(text)) return false;
    out.assign(text);
    return true;
  }
  bool FromUtf8(std::string_view utf8, std::string& out) const override {
    if (!IsValidUtf8(utf8)) return false;
    out.assign(utf8);
    return true;
  }
};

}  // namespace

const CodePage& Cp932CodePage() {
  static const Cp932 page;
  return page;
}

const CodePage& Utf8CodePage() {
  static const Utf8 page;
  return page;
}

const CodePage& SystemCodePage() {
  return platform::SystemCodePageId() == CodePageId::Cp932 ? Cp932CodePage() : Utf8CodePage();
}

const CodePage* LegacyNameCodePage() {
  static const bool cp932 = platform::AnsiCodePageIsCp932();
  return cp932 ? &Cp932CodePage() : nullptr;
}

}  // namespace quindo
