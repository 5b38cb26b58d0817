#pragma once
// Unicode normal forms of UTF-8 text. Names made on a Mac come decomposed
// (か followed by a combining voiced mark for が); every name the program shows
// or creates is in the composed form (NFC), the form Windows and Linux users
// type.
#include <string>
#include <string_view>

namespace quindo {

// The NFC form of valid UTF-8 text. False (and `out` undefined) when the text
// is not valid UTF-8 or could not be normalised.
bool ToNfc(std::string_view utf8, std::string& out);

}  // namespace quindo
