#include "zip/zip_reader.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "app/path_utils.h"
#include "app/user_interface.h"
#include "app/work_buffer.h"
#include "common/crc32.h"
#include "common/little_endian.h"
#include "common/path_text.h"
#include "zip/legacy_methods.h"

namespace quindo {

namespace {

constexpr size_t kInputBufferSize = 64 * 1024;
constexpr size_t kOutputBufferSize = 256 * 1024;
constexpr size_t kHalf = kWorkBufferSize / 2;
constexpr size_t kLocalHeaderFixed = 26;
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagDescriptor = 0x0008;
constexpr uint16_t kFlagStrongEncryption = 0x0040;
constexpr uint16_t kFlagUtf8 = 0x0800;
constexpr uint32_t kDescriptorSignature = 0x08074b50;

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t Get64(const uint8_t* p) { return Get32(p) | (static_cast<uint64_t>(Get32(p + 4)) << 32); }

// Methods of other writers: a header naming one is a member we cannot read,
// not noise in the data.
bool IsKnownForeignMethod(uint16_t method) {
  switch (method) {
    case 7: case 9: case 10: case 12: case 14: case 16: case 18: case 19:
    case 93: case 94: case 95: case 96: case 97: case 98: case 99:
      return true;
    default:
      return false;
  }
}

const char kSecurityTitle[] = "セキュリティ";
const char kSecurityText[] =
    "偽装ファイルの可能性が高い実行可能ファイルが検出されました。\n"
    "このファイルに見覚えが無い場合は注意してください。\n\nファイル：";

}  // namespace

// --- sources and targets ------------------------------------------------------

uint64_t FileSource::Size() { return OpenFileSize(file_); }

int64_t MemorySource::Read(uint8_t* buffer, size_t size) {
  if (position_ >= data_.size()) return 0;
  size_t n = static_cast<size_t>(std::min<uint64_t>(size, data_.size() - position_));
  std::memcpy(buffer, data_.data() + position_, n);
  position_ += n;
  return static_cast<int64_t>(n);
}

bool MemorySource::Seek(uint64_t position) {
  position_ = position;
  return true;
}

bool FileSystemTarget::Exists(const std::string& path) {
  return platform::GetFileAttributes(path) != platform::kInvalidAttributes;
}

void FileSystemTarget::CreateFolder(const std::string& path) {
  if (folders_.insert(path).second) platform::CreateDirectory(path);
}

bool FileSystemTarget::Create(const std::string& path) {
  if (buffer_.empty()) buffer_.resize(kOutputBufferSize);
  used_ = 0;
  failed_ = false;
  return file_.Open(path, platform::OpenMode::CreateAlways);
}

bool FileSystemTarget::Flush() {
  if (used_ && !failed_ && !file_.Write(buffer_.data(), used_)) failed_ = true;
  used_ = 0;
  return !failed_;
}

bool FileSystemTarget::Write(const uint8_t* data, size_t size) {
  if (failed_) return false;
  if (used_ + size > buffer_.size()) {
    if (!Flush()) return false;
    if (size >= buffer_.size()) {
      if (!file_.Write(data, size)) failed_ = true;
      return !failed_;
    }
  }
  std::memcpy(buffer_.data() + used_, data, size);
  used_ += size;
  return true;
}

bool FileSystemTarget::Close() {
  bool ok = Flush();
  file_.Close();
  return ok;
}

void FileSystemTarget::Remove(const std::string& path) { platform::DeleteFile(path); }

void FileSystemTarget::SetTime(const std::string& path, uint16_t dosDate, uint16_t dosTime) {
  SetFileTimeFromDos(path, dosDate, dosTime);
}

// --- buffered reading of the archive -------------------------------------------

class ZipReader::Input {
 public:
  explicit Input(ByteSource& source) : source_(source), buffer_(kInputBufferSize) {
    size_ = source.Size();
  }
  uint64_t Size() const { return size_; }
  uint64_t Position() const { return base_ + pos_; }

  int Get() {
    if (pos_ == end_ && !Fill()) return -1;
    return buffer_[pos_++];
  }

