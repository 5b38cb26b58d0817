#pragma once
// Text that is safe to show. Names come from archives and file systems and
// may hold anything: escape sequences that would drive a terminal, line
// breaks that would forge lines of a message, direction overrides that make
// "txt.exe" read as "exe.txt", or bytes that are no UTF-8 at all. Every text
// a front end shows goes through SafeDisplayText first.
#include <string>
#include <string_view>

namespace quindo {

enum class LineBreaks {
  Replace,  // one line: "\n" is shown as "?" like every other control
  Keep,     // a message's own line breaks ("\n") stay
};

// UTF-8 in, UTF-8 out. Control characters (C0, DEL, C1 U+0080..U+009F), the
// bidirectional controls (U+200E, U+200F, U+202A..U+202E, U+2066..U+2069) and
// the line and paragraph separators (U+2028, U+2029) become "?"; each byte
// that is not part of a well-formed UTF-8 sequence becomes U+FFFD.
std::string SafeDisplayText(std::string_view text, LineBreaks lineBreaks = LineBreaks::Replace);

}  // namespace quindo
