// Decodes every member of the given ZIP archives (PKZIP 1.x methods and
// stored ones) from memory, the CRC-32 of each checked, `-n` times over.
// Prints the bytes decoded per method and the time the decoding took.
//   legacy_methods_bench [-n COUNT] ARCHIVE...
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <map>
#include <string>
#include <vector>

#include "common/crc32.h"
#include "common/little_endian.h"
#include "zip/legacy_methods.h"

namespace {

using namespace quindo;

struct Member {
  uint16_t flags, method;
  uint32_t crc, compressedSize, uncompressedSize;
  const uint8_t* data;
};

std::vector<Member> LocalMembers(const std::string& archive) {
  std::vector<Member> members;
  auto base = reinterpret_cast<const uint8_t*>(archive.data());
  size_t at = 0;
  while ((at = archive.find("PK\x03\x04", at)) != std::string::npos && at + 30 <= archive.size()) {
    const uint8_t* p = base + at;
    Member m{LoadLe16(p + 6), LoadLe16(p + 8), LoadLe32(p + 14), LoadLe32(p + 18), LoadLe32(p + 22), nullptr};
    size_t data = at + 30 + LoadLe16(p + 26) + LoadLe16(p + 28);
    if (data + m.compressedSize > archive.size()) break;
    m.data = base + data;
    members.push_back(m);
    at = data + m.compressedSize;
  }
  return members;
}

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
    return true;
  }
  uint32_t crc = 0;
};

const char* MethodName(uint16_t method) {
  switch (method) {
    case 0: return "stored";
    case 1: return "shrink";
    case 6: return "implode";
    default: return "reduce";
  }
}

}  // namespace

int main(int argc, char** argv) {
  int count = 1;
  std::vector<std::string> archives;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-n") == 0 && i + 1 < argc) {
      count = std::max(1, std::atoi(argv[++i]));
    } else {
      archives.push_back(argv[i]);
    }
  }
  if (archives.empty()) {
    std::fprintf(stderr, "usage: legacy_methods_bench [-n COUNT] ARCHIVE...\n");
    return 2;
  }
  std::vector<std::string> contents;
  for (const std::string& path : archives) {
    // Read in one piece, as the extractor reads: a stream iterator would cost
    // more than some of the decoders it is timed beside.
    std::FILE* file = std::fopen(path.c_str(), "rb");
    std::string bytes;
    if (file != nullptr && std::fseek(file, 0, SEEK_END) == 0) {
      bytes.resize(static_cast<size_t>(std::max(0L, std::ftell(file))));
      std::rewind(file);
      bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
    }
    if (file == nullptr || bytes.empty()) {
      std::fprintf(stderr, "cannot read %s\n", path.c_str());
      return 2;
    }
    std::fclose(file);
    contents.push_back(std::move(bytes));
  }

  std::map<std::string, double> seconds;
  std::map<std::string, uint64_t> bytes;
  int failures = 0;
  for (int round = 0; round < count; ++round) {
    for (const std::string& archive : contents) {
      for (const Member& m : LocalMembers(archive)) {
        if (m.method > 6) continue;
        auto start = std::chrono::steady_clock::now();
        MemoryInput in(m.data, m.compressedSize);
        CrcOutput out;
        DecodeResult result = DecodeResult::Ok;
        if (m.method == 0) {
          out.Write(m.data, m.compressedSize);
        } else if (m.method == 1) {
          result = Unshrink(in, out, m.uncompressedSize, m.compressedSize);
        } else if (m.method <= 5) {
          result = Unreduce(in, out, m.uncompressedSize, m.compressedSize, m.method - 1);
        } else {
          result = Explode(in, out, m.uncompressedSize, m.compressedSize, m.flags);
        }
        std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (result != DecodeResult::Ok || out.crc != m.crc) ++failures;
        seconds[MethodName(m.method)] += took.count();
        bytes[MethodName(m.method)] += m.uncompressedSize;
      }
    }
  }
  for (const auto& [method, s] : seconds) {
    std::printf("%-8s %12llu bytes %9.4f s %8.1f MB/s\n", method.c_str(),
                static_cast<unsigned long long>(bytes[method]), s, bytes[method] / 1e6 / std::max(s, 1e-9));
  }
  if (failures) std::fprintf(stderr, "%d members failed their CRC check\n", failures);
  return failures ? 1 : 0;
}
