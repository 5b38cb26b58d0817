// Files and folders on POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <atomic>
#include <cstdio>

#include "common/file_time.h"
#include "platform/file_fault.h"
#include "platform/platform.h"

namespace quindo::platform {

namespace {

uint64_t TicksFrom(const struct timespec& ts) {
  return quindo::FileTimeFromUnix(ts.tv_sec) + static_cast<uint64_t>(ts.tv_nsec / 100);
}

void FillInfo(const struct stat& st, FileInfo& info) {
  info.size = static_cast<uint64_t>(st.st_size);
  info.unixMode = st.st_mode;
  info.attributes = 0;
  if (S_ISDIR(st.st_mode)) {
    info.attributes |= kAttrDirectory;
    info.size = 0;
  } else {
    info.attributes |= kAttrArchive;
  }
  if (!(st.st_mode & S_IWUSR)) info.attributes |= kAttrReadOnly;
  info.accessTime = TicksFrom(st.st_atim);
  info.writeTime = TicksFrom(st.st_mtim);
  // No creation time on most file systems: the status-change time stands in.
  info.creationTime = TicksFrom(st.st_ctim);
}

}  // namespace

uint32_t GetFileAttributes(const std::string& path) {
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return kInvalidAttributes;
  FileInfo info;
  FillInfo(st, info);
  return info.attributes;
}

bool SetFileAttributes(const std::string& path, uint32_t attributes) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  mode_t mode = st.st_mode & 07777;
  if (attributes & kAttrReadOnly)
    mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
  else
    mode |= S_IWUSR;
  // Most extracted files keep the mode they were created with.
  if (mode == (st.st_mode & 07777)) return true;
  return ::chmod(path.c_str(), mode) == 0;
}

bool CreateDirectory(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0; }
bool RemoveDirectory(const std::string& path) { return ::rmdir(path.c_str()) == 0; }
bool DeleteFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

namespace {

// Gives `from` the name `to` on one file system. Without `replace` a file
// that has the name is kept, even one that appeared a moment ago.
bool RenameInPlace(const std::string& from, const std::string& to, bool replace) {
  if (replace) return ::rename(from.c_str(), to.c_str()) == 0;
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without that flag: a new link cannot replace either.
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return true;
  }
  if (errno == EEXIST) return false;
  // Neither: test the name just before the move, the best that is left.
  struct stat st;
  if (::lstat(to.c_str(), &st) == 0) return false;
  return ::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace

bool MoveFileIntoPlace(const std::string& from, const std::string& to, bool replace) {
  if (RenameInPlace(from, to, replace)) return true;
  if (errno != EXDEV) return false;
  // Across file systems: copy to a new file beside the target, then rename it.
  const size_t slash = to.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : to.substr(0, slash);
  std::string partial;
  if (!CreateTempFile(folder, "arc", partial)) return false;
  File in, out;
  bool copied = in.Open(from, OpenMode::Read) && out.Open(partial, OpenMode::CreateAlways);
  std::string buffer(1 << 16, '\0');
  while (copied) {
    const int64_t n = in.Read(buffer.data(), buffer.size());
    if (n == 0) break;
    copied = n > 0 && out.Write(buffer.data(), static_cast<size_t>(n));
  }
  in.Close();
  out.Close();
  if (!copied || !RenameInPlace(partial, to, replace)) {
    ::unlink(partial.c_str());
    return false;
  }
  ::unlink(from.c_str());
  return true;
}

void GiveUserFileRights(const std::string& path) {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::chmod(path.c_str(), 0666 & ~mask);
}

bool SetCurrentDirectory(const std::string& path) { return ::chdir(path.c_str()) == 0; }

std::string FullPath(const std::string& path) {
  if (path.empty()) return path;
  std::string full = path;
  if (full.front() != '/') {
    const std::string cwd = GetCurrentDirectory();
    if (cwd.empty()) return path;
    full = cwd + "/" + path;
  }
  std::string out;
  size_t start = 0;
  while (start <= full.size()) {
    size_t end = full.find('/', start);
    if (end == std::string::npos) end = full.size();
    const std::string_view part(full.data() + start, end - start);
    if (part == "..") {
      const size_t slash = out.rfind('/');
      out.resize(slash == std::string::npos ? 0 : slash);
    } else if (!part.empty() && part != ".") {
      out += '/';
      out += part;
    }
    start = end + 1;
  }
  // A trailing separator says "folder"; it stays.
  if (out.empty() || full.back() == '/') out += '/';
  return out;
}

PathKind QueryPathKind(const std::string& path) {
  struct stat st;
  if (path.empty() || ::lstat(path.c_str(), &st) != 0) return PathKind::Missing;
  if (S_ISLNK(st.st_mode)) return PathKind::Link;
  if (S_ISDIR(st.st_mode)) return PathKind::Folder;
  if (S_ISREG(st.st_mode)) return PathKind::File;
  return PathKind::Other;
}

std::string GetCurrentDirectory() {
  std::string buffer(PATH_MAX, '\0');
  if (!::getcwd(buffer.data(), buffer.size())) return {};
  buffer.resize(std::char_traits<char>::length(buffer.c_str()));
  return buffer;
}

bool GetFileInfo(const std::string& path, FileInfo& info) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  FillInfo(st, info);
  return true;
}

