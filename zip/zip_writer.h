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
// No data descriptors, no encryption. ZIP64 only where the 32-bit and 16-bit
// fields cannot hold a value: a member of 4 GiB or more gets the ZIP64 extra
// field with both sizes in its local and central headers, a local header past
// 4 GiB gets its offset in the central header's ZIP64 extra field, and an
// archive of more than 65535 members or with its directory past 4 GiB gets
// the ZIP64 end record and its locator. Those members need version 4.5.
// Every other archive is laid out as if ZIP64 did not exist.
//
// The local header is written before the data, so whether it carries the
// ZIP64 sizes is decided then: a source that may reach 4 GiB, compressed or
// not (its size at the open is within 1/64 of the limit), gets them from the
// start. One that grows past the limit without them is taken back and
// written again with them; nothing before it moves.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/code_page.h"
#include "platform/platform.h"
#include "zip/zip_format.h"

namespace quindo {

class Deflater;
class DeflatedMember;

// AddFile and AddFolder: after ZipOpenFailed, ZipReadFailed and
// ZipNameTooLong nothing of the member is in the archive and the next one may
// follow; after ZipWriteFailed the archive is unusable.
enum ZipResult : uint32_t {
  ZipOk = 0,
  ZipOpenFailed = 0x200,   // Create: the archive; AddFile: the source (see SourceError)
  ZipWriteFailed = 0x400,  // the archive took fewer bytes than given
  ZipReadFailed = 0x800,   // AddFile: a read of the source failed part-way
  ZipNameTooLong = 0x1000,
  ZipBadArgument = 0x10000,
};

// What this writer puts in its records; the format's own numbers are in
// zip_format.h.
namespace zip {
inline constexpr uint16_t kLocalExtraSize = 17;
inline constexpr uint16_t kCentralExtraSize = 9;
inline constexpr uint16_t kZip64SizesExtraSize = 20;  // ID, length, both sizes
inline constexpr uint16_t kVersionMadeBy = 0x0B17;
inline constexpr uint16_t kVersionNeeded = 20;
inline constexpr uint16_t kVersionNeededZip64 = 45;
inline constexpr uint32_t kFolderAttributes = 0x41C00010;
// Values from these on go into the ZIP64 fields.
inline constexpr uint64_t kField32Limit = 0xFFFFFFFFull;
inline constexpr uint64_t kMemberCountLimit = 0xFFFF;  // more members than this
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
  uint64_t compressedSize = 0;
  uint64_t uncompressedSize = 0;
  uint32_t externalAttributes = 0;
  uint64_t localHeaderOffset = 0;
  bool zip64Sizes = false;   // both sizes in ZIP64 extra fields, local and central
  std::string name;          // as written: "/" separators
  uint32_t modifyTime = 0;   // Unix seconds, low 32 bits
  uint32_t accessTime = 0;
  uint32_t createTime = 0;
};

// True when a member of this name (after "\" became "/") is stored rather
// than deflated: the extension from the name's last dot is one of .Z .zip
// .zoo .arc .lzh .arj .gz .tgz, without regard to case.
bool IsStoredExtension(std::string_view name);

// The bytes of a UTF-8 name in `legacy` when that code page holds it
// exactly: converted back they give the very same text (no best fit, no
// look-alike). False when it does not.
bool HeldExactly(std::string_view utf8, const CodePage& legacy, std::string& bytes);

class ZipWriter {
 public:
  // Where the format's fields end; tests lower them to reach ZIP64 with
  // small archives.
  struct Limits {
    uint64_t fieldLimit = zip::kField32Limit;
    uint64_t memberLimit = zip::kMemberCountLimit;
  };

  // Names are judged in `codePage` (trail bytes that look like "\" stay).
  // With UTF-8 names, a name that is not plain ASCII is written in the bytes
  // of the legacy code page (see SetLegacyNames) when it holds the name
  // exactly, as archives for older tools always were, and otherwise as
  // UTF-8 with flag bit 11.
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
  // that match what was read, and the call still answers ZipOk. A source
  // that cannot be opened (ZipOpenFailed) or whose read fails part-way
  // (ZipReadFailed) leaves nothing in the archive; SourceError says why.
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

  // Of the last AddFile: why its source failed, and whether the source
  // changed (size or last-write time) while it was read.
  platform::FileError SourceError() const { return sourceError_; }
  bool SourceChanged() const { return sourceChanged_; }
  // Why the archive itself was last written short (ZipWriteFailed).
  platform::FileError ArchiveError() const { return archiveError_; }

  // The code page of names for older tools; null writes every name that is
  // not plain ASCII as UTF-8. The system's (LegacyNameCodePage) by default.
  void SetLegacyNames(const CodePage* legacy) { legacyNames_ = legacy; }

  bool IsOpen() const { return archive_.IsOpen(); }
  const std::vector<ZipEntry>& Entries() const { return entries_; }
  uint64_t BytesWritten() const { return bytesWritten_; }

 private:
  struct Member;
  bool MakeName(std::string_view name, bool folder, std::string& out, uint16_t& flags) const;
  // The archive's bytes go out through a buffer: a member's local header,
  // its data and the header's final form (written over the provisional one)
  // cost no system call of their own while they fit in it.
  bool WriteBytes(const void* data, size_t size);
  bool Flush();
  // Writes `bytes` over earlier ones at `offset`, in the buffer when there.
  bool Overwrite(uint64_t offset, const std::string& bytes);
  std::string LocalHeader(const ZipEntry& entry) const;
  ZipResult WriteMember(ZipEntry& entry, Member* source, int level, DeflatedMember* deflated = nullptr);
  bool TakeBack(uint64_t headerOffset);
  void AppendCentralHeader(std::string& block, const ZipEntry& entry) const;

  const CodePage& codePage_;
  const CodePage* legacyNames_ = LegacyNameCodePage();
  Limits limits_;
  platform::File archive_;
  uint64_t bytesWritten_ = 0;  // the archive's length, buffered bytes included
  std::vector<uint8_t> pending_;  // the bytes from pendingStart_ to bytesWritten_
  uint64_t pendingStart_ = 0;     // where the file's own position is
  uint64_t fileEnd_ = 0;  // past bytesWritten_ when a member was taken back
  platform::FileError sourceError_ = platform::FileError::None;
  bool sourceChanged_ = false;
  platform::FileError archiveError_ = platform::FileError::None;
  std::vector<ZipEntry> entries_;
  std::unique_ptr<Deflater> deflater_;
  std::vector<uint8_t> buffer_;
};

}  // namespace quindo
