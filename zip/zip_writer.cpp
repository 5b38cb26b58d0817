#include "zip/zip_writer.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "common/ascii_case.h"
#include "common/crc32.h"
#include "common/file_time.h"
#include "common/little_endian.h"
#include "common/text_limits.h"
#include "zip/deflater.h"
#include "zip/parallel_deflate.h"

namespace quindo {

namespace {

// Answered by WriteMember when a member without ZIP64 sizes turned out to
// need them; it has been taken back and is written again with them.
constexpr auto kNeedsZip64 = static_cast<ZipResult>(0x40000000);

// The fields that a local and a central header share, from the flags to the
// extra field's length; sizes in ZIP64 fields stand as 0xFFFFFFFF here.
void AppendSharedFields(std::string& out, const ZipEntry& entry, uint16_t extraSize) {
  AppendLe16(out, entry.flags);
  AppendLe16(out, entry.method);
  AppendLe32(out, entry.dosDateTime);
  AppendLe32(out, entry.crc32);
  AppendLe32(out, entry.zip64Sizes ? 0xFFFFFFFFu : static_cast<uint32_t>(entry.compressedSize));
  AppendLe32(out, entry.zip64Sizes ? 0xFFFFFFFFu : static_cast<uint32_t>(entry.uncompressedSize));
  AppendLe16(out, static_cast<uint16_t>(entry.name.size()));
  AppendLe16(out, extraSize);
}

void AppendTimestampBlock(std::string& out, const ZipEntry& entry, bool local) {
  AppendLe16(out, zip::kTimestampExtraId);
  AppendLe16(out, local ? 13 : 5);
  out.push_back(7);  // modification, access and creation time (the central block keeps the flag)
  AppendLe32(out, entry.modifyTime);
  if (local) {
    AppendLe32(out, entry.accessTime);
    AppendLe32(out, entry.createTime);
  }
}

uint32_t LowUnixSeconds(uint64_t fileTime) {
  if (fileTime == 0) return 0;
  return static_cast<uint32_t>(static_cast<uint64_t>(UnixFromFileTime(fileTime)));
}

uint32_t PackDos(DosDateTime dos) { return (static_cast<uint32_t>(dos.date) << 16) | dos.time; }

// The Windows program test: an MZ header whose new-header offset points at
// one of the MZ, NE, LE or PE signatures.
bool LooksExecutable(platform::File& file, uint64_t size) {
  if (size <= 40) return false;
  uint8_t bytes[4];
  if (!file.Seek(0) || file.ReadFull(bytes, 2) != 2 || bytes[0] != 'M' || bytes[1] != 'Z') return false;
  if (!file.Seek(60) || file.ReadFull(bytes, 4) != 4) return false;
  const uint32_t h = LoadLe32(bytes);
  if (size <= static_cast<uint64_t>(h) + 52) return false;
  if (!file.Seek(h) || file.ReadFull(bytes, 4) != 4) return false;
  const uint32_t signature = LoadLe32(bytes);
  return signature == 0x00005A4D || signature == 0x0000454E || signature == 0x0000454C ||
         signature == 0x00004550;
}

}  // namespace

bool IsStoredExtension(std::string_view name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return false;
  const std::string_view extension = name.substr(dot);
  for (const char* stored : {".Z", ".zip", ".zoo", ".arc", ".lzh", ".arj", ".gz", ".tgz"})
    if (EqualsIgnoringAsciiCase(extension, stored)) return true;
  return false;
}

// The source of the current file member, read through the copy or the
// compressor.
struct ZipWriter::Member {
  platform::File file;
  std::atomic<uint64_t>* progress = nullptr;
  const std::atomic<bool>* abortFlag = nullptr;
  uint64_t maxSize = 0;    // more than this needs the ZIP64 sizes
  uint64_t position = 0;   // the source's file position
  uint64_t bytesRead = 0;  // bytes that went into the member
  uint32_t crc = 0;
  bool ended = false;
  bool tooLarge = false;
  bool readFailed = false;
  platform::FileError error = platform::FileError::None;

  bool Restart() {
    position = bytesRead = 0;
    crc = 0;
    ended = tooLarge = false;
    progress->store(0, std::memory_order_relaxed);
    return file.Seek(0);
  }

