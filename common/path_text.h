#pragma once
// Shell-style path text helpers over byte strings in a code page: the
// portable counterparts of PathAppendA, PathAddBackslashA,
// PathRemoveBackslashA, PathRemoveFileSpecA, PathFindFileNameA and
// PathFindExtensionA. Walks step over two-byte characters, so a CP932 trail
// byte 0x5C is never taken for a separator. The separator written is the
// platform's; "\" and "/" are both read as separators on Windows, "/" only on
// POSIX systems (where "\" may be part of a name).
#include <string>
#include <string_view>

#include "common/code_page.h"

namespace quindo {

#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

bool IsPathSeparator(char c);

// Byte offsets of every separator that is a character of its own.
// Last separator at or before `end` (exclusive), npos when none.
size_t LastSeparator(std::string_view path, const CodePage& cp, size_t end = std::string_view::npos);
bool EndsWithSeparator(std::string_view path, const CodePage& cp);

// "dir" + "name" with one separator between them.
std::string JoinPath(std::string_view dir, std::string_view name, const CodePage& cp);
// Adds a trailing separator unless there is one.
void AddTrailingSeparator(std::string& path, const CodePage& cp);
// Removes one trailing separator unless the path is a root ("C:\" or "/").
void RemoveTrailingSeparator(std::string& path, const CodePage& cp);
// Removes the last component; a root keeps its separator (C:\a.zip -> C:\, /a.zip -> /).
void RemoveFileSpec(std::string& path, const CodePage& cp);
// The last component (after the last separator).
std::string_view FileNamePart(std::string_view path, const CodePage& cp);
// The extension of the last component, from its last ".", with the dot; empty when none.
std::string_view ExtensionPart(std::string_view path, const CodePage& cp);
// The last component without its extension.
std::string_view BaseNamePart(std::string_view path, const CodePage& cp);

}  // namespace quindo
