#pragma once
// Everything the core asks of an operating system. The core includes this
// header and never an OS header; the build links platform/posix or
// platform/win32. Paths are UTF-8 on every system, with kPathSeparator
// between components; the Windows layer hands them to the wide calls. Results are booleans or sentinel values; nothing throws.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/code_page.h"
#include "common/path_text.h"

namespace quindo {

// The code pages, bound to this system's converters.
const CodePage& Cp932CodePage();
const CodePage& Utf8CodePage();
// The code page of the core's names and paths: UTF-8 on every system.
const CodePage& SystemCodePage();
// The ANSI code page where it is CP932 (Japanese Windows), else null. New
// ZIP archives carry a name in its bytes when it holds the name exactly, as
// older tools expect, and a name's fixed limit counts the bytes it takes
// there; elsewhere names are UTF-8 throughout.
const CodePage* LegacyNameCodePage();

}  // namespace quindo

namespace quindo::platform {

using quindo::kPathSeparator;

// --- file attributes (Windows values; the POSIX layer maps the file mode) ---
constexpr uint32_t kAttrReadOnly = 0x01;
constexpr uint32_t kAttrHidden = 0x02;
constexpr uint32_t kAttrSystem = 0x04;
constexpr uint32_t kAttrDirectory = 0x10;
constexpr uint32_t kAttrArchive = 0x20;
constexpr uint32_t kAttrNormal = 0x80;
constexpr uint32_t kInvalidAttributes = 0xFFFFFFFFu;

// The attributes of a path, or kInvalidAttributes when it cannot be queried
// (which has the directory bit set, as on Windows).
uint32_t GetFileAttributes(const std::string& path);
bool SetFileAttributes(const std::string& path, uint32_t attributes);

// --- file-system operations -----------------------------------------------------
bool CreateDirectory(const std::string& path);  // false also when it exists
bool RemoveDirectory(const std::string& path);
bool DeleteFile(const std::string& path);
// Moves a file to a new name. With `replace` a file that has the name is
// replaced; without it the move fails when the name is taken, however late
// another program took it.
bool MoveFileIntoPlace(const std::string& from, const std::string& to, bool replace);
// Gives a finished file the access rights of a file the user creates
// (POSIX: 0666 less the umask; temporary files start private). Windows
// files inherit their folder's rights, so there it does nothing.
void GiveUserFileRights(const std::string& path);
bool SetCurrentDirectory(const std::string& path);
std::string GetCurrentDirectory();
// The absolute form of a path: a relative one is taken from the current
// directory, and "." and ".." components are resolved in the text.
std::string FullPath(const std::string& path);

// What a path names, without following a link (or other reparse point) at
// its last component: a dangling link is a Link, not Missing.
enum class PathKind { Missing, File, Folder, Link, Other };
PathKind QueryPathKind(const std::string& path);

struct FileInfo {
  uint64_t size = 0;
  uint32_t attributes = 0;
  // Windows file times: 100 ns ticks since 1601-01-01 UTC; 0 when unknown.
  uint64_t creationTime = 0;
  uint64_t accessTime = 0;
  uint64_t writeTime = 0;
  // POSIX file mode bits (0 on Windows); kept for a faithful ZIP attribute.
  uint32_t unixMode = 0;
};
// Follows symbolic links.
bool GetFileInfo(const std::string& path, FileInfo& info);
// True when both paths name one and the same existing file (links and other
// spellings of a path included).
bool IsSameFile(const std::string& a, const std::string& b);
// A path in the form under which the file system takes two names for one:
// Windows folds letter case in every script (Ä and ä, Ａ and ａ), POSIX
// systems keep names as they are.
std::string NameKeyOf(const std::string& path);
// Sets the creation (where the system has one) and last-write time of a file,
// leaving the access time alone. False when the file cannot be opened.
bool SetFileTimes(const std::string& path, uint64_t creationTime, uint64_t writeTime);

struct FolderItem {
  std::string name;  // the item's own name, no folders
  FileInfo info;
  bool isFolder = false;
  bool isSymlink = false;  // POSIX: the item itself is a symbolic link
};
// Lists a folder's items in file-system order, hidden and system items
// included, "." and ".." skipped. False when the listing cannot start or
// is cut short by a read failure.
bool ListFolder(const std::string& folder, const std::function<void(const FolderItem&)>& visit);

// --- why a file call failed ----------------------------------------------------------
enum class FileError {
  None,
  InUse,         // another program holds it without sharing, or locked it
  NoPermission,  // the user may not open or list it
  Vanished,      // it is gone (deleted, moved, or a folder on its path is)
  DiskFull,      // no room left on the volume, or a size quota reached
  ReadFailed,    // the device failed to give its data
  Other,
};
// The reason of the last file, folder or File call on this thread that
// failed (errno, GetLastError); asked right after that call.
FileError LastFileError();

// Tests make the file layer fail the way disks and other programs do. From
// the call on, for each path given (a file or a folder, as the caller names
// it; a folder given with a trailing separator stands for every path inside
// it, at any depth): opening or listing it fails with
// `openError`; a File opened on it answers -1 to a read once `readLimit`
// bytes were read; a write that would carry it past `writeLimit` bytes
// fails with DiskFull. An empty list ends it. Not for use while another
// thread opens files.
struct FileFault {
  std::string path;
  FileError openError = FileError::None;
  uint64_t readLimit = UINT64_MAX;
  uint64_t writeLimit = UINT64_MAX;
};
void SetFileFaults(std::vector<FileFault> faults);

// --- files ------------------------------------------------------------------------
enum class OpenMode {
  Read,          // existing file, read only
  ReadWrite,     // existing file, read and write
  CreateAlways,  // create or truncate, write (and read)
  CreateNew,     // create, fail when the name exists
};

class File {
 public:
  File() = default;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;