  size_t Read(uint8_t* buffer, size_t n) {
    if (ended) return 0;
    const int64_t got = file.Read(buffer, n);
    if (got < 0) error = platform::LastFileError();
    if (abortFlag->load(std::memory_order_relaxed)) {
      ended = true;  // what was just read counts nowhere
      return 0;
    }
    if (got > 0) position += static_cast<uint64_t>(got);
    progress->store(position, std::memory_order_relaxed);
    if (got <= 0) {
      ended = true;  // end of the file, or a read error: the member ends here
      readFailed = got < 0;
      return 0;
    }
    if (bytesRead + static_cast<uint64_t>(got) > maxSize) {
      ended = true;  // grew past what its local header can record
      tooLarge = true;
      return 0;
    }
    bytesRead += static_cast<uint64_t>(got);
    crc = Crc32Update(crc, buffer, static_cast<size_t>(got));
    return static_cast<size_t>(got);
  }
};

bool HeldExactly(std::string_view utf8, const CodePage& legacy, std::string& bytes) {
  std::string back;
  return IsValidUtf8(utf8) && legacy.FromUtf8(utf8, bytes) && legacy.ToUtf8(bytes, back) && back == utf8;
}

ZipWriter::ZipWriter(const CodePage& codePage) : ZipWriter(codePage, Limits{}) {}

ZipWriter::ZipWriter(const CodePage& codePage, const Limits& limits)
    : codePage_(codePage), limits_(limits) {}

ZipWriter::~ZipWriter() {
  if (IsOpen()) Close();
}

ZipResult ZipWriter::Create(const std::string& path) {
  if (IsOpen()) Close();
  entries_.clear();
  bytesWritten_ = fileEnd_ = pendingStart_ = 0;
  pending_.clear();
  if (!archive_.Open(path, platform::OpenMode::CreateAlways)) return ZipOpenFailed;
  return ZipOk;
}

bool ZipWriter::MakeName(std::string_view name, bool folder, std::string& out, uint16_t& flags) const {
  out.clear();
  out.reserve(name.size() + 1);
  bool plainAscii = true;
  for (size_t i = 0; i < name.size();) {
    const auto byte = static_cast<uint8_t>(name[i]);
    if (byte >= 0x80) plainAscii = false;
    const size_t length = codePage_.IsLeadByte(byte) && i + 1 < name.size() ? 2 : 1;
    if (length == 1 && byte == '\\')
      out.push_back('/');
    else
      out.append(name.substr(i, length));
    i += length;
  }
  if (folder && (out.empty() || out.back() != '/')) out.push_back('/');
  if (!plainAscii && codePage_.Id() == CodePageId::Utf8) {
    std::string legacy;
    if (legacyNames_ && HeldExactly(out, *legacyNames_, legacy)) {
      out = std::move(legacy);
    } else if (IsValidUtf8(out)) {
      // The flag promises UTF-8: a name in another encoding (a Latin-1 file
      // name on a UTF-8 system) goes without it, as the bytes it is.
      flags |= zip::kFlagUtf8Name;
    }
  }
  return out.size() <= kMaxNameLength;
}

namespace {
constexpr size_t kWriteBuffer = 256 * 1024;
}  // namespace

bool ZipWriter::WriteBytes(const void* data, size_t size) {
  if (pending_.size() + size > kWriteBuffer && !Flush()) return false;
  if (size >= kWriteBuffer) {
    // As large as the buffer: straight out.
    if (!archive_.Write(data, size)) {
      archiveError_ = platform::LastFileError();
      return false;
    }
    bytesWritten_ += size;
    pendingStart_ = bytesWritten_;
    return true;
  }
  const auto* bytes = static_cast<const uint8_t*>(data);
  pending_.insert(pending_.end(), bytes, bytes + size);
  bytesWritten_ += size;
  return true;
}

bool ZipWriter::Flush() {
  if (pending_.empty()) return true;
  const bool written = archive_.Write(pending_.data(), pending_.size());
  if (!written) archiveError_ = platform::LastFileError();
  pendingStart_ += pending_.size();
  pending_.clear();
  return written;
}

bool ZipWriter::Overwrite(uint64_t offset, const std::string& bytes) {
  if (offset >= pendingStart_ && offset + bytes.size() <= bytesWritten_) {
    std::memcpy(pending_.data() + (offset - pendingStart_), bytes.data(), bytes.size());
    return true;
  }
  if (!Flush()) return false;
  if (!archive_.Seek(offset) || !archive_.Write(bytes.data(), bytes.size()) || !archive_.Seek(bytesWritten_)) {
    archiveError_ = platform::LastFileError();
    return false;
  }
  return true;
}

std::string ZipWriter::LocalHeader(const ZipEntry& entry) const {
  const uint16_t extraSize = zip::kLocalExtraSize + (entry.zip64Sizes ? zip::kZip64SizesExtraSize : 0);
  std::string header;
  header.reserve(zip::kLocalHeaderSize + entry.name.size() + extraSize);
  AppendLe32(header, zip::kLocalHeaderSignature);
  AppendLe16(header, entry.versionNeeded);
  AppendSharedFields(header, entry, extraSize);
  header += entry.name;
  if (entry.zip64Sizes) {
    AppendLe16(header, zip::kZip64ExtraId);
    AppendLe16(header, 16);
    AppendLe64(header, entry.uncompressedSize);
    AppendLe64(header, entry.compressedSize);
  }
  AppendTimestampBlock(header, entry, true);
  return header;
}

ZipResult ZipWriter::AddFolder(std::string_view name) {
  if (!IsOpen()) return ZipBadArgument;
  if (name.empty()) return ZipBadArgument;
  ZipEntry entry;
  if (!MakeName(name, true, entry.name, entry.flags)) return ZipNameTooLong;
  entry.method = zip::kMethodStored;
  entry.externalAttributes = zip::kFolderAttributes;
  // A folder entry carries the time it was added, not the folder's own.
  const int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  entry.dosDateTime = PackDos(DosFromUnixLocal(now));
  entry.modifyTime = entry.accessTime = entry.createTime = static_cast<uint32_t>(now);
  return WriteMember(entry, nullptr, 0);
}

ZipResult ZipWriter::AddFile(std::string_view name, const std::string& path,
                             std::atomic<uint64_t>& progress, const std::atomic<bool>& abortFlag,
                             int level, DeflatedMember* deflated) {
  sourceError_ = platform::FileError::None;
  sourceChanged_ = false;
  if (!IsOpen() || name.empty() || path.empty()) return ZipBadArgument;
  ZipEntry entry;
  if (!MakeName(name, false, entry.name, entry.flags)) return ZipNameTooLong;
  if (level < 0 || level > 9) level = 6;

  Member source;
  source.progress = &progress;
  source.abortFlag = &abortFlag;
  platform::FileInfo info;
  int64_t size = -1;
  if (!source.file.Open(path, platform::OpenMode::Read) || (size = source.file.Size()) < 0 ||
      !platform::GetFileInfo(path, info)) {
    sourceError_ = platform::LastFileError();
    return ZipOpenFailed;
  }
  const auto expectedSize = static_cast<uint64_t>(size);

  entry.externalAttributes = (info.attributes & 0x37u) |
                             ((info.attributes & platform::kAttrDirectory) ? 0x40000000u : 0x80000000u) |
                             0x01000000u;
  if (!(info.attributes & platform::kAttrReadOnly)) entry.externalAttributes |= 0x00800000u;
  if (LooksExecutable(source.file, expectedSize)) entry.externalAttributes |= 0x00400000u;
  entry.modifyTime = LowUnixSeconds(info.writeTime);
  entry.accessTime = LowUnixSeconds(info.accessTime);
  entry.createTime = LowUnixSeconds(info.creationTime);
  entry.dosDateTime = PackDos(DosFromUnixLocal(UnixFromFileTime(info.writeTime)));
  if (!source.file.Seek(0)) {
    sourceError_ = platform::LastFileError();
    return ZipOpenFailed;
  }

  entry.method = IsStoredExtension(entry.name) ? zip::kMethodStored : zip::kMethodDeflated;
  // Deflated data grow by far less than 1/64 when they do not shrink.
  bool zip64 = expectedSize >= limits_.fieldLimit - limits_.fieldLimit / 64;
  ZipResult result;
  for (;;) {
    entry.zip64Sizes = zip64;
    source.maxSize = zip64 ? UINT64_MAX : limits_.fieldLimit - 1;
    entry.versionNeeded = zip64 ? zip::kVersionNeededZip64 : zip::kVersionNeeded;
    entry.uncompressedSize = expectedSize;
    entry.compressedSize = entry.method == zip::kMethodStored ? expectedSize : 0;
    // Data deflated ahead serve the first try only: a member that turns out
    // to need ZIP64 is read and deflated again here.
    result = WriteMember(entry, &source, level, deflated);
    deflated = nullptr;
    if (result != kNeedsZip64 || zip64) break;
    zip64 = true;
    if (!source.Restart()) {
      source.error = platform::LastFileError();
      result = ZipReadFailed;
      break;
    }
  }
  if (result == ZipReadFailed) sourceError_ = source.error == platform::FileError::None ? platform::FileError::ReadFailed : source.error;
  if (result == ZipOk && !abortFlag.load()) {
    platform::FileInfo after;
    sourceChanged_ = source.bytesRead != expectedSize ||
                     (platform::GetFileInfo(path, after) && after.writeTime != info.writeTime);
  }
  return result == kNeedsZip64 ? ZipWriteFailed : result;
}

bool ZipWriter::TakeBack(uint64_t headerOffset) {
  fileEnd_ = std::max(fileEnd_, bytesWritten_);
  if (headerOffset >= pendingStart_) {
    pending_.resize(static_cast<size_t>(headerOffset - pendingStart_));
  } else {
    pending_.clear();
    if (!archive_.Seek(headerOffset)) return false;
    pendingStart_ = headerOffset;
  }
  bytesWritten_ = headerOffset;
  return true;
}

ZipResult ZipWriter::WriteMember(ZipEntry& entry, Member* source, int level, DeflatedMember* deflated) {
  entry.localHeaderOffset = bytesWritten_;
  const uint64_t headerOffset = bytesWritten_;
  const uint16_t finalFlags = entry.flags;
  entry.flags = static_cast<uint16_t>(finalFlags | zip::kFlagDataDescriptor);
  const std::string provisional = LocalHeader(entry);
  if (!WriteBytes(provisional.data(), provisional.size())) return ZipWriteFailed;

  const uint64_t dataStart = bytesWritten_;
  bool ok = true;
  uint16_t levelFlags = 0;
  if (source && entry.method == zip::kMethodStored) {
    if (buffer_.size() < zip::kCopyBufferSize) buffer_.resize(zip::kCopyBufferSize);
    for (;;) {
      const size_t n = source->Read(buffer_.data(), zip::kCopyBufferSize);
      if (n == 0) break;
      if (!WriteBytes(buffer_.data(), n)) {
        ok = false;
        break;
      }
    }
  } else if (source && deflated) {
    // Deflated ahead on other threads: only the writing is left here.
    std::span<const uint8_t> piece;
    while (deflated->Next(piece)) {
      if (!WriteBytes(piece.data(), piece.size())) {
        ok = false;
        break;
      }
      source->progress->store(deflated->RawSize(), std::memory_order_relaxed);
    }
    levelFlags = deflated->Flags();
    source->bytesRead = deflated->RawSize();
    source->crc = deflated->Crc();
    if (deflated->Failed()) ok = false;
    // A read that failed part-way drops the member, as on one thread.
    if (deflated->ReadFailed()) source->readFailed = true;
    if (source->bytesRead > source->maxSize) source->tooLarge = true;
  } else if (source) {
    if (!deflater_) deflater_ = std::make_unique<Deflater>();
    if (buffer_.size() < Deflater::kOutputBufferSize) buffer_.resize(Deflater::kOutputBufferSize);
    const int64_t produced = deflater_->DeflateMember(
        level, [source](uint8_t* b, size_t n) { return source->Read(b, n); },
        [this](const uint8_t* b, size_t n) { return WriteBytes(b, n); }, buffer_.data(), levelFlags);
    if (produced < 0 || static_cast<uint64_t>(produced) != bytesWritten_ - dataStart) ok = false;
  }
  if (!ok) return ZipWriteFailed;

  const uint64_t compressed = bytesWritten_ - dataStart;
  entry.flags = finalFlags;
  // A member that cannot be stored whole is taken back; the next member
  // writes over it.
  if (source && source->readFailed) return TakeBack(headerOffset) ? ZipReadFailed : ZipWriteFailed;
  if (!entry.zip64Sizes && ((source && source->tooLarge) || compressed >= limits_.fieldLimit))
    return TakeBack(headerOffset) ? kNeedsZip64 : ZipWriteFailed;
  entry.flags = static_cast<uint16_t>(finalFlags | (levelFlags & 0x0006));
  entry.compressedSize = compressed;
  entry.crc32 = source ? source->crc : 0;
  entry.uncompressedSize = source ? source->bytesRead : 0;

  // The final header has the provisional one's length: rewrite it in place.
  if (!Overwrite(headerOffset, LocalHeader(entry))) return ZipWriteFailed;
  entries_.push_back(std::move(entry));
  return ZipOk;
}

void ZipWriter::AppendCentralHeader(std::string& block, const ZipEntry& entry) const {
  const bool offset64 = entry.localHeaderOffset >= limits_.fieldLimit;
  const uint16_t zip64Size = (entry.zip64Sizes ? 16 : 0) + (offset64 ? 8 : 0);
  const uint16_t extraSize = zip::kCentralExtraSize + (zip64Size ? 4 + zip64Size : 0);
  AppendLe32(block, zip::kCentralHeaderSignature);
  AppendLe16(block, entry.versionMadeBy);
  AppendLe16(block, offset64 ? zip::kVersionNeededZip64 : entry.versionNeeded);
  AppendSharedFields(block, entry, extraSize);
  AppendLe16(block, 0);  // comment length
  AppendLe16(block, 0);  // disk number start
  AppendLe16(block, 0);  // internal attributes
  AppendLe32(block, entry.externalAttributes);
  AppendLe32(block, offset64 ? 0xFFFFFFFFu : static_cast<uint32_t>(entry.localHeaderOffset));
  block += entry.name;
  if (zip64Size) {
    // Only the fields marked 0xFFFFFFFF above, in this order.
    AppendLe16(block, zip::kZip64ExtraId);
    AppendLe16(block, zip64Size);
    if (entry.zip64Sizes) {
      AppendLe64(block, entry.uncompressedSize);
      AppendLe64(block, entry.compressedSize);
    }
    if (offset64) AppendLe64(block, entry.localHeaderOffset);
  }
  AppendTimestampBlock(block, entry, false);
}

ZipResult ZipWriter::Close() {
  if (!IsOpen()) {
    entries_.clear();
    deflater_.reset();
    return ZipBadArgument;
  }
  const uint64_t directoryStart = bytesWritten_;
  bool ok = true;
  std::string block;
  for (size_t i = 0; ok && i < entries_.size(); ++i) {
    AppendCentralHeader(block, entries_[i]);
    if (block.size() >= 65536 || i + 1 == entries_.size()) {
      ok = WriteBytes(block.data(), block.size());
      block.clear();
    }
  }
  const uint64_t directorySize = bytesWritten_ - directoryStart;
  const uint64_t count = entries_.size();
  const bool countTooLarge = count > limits_.memberLimit;
  const bool sizeTooLarge = directorySize >= limits_.fieldLimit;
  const bool offsetTooLarge = directoryStart >= limits_.fieldLimit;
  if (ok && (countTooLarge || sizeTooLarge || offsetTooLarge)) {
    const uint64_t recordOffset = bytesWritten_;
    AppendLe32(block, zip::kZip64EndRecordSignature);
    AppendLe64(block, zip::kZip64EndRecordSize - 12);  // the record's size after this field
    AppendLe16(block, static_cast<uint16_t>((zip::kVersionMadeBy & 0xFF00) | zip::kVersionNeededZip64));
    AppendLe16(block, zip::kVersionNeededZip64);
    AppendLe32(block, 0);  // this disk
    AppendLe32(block, 0);  // the disk of the directory
    AppendLe64(block, count);
    AppendLe64(block, count);
    AppendLe64(block, directorySize);
    AppendLe64(block, directoryStart);
    AppendLe32(block, zip::kZip64LocatorSignature);
    AppendLe32(block, 0);  // the disk of the ZIP64 end record
    AppendLe64(block, recordOffset);
    AppendLe32(block, 1);  // disks in all
  }
  if (ok) {
    AppendLe32(block, zip::kEndRecordSignature);
    AppendLe16(block, 0);
    AppendLe16(block, 0);
    AppendLe16(block, countTooLarge ? 0xFFFF : static_cast<uint16_t>(count));
    AppendLe16(block, countTooLarge ? 0xFFFF : static_cast<uint16_t>(count));
    AppendLe32(block, sizeTooLarge ? 0xFFFFFFFFu : static_cast<uint32_t>(directorySize));
    AppendLe32(block, offsetTooLarge ? 0xFFFFFFFFu : static_cast<uint32_t>(directoryStart));
    AppendLe16(block, 0);
    ok = WriteBytes(block.data(), block.size());
  }
  if (ok) ok = Flush();
  // A member taken back at the end leaves bytes past the end record.
  if (ok && fileEnd_ > bytesWritten_ && !archive_.Truncate(bytesWritten_)) {
    archiveError_ = platform::LastFileError();
    ok = false;
  }
  archive_.Close();
  deflater_.reset();
  entries_.clear();
  entries_.shrink_to_fit();
  buffer_.clear();
  buffer_.shrink_to_fit();
  pending_.clear();
  pending_.shrink_to_fit();
  return ok ? ZipOk : ZipWriteFailed;
}

}  // namespace quindo
