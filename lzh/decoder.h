#pragma once
// The decoders of LZH member data behind one entry point. A decoder reads the
// member's compressed bytes from a ByteSource, writes the decoded bytes to a
// ByteSink and says how the member ended. Nothing here touches a file, so
// every method can be run on a buffer in memory.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quindo::lzh {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Bytes read into `buffer` (0 at the end of the data), -1 on an error.
  virtual int64_t Read(uint8_t* buffer, size_t size) = 0;
};

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // False when the bytes could not be written.
  virtual bool Write(const uint8_t* data, size_t size) = 0;
};

enum class Method {
  Stored,  // -lh0- and -lz4-
  Lh1,
  Lh2,
  Lh3,
  Lh5,
  Lh6,
  Lh7,
  Lzs,
  Lz5,
  Unsupported,
};

// The method a five-character id selects; Unsupported for any other id.
Method MethodFromId(std::string_view id);

enum class DecodeStatus {
  Ok,           // the whole member came out
  Truncated,    // the compressed data ended before the member was complete
  Corrupt,      // the data cannot be decoded (a bad code table, a bad code)
  Cancelled,    // the cancel flag was seen
  WriteFailed,  // the sink refused bytes
  Unsupported,  // no decoder for the method
};

// Progress and cancel, shared with the progress view.
struct DecodeControl {
  std::atomic<uint64_t>* position = nullptr;  // how far into the archive
  const std::atomic<bool>* cancel = nullptr;
  uint64_t dataStart = 0;  // archive offset of the member's first data byte

  bool Cancelled() const { return cancel && cancel->load(std::memory_order_relaxed); }
  void Report(uint64_t consumed) const {
    if (position) position->store(dataStart + consumed, std::memory_order_relaxed);
  }
};

// A compressed size that means "everything up to the end of the archive" for
// the stored methods.
constexpr uint32_t kSizeToEnd = 0xFFFFFFFFu;

// Decodes one member: `compressedSize` bytes from `in` into `uncompressedSize`
// bytes on `out`. Never reads more than `compressedSize` bytes nor writes
// more than `uncompressedSize` bytes of a compressed method.
DecodeStatus DecodeMember(Method method, ByteSource& in, uint32_t compressedSize, ByteSink& out,
                          uint32_t uncompressedSize, const DecodeControl& control);

}  // namespace quindo::lzh
