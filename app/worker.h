#pragma once
// The one worker thread of a job. The job starts it, the progress view waits
// for it in short steps and takes its exit code: 1 for success, 0 for failure
// or cancel. The destructor joins, so a job's shared objects outlive it.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace quindo {

class Worker {
 public:
  Worker() = default;
  ~Worker();
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  void Start(std::function<int()> body);
  bool Started() const { return thread_.joinable(); }
  // True once the body has returned (at once when it was never started).
  bool WaitFor(std::chrono::milliseconds timeout);
  void Join();
  int ExitCode() const;

 private:
  std::thread thread_;
  mutable std::mutex mutex_;
  std::condition_variable ended_;
  bool done_ = false;
  int exitCode_ = 0;
};

}  // namespace quindo
