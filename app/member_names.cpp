#include "app/member_names.h"

#include <algorithm>
#include <vector>

#include "app/path_utils.h"
#include "common/unicode_text.h"
#include "platform/platform.h"

namespace quindo {

namespace {

bool IsNameSeparator(char c) { return c == '/' || c == '\\'; }

// The offset of the first separator at or after `from`, stepping over whole
// characters; npos when there is none.
size_t FirstSeparator(std::string_view text, size_t from, const CodePage& cp, bool either) {
  for (size_t i = from; i < text.size();) {
    const PathChar ch = PathCharAt(text, i, cp);
    if (ch.length == 0) break;
    if (!ch.multibyte && (either ? IsNameSeparator(text[i]) : text[i] == platform::kPathSeparator)) return i;
    i += ch.length;
  }
  return std::string_view::npos;
}

}  // namespace

namespace {

// The bytes a character of `cp` at `i` counts against a limit: its own, or
// where the legacy code page counts, one (ASCII, half-width katakana) or two.
size_t CountedBytes(std::string_view text, size_t i, size_t length, bool countLegacy) {
  if (!countLegacy || length == 1) return length;
  const auto at = [&](size_t k) { return static_cast<uint8_t>(text[i + k]); };
  const bool halfWidthKana =
      length == 3 && at(0) == 0xEF && ((at(1) == 0xBD && at(2) >= 0xA1) || (at(1) == 0xBE && at(2) <= 0x9F));
  return halfWidthKana ? 1 : 2;
}

size_t CountedLength(std::string_view text, const CodePage& cp, bool countLegacy) {
  size_t used = 0;
  for (size_t i = 0; i < text.size();) {
    const PathChar ch = PathCharAt(text, i, cp);
    const size_t len = ch.length ? std::min(ch.length, text.size() - i) : 1;
    used += CountedBytes(text, i, len, countLegacy);
    i += len;
  }
  return used;
}

}  // namespace

bool CutToFit(std::string_view head, std::string& part, std::string_view tail, const CodePage& cp, size_t limit,
              const CodePage* legacy) {
  // No character takes more bytes in CP932 than in UTF-8.
  if (head.size() + part.size() + tail.size() <= limit) return true;
  // Where the limit counts the legacy code page's bytes, each character of a
  // name it holds takes one byte (ASCII, half-width katakana) or two.
  std::string whole, bytes;
  whole.append(head).append(part).append(tail);
  const bool countLegacy = legacy && cp.Id() == CodePageId::Utf8 && legacy->FromUtf8(whole, bytes);
  if (countLegacy && bytes.size() <= limit) return true;
  const size_t fixed = CountedLength(head, cp, countLegacy) + CountedLength(tail, cp, countLegacy);
  if (fixed > limit) {
    part.clear();
    return false;
  }
  size_t keep = 0, used = 0;
  for (size_t i = 0; i < part.size();) {
    const PathChar ch = PathCharAt(part, i, cp);
    const size_t len = ch.length ? ch.length : 1;
    const size_t counted = CountedBytes(part, i, len, countLegacy);
    if (fixed + used + counted > limit) break;
    used += counted;
    i += len;
    keep = i;
  }
  part.resize(keep);
  return true;
}

void CutName(std::string& name, const CodePage& cp, size_t limit, const CodePage* legacy) {
  CutToFit({}, name, {}, cp, limit, legacy);
}

bool LooksLikeUtf8(std::string_view name) {
  bool kana = false, dbl = false, vendor = false, unassigned = false;
  const size_t n = name.size();
  for (size_t i = 0; i < n; ++i) {
    const auto c = static_cast<uint8_t>(name[i]);
    if ((c >= 0x07 && c <= 0x0D) || (c >= 0x20 && c <= 0x7E)) continue;
    if (c >= 0xA1 && c <= 0xDF) {
      kana = true;
      continue;
    }
    const bool low = c >= 0x81 && c <= 0x9F;
    const bool high = c >= 0xE0 && c <= 0xEF;
    if (!low && !high) return true;  // invalid for Shift-JIS
    dbl = true;
    if (i + 1 == n) break;  // a lead byte without its trail is no error
    const auto t = static_cast<uint8_t>(name[++i]);
    if (!((t >= 0x40 && t <= 0x7E) || (t >= 0x80 && t <= 0xFC))) return true;
    if (low) {
      if (c == 0x87 && t < 0x9E) vendor = true;
      else if ((c >= 0x85 && c <= 0x87) || (c == 0x88 && t < 0x9E)) unassigned = true;
    } else {
      if (c == 0xED || c == 0xEE) vendor = true;
      else if (c >= 0xEB) unassigned = true;
    }
  }
  const bool onlyDoubleAndKana = kana && !vendor && !unassigned;
  const bool shiftJis = dbl && !onlyDoubleAndKana;
  return !shiftJis;
}

namespace {

bool IsAscii(std::string_view text) {
  for (char c : text)
    if (static_cast<uint8_t>(c) >= 0x80) return false;
  return true;
}

// A UTF-8 name, composed, in the system code page and cut to the name
// limit; false when it cannot be held there whole.
bool FromUtf8Name(std::string_view utf8, std::string& out) {
  std::string composed;
  if (!ToNfc(utf8, composed)) return false;
  out.clear();
  const size_t length = Utf8ToAnsi(composed, out, std::string::npos);  // 0 for a failure and for empty text
  if (length != out.size() || (length == 0 && !composed.empty())) return false;
  CutName(out, PathCodePage(), kMaxNameLength, LegacyNameCodePage());
  return true;
}

}  // namespace

std::string MemberNameForSystem(std::string_view stored, NameEncoding encoding, bool useUtf8, bool archiveUtf8,
                                std::string_view unicodeName) {
  const CodePage& cp = PathCodePage();
  std::string out;
  if (useUtf8 && encoding != NameEncoding::Cp932) {
    const bool valid = IsValidUtf8(stored);
    if (encoding == NameEncoding::Utf8 && valid && FromUtf8Name(stored, out)) return out;
    if (!unicodeName.empty() && FromUtf8Name(unicodeName, out)) return out;
    if (((archiveUtf8 && valid) || LooksLikeUtf8(stored)) && FromUtf8Name(stored, out)) return out;
  }
  // As stored: Shift-JIS, the code page of the systems these archives come
  // from. A UTF-8 system converts it so that the names read right.
  if (cp.Id() == CodePageId::Utf8 && Cp932CodePage().ToUtf8(stored, out)) {
    CutName(out, cp, kMaxNameLength, LegacyNameCodePage());
    return out;
  }
  out.assign(stored);
  CutName(out, cp, kMaxNameLength, nullptr);
  return out;
}

void NameJudge::Add(const MemberInfo& member) {
  if (!valid_ || member.encoding != NameEncoding::Unknown || !member.unicodeName.empty()) return;
  if (!IsValidUtf8(member.name)) {
    valid_ = false;
    return;
  }
  if (IsAscii(member.name)) return;
  beyondAscii_ = true;
  if (!LooksLikeUtf8(member.name)) changes_ = true;
}

bool IsMacMetadata(std::string_view path, const CodePage& cp) {
  for (size_t i = 0; i < path.size();) {
    size_t end = FirstSeparator(path, i, cp, false);
    const bool last = end == std::string_view::npos;
    if (last) end = path.size();
    const std::string_view component = path.substr(i, end - i);
    if (component == "__MACOSX") return true;
    if (last) return component.size() > 2 && component.substr(0, 2) == "._";
    i = end + 1;
  }
  return false;
}

CleanName CleanMemberName(const std::string& converted, const CodePage& cp) {
  CleanName result;
  std::string name = converted;
  const size_t start = SanitizeMemberPath(name, cp, nullptr);
  const std::string_view cleaned = std::string_view(name).substr(start);

  // The first folder counts only when cleaning kept it as stored: "./x",
  // "C:\x", "../x" or a renamed device name have no top folder of their own.
  const size_t sep = FirstSeparator(cleaned, 0, cp, false);
  if (start == 0 && sep != std::string_view::npos && sep > 0) {
    const std::string_view first = cleaned.substr(0, sep);
    const size_t rawSep = FirstSeparator(converted, 0, cp, true);
    if (first != "." && rawSep == sep && std::string_view(converted).substr(0, rawSep) == first)
      result.topFolder.assign(first);
  }

  // "." and empty components name nothing.
  for (size_t i = 0; i <= cleaned.size();) {
    size_t end = FirstSeparator(cleaned, i, cp, false);
    if (end == std::string_view::npos) end = cleaned.size();
    const std::string_view component = cleaned.substr(i, end - i);
    if (!component.empty() && component != ".") {
      if (!result.path.empty()) result.path += platform::kPathSeparator;
      result.path.append(component);
    }
    i = end + 1;
  }
  return result;
}

}  // namespace quindo
