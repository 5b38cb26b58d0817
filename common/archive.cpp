#include "common/archive.h"

#include <algorithm>
#include <cstring>

namespace quindo {

int64_t MemorySource::Read(uint8_t* buffer, size_t size) {
  if (position_ >= data_.size()) return 0;
  const auto n = static_cast<size_t>(std::min<uint64_t>(size, data_.size() - position_));
  std::memcpy(buffer, data_.data() + position_, n);
  position_ += n;
  return static_cast<int64_t>(n);
}

bool MemorySource::Seek(uint64_t position) {
  position_ = position;
  return true;
}

}  // namespace quindo
