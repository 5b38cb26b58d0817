// Compresses files with the Deflater, one member per file, the way the ZIP
// writer does: each file is read in pieces, its CRC-32 taken, and the
// compressed bytes appended to one output file.
//
//   deflate_bench LEVEL OUTPUT LISTFILE     (LISTFILE: one path a line, "-" for stdin)
//
// Prints "files N in BYTES out BYTES seconds S" for the whole run.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "common/crc32.h"
#include "zip/deflater.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s LEVEL OUTPUT LISTFILE\n", argv[0]);
    return 2;
  }
  const int level = std::atoi(argv[1]);
  std::vector<std::string> paths;
  {
    std::FILE* list = std::string(argv[3]) == "-" ? stdin : std::fopen(argv[3], "r");
    if (list == nullptr) {
      std::perror(argv[3]);
      return 2;
    }
    char line[4096];
    while (std::fgets(line, sizeof line, list) != nullptr) {
      std::string path(line);
      while (!path.empty() && (path.back() == '\n' || path.back() == '\r')) path.pop_back();
      if (!path.empty()) paths.push_back(path);
    }
    if (list != stdin) std::fclose(list);
  }
  std::FILE* out = std::fopen(argv[2], "wb");
  if (out == nullptr) {
    std::perror(argv[2]);
    return 2;
  }

  auto start = std::chrono::steady_clock::now();
  quindo::Deflater deflater;
  std::vector<uint8_t> outputBuffer(quindo::Deflater::kOutputBufferSize);
  uint64_t totalIn = 0, totalOut = 0;
  size_t files = 0;
  for (const std::string& path : paths) {
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) continue;
    uint32_t crc = 0;
    auto read = [&](uint8_t* buffer, size_t n) -> size_t {
      size_t got = std::fread(buffer, 1, n, in);
      crc = quindo::Crc32Update(crc, buffer, got);
      totalIn += got;
      return got;
    };
    auto write = [&](const uint8_t* bytes, size_t n) -> bool { return std::fwrite(bytes, 1, n, out) == n; };
    uint16_t flags = 0;
    int64_t n = deflater.DeflateMember(level, read, write, outputBuffer.data(), flags);
    std::fclose(in);
    if (n < 0) {
      std::fprintf(stderr, "%s: %s\n", path.c_str(), deflater.LastError().c_str());
      return 1;
    }
    totalOut += static_cast<uint64_t>(n);
    ++files;
    (void)crc;
  }
  std::fclose(out);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("files %zu in %llu out %llu seconds %.3f\n", files, static_cast<unsigned long long>(totalIn),
              static_cast<unsigned long long>(totalOut), seconds);
  return 0;
}
