#include "app/worker.h"

namespace quindo {

Worker::~Worker() { Join(); }

void Worker::Start(std::function<int()> body) {
  {
    std::lock_guard lock(mutex_);
    done_ = false;
    exitCode_ = 0;
  }
  thread_ = std::thread([this, body = std::move(body)] {
    int code = body();
    std::lock_guard lock(mutex_);
    exitCode_ = code;
    done_ = true;
    ended_.notify_all();
  });
}

bool Worker::WaitFor(std::chrono::milliseconds timeout) {
  if (!thread_.joinable()) return true;
  std::unique_lock lock(mutex_);
  return ended_.wait_for(lock, timeout, [this] { return done_; });
}

void Worker::Join() {
  if (thread_.joinable()) thread_.join();
}

int Worker::ExitCode() const {
  std::lock_guard lock(mutex_);
  return exitCode_;
}

}  // namespace quindo
