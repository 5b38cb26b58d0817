#pragma once
// The member headers of LZH archives, levels 0, 1 and 2, with the extended
// headers of levels 1 and 2. All numbers are little-endian.
#include <cstdint>
#include <span>
#include <string>

#include "lzh/decoder.h"

namespace quindo::lzh {

struct LzhHeader {
  uint8_t level = 0;
  std::string methodId;  // five characters, such as "-lh5-"
  uint32_t compressedSize = 0;
  uint32_t uncompressedSize = 0;
  // Levels 0 and 1: DOS time in the low word, DOS date in the high word.
  // Level 2: seconds since 1970-01-01 00:00 UTC.
  uint32_t timeStamp = 0;
  uint16_t attribute = 0;  // MS-DOS attribute bits
  uint16_t dataCrc = 0;    // CRC-16 of the uncompressed data
  // Directory part followed by the name, in the archive's code page, with
  // the directory separators of extended headers written as "\".
  std::string path;
  // Bytes from the start of the header to the first byte of the data.
  uint32_t headerLength = 0;
};

// Names and directories longer than this are cut; the joined path too.
constexpr size_t kMaxNamePart = 260;
constexpr size_t kMaxPath = 519;

// Parses the header at the source's position. False when there is none: a
// short read, the end mark (a 0 byte), a level above 2, a method id that
// does not start with "-l", a wrong checksum or header CRC-16. On success
// the source stands at the end of the last extended header; the data starts
// `headerLength` bytes after the header's first byte.
bool ParseHeader(ByteSource& source, LzhHeader& header);

// Offset of the first byte in `window` where a header parses, or -1.
// `parseAt` parses at an offset of the file the window was read from.
template <class ParseAt>
int64_t FindFirstHeader(std::span<const uint8_t> window, ParseAt&& parseAt) {
  for (size_t i = 0; i + 20 < window.size(); ++i) {
    if (window[i + 2] != '-' || window[i + 3] != 'l' || (window[i + 4] != 'h' && window[i + 4] != 'z')) continue;
    if (parseAt(static_cast<uint64_t>(i))) return static_cast<int64_t>(i);
  }
  return -1;
}

}  // namespace quindo::lzh
