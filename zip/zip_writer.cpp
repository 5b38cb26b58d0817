#include "zip/zip_writer.h"

#include <chrono>
#include <cstring>

#include "common/crc32.h"
#include "common/file_time.h"
#include "common/little_endian.h"
#include "zip/deflater.h"
#include "zip/parallel_deflate.h"

namespace quindo {

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
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
    if (EqualsNoCase(extension, stored)) return true;
  return false;
}

// The source of the current file member, read through the copy or the
// compressor.
struct ZipWriter::Member {
  platform::File file;
  std::atomic<uint64_t>* progress = nullptr;
  const std::atomic<bool>* abortFlag = nullptr;
  uint64_t maxSize = 0;
  uint64_t position = 0;   // the source's file position
  uint64_t bytesRead = 0;  // bytes that went into the member
  uint32_t crc = 0;
  bool ended = false;
  bool tooLarge = false;

  size_t Read(uint8_t* buffer, size_t n) {
    if (ended) return 0;
    const int64_t got = file.Read(buffer, n);
    if (abortFlag->load(std::memory_order_relaxed)) {
      ended = true;  // what was just read counts nowhere
      return 0;
    }
    if (got > 0) position += static_cast<uint64_t>(got);
    progress->store(position, std::memory_order_relaxed);
    if (got <= 0) {
      ended = true;  // end of the file, or a read error: the member ends here
      return 0;
    }
    if (bytesRead + static_cast<uint64_t>(got) > maxSize) {
      ended = true;  // grew past what the format can record
      tooLarge = true;
      return 0;
    }
    bytesRead += static_cast<uint64_t>(got);
    crc = Crc32Update(crc, buffer, static_cast<size_t>(got));
    return static_cast<size_t>(got);
  }
};

ZipWriter::ZipWriter(const CodePage& codePage) : ZipWriter(codePage, Limits{}) {}

ZipWriter::ZipWriter(const CodePage& codePage, const Limits& limits)
    : codePage_(codePage), limits_(limits) {}

ZipWriter::~ZipWriter() {
  if (IsOpen()) Close();
}

ZipResult ZipWriter::Create(const std::string& path) {
  if (IsOpen()) Close();
  entries_.clear();
  bytesWritten_ = 0;
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
  if (out.size() > zip::kMaxNameLength) return false;
  if (!plainAscii && codePage_.Id() == CodePageId::Utf8) flags |= zip::kFlagUtf8Name;
  return true;
}

bool ZipWriter::WriteBytes(const void* data, size_t size) {
  if (bytesWritten_ + size > limits_.maxArchiveSize) return false;
  if (!archive_.Write(data, size)) return false;
  bytesWritten_ += size;
  return true;
}

bool ZipWriter::WriteLocalHeader(const ZipEntry& entry) {
  std::string header;
  header.reserve(zip::kLocalHeaderSize + entry.name.size() + zip::kLocalExtraSize);
  AppendLe32(header, zip::kLocalHeaderSignature);
  AppendLe16(header, entry.versionNeeded);
  AppendLe16(header, entry.flags);
  AppendLe16(header, entry.method);
  AppendLe32(header, entry.dosDateTime);
  AppendLe32(header, entry.crc32);
  AppendLe32(header, entry.compressedSize);
  AppendLe32(header, entry.uncompressedSize);
  AppendLe16(header, static_cast<uint16_t>(entry.name.size()));
  AppendLe16(header, zip::kLocalExtraSize);
  header += entry.name;
  AppendTimestampBlock(header, entry, true);
  return WriteBytes(header.data(), header.size());
}

ZipResult ZipWriter::AddFolder(std::string_view name) {
  if (!IsOpen()) return ZipBadArgument;
  if (name.empty()) return ZipBadArgument;
  ZipEntry entry;
  if (!MakeName(name, true, entry.name, entry.flags)) return ZipBadArgument;
  if (entries_.size() >= limits_.maxMembers) return ZipWriteFailed;
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
  if (!IsOpen() || name.empty() || path.empty()) return ZipBadArgument;
  ZipEntry entry;
  if (!MakeName(name, false, entry.name, entry.flags)) return ZipBadArgument;
  if (level < 0 || level > 9) level = 6;

  Member source;
  source.progress = &progress;
  source.abortFlag = &abortFlag;
  source.maxSize = limits_.maxFileSize;
  if (!source.file.Open(path, platform::OpenMode::Read)) return ZipOpenFailed;
  platform::FileInfo info;
  const int64_t size = source.file.Size();
  if (!platform::GetFileInfo(path, info) || size < 0) return ZipOpenFailed;
  const auto expectedSize = static_cast<uint64_t>(size);
  // Fields of 32 bits and 16 bits cannot describe these: refuse before writing.
  if (expectedSize > limits_.maxFileSize || entries_.size() >= limits_.maxMembers)
    return ZipWriteFailed;

  entry.externalAttributes = (info.attributes & 0x37u) |
                             ((info.attributes & platform::kAttrDirectory) ? 0x40000000u : 0x80000000u) |
                             0x01000000u;
  if (!(info.attributes & platform::kAttrReadOnly)) entry.externalAttributes |= 0x00800000u;
  if (LooksExecutable(source.file, expectedSize)) entry.externalAttributes |= 0x00400000u;
  entry.modifyTime = LowUnixSeconds(info.writeTime);
  entry.accessTime = LowUnixSeconds(info.accessTime);
  entry.createTime = LowUnixSeconds(info.creationTime);
  entry.dosDateTime = PackDos(DosFromUnixLocal(UnixFromFileTime(info.writeTime)));
  if (!source.file.Seek(0)) return ZipOpenFailed;

  entry.method = IsStoredExtension(entry.name) ? zip::kMethodStored : zip::kMethodDeflated;
  entry.uncompressedSize = static_cast<uint32_t>(expectedSize);
  entry.compressedSize = entry.method == zip::kMethodStored ? static_cast<uint32_t>(expectedSize) : 0;
  return WriteMember(entry, &source, level, deflated);
}

