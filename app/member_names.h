#pragma once
// From a member's stored name to the relative path it is written to: the
// name's encoding settled and converted to the system's, cut to the length
// users know, cleaned so that it stays inside the output folder.
#include <string>
#include <string_view>

#include "common/archive.h"
#include "common/code_page.h"

namespace quindo {

// Cuts a name in code page `cp` after the last whole character within
// `limit`. The limit counts bytes of `cp`, or, for a UTF-8 name that the
// legacy code page holds (CP932 on Japanese Windows, see
// LegacyNameCodePage), the bytes it takes there, as names were always
// counted on those systems.
void CutName(std::string& name, const CodePage& cp, size_t limit, const CodePage* legacy);
// Cuts `part` after its last whole character so that head + part + tail
// stays within `limit`, counted as CutName counts the whole name: the
// " (2)" renames shorten a base name between its folder and its suffix.
// False, with `part` empty, when head and tail alone pass the limit.
bool CutToFit(std::string_view head, std::string& part, std::string_view tail, const CodePage& cp, size_t limit,
              const CodePage* legacy);

// The judgement of a stored name without an encoding mark: false when it
// reads as Shift-JIS, true when it is taken for UTF-8 (pure ASCII, an invalid
// Shift-JIS byte, or double-byte characters mixed only with half-width
// katakana).
bool LooksLikeUtf8(std::string_view name);

// A stored name in the system code page, cut to kMaxNameLength by CutName. With
// `useUtf8`, a name flagged as UTF-8 (and valid), else the UTF-8 name of a
// Unicode Path field (`unicodeName`), else a name judged UTF-8 is converted
// from UTF-8 in its composed form (NFC). A name is judged UTF-8 when the
// archive's names are (`archiveUtf8`, see NameJudge) and it is valid, or by
// LooksLikeUtf8. Every other name is the Shift-JIS of the systems the
// archives come from, which a UTF-8 system converts from CP932.
std::string MemberNameForSystem(std::string_view stored, NameEncoding encoding, bool useUtf8,
                                bool archiveUtf8 = false, std::string_view unicodeName = {});
inline std::string MemberNameForSystem(const MemberInfo& member, bool useUtf8, bool archiveUtf8) {
  return MemberNameForSystem(member.name, member.encoding, useUtf8, archiveUtf8, member.unicodeName);
}

// The judgement of an archive's names together. Archives made on a Mac carry
// UTF-8 names without the flag, and a short UTF-8 name can read as valid
// Shift-JIS (世界 as 荳也阜); when every name without a mark is valid UTF-8
// and some go beyond ASCII, they are all UTF-8.
class NameJudge {
 public:
  void Add(const MemberInfo& member);
  bool Utf8() const { return valid_ && beyondAscii_; }
  // Whether that verdict reads some name otherwise than LooksLikeUtf8 did.
  bool ChangesNames() const { return Utf8() && changes_; }

 private:
  bool valid_ = true;
  bool beyondAscii_ = false;
  bool changes_ = false;
};

// Whether a cleaned member path is the Mac's own metadata rather than a
// user's file: anything in a "__MACOSX" folder, and AppleDouble files, whose
// names start with "._".
bool IsMacMetadata(std::string_view path, const CodePage& cp);

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