  // Reads up to `size` bytes; fewer only at the end or on an error.
  size_t Read(uint8_t* out, size_t size) {
    size_t done = 0;
    while (done < size) {
      if (pos_ < end_) {
        size_t n = std::min(size - done, end_ - pos_);
        std::memcpy(out + done, buffer_.data() + pos_, n);
        pos_ += n;
        done += n;
        continue;
      }
      if (size - done >= buffer_.size()) {
        // Large reads go straight to the caller's buffer.
        base_ += end_;
        pos_ = end_ = 0;
        int64_t n = source_.Read(out + done, size - done);
        if (n <= 0) break;
        base_ += static_cast<uint64_t>(n);
        done += static_cast<size_t>(n);
        continue;
      }
      if (!Fill()) break;
    }
    return done;
  }

  bool Skip(uint64_t count) { return Seek(Position() + count); }

  bool Seek(uint64_t position) {
    if (position >= base_ && position <= base_ + end_) {
      pos_ = static_cast<size_t>(position - base_);
      return true;
    }
    base_ = position;
    pos_ = end_ = 0;
    return source_.Seek(position);
  }

 private:
  bool Fill() {
    base_ += end_;
    pos_ = end_ = 0;
    int64_t n = source_.Read(buffer_.data(), buffer_.size());
    if (n <= 0) return false;
    end_ = static_cast<size_t>(n);
    return true;
  }

  ByteSource& source_;
  std::vector<uint8_t> buffer_;
  uint64_t size_ = 0;
  uint64_t base_ = 0;  // archive position of buffer_[0]
  size_t pos_ = 0, end_ = 0;
};

// What the PKZIP 1.x decoders read: the member's bytes, bounded, deciphered.
class ZipReader::MemberInput final : public ZipMemberInput {
 public:
  MemberInput(ZipReader& reader, Input& in, uint64_t size) : reader_(reader), in_(in), remaining_(size) {}
  size_t Read(uint8_t* buffer, size_t size) override {
    size_t want = static_cast<size_t>(std::min<uint64_t>(size, remaining_));
    if (want == 0) return 0;
    reader_.PublishProgress(in_.Position());
    size_t n = in_.Read(buffer, want);
    if (reader_.decrypting) reader_.cipher.Decrypt(buffer, n);
    remaining_ -= n;
    if (n < want) truncated_ = true;
    return n;
  }
  bool truncated() const { return truncated_; }

 private:
  ZipReader& reader_;
  Input& in_;
  uint64_t remaining_;
  bool truncated_ = false;
};

// Where every decoder's output goes: the CRC, the target, the Cancel check.
class ZipReader::MemberOutput final : public ZipMemberOutput {
 public:
  MemberOutput(ZipReader& reader, ExtractTarget& target) : reader_(reader), target_(target) {}
  bool Write(const uint8_t* data, size_t size) override {
    if (writeFailed_) return false;
    reader_.crc = Crc32Update(reader_.crc, data, size);
    if (size && !target_.Write(data, size)) {
      writeFailed_ = true;
      return false;
    }
    return !reader_.cancelRequested.load(std::memory_order_relaxed);
  }
  bool writeFailed() const { return writeFailed_; }

