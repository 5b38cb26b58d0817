#include "app/work_buffer.h"

#include <memory>

namespace quindo {

namespace {
std::unique_ptr<uint8_t[]> g_buffer;
}

std::span<uint8_t> WorkBuffer() {
  if (!g_buffer) g_buffer = std::make_unique<uint8_t[]>(kWorkBufferSize);
  return {g_buffer.get(), kWorkBufferSize};
}

void ReleaseWorkBuffer() { g_buffer.reset(); }

}  // namespace quindo
