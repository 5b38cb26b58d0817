// The Linux front end on a pseudo-terminal: Ctrl-C at the password prompt
// cancels at once (no terminal, no prompt: e2e test_extract).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "app/worker.h"
#include "frontend/terminal/terminal_ui.h"

namespace quindo {
namespace {

using namespace std::chrono_literals;

// A pseudo-terminal whose output a thread collects.
class Pty {
 public:
  Pty() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0) name_ = ::ptsname(master_);
    if (!name_.empty()) slave_ = ::open(name_.c_str(), O_RDWR | O_NOCTTY);
    reader_ = std::thread([this] {
      char buffer[4096];
      while (!stop_) {
        pollfd ready{master_, POLLIN, 0};
        if (::poll(&ready, 1, 20) <= 0) continue;
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0) continue;
        std::lock_guard lock(mutex_);
        output_.append(buffer, static_cast<size_t>(n));
      }
    });
  }
  ~Pty() {
    stop_ = true;
    reader_.join();
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
  }
  bool ok() const { return slave_ >= 0; }
  int slave() const { return slave_; }
  const std::string& name() const { return name_; }
  std::string Output() {
    std::lock_guard lock(mutex_);
    return output_;
  }
  // Everything written so far, once nothing more arrives for a while.
  std::string Settled() {
    std::string last = Output();
    for (;;) {
      std::this_thread::sleep_for(100ms);
      std::string now = Output();
      if (now == last) return now;
      last = std::move(now);
    }
  }
  bool WaitFor(const std::string& text, std::chrono::milliseconds timeout = 5000ms) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (Output().find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(10ms);
    }
    return true;
  }
  void Type(const std::string& text) { (void)!::write(master_, text.data(), text.size()); }

 private:
  int master_ = -1, slave_ = -1;
  std::string name_;
  std::atomic<bool> stop_{false};
  std::thread reader_;
  std::mutex mutex_;
  std::string output_;
};

class FixedSource final : public ProgressSource {
 public:
  std::atomic<uint32_t> percent{42};
  std::atomic<bool> cancelled{false};
  uint32_t Percent() const override { return percent; }
  std::string CurrentName() const override { return "data.bin"; }
  void RequestCancel() override { cancelled = true; }
};

constexpr char kPrompt[] = "のパスワード: ";

TEST(TerminalUi, CtrlCAtThePromptCancelsAtOnceAndTheLineSaysSo) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  TerminalUi ui(pty.slave(), pty.name());
  FixedSource source;
  PasswordAnswer answer = PasswordAnswer::Entered;
  std::string password = "x";
  std::chrono::steady_clock::time_point pressed;
  std::thread typist([&] {
    if (!pty.WaitFor(kPrompt)) return;
    pressed = std::chrono::steady_clock::now();
    ::raise(SIGINT);  // what the terminal sends for Ctrl-C
  });
  Worker worker;
  worker.Start([&] {
    answer = ui.AskPassword({"a.txt", false}, password);
    return answer == PasswordAnswer::Entered ? 1 : 0;
  });
  EXPECT_EQ(ui.RunProgress(ProgressMode::Extract, source, worker), 0);
  const auto ended = std::chrono::steady_clock::now();
  typist.join();
  EXPECT_LT(ended - pressed, 1s);
  EXPECT_EQ(answer, PasswordAnswer::Cancelled);
  EXPECT_EQ(password, "");
  const std::string out = pty.Settled();
  EXPECT_NE(out.find(" 42% キャンセル"), std::string::npos) << out;
  EXPECT_EQ(out.find("100%"), std::string::npos) << out;
}

}  // namespace
}  // namespace quindo
