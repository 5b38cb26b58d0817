#pragma once
// The member headers of LZH archives, levels 0, 1 and 2, with the extended
// headers of levels 1 and 2. All numbers are little-endian.
#include <cstdint>
#include <functional>
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
  // the directory separators of extended headers written as "\". A name
  // ends at its first NUL byte (Amiga LhA keeps a file note after it).
  std::string path;
  // Bytes from the start of the header to the first byte of the data.
  uint32_t headerLength = 0;
};

// Names and directories longer than this are cut; the joined path too.
constexpr size_t kMaxNamePart = 260;
constexpr size_t kMaxPath = 519;

// A header whose base and extended headers together run on for more than
// this is no header. Real ones take a few hundred bytes, and a level-2
// header states its own length in 16 bits.
constexpr uint32_t kMaxHeaderLength = 1u << 16;

// Parses the header at the source's position. False when there is none: a
// short read, the end mark (a 0 byte), a level above 2, a method id that
// does not start with "-l", a wrong checksum or header CRC-16, or a chain of
// extended headers longer than kMaxHeaderLength. On success the source
// stands at the end of the last extended header; the data starts
// `headerLength` bytes after the header's first byte.
bool ParseHeader(ByteStream& source, LzhHeader& header);

// The same on bytes in memory, the header starting at the first of them.
enum class HeaderParse {
  Header,
  NoHeader,
  RunsPast,  // the bytes end inside what would be the header
};
HeaderParse ParseHeader(std::span<const uint8_t> bytes, LzhHeader& header);

// What a search for the first header did, for tests and measurement.
struct HeaderSearchCounts {
  uint64_t candidates = 0;   // offsets with "-lh" or "-lz" in place
  uint64_t bytesExamined = 0;  // base header bytes summed, extended headers stepped over
  uint64_t parses = 0;       // candidates parsed in full
  uint64_t handedOver = 0;   // candidates given to `parseAt`
};

// Offset of the first header that starts in the first `windowSize` bytes
// of `bytes`, or -1. `bytes` are the first bytes of a file, all of it when
// `wholeFile`; candidates are judged from them in memory, each byte of an
// extended header chain visited once for the whole search, so the search
// takes time in proportion to the bytes. A candidate whose header would run
// past the end of `bytes` in a longer file is handed to `parseAt(offset)`,
// which parses it from the file and says whether there is a header. When
// `bytes` hold kMaxHeaderLength bytes beyond the window (or the whole file)
// no candidate is handed over, and `parseAt` may be empty.
int64_t FindFirstHeader(std::span<const uint8_t> bytes, size_t windowSize, bool wholeFile,
                        const std::function<bool(uint64_t)>& parseAt, HeaderSearchCounts* counts = nullptr);

// The same when the window is all that was read of a file that may go on.
// Every candidate in the window's last 64 KiB whose header runs past it is
// then parsed from the file, which is slow when there are many; a caller
// that can should read past the window and use the form above.
template <class ParseAt>
int64_t FindFirstHeader(std::span<const uint8_t> window, ParseAt&& parseAt) {
  return FindFirstHeader(window, window.size(), false, std::function<bool(uint64_t)>(parseAt));
}

}  // namespace quindo::lzh
