// Text made safe to show: whatever the input, the result is well-formed
// UTF-8 with no control character left (only "\n" when line breaks are
// kept), showable text passes unchanged, and the detail list of any names
// stays within its line limit.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/message_text.h"
#include "common/code_page.h"
#include "common/display_text.h"

namespace {

// True when the UTF-8 text holds a code point the safe text must not.
bool HasUnsafe(const std::string& text, bool newlineAllowed) {
  for (size_t i = 0; i < text.size();) {
    const auto b = static_cast<uint8_t>(text[i]);
    uint32_t c = b;
    size_t length = 1;
    if (b >= 0xF0) { c = b & 0x07; length = 4; }
    else if (b >= 0xE0) { c = b & 0x0F; length = 3; }
    else if (b >= 0xC0) { c = b & 0x1F; length = 2; }
    for (size_t k = 1; k < length; ++k) c = (c << 6) | (static_cast<uint8_t>(text[i + k]) & 0x3F);
    i += length;
    if (c == '\n' && newlineAllowed) continue;
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
        (c >= 0x2066 && c <= 0x2069) || c == 0x2028 || c == 0x2029)
      return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (bool keep : {false, true}) {
    const std::string safe = quindo::SafeDisplayText(text, keep ? quindo::LineBreaks::Keep : quindo::LineBreaks::Replace);
    if (!quindo::IsValidUtf8(safe) || HasUnsafe(safe, keep)) std::abort();
    if (quindo::SafeDisplayText(safe, keep ? quindo::LineBreaks::Keep : quindo::LineBreaks::Replace) != safe)
      std::abort();
    if (quindo::IsValidUtf8(text) && !HasUnsafe(text, keep) && safe != text) std::abort();
  }
  // The input split at every zero byte gives the names of a detail list.
  std::vector<quindo::MemberFailure> failures;
  size_t start = 0;
  for (size_t i = 0; i <= size; ++i)
    if (i == size || data[i] == 0) {
      failures.push_back({text.substr(start, i - start), quindo::MemberProblem::CutShort, text.substr(0, 8)});
      start = i + 1;
    }
  const std::string details = quindo::FailureDetails(failures);
  size_t lines = details.empty() ? 0 : 1;
  for (char c : details) lines += c == '\n';
  if (lines > quindo::kMaxDetailLines || HasUnsafe(details, true)) std::abort();
  return 0;
}
