#pragma once
// An archive file as a reader's byte source.
#include "common/archive.h"
#include "platform/platform.h"

namespace quindo {

class FileSource final : public ByteSource {
 public:
  explicit FileSource(platform::File& file) : file_(file) {
    const int64_t size = file.Size();
    size_ = size < 0 ? 0 : static_cast<uint64_t>(size);
  }
  int64_t Read(uint8_t* buffer, size_t size) override { return file_.Read(buffer, size); }
  bool Seek(uint64_t position) override { return file_.Seek(position); }
  uint64_t Size() override { return size_; }

 private:
  platform::File& file_;
  uint64_t size_ = 0;
};

}  // namespace quindo
