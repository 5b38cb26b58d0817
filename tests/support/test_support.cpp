#include "tests/support/test_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <iterator>
#include <mutex>
#include <random>

#include "app/worker.h"

namespace fs = std::filesystem;

namespace quindo::test {

ScratchDir::ScratchDir() {
  std::random_device rd;
  std::error_code ec;
  do path_ = (fs::temp_directory_path() / ("quindo-test-" + std::to_string(rd()))).string();
  while (!fs::create_directory(path_, ec));
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  // Read-only entries must become writable before they can be removed.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

std::string ScratchDir::operator/(const std::string& relative) const {
  return (fs::path(path_) / relative).string();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

std::vector<std::string> ListTree(const std::string& root) {
  std::vector<std::string> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
    out.push_back(fs::relative(it->path(), root).generic_string() + (it->is_directory() ? "/" : ""));
  std::sort(out.begin(), out.end());
  return out;
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
  if (const char* old = std::getenv(name)) saved_ = old;
  ::setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() { saved_ ? ::setenv(name_.c_str(), saved_->c_str(), 1) : ::unsetenv(name_.c_str()); }

std::string CorpusDir() {
  const char* env = std::getenv("QUINDO_CORPUS");
  std::string dir = env ? env : "../shared/corpus";
  std::error_code ec;
  return fs::is_directory(dir, ec) ? dir : std::string();
}

namespace {
std::mutex g_boxMutex;
}

void ScriptedUi::ShowMessage(std::string_view text, std::string_view title, MessageIcon icon) {
  std::lock_guard lock(g_boxMutex);
  boxes.push_back({std::string(text), std::string(title), icon});
}

int ScriptedUi::RunProgress(ProgressMode, ProgressSource& source, Worker& worker) {
  ++progressRuns;
  if (!worker.Started()) return 0;
  while (!worker.WaitFor(std::chrono::milliseconds(5))) {
    (void)source.Percent();
    (void)source.CurrentName();
  }
  return worker.ExitCode();
}

PasswordAnswer ScriptedUi::AskPassword(const PasswordRequest&, std::string& password) {
  std::lock_guard lock(g_boxMutex);
  ++passwordPrompts;
  password.clear();
  if (passwords.empty()) return PasswordAnswer::Cancelled;
  std::string answer = passwords.front();
  passwords.pop_front();
  if (answer == kCancelAnswer) return PasswordAnswer::Cancelled;
  if (answer == kUnavailableAnswer) return PasswordAnswer::Unavailable;
  password = answer;
  return PasswordAnswer::Entered;
}

}  // namespace quindo::test
