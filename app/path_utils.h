#pragma once
// The small routines that keep extraction safe and faithful: member names
// turned into relative paths that stay inside the output folder, the check
// of an output folder, folder chains, the first folder of a member name, the
// disguised-executable test, UTF-8 conversion of member names, file times,
// and the password prompt on behalf of the worker.
//
// All text is in the code page of the path walk (the system code page unless
// a caller passes another): a walk steps over a whole character, so the
// second byte of a CP932 character is never taken for a separator or a
// forbidden character. On a UTF-8 system a valid multibyte sequence is one
// character, and a byte that belongs to no valid sequence counts as a
// forbidden single byte.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "common/code_page.h"
#include "common/text_limits.h"
#include "platform/platform.h"

namespace quindo {

// Chooses the code page the walks below use by default: the system's. The
// extraction job calls it at the start of every job.
void BuildLeadByteTable();
const CodePage& PathCodePage();

// The length in bytes of the character that starts at `i`, and whether it is
// a multibyte character (left alone by the walks). A CP932 lead byte that is
// the last byte of the text answers 0: the walk ends there; one followed by a
// byte that is no trail byte is a single (forbidden) byte.
struct PathChar {
  size_t length;
  bool multibyte;
};
PathChar PathCharAtMultibyte(std::string_view text, size_t i, const CodePage& cp);
// Inline for the common case: every walk calls it on every byte of a name.
inline PathChar PathCharAt(std::string_view text, size_t i, const CodePage& cp) {
  if (static_cast<uint8_t>(text[i]) < 0x80) return {1, false};
  return PathCharAtMultibyte(text, i, cp);
}

// True for a single byte that may not appear in a path: control bytes,
// 0x7F, bytes of no character of the code page, and :*?"<>|.
bool IsForbiddenPathByte(uint8_t byte, const CodePage& cp);

// Turns a member name into a relative path in place and answers where that
// path starts inside `name`. Leading separators, "?" and a drive prefix are
// skipped; "\" and "/" both separate components and are written as the
// platform's separator; a folder component of dots only (two or more) turns
// into as many "_"; forbidden bytes become "_"; a component that names a
// Windows device (CON, NUL, COM1...) gets a leading "_", one that ends in a
// dot or a blank a trailing "_" (Windows would drop the dot or blank). `createFolder`, when given, is called with each folder on the
// way (relative, in order), before the file itself.
using FolderCreator = std::function<void(const std::string&)>;
size_t SanitizeMemberPath(std::string& name, const CodePage& cp, const FolderCreator& createFolder);
// The same with folders created relative to the current directory.
size_t SanitizeMemberPath(std::string& name);

// True when an output folder must be refused: a component of two or more
// dots followed by a separator, or a forbidden byte anywhere after the drive
// prefix. Separators are rewritten to the platform's in place.
bool HasInvalidPathChars(std::string& path, const CodePage& cp);
bool HasInvalidPathChars(std::string& path);

// Creates every missing level of a folder path that ends in a separator; the
// root (a drive such as C:\ or "/") is never attempted; failures are ignored.
void CreateFolderChain(const std::string& path, const CodePage& cp);
void CreateFolderChain(const std::string& path);

// True for a name with an executable extension (compared without regard to
// case) whose base name is 18 bytes or longer, as a document name disguising
// a program would be.
bool IsDisguisedExecutable(std::string_view path);
bool HasExecutableExtension(std::string_view path);

// Converts UTF-8 text to the system code page into `out`, at most
// capacity - 1 bytes and never half a character. Answers the bytes written,
// or 0 (and `out` untouched) when the text cannot be converted.
size_t Utf8ToAnsi(std::string_view text, std::string& out, size_t capacity = kMaxNameLength + 1);

// Sets a file's creation and last-write time (Windows ticks), or those of a
// DOS date and time taken as local time, or of Unix seconds. A file that
// cannot be opened, or a time that names no valid moment, is left alone.
void SetFileTimes(const std::string& path, uint64_t fileTime);
void SetFileTimeFromDos(const std::string& path, uint16_t dosDate, uint16_t dosTime);
void SetFileTimeFromUnix(const std::string& path, int64_t seconds);

}  // namespace quindo
