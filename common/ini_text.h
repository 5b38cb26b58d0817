#pragma once
// Profile-file text, for systems without the Windows profile API: the lookup
// and the single-value replacement over the whole file's text. Section and
// key names compare without regard to (ASCII) case; blanks around names and
// values are not part of them.
#include <optional>
#include <string>
#include <string_view>

namespace quindo {

std::optional<std::string> IniLookup(std::string_view text, std::string_view section,
                                     std::string_view key);
// The text with key=value set in the section: the key's first line is
// replaced, or a line is added at the end of the section, or the section is
// added at the end of the text. Every other line stays as it was.
std::string IniReplace(std::string_view text, std::string_view section, std::string_view key,
                       std::string_view value);

}  // namespace quindo