 private:
  ZipReader& reader_;
  ExtractTarget& target_;
  bool writeFailed_ = false;
};

// --- names --------------------------------------------------------------------

bool LooksLikeUtf8(std::string_view name) {
  bool kana = false, dbl = false, vendor = false, unassigned = false;
  const size_t n = name.size();
  for (size_t i = 0; i < n; ++i) {
    const auto c = static_cast<uint8_t>(name[i]);
    if ((c >= 0x07 && c <= 0x0D) || (c >= 0x20 && c <= 0x7E)) continue;
    if (c >= 0xA1 && c <= 0xDF) {
      kana = true;
      continue;
    }
    const bool low = c >= 0x81 && c <= 0x9F;
    const bool high = c >= 0xE0 && c <= 0xEF;
    if (!low && !high) return true;  // invalid for Shift-JIS
    dbl = true;
    if (i + 1 == n) break;  // a lead byte without its trail is no error
    const auto t = static_cast<uint8_t>(name[++i]);
    if (!((t >= 0x40 && t <= 0x7E) || (t >= 0x80 && t <= 0xFC))) return true;
    if (low) {
      if (c == 0x87 && t < 0x9E) vendor = true;
      else if ((c >= 0x85 && c <= 0x87) || (c == 0x88 && t < 0x9E)) unassigned = true;
    } else {
      if (c == 0xED || c == 0xEE) vendor = true;
      else if (c >= 0xEB) unassigned = true;
    }
  }
  const bool onlyDoubleAndKana = kana && !vendor && !unassigned;
  const bool shiftJis = dbl && !onlyDoubleAndKana;
  return !shiftJis;
}

std::string MemberNameForSystem(std::string_view stored, bool useUtf8, uint16_t flags) {
  std::string out;
  if (useUtf8) {
    const bool flaggedUtf8 = (flags & kFlagUtf8) && IsValidUtf8(stored);
    if ((flaggedUtf8 || LooksLikeUtf8(stored)) && Utf8ToAnsi(stored, out) == out.size() &&
        (!out.empty() || stored.empty()))
      return out;
  }
  // As stored: Shift-JIS, the code page of the systems these archives come
  // from. A UTF-8 system converts it so that the names read right.
  if (PathCodePage().Id() == CodePageId::Utf8 && Cp932CodePage().ToUtf8(stored, out)) return out;
  return std::string(stored);
}

// --- headers ------------------------------------------------------------------

HeaderVerdict ZipReader::ReadLocalHeader(Input& in, LocalHeader& h) {
  uint8_t fixed[kLocalHeaderFixed];
  if (in.Read(fixed, sizeof fixed) < sizeof fixed) return HeaderVerdict::Invalid;
  h.versionNeeded = Get16(fixed);
  h.flags = Get16(fixed + 2);
  h.method = Get16(fixed + 4);
  h.modTime = Get16(fixed + 6);
  h.modDate = Get16(fixed + 8);
  h.crc32 = Get32(fixed + 10);
  h.compressedSize = Get32(fixed + 14);
  h.uncompressedSize = Get32(fixed + 18);
  h.nameLength = Get16(fixed + 22);
  h.extraLength = Get16(fixed + 24);

  if (scratch_.size() < 65536) scratch_.resize(65536);
  if (in.Read(scratch_.data(), h.nameLength) < h.nameLength) return HeaderVerdict::Invalid;
  const size_t kept = std::min<size_t>(h.nameLength, kMaxNameLength);
  h.name.assign(reinterpret_cast<const char*>(scratch_.data()), kept);
  if (h.name.find('\0') != std::string::npos) return HeaderVerdict::Invalid;
  const bool methodKnown = h.method <= 8 && h.method != 7;
  if (!methodKnown && !IsKnownForeignMethod(h.method)) return HeaderVerdict::Invalid;

  if (in.Read(scratch_.data(), h.extraLength) < h.extraLength) return HeaderVerdict::Invalid;
  // A ZIP64 field carries the sizes that the header marks with 0xFFFFFFFF.
  for (size_t p = 0; p + 4 <= h.extraLength;) {
    const uint16_t tag = Get16(&scratch_[p]);
    const uint16_t len = Get16(&scratch_[p + 2]);
    if (p + 4 + len > h.extraLength) break;
    if (tag == 0x0001) {
      const uint8_t* field = &scratch_[p + 4];
      size_t q = 0;
      if (h.uncompressedSize == 0xFFFFFFFFu && q + 8 <= len) {
        h.uncompressedSize = Get64(field + q);
        q += 8;
      }
      if (h.compressedSize == 0xFFFFFFFFu && q + 8 <= len) h.compressedSize = Get64(field + q);
      break;
    }
    p += 4 + len;
  }
  if (methodKnown) return HeaderVerdict::Valid;
  // A header of a foreign method counts as a member only when its data fits.
  if (h.name.empty() || in.Position() + h.compressedSize > in.Size()) return HeaderVerdict::Invalid;
  return HeaderVerdict::Unsupported;
}

bool ZipReader::FindNextLocalHeader(Input& in, LocalHeader& header, HeaderVerdict& verdict) {
  int match = 0;
  for (;;) {
    int b = in.Get();
    if (b < 0) return false;
    if (b == 'P') match = 1;
    else if (b == 'K' && match == 1) match = 2;
    else if (b == 0x03 && match == 2) match = 3;
    else if (b == 0x04 && match == 3) {
      const uint64_t candidate = in.Position();
      verdict = ReadLocalHeader(in, header);
      if (verdict != HeaderVerdict::Invalid) return true;
      in.Seek(candidate);
      match = 0;
    } else {
      match = 0;
    }
  }
}

void ZipReader::PublishProgress(uint64_t position) {
  if (archiveSize == 0) return;
  const double percent = static_cast<double>(position) / static_cast<double>(archiveSize) * 100.0;
  progressPercent.store(static_cast<uint32_t>(std::clamp(percent, 0.0, 100.0)), std::memory_order_relaxed);
}

// --- probe and root folder -----------------------------------------------------

bool ZipReader::Probe(const std::string& path, uint64_t fileSize) {
  std::span<uint8_t> buffer = WorkBuffer();
  const size_t window = static_cast<size_t>(std::min<uint64_t>(fileSize, buffer.size()));
  platform::File file;
  if (!file.Open(path, platform::OpenMode::Read)) return false;
  FileSource source(file);
  return ProbeData(buffer.first(window), source);
}

bool ZipReader::ProbeData(std::span<const uint8_t> window, ByteSource& source) {
  const size_t n = window.size();
  for (size_t offset = 0; offset + 30 < n; ++offset) {
    const uint8_t* p = window.data() + offset;
    if (p[0] != 'P' || p[1] != 'K' || p[2] != 0x03 || p[3] != 0x04) continue;
    if (Get16(p + 8) > 12 || Get16(p + 26) == 0) continue;
    Input in(source);
    if (!in.Seek(offset + 4)) return false;
    LocalHeader header;
    return ReadLocalHeader(in, header) == HeaderVerdict::Valid;
  }
  return false;
}

// The first folder of the path a member is written to: the name cleaned as
// Extract cleans it (no folder is made), then the text before the first
// separator, stepping over whole characters.
std::string ZipReader::RelativeRoot(const std::string& converted) const {
  std::string path = converted;
  const CodePage& cp = PathCodePage();
  size_t start = SanitizeMemberPath(path, cp, nullptr);
  for (size_t i = start; i < path.size();) {
    PathChar ch = PathCharAt(path, i, cp);
    if (ch.length == 0) break;
    if (!ch.multibyte && path[i] == platform::kPathSeparator) return path.substr(start, i - start);
    i += ch.length;
  }
  return {};
}

bool ZipReader::FindRootFolder(const std::string& path) {
  rootFolder.clear();
  platform::File file;
  if (!file.Open(path, platform::OpenMode::Read)) return false;
  FileSource source(file);
  return FindRootFolderIn(source);
}

bool ZipReader::FindRootFolderIn(ByteSource& source) {
  rootFolder.clear();
  Input in(source);
  LocalHeader header;
  HeaderVerdict verdict;
  bool first = true;
  bool searchable = true;
  while (FindNextLocalHeader(in, header, verdict)) {
    const uint64_t next = DataEnd(in, header, searchable);
    if (verdict == HeaderVerdict::Valid) {
      std::string component = RelativeRoot(MemberNameForSystem(header.name, useUtf8, header.flags));
      if (component.empty()) {
        rootFolder.clear();
        return false;
      }
      if (first) {
        rootFolder = component;
        first = false;
      } else if (component != rootFolder) {
        rootFolder.clear();
        return false;
      }
    }
    if (!in.Seek(next)) break;
  }
  return true;
}

// --- decoding -----------------------------------------------------------------

ZipReader::MemberEnd ZipReader::CopyStored(Input& in, MemberOutput& out, uint64_t size) {
  std::span<uint8_t> buffer = WorkBuffer();
  uint64_t remaining = size;
  while (remaining > 0) {
    PublishProgress(in.Position());
    const size_t want = static_cast<size_t>(std::min<uint64_t>(remaining, buffer.size()));
    const size_t n = in.Read(buffer.data(), want);
    if (n == 0) return MemberEnd::Truncated;
    if (decrypting) cipher.Decrypt(buffer.data(), n);
    if (!out.Write(buffer.data(), n)) return MemberEnd::Stopped;
    remaining -= n;
  }
  return MemberEnd::Complete;
}

// Where the member's data ends: the header says, except for stored data
// streamed without sizes, whose end is searched for, so that an archive
// stored inside gives no members of its own. Each search either finds the end,
// and the walk goes on after it, or reads to the end of the archive; after
// one search in vain (`searchable` cleared) no other is made, so a run of
// such headers costs one pass over the archive, not one per header. The
// input stays at the start of the data.
uint64_t ZipReader::DataEnd(Input& in, const LocalHeader& header, bool& searchable) {
  const uint64_t start = in.Position();
  if (header.method != 0 || !(header.flags & kFlagDescriptor) || header.compressedSize != 0 || !searchable)
    return start + header.compressedSize;
  uint64_t found = 0;
  if (!FindStoredEnd(in, start, (header.flags & kFlagEncrypted) ? kEncryptionHeaderSize : 0, found))
    searchable = false;
  in.Seek(start);
  return start + found;
}

// Stored data streamed without sizes has no end of its own: it ends where
// its signed data descriptor begins, the first "PK\7\8" whose compressed size
// is its own distance from `start` and whose uncompressed size is that less
// `overhead` (the encryption header). Answers false when no such descriptor
// follows (or on Cancel); the input is then left anywhere.
bool ZipReader::FindStoredEnd(Input& in, uint64_t start, uint64_t overhead, uint64_t& size) {
  constexpr size_t kDescriptorSize = 16;
  std::span<uint8_t> buffer = WorkBuffer();
  if (!in.Seek(start)) return false;
  uint64_t base = start;  // archive offset of buffer[0]
  size_t have = 0;
  for (;;) {
    if (cancelRequested.load(std::memory_order_relaxed)) return false;
    PublishProgress(base);
    const size_t n = in.Read(buffer.data() + have, buffer.size() - have);
    have += n;
    for (size_t i = 0; i + kDescriptorSize <= have; ++i) {
      if (buffer[i] != 'P' || Get32(&buffer[i]) != kDescriptorSignature) continue;
      const uint64_t distance = base + i - start;
      const uint32_t compressed = Get32(&buffer[i + 8]), uncompressed = Get32(&buffer[i + 12]);
      if (compressed == distance && uint64_t{uncompressed} + overhead == compressed) {
        size = distance;
        return true;
      }
    }
    // A 32-bit descriptor cannot describe data that runs this far.
    if (n == 0 || base + have - start > 0xFFFFFFFFu + kDescriptorSize) return false;
    // Keep the tail that may hold the start of a descriptor.
    const size_t keep = std::min(have, kDescriptorSize - 1);
    std::memmove(buffer.data(), buffer.data() + have - keep, keep);
    base += have - keep;
    have = keep;
  }
}

ZipReader::MemberEnd ZipReader::Inflate(Input& in, MemberOutput& out, uint64_t size, uint64_t& streamEnd) {
  std::span<uint8_t> buffer = WorkBuffer();
  uint8_t* output = buffer.data();
  uint8_t* input = buffer.data() + kHalf;
  uint64_t remaining = size;

  auto readInput = [&]() -> size_t {
    PublishProgress(in.Position());
    const size_t want = static_cast<size_t>(std::min<uint64_t>(remaining, kHalf));
    const size_t n = want ? in.Read(input, want) : 0;
    if (decrypting) cipher.Decrypt(input, n);
    remaining -= n;
    return n;
  };

  size_t got = readInput();
  if (got == 0) {
    streamEnd = in.Position();
    // Nothing to inflate: an empty member when nothing was declared.
    return size == 0 ? MemberEnd::Complete : MemberEnd::Truncated;
  }
  z_stream stream{};
  if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return MemberEnd::Corrupt;
  stream.next_in = input;
  stream.avail_in = static_cast<uInt>(got);
  MemberEnd end = MemberEnd::Truncated;
  for (;;) {
    if (stream.avail_in == 0) {
      got = readInput();
      if (got == 0) break;  // the data ended before the stream did
      stream.next_in = input;
      stream.avail_in = static_cast<uInt>(got);
    }
    stream.next_out = output;
    stream.avail_out = static_cast<uInt>(kHalf);
    const int ret = inflate(&stream, Z_PARTIAL_FLUSH);
    const size_t produced = kHalf - stream.avail_out;
    if (produced && !out.Write(output, produced)) {
      end = MemberEnd::Stopped;
      break;
    }
    if (ret == Z_STREAM_END) {
      end = MemberEnd::Complete;
      break;
    }
    if (ret == Z_BUF_ERROR && stream.avail_in == 0) continue;
    if (ret != Z_OK) {
      end = MemberEnd::Corrupt;
      break;
    }
  }
  streamEnd = in.Position() - stream.avail_in;
  inflateEnd(&stream);
  return end;
}

// --- the walk -----------------------------------------------------------------

bool ZipReader::Extract(const std::string& path, const std::string& outputFolder) {
  platform::File file;
  if (!file.Open(path, platform::OpenMode::Read)) return false;
  FileSource source(file);
  FileSystemTarget target;
  return ExtractFrom(source, target);
}

bool ZipReader::ExtractFrom(ByteSource& source, ExtractTarget& target) {
  Input in(source);
  archiveSize = in.Size();
  bool result = true;
  std::string remembered;  // the password that opened a member, for the next ones
  const CodePage& cp = PathCodePage();
  const FolderCreator createFolder = [&target](const std::string& folder) { target.CreateFolder(folder); };
  LocalHeader header;
  HeaderVerdict verdict;
  bool searchable = true;  // see DataEnd

  while (FindNextLocalHeader(in, header, verdict)) {
    const uint64_t dataStart = in.Position();
    uint64_t next = DataEnd(in, header, searchable);
    if (verdict == HeaderVerdict::Unsupported) {
      // A method we do not decode: the member is lost, so the walk fails,
      // and the scan goes on after the signature as for any other header.
      result = false;
      in.Seek(dataStart - header.extraLength - header.nameLength - kLocalHeaderFixed);
      continue;
    }

    const std::string converted = MemberNameForSystem(header.name, useUtf8, header.flags);
    std::string outputPath = converted;
    const size_t start = SanitizeMemberPath(outputPath, cp, createFolder);
    outputPath.erase(0, start);
    SetCurrentFileName(std::string(FileNamePart(outputPath, cp)));
    const bool folderEntry = outputPath.empty() || outputPath.back() == platform::kPathSeparator;

    if (!overwrite && target.Exists(outputPath)) {
      in.Seek(next);
      continue;
    }
    if (securityCheck && IsDisguisedExecutable(converted)) {
      std::string name = CurrentFileName(), shown;
      if (!cp.ToUtf8(name, shown)) shown = name;
      Ui().ShowWorkerMessage(std::string(kSecurityText) + shown + "\n", kSecurityTitle,
                             MessageIcon::Warning);
    }
    if (folderEntry) {
      in.Seek(next);
      continue;
    }
    if ((header.flags & kFlagEncrypted) && (header.flags & kFlagStrongEncryption)) {
      // Strong encryption: no password of ours can open it.
      result = false;
      in.Seek(next);
      continue;
    }
    if (!target.Create(outputPath)) {
      result = false;
      in.Seek(next);
      continue;
    }
    crc = 0;
    decrypting = false;
    uint64_t dataSize = header.compressedSize;

    if (header.flags & kFlagEncrypted) {
      std::array<uint8_t, kEncryptionHeaderSize> encryption{};
      const bool whole = in.Read(encryption.data(), encryption.size()) == encryption.size();
      auto opens = [&](const std::string& password) {
        return whole && cipher.CheckHeader(password, encryption, header.flags, header.crc32, header.modTime);
      };
      bool opened = !remembered.empty() && opens(remembered);
      for (int attempt = 0; !opened && attempt < 3; ++attempt) {
        const std::string& answer = PromptPassword(*this);
        remembered = answer.substr(0, 127);
        if (cancelRequested) break;
        opened = opens(remembered);
      }
      if (!opened) {
        target.Close();
        target.Remove(outputPath);
        // Cancelled, or three wrong answers: either way the walk ends here.
        result = false;
        break;
      }
      decrypting = true;
      dataSize = dataSize > kEncryptionHeaderSize ? dataSize - kEncryptionHeaderSize : 0;
    }

    // A member streamed with a data descriptor may carry no sizes at all;
    // DEFLATE data ends by itself, so it is read up to the end of its stream.
    const bool sizeUnknown = (header.flags & kFlagDescriptor) && header.compressedSize == 0;
    MemberOutput out(*this, target);
    MemberEnd end = MemberEnd::Complete;
    uint64_t dataEnd = in.Position() + dataSize;
    switch (header.method) {
      case 0:
        if (sizeUnknown) {  // as far as DataEnd found, or nothing
          dataSize = next - std::min(next, in.Position());
          dataEnd = next;
        }
        end = CopyStored(in, out, dataSize);
        break;
      case 8: {
        uint64_t streamEnd = 0;
        const uint64_t bound = sizeUnknown ? archiveSize - std::min(archiveSize, in.Position()) : dataSize;
        end = Inflate(in, out, bound, streamEnd);
        if (sizeUnknown) dataEnd = next = streamEnd;
        break;
      }
      default: {
        MemberInput input(*this, in, dataSize);
        const uint32_t usize = static_cast<uint32_t>(std::min<uint64_t>(header.uncompressedSize, 0xFFFFFFFFu));
        const uint32_t csize = static_cast<uint32_t>(std::min<uint64_t>(dataSize, 0xFFFFFFFFu));
        DecodeResult r;
        if (header.method == 1) r = Unshrink(input, out, usize, csize);
        else if (header.method == 6) r = Explode(input, out, usize, csize, header.flags);
        else r = Unreduce(input, out, usize, csize, header.method - 1);
        end = r == DecodeResult::Ok ? (input.truncated() ? MemberEnd::Truncated : MemberEnd::Complete)
              : r == DecodeResult::Stopped ? MemberEnd::Stopped
                                           : MemberEnd::Corrupt;
        break;
      }
    }
    decrypting = false;
    const bool closed = target.Close();
    target.SetTime(outputPath, header.modDate, header.modTime);

    // The check value: the header's, or the data descriptor's after the data.
    bool intact = end == MemberEnd::Complete && closed && !out.writeFailed();
    if (intact) {
      bool matches = crc == header.crc32;
      uint8_t d[8];
      if ((header.flags & kFlagDescriptor) && in.Seek(dataEnd) && in.Read(d, sizeof d) == sizeof d) {
        // The descriptor may come without its signature; the next header or
        // the central directory is no descriptor.
        const uint32_t first = Get32(d);
        const bool signed_ = first == kDescriptorSignature;
        if (signed_ || (first != 0x04034b50 && first != 0x02014b50 && first != 0x06054b50)) {
          const uint32_t stored = signed_ ? Get32(d + 4) : first;
          matches = crc == stored || (header.crc32 != 0 && crc == header.crc32);
        }
      }
      intact = matches;
    }
    if (!intact) result = false;
    if (cancelRequested) {
      result = false;
      break;
    }
    in.Seek(next);
  }
  progressPercent.store(100, std::memory_order_relaxed);
  return result;
}

}  // namespace quindo
