#pragma once
// What the decoder benchmarks share: an archive read whole into memory, its
// members found by a walk over the local headers (sizes as the headers give
// them), and an output that only takes the CRC-32.
#include <cstdio>
#include <string>
#include <vector>

#include "common/crc32.h"
#include "zip/zip_format.h"
#include "zip/zip_member_io.h"

namespace quindo::bench {

// The whole file in one piece, as the extractor reads; empty when it cannot
// be read.
inline std::string ReadWholeFile(const std::string& path) {
  std::string bytes;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return bytes;
  if (std::fseek(file, 0, SEEK_END) == 0) {
    const long size = std::ftell(file);
    bytes.resize(size > 0 ? static_cast<size_t>(size) : 0);
    std::rewind(file);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
  }
  std::fclose(file);
  return bytes;
}

struct LocalMember {
  zip::LocalHeaderFields header;
  size_t offset = 0;  // of the local header
  const uint8_t* data = nullptr;
};

// Members in file order, up to the first whose data would run past the end.
inline std::vector<LocalMember> LocalMembers(const std::string& archive) {
  std::vector<LocalMember> members;
  const auto* base = reinterpret_cast<const uint8_t*>(archive.data());
  for (size_t at = 0; (at = archive.find("PK\x03\x04", at)) != std::string::npos &&
                      at + zip::kLocalHeaderSize <= archive.size();) {
    LocalMember m{zip::ReadLocalHeader(base + at), at, nullptr};
    const size_t data = at + m.header.dataOffset;
    if (data + m.header.compressedSize > archive.size()) break;
    m.data = base + data;
    members.push_back(m);
    at = data + m.header.compressedSize;
  }
  return members;
}

class CrcOutput final : public ZipMemberOutput {
 public:
  bool Write(const uint8_t* data, size_t size) override {
    crc = Crc32Update(crc, data, size);
    total += size;
    return true;
  }
  uint32_t crc = 0;
  uint64_t total = 0;
};

}  // namespace quindo::bench
