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

#include "bench/zip_members.h"
#include "zip/legacy_methods.h"

namespace {

using namespace quindo;

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
    std::string bytes = bench::ReadWholeFile(path);
    if (bytes.empty()) {
      std::fprintf(stderr, "cannot read %s\n", path.c_str());
      return 2;
    }
    contents.push_back(std::move(bytes));
  }

  std::map<std::string, double> seconds;
  std::map<std::string, uint64_t> bytes;
  int failures = 0;
  for (int round = 0; round < count; ++round) {
    for (const std::string& archive : contents) {
      for (const bench::LocalMember& member : bench::LocalMembers(archive)) {
        const zip::LocalHeaderFields& m = member.header;
        if (m.method > 6) continue;
        auto start = std::chrono::steady_clock::now();
        MemoryMemberInput in(member.data, m.compressedSize);
        bench::CrcOutput out;
        DecodeResult result = DecodeResult::Ok;
        if (m.method == 0) {
          out.Write(member.data, m.compressedSize);
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