  // Read and ReadWrite open regular files only, and never wait for a writer
  // (a named pipe or a device is refused).
  bool Open(const std::string& path, OpenMode mode);
  // Creates and opens a new file of a unique name in `folder` (which ends in
  // a separator or is empty): prefix, eight hex digits, ".tmp". Never opens
  // an existing file or follows a link. `path` receives the name.
  bool CreateUnique(const std::string& folder, const std::string& prefix, std::string& path);
  // Creates and opens a file in `folder` that has no name until LinkAs gives
  // it one, so that nothing of it is left if the program ends first. False
  // where the system or its file system has no such files (Windows): the
  // caller uses CreateUnique instead.
  bool CreateNameless(const std::string& folder);
  // Gives the nameless file open here the name `path`; false when the name is
  // taken (errno EEXIST) or cannot be made.
  bool LinkAs(const std::string& path);
  // Gives it a unique name in `folder` of the form CreateUnique makes.
  bool LinkUnique(const std::string& folder, const std::string& prefix, std::string& path);
  bool IsOpen() const { return handle_ != kNoHandle; }
  void Close();
  // Bytes read (0 at the end), or -1 on an error.
  int64_t Read(void* buffer, size_t size);
  // Reads until `size` bytes or the end; the count read, -1 on an error.
  int64_t ReadFull(void* buffer, size_t size);
  // True only when every byte was written.
  bool Write(const void* data, size_t size);
  bool Seek(uint64_t position);
  int64_t Position() const;  // -1 on an error
  int64_t Size() const;      // -1 on an error
  // Cuts the file (opened for writing) to `size` bytes.
  bool Truncate(uint64_t size);
  // SetFileTimes on the open file (opened for writing), which saves looking
  // its name up again.
  bool SetTimes(uint64_t creationTime, uint64_t writeTime);

 private:
  static constexpr intptr_t kNoHandle = -1;
  intptr_t handle_ = kNoHandle;
};

// --- program, folders, shell ------------------------------------------------------
// Full path of the running program, empty when it cannot be found.
std::string ProgramPath();
// Where the settings file lives: on Windows beside the program, named after
// the version resource's InternalName; on Linux under $XDG_CONFIG_HOME.
// Empty when it cannot be built.
std::string SettingsFilePath();
// The user's desktop folder. False when there is none to be found.
bool GetDesktopFolder(std::string& folder);
// The folder for temporary files, ending in a separator.
std::string TempFolder();
// Creates a new, empty file with a unique name in `folder` that starts with
// `prefix` (GetTempFileNameA semantics). False when none can be created.
bool CreateTempFile(const std::string& folder, const std::string& prefix, std::string& path);
// Starts the system's file browser on a folder; nothing waits for it.
void OpenFolderInBrowser(const std::string& folder);
// Drives without a medium fail quietly instead of asking the user.
void SetQuietErrorMode();

// --- profile (INI) files ------------------------------------------------------------
// Windows profile-file semantics: section and key names without regard to case,
// the default for a missing file, section or key; a write creates what it needs
// and replaces only that one value. A read yields at most 254 bytes.
std::string ReadProfileString(const std::string& file, const std::string& section,
                              const std::string& key, const std::string& defaultValue);
bool WriteProfileString(const std::string& file, const std::string& section, const std::string& key,
                        const std::string& value);

// --- code pages ---------------------------------------------------------------------
CodePageId SystemCodePageId();
// Whether the system's ANSI code page is CP932 (never on POSIX systems).
bool AnsiCodePageIsCp932();
bool ConvertCp932ToUtf8(std::string_view text, std::string& out);
bool ConvertUtf8ToCp932(std::string_view utf8, std::string& out);

}  // namespace quindo::platform
