// Benchmark driver: extracts LZH archives with LzhReader, each into the
// given folder, the way the extraction job's worker does.
//   lzh_extract_bench OUTPUT_FOLDER ARCHIVE...
// Exit status 0 when every archive came out intact.
#include <cstdio>
#include <string>

#include "app/path_utils.h"
#include "app/work_buffer.h"
#include "lzh/lzh_reader.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER ARCHIVE...\n", argv[0]);
    return 2;
  }
  std::string base = quindo::platform::GetCurrentDirectory();
  quindo::BuildLeadByteTable();
  std::string output = argv[1];
  quindo::platform::CreateDirectory(output);
  int failures = 0;
  for (int i = 2; i < argc; ++i) {
    std::string archive = argv[i];
    if (!archive.empty() && archive[0] != '/') archive = base + "/" + archive;
    if (!quindo::platform::SetCurrentDirectory(output)) return 2;
    quindo::LzhReader reader;
    if (!reader.Extract(archive, output)) {
      std::fprintf(stderr, "%s: extraction failed\n", argv[i]);
      ++failures;
    }
    quindo::platform::SetCurrentDirectory(base);
  }
  return failures ? 1 : 0;
}