ZipResult ZipWriter::WriteMember(ZipEntry& entry, Member* source, int level, DeflatedMember* deflated) {
  entry.localHeaderOffset = static_cast<uint32_t>(bytesWritten_);
  const uint64_t headerOffset = bytesWritten_;
  const uint16_t finalFlags = entry.flags;
  entry.flags = static_cast<uint16_t>(finalFlags | zip::kFlagDataDescriptor);
  if (!WriteLocalHeader(entry)) return ZipWriteFailed;

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
    if (source->bytesRead > source->maxSize) source->tooLarge = true;
  } else if (source) {
    if (!deflater_) deflater_ = std::make_unique<Deflater>();
    if (buffer_.size() < Deflater::kOutputBufferSize) buffer_.resize(Deflater::kOutputBufferSize);
    const int64_t produced = deflater_->DeflateMember(
        level, [source](uint8_t* b, size_t n) { return source->Read(b, n); },
        [this](const uint8_t* b, size_t n) { return WriteBytes(b, n); }, buffer_.data(), levelFlags);
    if (produced < 0 || static_cast<uint64_t>(produced) != bytesWritten_ - dataStart) ok = false;
  }
  if (source) {
    source->file.Close();
    if (source->tooLarge) ok = false;
  }
  if (!ok) return ZipWriteFailed;

  const uint64_t compressed = bytesWritten_ - dataStart;
  entry.flags = static_cast<uint16_t>(finalFlags | (levelFlags & 0x0006));
  entry.compressedSize = static_cast<uint32_t>(compressed);
  entry.crc32 = source ? source->crc : 0;
  entry.uncompressedSize = source ? static_cast<uint32_t>(source->bytesRead) : 0;

  // The final header has the provisional one's length: rewrite it in place.
  const uint64_t end = bytesWritten_;
  bytesWritten_ = headerOffset;
  if (!archive_.Seek(headerOffset) || !WriteLocalHeader(entry) || !archive_.Seek(end)) {
    bytesWritten_ = end;
    return ZipWriteFailed;
  }
  bytesWritten_ = end;
  entries_.push_back(std::move(entry));
  return ZipOk;
}

ZipResult ZipWriter::Close() {
  if (!IsOpen()) {
    entries_.clear();
    deflater_.reset();
    return ZipBadArgument;
  }
  const uint64_t directoryStart = bytesWritten_;
  uint64_t directorySize = 0;
  for (const ZipEntry& entry : entries_)
    directorySize += zip::kCentralHeaderSize + entry.name.size() + zip::kCentralExtraSize;
  // The whole directory and the end record must fit below the size limit,
  // or the offsets in them would wrap.
  bool ok = directoryStart + directorySize + zip::kEndRecordSize <= limits_.maxArchiveSize &&
            entries_.size() <= limits_.maxMembers;

  std::string block;
  for (size_t i = 0; ok && i < entries_.size(); ++i) {
    const ZipEntry& entry = entries_[i];
    AppendLe32(block, zip::kCentralHeaderSignature);
    AppendLe16(block, entry.versionMadeBy);
    AppendLe16(block, entry.versionNeeded);
    AppendLe16(block, entry.flags);
    AppendLe16(block, entry.method);
    AppendLe32(block, entry.dosDateTime);
    AppendLe32(block, entry.crc32);
    AppendLe32(block, entry.compressedSize);
    AppendLe32(block, entry.uncompressedSize);
    AppendLe16(block, static_cast<uint16_t>(entry.name.size()));
    AppendLe16(block, zip::kCentralExtraSize);
    AppendLe16(block, 0);  // comment length
    AppendLe16(block, 0);  // disk number start
    AppendLe16(block, 0);  // internal attributes
    AppendLe32(block, entry.externalAttributes);
    AppendLe32(block, entry.localHeaderOffset);
    block += entry.name;
    AppendTimestampBlock(block, entry, false);
    if (block.size() >= 65536 || i + 1 == entries_.size()) {
      ok = WriteBytes(block.data(), block.size());
      block.clear();
    }
  }
  if (ok) {
    AppendLe32(block, zip::kEndRecordSignature);
    AppendLe16(block, 0);
    AppendLe16(block, 0);
    AppendLe16(block, static_cast<uint16_t>(entries_.size()));
    AppendLe16(block, static_cast<uint16_t>(entries_.size()));
    AppendLe32(block, static_cast<uint32_t>(bytesWritten_ - directoryStart));
    AppendLe32(block, static_cast<uint32_t>(directoryStart));
    AppendLe16(block, 0);
    ok = WriteBytes(block.data(), block.size());
  }
  archive_.Close();
  deflater_.reset();
  entries_.clear();
  entries_.shrink_to_fit();
  buffer_.clear();
  buffer_.shrink_to_fit();
  return ok ? ZipOk : ZipWriteFailed;
}

}  // namespace quindo
