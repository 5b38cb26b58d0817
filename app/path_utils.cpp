#include "app/path_utils.h"

#include "common/ascii_case.h"

#include <array>
#include <atomic>
#include <optional>

#include "common/file_time.h"
#include "common/path_text.h"
#include "platform/platform.h"

namespace quindo {

namespace {

std::atomic<const CodePage*> g_pathCodePage{nullptr};

bool IsNameSeparator(char c) { return c == '\\' || c == '/'; }

// Length of a valid UTF-8 sequence at `i`, 0 when there is none.
size_t Utf8SequenceLength(std::string_view s, size_t i) {
  const auto c = static_cast<uint8_t>(s[i]);
  size_t len;
  if (c >= 0xC2 && c <= 0xDF) len = 2;
  else if (c >= 0xE0 && c <= 0xEF) len = 3;
  else if (c >= 0xF0 && c <= 0xF4) len = 4;
  else return 0;
  if (i + len > s.size()) return 0;
  return IsValidUtf8(s.substr(i, len)) ? len : 0;
}

// A component Windows would take for a device, whatever follows the first dot.
bool IsDeviceName(std::string_view component) {
  size_t dot = component.find('.');
  std::string_view base = component.substr(0, dot);
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  static constexpr std::array<std::string_view, 6> kPlain = {"con", "prn", "aux", "nul", "conin$", "conout$"};
  for (std::string_view d : kPlain)
    if (EqualsIgnoringAsciiCase(base, d)) return true;
  if (base.size() == 4 && base[3] >= '1' && base[3] <= '9' &&
      (EqualsIgnoringAsciiCase(base.substr(0, 3), "com") || EqualsIgnoringAsciiCase(base.substr(0, 3), "lpt")))
    return true;
  return false;
}

// A component that Windows would not keep as written: a trailing dot or
// blank is dropped (so ".. " would climb, and "a." would meet "a").
bool EndsInDotOrBlank(std::string_view component) {
  if (component.empty() || component == ".") return false;
  const char last = component.back();
  return last == '.' || last == ' ';
}

// Steps 1 to 3 shared by the member-name and the output-folder walk: leading
// separators and "?", a drive prefix, separators again.
size_t SkipPrefix(std::string_view s, const CodePage& cp) {
  size_t p = 0;
  auto skip = [&] {
    while (p < s.size() && (IsNameSeparator(s[p]) || s[p] == '?')) ++p;
  };
  skip();
  if (p + 1 < s.size() && !cp.IsLeadByte(static_cast<uint8_t>(s[p])) && s[p + 1] == ':') p += 2;
  skip();
  return p;
}

bool IsDotsOnly(std::string_view component) {
  if (component.size() < 2) return false;
  for (char c : component)
    if (c != '.') return false;
  return true;
}

}  // namespace

void BuildLeadByteTable() { g_pathCodePage.store(&SystemCodePage()); }

const CodePage& PathCodePage() {
  const CodePage* cp = g_pathCodePage.load();
  return cp ? *cp : SystemCodePage();
}

PathChar PathCharAtMultibyte(std::string_view text, size_t i, const CodePage& cp) {
  const auto c = static_cast<uint8_t>(text[i]);
  if (cp.Id() == CodePageId::Utf8) {
    size_t len = Utf8SequenceLength(text, i);
    return len ? PathChar{len, true} : PathChar{1, false};
  }
  if (!cp.IsLeadByte(c)) return {1, false};
  if (i + 1 == text.size()) return {0, false};
  // A lead byte counts as the start of a character only with a real trail
  // byte: "\x95/" must not hide a separator from the walk while the system
  // would still see one.
  const auto t = static_cast<uint8_t>(text[i + 1]);
  const bool trail = (t >= 0x40 && t <= 0x7E) || (t >= 0x80 && t <= 0xFC);
  return trail ? PathChar{2, true} : PathChar{1, false};
}

bool IsForbiddenPathByte(uint8_t c, const CodePage& cp) {
  if (c < 0x20 || c == 0x7F) return true;
  switch (c) {
    case ':': case '*': case '?': case '"': case '<': case '>': case '|':
      return true;
    default:
      break;
  }
  if (c < 0x80) return false;
  // A byte of a valid character never reaches this test, so on a UTF-8
  // system every high byte here is a stray one.
  if (cp.Id() == CodePageId::Utf8) return true;
  // A lead byte that reaches this test stands without its trail byte.
  return c <= 0x9F || c >= 0xE0;
}

size_t SanitizeMemberPath(std::string& name, const CodePage& cp, const FolderCreator& createFolder) {
  const size_t start = SkipPrefix(name, cp);
  size_t componentStart = start;
  // Applies the component rules to [componentStart, end); answers how many
  // bytes it inserted.
  auto finishComponent = [&](size_t end, bool isFolder) -> size_t {
    std::string_view component(name.data() + componentStart, end - componentStart);
    if (isFolder && IsDotsOnly(component)) {
      for (size_t k = componentStart; k < end; ++k) name[k] = '_';
      return 0;
    }
    if (component != "." && IsDeviceName(component)) {
      name.insert(componentStart, 1, '_');
      return 1;
    }
    // "_" after the end keeps every character, so "...", ". ." and "a."
    // stay distinct, and a folder and the files in it get the same name.
    if (EndsInDotOrBlank(component)) {
      name.insert(end, 1, '_');
      return 1;
    }
    return 0;
  };
  size_t i = start;
  while (i < name.size()) {
    PathChar ch = PathCharAt(name, i, cp);
    if (ch.length == 0) break;
    if (ch.multibyte) {
      i += ch.length;
      continue;
    }
    char c = name[i];
    if (IsNameSeparator(c)) {
      i += finishComponent(i, true);
      name[i] = platform::kPathSeparator;
      if (createFolder) createFolder(name.substr(start, i - start));
      componentStart = i + 1;
    } else if (IsForbiddenPathByte(static_cast<uint8_t>(c), cp)) {
      name[i] = '_';
    }
    ++i;
  }
  finishComponent(name.size(), false);
  return start;
}

size_t SanitizeMemberPath(std::string& name) {
  return SanitizeMemberPath(name, PathCodePage(),
                            [](const std::string& folder) { platform::CreateDirectory(folder); });
}

bool HasInvalidPathChars(std::string& path, const CodePage& cp) {
  const size_t start = SkipPrefix(path, cp);
  size_t componentStart = start;
  bool invalid = false;
  for (size_t i = start; i < path.size();) {
    PathChar ch = PathCharAt(path, i, cp);
    if (ch.length == 0) break;
    if (ch.multibyte) {
      i += ch.length;
      continue;
    }
    char c = path[i];
    if (IsPathSeparator(c)) {
      if (IsDotsOnly(std::string_view(path).substr(componentStart, i - componentStart))) invalid = true;
      path[i] = platform::kPathSeparator;
      componentStart = i + 1;
    } else if (IsForbiddenPathByte(static_cast<uint8_t>(c), cp)) {
      invalid = true;
    }
    ++i;
  }
  return invalid;
}

bool HasInvalidPathChars(std::string& path) { return HasInvalidPathChars(path, PathCodePage()); }

void CreateFolderChain(const std::string& path, const CodePage& cp) {
#ifdef _WIN32
  constexpr size_t kFirstIndex = 4;  // past "C:\" and the first letter of a name
#else
  constexpr size_t kFirstIndex = 1;  // past the root "/"
#endif
  size_t index = 0;
  for (size_t i = 0; i < path.size(); ++index) {
    PathChar ch = PathCharAt(path, i, cp);
    if (ch.length == 0) break;
    if (!ch.multibyte && IsPathSeparator(path[i]) && index >= kFirstIndex)
      platform::CreateDirectory(path.substr(0, i));
    i += ch.length;
  }
}

void CreateFolderChain(const std::string& path) { CreateFolderChain(path, PathCodePage()); }

namespace {

// The last component of a member name or path, "\" and "/" both separating.
std::string_view LastComponent(std::string_view path) {
  const CodePage& cp = PathCodePage();
  size_t last = 0;
  for (size_t i = 0; i < path.size();) {
    PathChar ch = PathCharAt(path, i, cp);
    if (ch.length == 0) break;
    if (!ch.multibyte && IsNameSeparator(path[i])) last = i + 1;
    i += ch.length;
  }
  return path.substr(last);
}

}  // namespace

bool HasExecutableExtension(std::string_view path) {
  static constexpr std::array<std::string_view, 12> kExtensions = {
      ".exe", ".bat", ".com", ".cmd", ".reg", ".scr", ".vbs", ".vbe", ".js", ".jse", ".wsf", ".wsh"};
  std::string_view name = LastComponent(path);
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return false;
  std::string_view ext = name.substr(dot);
  for (std::string_view e : kExtensions)
    if (EqualsIgnoringAsciiCase(ext, e)) return true;
  return false;
}

bool IsDisguisedExecutable(std::string_view path) {
  if (!HasExecutableExtension(path)) return false;
  std::string_view name = LastComponent(path);
  return name.rfind('.') >= 18;
}

size_t Utf8ToAnsi(std::string_view text, std::string& out, size_t capacity) {
  std::string converted;
  const CodePage& cp = PathCodePage();
  if (!cp.FromUtf8(text, converted)) return 0;
  const size_t limit = capacity == 0 ? 0 : capacity - 1;
  if (converted.size() > limit) {
    // Cut after the last whole character that fits.
    size_t keep = 0;
    for (size_t i = 0; i < converted.size();) {
      PathChar ch = PathCharAt(converted, i, cp);
      size_t len = ch.length ? ch.length : 1;
      if (i + len > limit) break;
      i += len;
      keep = i;
    }
    converted.resize(keep);
  }
  out = std::move(converted);
  return out.size();
}

void SetFileTimes(const std::string& path, uint64_t fileTime) {
  platform::SetFileTimes(path, fileTime, fileTime);
}

void SetFileTimeFromDos(const std::string& path, uint16_t dosDate, uint16_t dosTime) {
  std::optional<int64_t> seconds = UnixFromDosLocal({dosDate, dosTime});
  if (!seconds) return;
  SetFileTimes(path, FileTimeFromUnix(*seconds));
}

void SetFileTimeFromUnix(const std::string& path, int64_t seconds) {
  SetFileTimes(path, FileTimeFromUnix(seconds));
}

}  // namespace quindo
