#include "lzh/lzh_header.h"

#include <vector>

#include "common/crc16.h"
#include "common/little_endian.h"

namespace quindo::lzh {

namespace {

bool ReadExactly(ByteSource& source, uint8_t* buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    int64_t got = source.Read(buffer + done, size - done);
    if (got <= 0) return false;
    done += static_cast<size_t>(got);
  }
  return true;
}

std::string Cut(const uint8_t* p, size_t size, size_t limit) {
  return std::string(reinterpret_cast<const char*>(p), size < limit ? size : limit);
}

}  // namespace

bool ParseHeader(ByteSource& source, LzhHeader& h) {
  h = LzhHeader{};
  uint8_t base[256];
  if (!ReadExactly(source, base, 21)) return false;
  uint16_t crc = Crc16(base, 21);
  unsigned sum = 0;
  for (int i = 2; i < 21; ++i) sum += base[i];

  h.level = base[20];
  if (h.level > 2) return false;
  unsigned length = h.level == 2 ? 26 : (base[0] + 2u) & 0xFF;
  if (length < 21 || base[0] == 0) return false;
  if (base[2] != '-' || base[3] != 'l') return false;
  h.methodId.assign(reinterpret_cast<const char*>(base + 2), 5);
  h.compressedSize = LoadLe32(base + 7);
  h.uncompressedSize = LoadLe32(base + 11);
  h.timeStamp = LoadLe32(base + 15);
  h.attribute = base[19];

  if (!ReadExactly(source, base + 21, length - 21)) return false;
  crc = Crc16Update(crc, base + 21, length - 21);
  for (unsigned i = 21; i < length; ++i) sum += base[i];

  std::string name, directory;
  if (h.level < 2) {
    unsigned n = base[21];
    if ((sum & 0xFF) != base[1] || length < n + 24) return false;
    name = Cut(base + 22, n, kMaxNamePart);
    h.dataCrc = LoadLe16(base + 22 + n);
  } else {
    h.dataCrc = LoadLe16(base + 21);
  }
  uint32_t parsed = length;

  bool haveHeaderCrc = false;
  uint16_t expectedCrc = 0;
  if (h.level >= 1) {
    std::vector<uint8_t> ext;
    unsigned size = LoadLe16(base + length - 2);
    while (size > 2) {
      ext.resize(size);
      if (!ReadExactly(source, ext.data(), size)) return false;
      parsed += size;
      if (h.level == 1) {
        // The base header's compressed size counts the extended headers.
        if (size > h.compressedSize) return false;
        h.compressedSize -= size;
      }
      const uint8_t* data = ext.data() + 1;
      size_t dataSize = size - 3;
      switch (ext[0]) {
        case 0x00:
          if (!haveHeaderCrc && size >= 5) {
            haveHeaderCrc = true;
            expectedCrc = LoadLe16(data);
            // The header's own CRC field counts as zero.
            ext[1] = ext[2] = 0;
          }
          break;
        case 0x01:
          name = Cut(data, dataSize, kMaxNamePart);
          break;
        case 0x02:
          directory = Cut(data, dataSize, kMaxNamePart);
          break;
        case 0x40:
          if (size >= 5) h.attribute = LoadLe16(data);
          break;
        default:
          break;
      }
      crc = Crc16Update(crc, ext.data(), size);
      size = LoadLe16(ext.data() + size - 2);
    }
  }
  // A level-2 header states its whole length, which may include padding
  // after the last extended header; the header CRC-16 covers it too.
  if (h.level == 2) {
    uint32_t total = LoadLe16(base);
    if (total > parsed) {
      std::vector<uint8_t> padding(total - parsed);
      if (!ReadExactly(source, padding.data(), padding.size())) return false;
      crc = Crc16Update(crc, padding.data(), padding.size());
      parsed = total;
    }
  }
  if (haveHeaderCrc && crc != expectedCrc) return false;
  h.headerLength = parsed;

  h.path = directory + name;
  for (char& c : h.path)
    if (static_cast<uint8_t>(c) == 0xFF) c = '\\';
  if (h.path.size() > kMaxPath) h.path.resize(kMaxPath);
  return true;
}

}  // namespace quindo::lzh
