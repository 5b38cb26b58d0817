// Code pages on POSIX systems: the file system is UTF-8; CP932 text is
// converted with iconv.
#include <iconv.h>

#include <cerrno>

#include "platform/platform.h"

namespace quindo::platform {

namespace {

bool Convert(const char* to, const char* from, std::string_view text, std::string& out) {
  out.clear();
  if (text.empty()) return true;
  iconv_t cd = ::iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string input(text);
  char* in = input.data();
  size_t inLeft = input.size();
  std::string buffer(input.size() * 4 + 16, '\0');
  char* o = buffer.data();
  size_t outLeft = buffer.size();
  bool ok = ::iconv(cd, &in, &inLeft, &o, &outLeft) != static_cast<size_t>(-1) && inLeft == 0;
  ::iconv_close(cd);
  if (!ok) return false;
  buffer.resize(buffer.size() - outLeft);
  out = std::move(buffer);
  return true;
}

}  // namespace

CodePageId SystemCodePageId() { return CodePageId::Utf8; }

bool AnsiCodePageIsCp932() { return false; }

bool ConvertCp932ToUtf8(std::string_view text, std::string& out) {
  return Convert("UTF-8", "CP932", text, out);
}

bool ConvertUtf8ToCp932(std::string_view utf8, std::string& out) {
  return Convert("CP932", "UTF-8", utf8, out);
}

}  // namespace quindo::platform