std::string NameKeyOf(const std::string& path) { return path; }

bool IsSameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

namespace {

// The access time left alone and the write time, for utimensat and futimens.
void WriteTimeSpecs(uint64_t writeTime, struct timespec times[2]) {
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;  // the access time stays
  const int64_t ticks = static_cast<int64_t>(writeTime) - kFileTimeUnixEpoch;
  int64_t sec = ticks / 10000000, rem = ticks % 10000000;
  if (rem < 0) {
    rem += 10000000;
    --sec;
  }
  times[1].tv_sec = static_cast<time_t>(sec);
  times[1].tv_nsec = static_cast<long>(rem * 100);
}

}  // namespace

bool SetFileTimes(const std::string& path, uint64_t creationTime, uint64_t writeTime) {
  struct timespec times[2];
  WriteTimeSpecs(writeTime, times);
  return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

FileError LastFileError() {
  switch (errno) {
    case 0: return FileError::None;
    case EACCES:
    case EPERM: return FileError::NoPermission;
    case ENOENT:
    case ENOTDIR: return FileError::Vanished;
    case ETXTBSY:
    case EBUSY:
    case EAGAIN: return FileError::InUse;  // a mandatory lock
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return FileError::DiskFull;
    case EIO: return FileError::ReadFailed;
    default: return FileError::Other;
  }
}

void fault::SetNativeError(FileError error) {
  switch (error) {
    case FileError::None: errno = 0; break;
    case FileError::InUse: errno = ETXTBSY; break;
    case FileError::NoPermission: errno = EACCES; break;
    case FileError::Vanished: errno = ENOENT; break;
    case FileError::DiskFull: errno = ENOSPC; break;
    case FileError::ReadFailed: errno = EIO; break;
    case FileError::Other: errno = EINVAL; break;
  }
}

bool ListFolder(const std::string& folder, const std::function<void(const FolderItem&)>& visit) {
  if (fault::OpenRefused(folder)) return false;
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return false;
  // readdir answers null both at the end and on a failure; only errno tells
  // them apart, and a listing cut short must not pass for a whole one.
  for (;;) {
    errno = 0;
    struct dirent* e = ::readdir(dir);
    if (!e) {
      const int error = errno;
      ::closedir(dir);
      errno = error;
      return error == 0;
    }
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    std::string full = folder;
    if (!full.empty() && full.back() != '/') full += '/';
    full += name;
    FolderItem item;
    item.name = name;
    struct stat lst;
    if (::lstat(full.c_str(), &lst) != 0) {
      // A name that vanished since the listing is gone; any other failure is
      // handed on as a file, whose opening then reports why.
      if (errno == ENOENT) continue;
      item.info = FileInfo{};
      item.isFolder = false;
      visit(item);
      continue;
    }
    item.isSymlink = S_ISLNK(lst.st_mode);
    struct stat st;
    if (item.isSymlink) {
      if (::stat(full.c_str(), &st) != 0) continue;  // a dangling link names nothing
    } else {
      st = lst;
    }
    FillInfo(st, item.info);
    item.isFolder = S_ISDIR(st.st_mode);
    visit(item);
  }
}

// --- File ---------------------------------------------------------------------------

bool File::Open(const std::string& path, OpenMode mode) {
  Close();
  if (fault::OpenRefused(path)) return false;
  int flags = O_CLOEXEC;
  switch (mode) {
    case OpenMode::Read: flags |= O_RDONLY | O_NONBLOCK; break;
    case OpenMode::ReadWrite: flags |= O_RDWR | O_NONBLOCK; break;
    case OpenMode::CreateAlways: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    case OpenMode::CreateNew: flags |= O_RDWR | O_CREAT | O_EXCL; break;
  }
  int fd = ::open(path.c_str(), flags, 0666);
  if (fd < 0) return false;
  struct stat st;
  const bool existing = mode == OpenMode::Read || mode == OpenMode::ReadWrite;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) || (existing && !S_ISREG(st.st_mode))) {
    ::close(fd);
    errno = EISDIR;
    return false;
  }
  // O_NONBLOCK only kept a FIFO from blocking the open. None of the other
  // status flags was asked for, so clearing them all needs no F_GETFL.
  if (flags & O_NONBLOCK) ::fcntl(fd, F_SETFL, 0);
  handle_ = fd;
  if (fault::Active()) fault::Track(handle_, path);
  return true;
}

