// Files and folders on Windows, through the wide ("W") calls: every path is
// UTF-8 in the core and UTF-16 at the call, so any name Windows can hold can
// be read, listed and created.
#include "platform/win32/windows_api.h"

#include <vector>

#include "platform/file_fault.h"
#include "platform/platform.h"
#include "platform/win32/wide_text.h"

namespace quindo::platform {

namespace {

uint64_t Ticks(const FILETIME& t) {
  return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

FILETIME FileTimeOf(uint64_t ticks) {
  FILETIME t;
  t.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
  t.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return t;
}

HANDLE AsHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

// The attributes, size (0 for a folder) and times of the three records
// Windows describes an item with (by handle, by path, from a listing).
template <typename Data>
FileInfo InfoOf(const Data& data) {
  FileInfo info;
  info.attributes = data.dwFileAttributes;
  info.size = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                  ? 0
                  : (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  info.creationTime = Ticks(data.ftCreationTime);
  info.accessTime = Ticks(data.ftLastAccessTime);
  info.writeTime = Ticks(data.ftLastWriteTime);
  return info;
}

}  // namespace

uint32_t GetFileAttributes(const std::string& path) {
  if (path.empty()) return kInvalidAttributes;
  return ::GetFileAttributesW(WidePath(path).c_str());
}

bool SetFileAttributes(const std::string& path, uint32_t attributes) {
  return ::SetFileAttributesW(WidePath(path).c_str(), attributes) != 0;
}

bool CreateDirectory(const std::string& path) { return ::CreateDirectoryW(WidePath(path).c_str(), nullptr) != 0; }
bool RemoveDirectory(const std::string& path) { return ::RemoveDirectoryW(WidePath(path).c_str()) != 0; }
bool DeleteFile(const std::string& path) { return ::DeleteFileW(WidePath(path).c_str()) != 0; }

bool MoveFileIntoPlace(const std::string& from, const std::string& to, bool replace) {
  // Across volumes the system copies and deletes the source; without
  // MOVEFILE_REPLACE_EXISTING a name that is taken fails the move.
  const DWORD flags = MOVEFILE_COPY_ALLOWED | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
  return ::MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(), flags) != 0;
}

void GiveUserFileRights(const std::string&) {}

bool SetCurrentDirectory(const std::string& path) { return ::SetCurrentDirectoryW(WidePath(path).c_str()) != 0; }

std::string FullPath(const std::string& path) {
  if (path.empty()) return path;
  const std::wstring wide = WidePath(path);
  DWORD need = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (need == 0) return path;
  std::wstring buffer(need, L'\0');
  DWORD n = ::GetFullPathNameW(wide.c_str(), need, buffer.data(), nullptr);
  if (n == 0 || n >= need) return path;
  buffer.resize(n);
  return Utf8FromWide(buffer);
}

PathKind QueryPathKind(const std::string& path) {
  if (path.empty()) return PathKind::Missing;
  const DWORD attributes = ::GetFileAttributesW(WidePath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return PathKind::Link;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::Folder;
  return PathKind::File;
}

std::string GetCurrentDirectory() {
  DWORD need = ::GetCurrentDirectoryW(0, nullptr);
  if (need == 0) return {};
  std::wstring buffer(need, L'\0');
  DWORD n = ::GetCurrentDirectoryW(need, buffer.data());
  if (n == 0 || n >= need) return {};
  buffer.resize(n);
  return Utf8FromWide(buffer);
}

bool GetFileInfo(const std::string& path, FileInfo& info) {
  if (path.empty()) return false;
  // Opening the item resolves links; backup semantics lets a folder be opened.
  const std::wstring wide = WidePath(path);
  HANDLE h = ::CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    BY_HANDLE_FILE_INFORMATION data;
    BOOL ok = ::GetFileInformationByHandle(h, &data);
    ::CloseHandle(h);
    if (ok) {
      info = InfoOf(data);
      return true;
    }
  }
  // An item that cannot be opened at all may still be listed.
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) return false;
  info = InfoOf(data);
  return true;
}

std::string NameKeyOf(const std::string& path) {
  // The file system compares names by their upper case (its own table,
  // which the invariant mapping follows).
  std::wstring wide = WidePath(path);
  if (!wide.empty() && wide.size() < 0x3FFFFFFF) {
    const int units = static_cast<int>(wide.size());
    std::wstring upper(wide.size(), L'\0');
    if (::LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, wide.data(), units, upper.data(), units) == units)
      return Utf8FromWide(upper);
  }
  // Not UTF-8 (and so no name of a file): ASCII letters alone.
  std::string key = path;
  for (char& c : key)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return key;
}

