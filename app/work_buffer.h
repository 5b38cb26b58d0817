#pragma once
// The process-wide 1 MiB work buffer: format detection and both readers read
// through it. Only one thread uses it at a time: the main thread before a
// job's worker starts and after it has ended, the worker in between.
#include <cstddef>
#include <cstdint>
#include <span>

namespace quindo {

constexpr size_t kWorkBufferSize = 1048576;

// The buffer, allocated on first use.
std::span<uint8_t> WorkBuffer();
void ReleaseWorkBuffer();

}  // namespace quindo