namespace {

// Tries the names of temporary files in `folder`, prefix, eight hex digits,
// ".tmp", until `make` makes one (true) or fails for another reason than
// the name being taken (errno other than EEXIST).
bool MakeUniqueName(const std::string& folder, const std::string& prefix,
                    const std::function<bool(const std::string&)>& make, std::string& path) {
  static std::atomic<uint32_t> counter{0};
  static const char kHex[] = "0123456789abcdef";
  static const uint32_t seed = static_cast<uint32_t>(::getpid()) * 2654435761u;
  for (int attempt = 0; attempt < 100; ++attempt) {
    uint32_t value = seed ^ (counter.fetch_add(1) * 0x9E3779B9u);
    std::string candidate = folder + prefix;
    for (int shift = 28; shift >= 0; shift -= 4) candidate += kHex[(value >> shift) & 0xF];
    candidate += ".tmp";
    if (make(candidate)) {
      path = std::move(candidate);
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

}  // namespace

bool File::CreateUnique(const std::string& folder, const std::string& prefix, std::string& path) {
  Close();
  return MakeUniqueName(folder, prefix, [this](const std::string& candidate) {
    const int fd = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) return false;
    handle_ = fd;
    if (fault::Active()) fault::Track(handle_, candidate);
    return true;
  }, path);
}

bool File::LinkUnique(const std::string& folder, const std::string& prefix, std::string& path) {
  return handle_ != kNoHandle &&
         MakeUniqueName(folder, prefix, [this](const std::string& candidate) { return LinkAs(candidate); }, path);
}

bool File::CreateNameless(const std::string& folder) {
  Close();
#ifdef O_TMPFILE
  // The name is given through /proc, which a system without it lacks.
  static const bool procFds = ::access("/proc/self/fd", X_OK) == 0;
  if (!procFds) return false;
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  handle_ = fd;
  if (fault::Active()) fault::Track(handle_, folder + ".quindo-nameless");
  return true;
#else
  (void)folder;
  return false;
#endif
}

bool File::LinkAs(const std::string& path) {
  if (handle_ == kNoHandle) return false;
  const std::string self = "/proc/self/fd/" + std::to_string(static_cast<int>(handle_));
  return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

void File::Close() {
  if (handle_ != kNoHandle) {
    if (fault::Active()) fault::Untrack(handle_);
    ::close(static_cast<int>(handle_));
    handle_ = kNoHandle;
  }
}

int64_t File::Read(void* buffer, size_t size) {
  if (handle_ == kNoHandle) return -1;
  if (fault::Active() && !fault::LimitRead(handle_, static_cast<uint64_t>(Position()), size)) return -1;
  for (;;) {
    ssize_t n = ::read(static_cast<int>(handle_), buffer, size);
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

bool File::Write(const void* data, size_t size) {
  if (handle_ == kNoHandle) return false;
  if (fault::Active() && !fault::LimitWrite(handle_, static_cast<uint64_t>(Position()), size)) return false;
  auto* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::write(static_cast<int>(handle_), p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool File::SetTimes(uint64_t, uint64_t writeTime) {
  if (handle_ == kNoHandle) return false;
  struct timespec times[2];
  WriteTimeSpecs(writeTime, times);
  return ::futimens(static_cast<int>(handle_), times) == 0;
}

bool File::Seek(uint64_t position) {
  if (handle_ == kNoHandle) return false;
  return ::lseek(static_cast<int>(handle_), static_cast<off_t>(position), SEEK_SET) >= 0;
}

int64_t File::Position() const {
  if (handle_ == kNoHandle) return -1;
  return ::lseek(static_cast<int>(handle_), 0, SEEK_CUR);
}

int64_t File::Size() const {
  struct stat st;
  if (handle_ == kNoHandle || ::fstat(static_cast<int>(handle_), &st) != 0) return -1;
  return st.st_size;
}

bool File::Truncate(uint64_t size) {
  return handle_ != kNoHandle && ::ftruncate(static_cast<int>(handle_), static_cast<off_t>(size)) == 0;
}

}  // namespace quindo::platform
