#pragma once
// Shared pieces of the unit tests: a scratch folder that cleans up after
// itself, file helpers, and a scripted user interface.
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "app/user_interface.h"
#include "platform/platform.h"

namespace quindo::test {

// A fresh folder under the temporary folder, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  // path() joined with a relative name ("a/b.txt").
  std::string operator/(const std::string& relative) const;

 private:
  std::string path_;
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
// Every file below a folder, as relative paths with "/", sorted.
std::vector<std::string> ListTree(const std::string& root);
// Where the archive corpus is; empty (and the test should skip) when absent.
std::string CorpusDir();

// An environment variable set for the life of a test, then put back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> saved_;
};

// Faults injected into the file layer for the life of a test.
struct ScopedFaults {
  explicit ScopedFaults(std::vector<platform::FileFault> faults) { platform::SetFileFaults(std::move(faults)); }
  ~ScopedFaults() { platform::SetFileFaults({}); }
};

// A user interface that records every box and answers prompts from a script.
class ScriptedUi final : public UserInterface {
 public:
  struct Box {
    std::string text, title;
    MessageIcon icon;
  };
  std::vector<Box> boxes;
  // Answers for AskPassword, in order; kCancelAnswer stands for Cancel,
  // kUnavailableAnswer for a prompt that cannot be shown. With no answer
  // left the prompt is cancelled.
  std::deque<std::string> passwords;
  int passwordPrompts = 0;
  int progressRuns = 0;

  void ShowMessage(std::string_view text, std::string_view title, MessageIcon icon) override;
  int RunProgress(ProgressMode mode, ProgressSource& source, Worker& worker) override;
  PasswordAnswer AskPassword(const PasswordRequest& request, std::string& password) override;
  void ShowWorkerMessage(std::string_view text, std::string_view title, MessageIcon icon) override {
    ShowMessage(text, title, icon);
  }
};

// Installs a ScriptedUi for the life of a test.
class ScopedUi {
 public:
  ScopedUi() { SetUi(&ui); }
  ~ScopedUi() { SetUi(nullptr); }
  ScriptedUi ui;
};

inline constexpr char kCancelAnswer[] = "\x18";
inline constexpr char kUnavailableAnswer[] = "\x15";

}  // namespace quindo::test
