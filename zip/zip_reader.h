#pragma once
// The ZIP reader: works from the local file headers alone, in file order. It
// finds each member by scanning for the local header signature, takes the
// sizes from the header, decodes the member (stored, DEFLATE through zlib,
// the PKZIP 1.x methods, traditional decryption) and checks its CRC-32.
//
// The archive is read through a ByteSource and members are written through
// an ExtractTarget, so the whole walk runs on a buffer in memory as well as
// on files.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "app/archive_reader.h"
#include "platform/platform.h"
#include "zip/traditional_cipher.h"

namespace quindo {

// The archive as the reader sees it.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Bytes read, 0 at the end, -1 on an error.
  virtual int64_t Read(uint8_t* buffer, size_t size) = 0;
  virtual bool Seek(uint64_t position) = 0;
  virtual uint64_t Size() = 0;
};

class FileSource final : public ByteSource {
 public:
  explicit FileSource(platform::File& file) : file_(file) {}
  int64_t Read(uint8_t* buffer, size_t size) override { return file_.Read(buffer, size); }
  bool Seek(uint64_t position) override { return file_.Seek(position); }
  uint64_t Size() override;

 private:
  platform::File& file_;
};

class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::span<const uint8_t> data) : data_(data) {}
  int64_t Read(uint8_t* buffer, size_t size) override;
  bool Seek(uint64_t position) override;
  uint64_t Size() override { return data_.size(); }

 private:
  std::span<const uint8_t> data_;
  uint64_t position_ = 0;
};

// Where members go. Paths are relative, in the system code page, with the
// platform's separator.
class ExtractTarget {
 public:
  virtual ~ExtractTarget() = default;
  virtual bool Exists(const std::string& path) = 0;
  // Failures (an existing folder) are ignored.
  virtual void CreateFolder(const std::string& path) = 0;
  // Creates or truncates the member's file; false when it cannot be made.
  virtual bool Create(const std::string& path) = 0;
  // False when the bytes could not be written.
  virtual bool Write(const uint8_t* data, size_t size) = 0;
  // Closes the file; false when the last bytes could not be written.
  virtual bool Close() = 0;
  virtual void Remove(const std::string& path) = 0;
  virtual void SetTime(const std::string& path, uint16_t dosDate, uint16_t dosTime) = 0;
};

// Files relative to the current directory, written in large blocks.
class FileSystemTarget final : public ExtractTarget {
 public:
  bool Exists(const std::string& path) override;
  void CreateFolder(const std::string& path) override;
  bool Create(const std::string& path) override;
  bool Write(const uint8_t* data, size_t size) override;
  bool Close() override;
  void Remove(const std::string& path) override;
  void SetTime(const std::string& path, uint16_t dosDate, uint16_t dosTime) override;

 private:
  bool Flush();
  platform::File file_;
  std::vector<uint8_t> buffer_;
  size_t used_ = 0;
  bool failed_ = false;
  // Folders made or found during this walk: each is asked of the system once.
  std::unordered_set<std::string> folders_;
};

// One parsed local file header. Sizes are 64-bit because a ZIP64 extra field
// may carry them.
struct LocalHeader {
  uint16_t versionNeeded = 0;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint16_t modTime = 0;
  uint16_t modDate = 0;
  uint32_t crc32 = 0;
  uint64_t compressedSize = 0;
  uint64_t uncompressedSize = 0;
  uint16_t nameLength = 0;
  uint16_t extraLength = 0;
  std::string name;  // at most 259 bytes
};

enum class HeaderVerdict {
  Valid,        // a member this reader decodes
  Invalid,      // not a member: the scan goes on after the signature
  Unsupported,  // a sound header of a method this reader does not decode
};

// The judgement of a stored name: false when it reads as Shift-JIS, true when
// it is taken for UTF-8 (pure ASCII, an invalid byte, or double-byte
// characters mixed only with half-width katakana).
bool LooksLikeUtf8(std::string_view name);

// A stored member name in the system code page. With `useUtf8` a name taken
// for UTF-8 (or flagged so by general-purpose bit 11 and valid) is
// converted from UTF-8; every other name is the Shift-JIS of the systems the
// archives come from, which a UTF-8 system converts from CP932.
std::string MemberNameForSystem(std::string_view stored, bool useUtf8, uint16_t flags = 0);

class ZipReader final : public ArchiveReader {
 public:
  bool Probe(const std::string& path, uint64_t fileSize) override;
  bool Extract(const std::string& path, const std::string& outputFolder) override;
  bool FindRootFolder(const std::string& path) override;

  // The same over any source. `window` holds the first bytes of the source.
  bool ProbeData(std::span<const uint8_t> window, ByteSource& source);
  bool FindRootFolderIn(ByteSource& source);
  bool ExtractFrom(ByteSource& source, ExtractTarget& target);

  ZipCipher cipher;
  uint64_t archiveSize = 0;
  uint32_t crc = 0;  // running CRC-32 of the member being written
  bool decrypting = false;

 private:
  class Input;
  class MemberInput;
  class MemberOutput;
  enum class MemberEnd { Complete, Truncated, Corrupt, Stopped };

  HeaderVerdict ReadLocalHeader(Input& in, LocalHeader& header);
  // Valid or Unsupported with the input after the header; false at the end.
  bool FindNextLocalHeader(Input& in, LocalHeader& header, HeaderVerdict& verdict);
  void PublishProgress(uint64_t position);
  MemberEnd CopyStored(Input& in, MemberOutput& out, uint64_t size);
  uint64_t DataEnd(Input& in, const LocalHeader& header, bool& searchable);
  bool FindStoredEnd(Input& in, uint64_t start, uint64_t overhead, uint64_t& size);
  MemberEnd Inflate(Input& in, MemberOutput& out, uint64_t size, uint64_t& streamEnd);
  std::string RelativeRoot(const std::string& converted) const;

  std::vector<uint8_t> scratch_;
};

}  // namespace quindo
