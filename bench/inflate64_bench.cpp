// Decodes every Deflate64 member of the given ZIP archives (local headers
// with their sizes, as `7z a -tzip -mm=Deflate64` writes them), the CRC-32
// of each checked. Exits 1 on a member that does not decode to its checksum.
//   inflate64_bench ARCHIVE...
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "common/crc32.h"
#include "common/little_endian.h"
#include "zip/inflate64.h"

namespace {

using namespace quindo;

class MemoryInput final : public ZipMemberInput {
 public:
  MemoryInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  size_t Read(uint8_t* buffer, size_t size) override {
    size_t n = std::min(size, size_ - pos_);
    std::memcpy(buffer, data_ + pos_, n);
    pos_ += n;
    return n;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

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

}  // namespace

int main(int argc, char** argv) {
  int status = 0;
  for (int a = 1; a < argc; ++a) {
    std::ifstream file(argv[a], std::ios::binary | std::ios::ate);
    std::string archive(static_cast<size_t>(std::max<std::streamoff>(file.tellg(), 0)), '\0');
    file.seekg(0);
    file.read(archive.data(), static_cast<std::streamsize>(archive.size()));
    auto base = reinterpret_cast<const uint8_t*>(archive.data());
    uint64_t bytes = 0;
    auto start = std::chrono::steady_clock::now();
    for (size_t at = 0; (at = archive.find("PK\x03\x04", at)) != std::string::npos && at + 30 <= archive.size();) {
      const uint8_t* p = base + at;
      uint32_t crc = LoadLe32(p + 14), packed = LoadLe32(p + 18);
      size_t data = at + 30 + LoadLe16(p + 26) + LoadLe16(p + 28);
      if (data + packed > archive.size()) break;
      if (LoadLe16(p + 8) == 9) {
        MemoryInput in(base + data, packed);
        CrcOutput out;
        if (Inflate64(in, out) != DecodeResult::Ok || out.crc != crc) {
          std::fprintf(stderr, "%s: member at %zu does not decode\n", argv[a], at);
          status = 1;
        }
        bytes += out.total;
      }
      at = data + packed;
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s: %llu bytes in %.3f s\n", argv[a], static_cast<unsigned long long>(bytes), seconds);
  }
  return status;
}
