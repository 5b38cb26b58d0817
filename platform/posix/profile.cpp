// Profile files on POSIX systems, with the Windows profile API's semantics.
// A write takes an exclusive lock beside the file, reads the current text,
// changes the one value and renames a complete new file into place, so two
// processes writing different keys lose neither and a crash never leaves a
// half-written file.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "common/ini_text.h"
#include "common/text_limits.h"
#include "platform/platform.h"

namespace quindo::platform {

namespace {

bool ReadWhole(const std::string& path, std::string& text) {
  text.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[8192];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

void CreateParents(const std::string& path) {
  for (size_t i = 1; i < path.size(); ++i)
    if (path[i] == '/') ::mkdir(path.substr(0, i).c_str(), 0755);
}

}  // namespace

std::string ReadProfileString(const std::string& file, const std::string& section,
                              const std::string& key, const std::string& defaultValue) {
  std::string text;
  if (!ReadWhole(file, text)) return defaultValue;
  auto value = IniLookup(text, section, key);
  std::string out = value ? *value : defaultValue;
  if (out.size() > kMaxValueLength) out.resize(kMaxValueLength);
  return out;
}

bool WriteProfileString(const std::string& file, const std::string& section, const std::string& key,
                        const std::string& value) {
  CreateParents(file);
  const std::string lockPath = file + ".lock";
  int lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lockFd < 0) return false;
  while (::flock(lockFd, LOCK_EX) != 0 && errno == EINTR) {
  }
  std::string text;
  ReadWhole(file, text);
  const std::string updated = IniReplace(text, section, key, value);

  std::string temp = file + ".XXXXXX";
  int fd = ::mkstemp(temp.data());
  bool ok = fd >= 0;
  if (ok) {
    const char* p = updated.data();
    size_t left = updated.size();
    while (ok && left > 0) {
      ssize_t n = ::write(fd, p, left);
      if (n < 0 && errno == EINTR) continue;
      ok = n > 0;
      if (ok) {
        p += n;
        left -= static_cast<size_t>(n);
      }
    }
    struct stat st;
    ::fchmod(fd, ::stat(file.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644);
    ok = ::fsync(fd) == 0 && ok;
    ::close(fd);
    if (ok) ok = ::rename(temp.c_str(), file.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
  }
  ::flock(lockFd, LOCK_UN);
  ::close(lockFd);
  return ok;
}

}  // namespace quindo::platform
