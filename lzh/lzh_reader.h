#pragma once
// The LZH reader: archives of header levels 0, 1 and 2, read member by
// member in file order from the first header found near the start of the
// file (self-extracting programs included). Each member's data is decoded,
// written relative to the current directory and checked against the CRC-16
// its header stores.
#include <cstdint>
#include <string>

#include "app/archive_reader.h"
#include "lzh/lzh_header.h"

namespace quindo {

class LzhReader : public ArchiveReader {
 public:
  LzhReader() = default;

  // True when a member header starts within the first 300 KiB, which the
  // caller has read into the work buffer.
  bool Probe(const std::string& path, uint64_t fileSize) override;
  // False also when a member failed its CRC-16, was truncated or corrupt,
  // had a method with no decoder, or could not be written; every member is
  // tried all the same.
  bool Extract(const std::string& path, const std::string& outputFolder) override;
  bool FindRootFolder(const std::string& path) override;

  // How far the first-header search looks.
  static constexpr uint64_t kProbeWindow = 300 * 1024;
  static constexpr uint64_t kSearchWindow = 1024 * 1024;

  // The stored path of a member as a relative name for this system: a
  // symbolic link's "name|target" made one plain name, CP932 converted to the
  // system code page. Not yet sanitised.
  static std::string SystemName(const std::string& storedPath);
};

}  // namespace quindo
