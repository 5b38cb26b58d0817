#pragma once
// Writes one new ZIP archive, member by member: each member's local header and
// data as it is added, the central directory and the end record at Close.
// Files are deflated or stored by extension, folders become entries with a
// trailing "/". The writer never reads or updates an existing archive.
//
// Calling order: Create, then AddFile / AddFolder in archive order, then Close
// exactly once (the destructor closes a writer that is still open). Every
// operation answers a ZipResult; callers tell ZipOk from the rest.
//
// The format is the plain 32-bit one: no ZIP64, no data descriptors, no
// encryption. A member that would not fit it (a file of 4 GiB or more, an
// archive growing past 4 GiB, a member beyond the 65535th) fails with
// ZipWriteFailed instead of writing wrapped fields.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/code_page.h"
#include "platform/platform.h"

namespace quindo {

class Deflater;
class DeflatedMember;

enum ZipResult : uint32_t {
  ZipOk = 0,
  ZipOpenFailed = 0x200,
  ZipWriteFailed = 0x400,
  ZipBadArgument = 0x10000,
};

namespace zip {
inline constexpr uint32_t kLocalHeaderSignature = 0x04034B50;
inline constexpr uint32_t kCentralHeaderSignature = 0x02014B50;
inline constexpr uint32_t kEndRecordSignature = 0x06054B50;
inline constexpr size_t kLocalHeaderSize = 30;
inline constexpr size_t kCentralHeaderSize = 46;
inline constexpr size_t kEndRecordSize = 22;
inline constexpr uint16_t kLocalExtraSize = 17;
inline constexpr uint16_t kCentralExtraSize = 9;
inline constexpr uint16_t kTimestampExtraId = 0x5455;
inline constexpr uint16_t kVersionMadeBy = 0x0B17;
inline constexpr uint16_t kVersionNeeded = 20;
inline constexpr uint16_t kMethodStored = 0;
inline constexpr uint16_t kMethodDeflated = 8;
inline constexpr uint16_t kFlagDataDescriptor = 0x0008;
inline constexpr uint16_t kFlagUtf8Name = 0x0800;
inline constexpr uint32_t kFolderAttributes = 0x41C00010;
// Longest member name, the "/" of a folder included.
inline constexpr size_t kMaxNameLength = 259;
inline constexpr uint64_t kMaxArchiveSize = 0xFFFFFFFFull;
inline constexpr size_t kMaxMembers = 65535;
inline constexpr size_t kCopyBufferSize = 16384;
}  // namespace zip

// One member as the central directory records it.
struct ZipEntry {
  uint16_t versionMadeBy = zip::kVersionMadeBy;
  uint16_t versionNeeded = zip::kVersionNeeded;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint32_t dosDateTime = 0;  // time in the low 16 bits, date in the high 16
  uint32_t crc32 = 0;
  uint32_t compressedSize = 0;
  uint32_t uncompressedSize = 0;
  uint32_t externalAttributes = 0;
  uint32_t localHeaderOffset = 0;
  std::string name;          // as written: "/" separators
  uint32_t modifyTime = 0;   // Unix seconds, low 32 bits
  uint32_t accessTime = 0;
  uint32_t createTime = 0;
};

// True when a member of this name (after "\" became "/") is stored rather
// than deflated: the extension from the name's last dot is one of .Z .zip
// .zoo .arc .lzh .arj .gz .tgz, without regard to case.
bool IsStoredExtension(std::string_view name);

class ZipWriter {
 public:
  // Where the format's fields end; tests lower them to reach the limits with
  // small archives.
  struct Limits {
    uint64_t maxArchiveSize = zip::kMaxArchiveSize;
    uint64_t maxFileSize = zip::kMaxArchiveSize;
    size_t maxMembers = zip::kMaxMembers;
  };

  // Names are judged in `codePage` (trail bytes that look like "\" stay).
  // With UTF-8 names, a name that is not plain ASCII gets flag bit 11.
  explicit ZipWriter(const CodePage& codePage = SystemCodePage());
  ZipWriter(const CodePage& codePage, const Limits& limits);
  ~ZipWriter();
  ZipWriter(const ZipWriter&) = delete;
  ZipWriter& operator=(const ZipWriter&) = delete;

  // Creates or truncates the archive file.
  ZipResult Create(const std::string& path);
  // Adds the file at `path` as the member `name` ("\" separators allowed).
  // After every read of the source, `progress` holds the bytes of the source
  // read so far; when `abortFlag` is set the member ends short, with headers
  // that match what was read, and the call still answers ZipOk.
  // `level` is the DEFLATE level (outside 0..9 it becomes 6).
  // With `deflated`, a deflated member's data come from there, made ahead on
  // other threads, instead of from reading and deflating the source here;
  // `progress` then follows the source bytes that were written.
  ZipResult AddFile(std::string_view name, const std::string& path, std::atomic<uint64_t>& progress,
                    const std::atomic<bool>& abortFlag, int level, DeflatedMember* deflated = nullptr);
  // Adds a folder entry; nothing is read from disk.
  ZipResult AddFolder(std::string_view name);
  // Writes the central directory and the end record and closes the file, in
  // every case. ZipWriteFailed when the directory was not written whole.
  ZipResult Close();

  bool IsOpen() const { return archive_.IsOpen(); }
  const std::vector<ZipEntry>& Entries() const { return entries_; }
  uint64_t BytesWritten() const { return bytesWritten_; }

 private:
  struct Member;
  bool MakeName(std::string_view name, bool folder, std::string& out, uint16_t& flags) const;
  bool WriteBytes(const void* data, size_t size);
  bool WriteLocalHeader(const ZipEntry& entry);
  ZipResult WriteMember(ZipEntry& entry, Member* source, int level, DeflatedMember* deflated = nullptr);

  const CodePage& codePage_;
  Limits limits_;
  platform::File archive_;
  uint64_t bytesWritten_ = 0;
  std::vector<ZipEntry> entries_;
  std::unique_ptr<Deflater> deflater_;
  std::vector<uint8_t> buffer_;
};

}  // namespace quindo
