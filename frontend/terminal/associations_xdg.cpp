// File associations on a Linux desktop: quindo's entry is the desktop file
// "quindo.desktop" in $XDG_DATA_HOME/applications, and owning a type means
// being the default application for its MIME type, set and queried through
// xdg-mime. The owner that was replaced is remembered by the portable layer.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "frontend/program_services.h"

extern char** environ;

namespace quindo {

namespace {

constexpr const char* kDesktopFileName = "quindo.desktop";

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string DataHome() {
  std::string data = Env("XDG_DATA_HOME");
  if (!data.empty()) return data;
  std::string home = Env("HOME");
  return home.empty() ? std::string() : home + "/.local/share";
}

std::string ConfigHome() {
  std::string config = Env("XDG_CONFIG_HOME");
  if (!config.empty()) return config;
  std::string home = Env("HOME");
  return home.empty() ? std::string() : home + "/.config";
}

void CreateFolders(const std::string& path) {
  for (size_t i = 1; i <= path.size(); ++i)
    if (i == path.size() || path[i] == '/') ::mkdir(path.substr(0, i).c_str(), 0755);
}

// Runs a program found on PATH with its output captured; true when it ran
// and exited with 0.
bool Run(const std::vector<std::string>& args, std::string* output) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  const bool started = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  std::string text;
  if (started) {
    char buffer[512];
    for (;;) {
      ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      text.append(buffer, static_cast<size_t>(n));
    }
  }
  ::close(pipeFds[0]);
  if (!started) return false;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (output) *output = text;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A desktop-entry Exec argument: as it is when it holds none of the
// characters the format reserves (simple readers such as xdg-mime take the
// first word literally), else quoted with the reserved characters escaped.
// The value is unescaped as a string before the quoting is read, so each
// escaping backslash is written twice.
std::string QuoteExecArgument(const std::string& text) {
  const bool plain = !text.empty() && text.find_first_of(" \t\n\"'\\><~|&;$*?#()`=%") == std::string::npos;
  if (plain) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '`' || c == '$') out += "\\\\";
    if (c == '\\') out += "\\\\\\";
    if (c == '%') out += '%';
    out += c;
  }
  return out + "\"";
}

// Drops "mime=..." from the [Default Applications] group of mimeapps.list,
// so the type has no chosen default of the user's any more.
void RemoveDefault(const std::string& mimeType) {
  const std::string config = ConfigHome();
  if (config.empty()) return;
  const std::string path = config + "/mimeapps.list";
  std::ifstream in(path);
  if (!in) return;
  std::ostringstream out;
  std::string line;
  bool inDefaults = false;
  bool changed = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] == '[') inDefaults = line.rfind("[Default Applications]", 0) == 0;
    if (inDefaults && line.rfind(mimeType + "=", 0) == 0) {
      changed = true;
      continue;
    }
    out << line << '\n';
  }
  in.close();
  if (!changed) return;
  const std::string temp = path + ".quindo";
  {
    std::ofstream file(temp, std::ios::trunc);
    file << out.str();
    if (!file.flush()) {
      ::unlink(temp.c_str());
      return;
    }
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) ::unlink(temp.c_str());
}

class XdgAssociationStore final : public AssociationStore {
 public:
  std::string OwnName(const AssociationRow&) override { return kDesktopFileName; }

  bool ReadOwner(const AssociationRow& row, std::string& owner) override {
    std::string text;
    if (!Run({"xdg-mime", "query", "default", row.mimeType}, &text)) return false;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    if (text.empty() || text.find('\n') != std::string::npos) return false;
    owner = text;
    return true;
  }

  bool SetOwner(const AssociationRow& row, const std::string& owner) override {
    if (owner.empty()) {
      RemoveDefault(row.mimeType);
      return true;
    }
    return Run({"xdg-mime", "default", owner, row.mimeType}, nullptr);
  }

  void WriteOwnEntry(const AssociationRow&, const std::string& programPath) override {
    const std::string folder = DataHome();
    if (folder.empty()) return;
    const std::string applications = folder + "/applications";
    CreateFolders(applications);
    std::string entry =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Quindo\n"
        "Comment=ZIP and LZH archiver\n"
        "Exec=" + QuoteExecArgument(programPath) + " %F\n"
        "Icon=package-x-generic\n"
        "Terminal=false\n"
        "NoDisplay=true\n"
        "MimeType=application/zip;application/x-lzh-compressed;\n";
    const std::string path = applications + "/" + kDesktopFileName;
    const std::string temp = path + ".new";
    std::ofstream file(temp, std::ios::trunc);
    file << entry;
    file.close();
    if (!file || ::rename(temp.c_str(), path.c_str()) != 0) ::unlink(temp.c_str());
  }

  void DeleteOwnEntry(const AssociationRow&) override {
    const std::string folder = DataHome();
    if (!folder.empty()) ::unlink((folder + "/applications/" + kDesktopFileName).c_str());
  }

  void NotifyChanged() override {
    const std::string folder = DataHome();
    if (!folder.empty()) Run({"update-desktop-database", "-q", folder + "/applications"}, nullptr);
  }
};

}  // namespace

AssociationStore& SystemAssociationStore() {
  static XdgAssociationStore store;
  return store;
}

}  // namespace quindo
