#pragma once
// The ZIP records' signatures, fixed sizes, extra-field tags, flag bits and
// method numbers, as the reader and the writer both use them.
#include <cstddef>
#include <cstdint>

#include "common/little_endian.h"

namespace quindo::zip {

inline constexpr uint32_t kLocalHeaderSignature = 0x04034B50;  // "PK\3\4"
inline constexpr uint32_t kCentralHeaderSignature = 0x02014B50;
inline constexpr uint32_t kEndRecordSignature = 0x06054B50;
inline constexpr uint32_t kDescriptorSignature = 0x08074B50;
inline constexpr uint32_t kZip64EndRecordSignature = 0x06064B50;
inline constexpr uint32_t kZip64LocatorSignature = 0x07064B50;

inline constexpr size_t kLocalHeaderSize = 30;
inline constexpr size_t kCentralHeaderSize = 46;
inline constexpr size_t kEndRecordSize = 22;
inline constexpr size_t kZip64EndRecordSize = 56;
inline constexpr size_t kZip64LocatorSize = 20;

inline constexpr uint16_t kZip64ExtraId = 0x0001;
inline constexpr uint16_t kTimestampExtraId = 0x5455;
// Info-ZIP's Unicode Path field: version 1, the CRC-32 of the stored name,
// the name in UTF-8.
inline constexpr uint16_t kUnicodePathExtraId = 0x7075;

inline constexpr uint16_t kFlagDataDescriptor = 0x0008;
inline constexpr uint16_t kFlagUtf8Name = 0x0800;

inline constexpr uint16_t kMethodStored = 0;
inline constexpr uint16_t kMethodDeflated = 8;

// Whether the four bytes are a local header's signature.
inline bool IsLocalHeaderStart(const void* bytes) {
  const auto* p = static_cast<const uint8_t*>(bytes);
  return p[0] == 'P' && p[1] == 'K' && p[2] == 3 && p[3] == 4;
}

// The fields of a local header that a walk over an archive's local headers
// needs; `p` points at kLocalHeaderSize bytes at least.
struct LocalHeaderFields {
  uint16_t flags = 0;
  uint16_t method = 0;
  uint32_t crc = 0;
  uint32_t compressedSize = 0;
  uint32_t uncompressedSize = 0;
  size_t dataOffset = 0;  // from the header's start: past the name and extra field
};

inline LocalHeaderFields ReadLocalHeader(const uint8_t* p) {
  return {LoadLe16(p + 6),  LoadLe16(p + 8),  LoadLe32(p + 14), LoadLe32(p + 18),
          LoadLe32(p + 22), kLocalHeaderSize + LoadLe16(p + 26) + LoadLe16(p + 28)};
}

}  // namespace quindo::zip