bool IsSameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION data[2];
  const std::string* paths[2] = {&a, &b};
  for (int i = 0; i < 2; ++i) {
    HANDLE h = ::CreateFileW(WidePath(*paths[i]).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const BOOL ok = ::GetFileInformationByHandle(h, &data[i]);
    ::CloseHandle(h);
    if (!ok) return false;
  }
  return data[0].dwVolumeSerialNumber == data[1].dwVolumeSerialNumber &&
         data[0].nFileIndexHigh == data[1].nFileIndexHigh && data[0].nFileIndexLow == data[1].nFileIndexLow;
}

bool SetFileTimes(const std::string& path, uint64_t creationTime, uint64_t writeTime) {
  HANDLE h = ::CreateFileW(WidePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  FILETIME created = FileTimeOf(creationTime), written = FileTimeOf(writeTime);
  // A null time leaves that time alone; the access time always stays.
  BOOL ok = ::SetFileTime(h, creationTime ? &created : nullptr, nullptr, writeTime ? &written : nullptr);
  ::CloseHandle(h);
  return ok != 0;
}

FileError LastFileError() {
  switch (::GetLastError()) {
    case ERROR_SUCCESS: return FileError::None;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return FileError::InUse;
    case ERROR_ACCESS_DENIED: return FileError::NoPermission;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_DELETE_PENDING: return FileError::Vanished;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return FileError::DiskFull;
    case ERROR_READ_FAULT:
    case ERROR_CRC:
    case ERROR_IO_DEVICE:
    case ERROR_SECTOR_NOT_FOUND: return FileError::ReadFailed;
    default: return FileError::Other;
  }
}

void fault::SetNativeError(FileError error) {
  DWORD code = ERROR_INVALID_PARAMETER;
  switch (error) {
    case FileError::None: code = ERROR_SUCCESS; break;
    case FileError::InUse: code = ERROR_SHARING_VIOLATION; break;
    case FileError::NoPermission: code = ERROR_ACCESS_DENIED; break;
    case FileError::Vanished: code = ERROR_FILE_NOT_FOUND; break;
    case FileError::DiskFull: code = ERROR_DISK_FULL; break;
    case FileError::ReadFailed: code = ERROR_READ_FAULT; break;
    case FileError::Other: break;
  }
  ::SetLastError(code);
}

bool ListFolder(const std::string& folder, const std::function<void(const FolderItem&)>& visit) {
  if (fault::OpenRefused(folder)) return false;
  // UTF-8 has no byte of a multibyte character below 0x80: the last byte
  // tells whether the folder ends in a separator.
  std::wstring pattern = WidePath(folder);
  if (!folder.empty() && pattern.empty()) return false;
  if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  do {
    const wchar_t* name = data.cFileName;
    if ((name[0] == L'.' && name[1] == 0) || (name[0] == L'.' && name[1] == L'.' && name[2] == 0)) continue;
    FolderItem item;
    item.name = Utf8FromWide(name);
    item.isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    item.info = InfoOf(data);
    visit(item);
  } while (::FindNextFileW(find, &data));
  // The listing ends with "no more files"; any other answer cut it short,
  // and a part of a folder must not pass for the whole.
  const DWORD error = ::GetLastError();
  ::FindClose(find);
  ::SetLastError(error);
  return error == ERROR_NO_MORE_FILES;
}

// --- File ---------------------------------------------------------------------------

bool File::Open(const std::string& path, OpenMode mode) {
  Close();
  if (fault::OpenRefused(path)) return false;
  DWORD access = GENERIC_READ, share = FILE_SHARE_READ, disposition = OPEN_EXISTING;
  switch (mode) {
    case OpenMode::Read: break;
    case OpenMode::ReadWrite:
      access |= GENERIC_WRITE;
      share = 0;
      break;
    case OpenMode::CreateAlways:
      access |= GENERIC_WRITE;
      share = 0;
      disposition = CREATE_ALWAYS;
      break;
    case OpenMode::CreateNew:
      access |= GENERIC_WRITE;
      share = 0;
      disposition = CREATE_NEW;
      break;
  }
  HANDLE h = ::CreateFileW(WidePath(path).c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  // Only files on a disk: a pipe or a device would wait for its other end.
  if (::GetFileType(h) != FILE_TYPE_DISK) {
    ::CloseHandle(h);
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  if (fault::Active()) fault::Track(handle_, path);
  return true;
}

bool File::CreateUnique(const std::string& folder, const std::string& prefix, std::string& path) {
  Close();
  static LONG counter = 0;
  static const char kHex[] = "0123456789abcdef";
  const DWORD seed = ::GetCurrentProcessId() * 2654435761u ^ ::GetTickCount();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const DWORD value = seed ^ (static_cast<DWORD>(::InterlockedIncrement(&counter)) * 0x9E3779B9u);
    std::string candidate = folder + prefix;
    for (int shift = 28; shift >= 0; shift -= 4) candidate += kHex[(value >> shift) & 0xF];
    candidate += ".tmp";
    HANDLE h = ::CreateFileW(WidePath(candidate).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      handle_ = reinterpret_cast<intptr_t>(h);
      if (fault::Active()) fault::Track(handle_, candidate);
      path = std::move(candidate);
      return true;
    }
    if (::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

// Windows has no nameless files that a name can be given later.
bool File::CreateNameless(const std::string&) { return false; }
bool File::LinkAs(const std::string&) { return false; }
bool File::LinkUnique(const std::string&, const std::string&, std::string&) { return false; }

void File::Close() {
  if (handle_ != kNoHandle) {
    if (fault::Active()) fault::Untrack(handle_);
    ::CloseHandle(AsHandle(handle_));
    handle_ = kNoHandle;
  }
}

int64_t File::Read(void* buffer, size_t size) {
  if (handle_ == kNoHandle) return -1;
  if (fault::Active() && !fault::LimitRead(handle_, static_cast<uint64_t>(Position()), size)) return -1;
  // ReadFile takes a 32-bit count.
  DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
  DWORD got = 0;
  if (!::ReadFile(AsHandle(handle_), buffer, want, &got, nullptr)) return -1;
  return got;
}

bool File::Write(const void* data, size_t size) {
  if (handle_ == kNoHandle) return false;
  if (fault::Active() && !fault::LimitWrite(handle_, static_cast<uint64_t>(Position()), size)) return false;
  auto* p = static_cast<const char*>(data);
  while (size > 0) {
    DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD wrote = 0;
    if (!::WriteFile(AsHandle(handle_), p, want, &wrote, nullptr) || wrote == 0) return false;
    p += wrote;
    size -= wrote;
  }
  return true;
}

bool File::SetTimes(uint64_t creationTime, uint64_t writeTime) {
  if (handle_ == kNoHandle) return false;
  FILETIME created = FileTimeOf(creationTime), written = FileTimeOf(writeTime);
  return ::SetFileTime(AsHandle(handle_), creationTime ? &created : nullptr, nullptr,
                       writeTime ? &written : nullptr) != 0;
}

bool File::Seek(uint64_t position) {
  if (handle_ == kNoHandle) return false;
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(position);
  return ::SetFilePointerEx(AsHandle(handle_), to, nullptr, FILE_BEGIN) != 0;
}

int64_t File::Position() const {
  if (handle_ == kNoHandle) return -1;
  LARGE_INTEGER zero, at;
  zero.QuadPart = 0;
  if (!::SetFilePointerEx(AsHandle(handle_), zero, &at, FILE_CURRENT)) return -1;
  return at.QuadPart;
}

int64_t File::Size() const {
  if (handle_ == kNoHandle) return -1;
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(AsHandle(handle_), &size)) return -1;
  return size.QuadPart;
}

bool File::Truncate(uint64_t size) {
  return Seek(size) && ::SetEndOfFile(AsHandle(handle_)) != 0;
}

}  // namespace quindo::platform
