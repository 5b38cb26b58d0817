// Decodes every Deflate64 member of the given ZIP archives (local headers
// with their sizes, as `7z a -tzip -mm=Deflate64` writes them), the CRC-32
// of each checked. Exits 1 on a member that does not decode to its checksum.
//   inflate64_bench ARCHIVE...
#include <chrono>
#include <cstdio>
#include <string>

#include "bench/zip_members.h"
#include "zip/inflate64.h"

using namespace quindo;

int main(int argc, char** argv) {
  int status = 0;
  for (int a = 1; a < argc; ++a) {
    const std::string archive = bench::ReadWholeFile(argv[a]);
    uint64_t bytes = 0;
    auto start = std::chrono::steady_clock::now();
    for (const bench::LocalMember& m : bench::LocalMembers(archive)) {
      if (m.header.method != 9) continue;
      MemoryMemberInput in(m.data, m.header.compressedSize);
      bench::CrcOutput out;
      if (Inflate64(in, out) != DecodeResult::Ok || out.crc != m.header.crc) {
        std::fprintf(stderr, "%s: member at %zu does not decode\n", argv[a], m.offset);
        status = 1;
      }
      bytes += out.total;
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s: %llu bytes in %.3f s\n", argv[a], static_cast<unsigned long long>(bytes), seconds);
  }
  return status;
}
