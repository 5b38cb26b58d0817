#pragma once
// The faults that tests inject into the file layer (SetFileFaults), kept once
// for both systems' layers. Without faults each hook costs one flag test.
#include <atomic>
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace quindo::platform::fault {

extern std::atomic<bool> active;
inline bool Active() { return active.load(std::memory_order_relaxed); }

// The error an open or a listing of `path` fails with; None when it goes on.
FileError OpenError(const std::string& path);
// A File opened on a path with read or write limits is looked up by handle.
void Track(intptr_t handle, const std::string& path);
void Untrack(intptr_t handle);
// How many of `want` bytes a read at `position` may give; -1 when it fails.
int64_t ReadAllowance(intptr_t handle, uint64_t position, size_t want);
// False when `size` bytes written at `position` would pass the limit.
bool WriteAllowed(intptr_t handle, uint64_t position, size_t size);

// Each layer: sets errno or the thread's last error so that LastFileError
// answers `error`.
void SetNativeError(FileError error);

// False when an open or a listing of `path` goes on; true when it must fail
// (the error is set).
inline bool OpenRefused(const std::string& path) {
  if (!Active()) return false;
  const FileError error = OpenError(path);
  if (error == FileError::None) return false;
  SetNativeError(error);
  return true;
}

// A read of `size` bytes at `position` as the faults allow it: false when it
// must fail (the error is set), else `size` may have shrunk.
inline bool LimitRead(intptr_t handle, uint64_t position, size_t& size) {
  const int64_t allowed = ReadAllowance(handle, position, size);
  if (allowed < 0) {
    SetNativeError(FileError::ReadFailed);
    return false;
  }
  size = static_cast<size_t>(allowed);
  return true;
}

// A write of `size` bytes at `position` as the faults allow it: false when
// it must fail (the error is set to a full disk).
inline bool LimitWrite(intptr_t handle, uint64_t position, size_t size) {
  if (WriteAllowed(handle, position, size)) return true;
  SetNativeError(FileError::DiskFull);
  return false;
}

}  // namespace quindo::platform::fault
