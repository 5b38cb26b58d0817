// The parts of File that every system shares: ownership of the handle, and
// reading until a buffer is full.
#include "platform/platform.h"

namespace quindo::platform {

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
