// Program location, XDG folders, temporary files and the file browser on
// POSIX systems.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <random>
#include <thread>
#include <cerrno>

#include "platform/platform.h"

extern char** environ;

namespace quindo::platform {

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// XDG_DESKTOP_DIR from user-dirs.dirs: XDG_DESKTOP_DIR="$HOME/Desktop".
std::string DesktopFromUserDirs(const std::string& home) {
  std::string config = Env("XDG_CONFIG_HOME");
  if (config.empty()) config = home + "/.config";
  std::ifstream in(config + "/user-dirs.dirs");
  std::string line;
  while (std::getline(in, line)) {
    const std::string keyName = "XDG_DESKTOP_DIR=";
    if (line.rfind(keyName, 0) != 0) continue;
    std::string value = line.substr(keyName.size());
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    if (value.rfind("$HOME", 0) == 0) value = home + value.substr(5);
    return value;
  }
  return {};
}

}  // namespace

std::string ProgramPath() {
  std::string buffer(PATH_MAX, '\0');
  ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return {};
  buffer.resize(static_cast<size_t>(n));
  return buffer;
}

std::string SettingsFilePath() {
  std::string config = Env("XDG_CONFIG_HOME");
  if (config.empty()) {
    std::string home = Env("HOME");
    if (home.empty()) return {};
    config = home + "/.config";
  }
  return config + "/quindo/quindo.ini";
}

bool GetDesktopFolder(std::string& folder) {
  std::string desktop = Env("XDG_DESKTOP_DIR");
  std::string home = Env("HOME");
  if (desktop.empty() && !home.empty()) desktop = DesktopFromUserDirs(home);
  if (!desktop.empty() && IsFolder(desktop)) {
    folder = desktop;
    return true;
  }
  if (!home.empty() && IsFolder(home + "/Desktop")) {
    folder = home + "/Desktop";
    return true;
  }
  if (!home.empty()) {
    folder = home;
    return true;
  }
  return false;
}

std::string TempFolder() {
  std::string dir = Env("TMPDIR");
  if (dir.empty()) dir = "/tmp";
  if (dir.back() != '/') dir += '/';
  return dir;
}

bool CreateTempFile(const std::string& folder, const std::string& prefix, std::string& path) {
  std::random_device device;
  std::mt19937 rng(device());
  std::string dir = folder;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  static const char kHex[] = "0123456789ABCDEF";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = prefix;
    unsigned value = rng() & 0xFFFF;
    for (int shift = 12; shift >= 0; shift -= 4) name += kHex[(value >> shift) & 0xF];
    name += ".tmp";
    std::string candidate = dir + name;
    int fd = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      ::close(fd);
      path = candidate;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

void OpenFolderInBrowser(const std::string& folder) {
  // xdg-open when the desktop has one; without it there is nothing to start.
  std::string opener;
  for (const char* dir : {"/usr/bin/", "/usr/local/bin/", "/bin/"}) {
    std::string candidate = std::string(dir) + "xdg-open";
    if (::access(candidate.c_str(), X_OK) == 0) {
      opener = candidate;
      break;
    }
  }
  if (opener.empty()) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::string target = folder.empty() ? "/" : folder;
  char* argv[] = {const_cast<char*>(opener.c_str()), const_cast<char*>(target.c_str()), nullptr};
  pid_t pid;
  if (posix_spawn(&pid, opener.c_str(), &actions, nullptr, argv, environ) == 0) {
    // Reap it in the background so that no zombie is left behind.
    std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
  }
  posix_spawn_file_actions_destroy(&actions);
}

void SetQuietErrorMode() {}

}  // namespace quindo::platform
