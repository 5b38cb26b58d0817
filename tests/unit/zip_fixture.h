#pragma once
// Builds small ZIP archives in memory for the reader and job tests, and a
// target that keeps extracted members in memory.
#include <zlib.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/crc32.h"
#include "zip/traditional_cipher.h"
#include "zip/zip_reader.h"

namespace quindo::test {

struct MemberSpec {
  std::string name;
  std::string data;
  uint16_t method = 8;  // 0 stored, 8 deflated
  std::string password;  // encrypted when not empty
  bool descriptor = false;  // CRC and sizes after the data, no CRC in the header
  bool zeroSizes = false;   // with a descriptor: no sizes in the header either (streamed)
  uint16_t dosTime = 0x6000;  // 12:00
  uint16_t dosDate = static_cast<uint16_t>(((2006 - 1980) << 9) | (7 << 5) | 30);
  uint16_t extraFlags = 0;
  // Overrides for broken archives.
  bool badCrc = false;
  size_t truncateData = 0;  // bytes cut off the end of the member's data
};

inline void Put16(std::string& s, uint32_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}
inline void Put32(std::string& s, uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}

inline std::string RawDeflate(const std::string& data) {
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, data.size()) + 16, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// One local header and its data (and descriptor); no central directory is
// needed by the reader, but one is appended so that peers can read it too.
class ZipBuilder {
 public:
  ZipBuilder& Add(const MemberSpec& m) {
    const uint32_t crc = Crc32(m.data.data(), m.data.size()) ^ (m.badCrc ? 0xFFu : 0u);
    std::string payload = m.method == 8 ? RawDeflate(m.data) : m.data;
    uint16_t flags = m.extraFlags;
    if (!m.password.empty()) {
      flags |= 1;
      ZipCipher cipher;
      cipher.Reset(m.password);
      std::string head(12, '\x5a');
      for (size_t i = 0; i < 10; ++i) head[i] = static_cast<char>(i * 37 + 11);
      if (m.descriptor) {
        head[10] = static_cast<char>(m.dosTime & 0xFF);
        head[11] = static_cast<char>(m.dosTime >> 8);
      } else {
        head[11] = static_cast<char>(crc >> 24);
      }
      std::string all = head + payload;
      EncryptBytes(cipher, reinterpret_cast<uint8_t*>(all.data()), all.size());
      payload = all;
    }
    if (m.descriptor) flags |= 8;
    if (m.truncateData) payload.resize(payload.size() > m.truncateData ? payload.size() - m.truncateData : 0);
    Entry e{m, crc, static_cast<uint32_t>(payload.size()), flags, static_cast<uint32_t>(bytes.size())};
    bytes += "PK\x03\x04";
    Put16(bytes, 20);
    Put16(bytes, flags);
    Put16(bytes, m.method);
    Put16(bytes, m.dosTime);
    Put16(bytes, m.dosDate);
    Put32(bytes, m.descriptor ? 0 : crc);
    const bool streamed = m.descriptor && m.zeroSizes;
    Put32(bytes, streamed ? 0 : static_cast<uint32_t>(payload.size()));
    Put32(bytes, streamed ? 0 : static_cast<uint32_t>(m.data.size()));
    Put16(bytes, static_cast<uint32_t>(m.name.size()));
    Put16(bytes, 0);
    bytes += m.name;
    bytes += payload;
    if (m.descriptor) {
      Put32(bytes, 0x08074b50);
      Put32(bytes, crc);
      Put32(bytes, static_cast<uint32_t>(payload.size()));
      Put32(bytes, static_cast<uint32_t>(m.data.size()));
    }
    entries_.push_back(e);
    return *this;
  }
  ZipBuilder& Raw(const std::string& junk) {
    bytes += junk;
    return *this;
  }
  std::string Finish() {
    std::string central;
    for (const Entry& e : entries_) {
      central += "PK\x01\x02";
      Put16(central, 20);
      Put16(central, 20);
      Put16(central, e.flags);
      Put16(central, e.layout.method);
      Put16(central, e.layout.dosTime);
      Put16(central, e.layout.dosDate);
      Put32(central, e.crc);
      Put32(central, e.compressed);
      Put32(central, static_cast<uint32_t>(e.layout.data.size()));
      Put16(central, static_cast<uint32_t>(e.layout.name.size()));
      Put16(central, 0);
      Put16(central, 0);
      Put16(central, 0);
      Put16(central, 0);
      Put32(central, 0);
      Put32(central, e.offset);
      central += e.layout.name;
    }
    std::string out = bytes;
    const uint32_t offset = static_cast<uint32_t>(out.size());
    out += central;
    out += "PK\x05\x06";
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, static_cast<uint32_t>(entries_.size()));
    Put16(out, static_cast<uint32_t>(entries_.size()));
    Put32(out, static_cast<uint32_t>(central.size()));
    Put32(out, offset);
    Put16(out, 0);
    return out;
  }

  std::string bytes;

 private:
  struct Entry {
    MemberSpec layout;
    uint32_t crc;
    uint32_t compressed;
    uint16_t flags;
    uint32_t offset;
  };
  std::vector<Entry> entries_;
};

// Keeps what Extract writes.
class MemoryTarget final : public ExtractTarget {
 public:
  std::map<std::string, std::string> files;
  std::set<std::string> folders;
  std::map<std::string, std::pair<uint16_t, uint16_t>> times;
  size_t failWritesAfter = SIZE_MAX;  // bytes accepted before writes fail

  bool Exists(const std::string& path) override { return files.count(path) || folders.count(path); }
  void CreateFolder(const std::string& path) override { folders.insert(path); }
  bool Create(const std::string& path) override {
    current_ = path;
    files[path].clear();
    return true;
  }
  bool Write(const uint8_t* data, size_t size) override {
    if (written_ + size > failWritesAfter) return false;
    written_ += size;
    files[current_].append(reinterpret_cast<const char*>(data), size);
    return true;
  }
  bool Close() override { return true; }
  void Remove(const std::string& path) override { files.erase(path); }
  void SetTime(const std::string& path, uint16_t date, uint16_t time) override { times[path] = {date, time}; }

 private:
  std::string current_;
  size_t written_ = 0;
};

inline bool ExtractInMemory(ZipReader& reader, const std::string& archive, MemoryTarget& target) {
  MemorySource source({reinterpret_cast<const uint8_t*>(archive.data()), archive.size()});
  return reader.ExtractFrom(source, target);
}

inline bool RootOf(ZipReader& reader, const std::string& archive) {
  MemorySource source({reinterpret_cast<const uint8_t*>(archive.data()), archive.size()});
  return reader.FindRootFolderIn(source);
}

}  // namespace quindo::test
