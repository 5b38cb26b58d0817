// The parts of File that every system shares: ownership of the handle,
// reading until a buffer is full, and the faults that tests inject.
#include <algorithm>
#include <map>
#include <mutex>

#include "platform/file_fault.h"
#include "platform/platform.h"

namespace quindo::platform {

namespace fault {

std::atomic<bool> active{false};

namespace {

std::mutex mutex;
std::vector<FileFault> faults;
std::map<intptr_t, FileFault> tracked;

std::string WithoutTrailingSeparator(std::string path) {
  while (path.size() > 1 && (path.back() == '/' || path.back() == kPathSeparator)) path.pop_back();
  return path;
}

bool EndsWithSeparator(const std::string& path) {
  return !path.empty() && (path.back() == '/' || path.back() == kPathSeparator);
}

const FileFault* Find(const std::string& path) {
  const std::string key = WithoutTrailingSeparator(path);
  for (const FileFault& f : faults) {
    const std::string faulty = WithoutTrailingSeparator(f.path);
    // A folder given with its separator covers what it holds, not itself.
    if (EndsWithSeparator(f.path) ? key.size() > faulty.size() + 1 && key.compare(0, f.path.size(), f.path) == 0
                                  : key == faulty)
      return &f;
  }
  return nullptr;
}

}  // namespace

FileError OpenError(const std::string& path) {
  std::lock_guard lock(mutex);
  const FileFault* f = Find(path);
  return f ? f->openError : FileError::None;
}

void Track(intptr_t handle, const std::string& path) {
  std::lock_guard lock(mutex);
  if (const FileFault* f = Find(path)) tracked[handle] = *f;
}

void Untrack(intptr_t handle) {
  std::lock_guard lock(mutex);
  tracked.erase(handle);
}

int64_t ReadAllowance(intptr_t handle, uint64_t position, size_t want) {
  std::lock_guard lock(mutex);
  const auto it = tracked.find(handle);
  if (it == tracked.end()) return static_cast<int64_t>(want);
  if (position >= it->second.readLimit) return -1;
  return static_cast<int64_t>(std::min<uint64_t>(want, it->second.readLimit - position));
}

bool WriteAllowed(intptr_t handle, uint64_t position, size_t size) {
  std::lock_guard lock(mutex);
  const auto it = tracked.find(handle);
  return it == tracked.end() || position + size <= it->second.writeLimit;
}

}  // namespace fault

void SetFileFaults(std::vector<FileFault> faults) {
  std::lock_guard lock(fault::mutex);
  fault::active.store(!faults.empty());
  fault::faults = std::move(faults);
  fault::tracked.clear();
}

File::~File() { Close(); }

File::File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = kNoHandle; }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    other.handle_ = kNoHandle;
  }
  return *this;
}

int64_t File::ReadFull(void* buffer, size_t size) {
  auto* p = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < size) {
    int64_t n = Read(p + done, size - done);
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

}  // namespace quindo::platform
