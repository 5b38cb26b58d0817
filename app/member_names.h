#pragma once
// From a member's stored name to the relative path it is written to: the
// name's encoding settled and converted to the system's, cut to the length
// users know, cleaned so that it stays inside the output folder.
#include <string>
#include <string_view>

#include "common/archive.h"
#include "common/code_page.h"

namespace quindo {

// The judgement of a stored name without an encoding mark: false when it
// reads as Shift-JIS, true when it is taken for UTF-8 (pure ASCII, an invalid
// Shift-JIS byte, or double-byte characters mixed only with half-width
// katakana).
bool LooksLikeUtf8(std::string_view name);

// A stored name in the system code page, at most kMaxNameLength bytes. With
// `useUtf8`, a name flagged as UTF-8 (and valid) or judged so is converted
// from UTF-8; every other name is the Shift-JIS of the systems the archives
// come from, which a UTF-8 system converts from CP932.
std::string MemberNameForSystem(std::string_view stored, NameEncoding encoding, bool useUtf8);

// A member's path as it is written: the converted name cleaned by
// SanitizeMemberPath (no folder is made), with "." and empty components
// dropped, separators the platform's. `folder` tells whether the member is a
// folder; its path then has no trailing separator. Empty when nothing is
// left of the name.
struct CleanName {
  std::string path;
  // The first folder of the path when cleaning left it as stored: the only
  // kind of first component that can be an archive's own top folder.
  std::string topFolder;
};
CleanName CleanMemberName(const std::string& converted, const CodePage& cp);

}  // namespace quindo
