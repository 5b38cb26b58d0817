#pragma once
// The decoders of LZH member data behind one entry point. A decoder reads the
// member's compressed bytes from a ByteStream, writes the decoded bytes to a
// ByteSink and says how the member ended (Ok, Truncated, Damaged when the
// data cannot be decoded, Cancelled, WriteFailed, Unsupported). Nothing here
// touches a file, so every method can be run on a buffer in memory.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/archive.h"

namespace quindo::lzh {

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

// A compressed size that means "everything up to the end of the archive" for
// the stored methods.
constexpr uint32_t kSizeToEnd = 0xFFFFFFFFu;

// Decodes one member: `compressedSize` bytes from `in` into `uncompressedSize`
// bytes on `out`. Never reads more than `compressedSize` bytes nor writes
// more than `uncompressedSize` bytes of a compressed method. Progress is
// reported as `dataStart` (the archive offset of the member's data) plus
// the bytes read.
DecodeStatus DecodeMember(Method method, ByteStream& in, uint32_t compressedSize, ByteSink& out,
                          uint32_t uncompressedSize, const DecodeControl& control, uint64_t dataStart = 0);

}  // namespace quindo::lzh
