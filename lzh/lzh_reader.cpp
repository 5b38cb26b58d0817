#include "lzh/lzh_reader.h"

#include <algorithm>
#include <vector>

#include "app/path_utils.h"
#include "app/user_interface.h"
#include "app/work_buffer.h"
#include "common/code_page.h"
#include "common/crc16.h"
#include "common/path_text.h"
#include "lzh/data_crc.h"
#include "lzh/decoder.h"
#include "platform/platform.h"

namespace quindo {

namespace {

using lzh::LzhHeader;

class FileByteSource final : public lzh::ByteSource {
 public:
  explicit FileByteSource(platform::File& file) : file_(file) {}
  int64_t Read(uint8_t* buffer, size_t size) override { return file_.Read(buffer, size); }

 private:
  platform::File& file_;
};

// The member's file, written in large blocks, with the CRC-16 of every byte.
class MemberSink final : public lzh::ByteSink {
 public:
  explicit MemberSink(platform::File& file) : file_(file) { buffer_.reserve(kBlock); }
  bool Write(const uint8_t* data, size_t size) override {
    crc_ = lzh::DataCrcUpdate(crc_, data, size);
    if (buffer_.empty() && size >= kBlock / 4) {
      ok_ = ok_ && file_.Write(data, size);
      return ok_;
    }
    while (size > 0) {
      size_t n = std::min(size, kBlock - buffer_.size());
      buffer_.insert(buffer_.end(), data, data + n);
      data += n;
      size -= n;
      if (buffer_.size() == kBlock && !Flush()) return false;
    }
    return true;
  }
  bool Flush() {
    if (buffer_.empty()) return ok_;
    ok_ = ok_ && file_.Write(buffer_.data(), buffer_.size());
    buffer_.clear();
    return ok_;
  }
  uint16_t Crc() const { return crc_; }

 private:
  static constexpr size_t kBlock = 1 << 18;
  platform::File& file_;
  std::vector<uint8_t> buffer_;
  uint16_t crc_ = 0;
  bool ok_ = true;
};

bool ParseAt(platform::File& file, uint64_t offset, LzhHeader& header) {
  if (!file.Seek(offset)) return false;
  FileByteSource source(file);
  return lzh::ParseHeader(source, header);
}

// Reads the start of the archive into the work buffer and finds the first
// header within `window` bytes of it. -1 when there is none.
int64_t LocateFirstHeader(platform::File& file, std::span<const uint8_t> bytes) {
  LzhHeader header;
  return lzh::FindFirstHeader(bytes, [&](uint64_t offset) { return ParseAt(file, offset, header); });
}

int64_t ReadAndLocate(const std::string& path, platform::File& file) {
  if (!file.Open(path, platform::OpenMode::Read)) return -1;
  std::span<uint8_t> buffer = WorkBuffer();
  int64_t got = file.ReadFull(buffer.data(), std::min<size_t>(buffer.size(), LzhReader::kSearchWindow));
  if (got <= 0) return -1;
  return LocateFirstHeader(file, buffer.first(static_cast<size_t>(got)));
}

bool EndsWithSeparator(const std::string& path) {
  return !path.empty() && (path.back() == '/' || path.back() == '\\');
}

}  // namespace

std::string LzhReader::SystemName(const std::string& storedPath) {
  std::string name = storedPath;
  // A symbolic link is stored as "link|target": keep it as one plain name.
  const CodePage& stored = Cp932CodePage();
  bool inTarget = false;
  for (size_t i = 0; i < name.size();) {
    uint8_t c = static_cast<uint8_t>(name[i]);
    int length = stored.LeadByteLength(c);
    if (length == 2) {
      i += 2;
      continue;
    }
    if (c == '|') inTarget = true;
    else if (inTarget && (c == '/' || c == '\\')) name[i] = '_';
    ++i;
  }
  if (SystemCodePage().Id() == CodePageId::Cp932) return name;
  std::string converted;
  if (stored.ToUtf8(name, converted)) return converted;
  return name;
}

bool LzhReader::Probe(const std::string& path, uint64_t fileSize) {
  std::span<uint8_t> buffer = WorkBuffer();
  size_t window = static_cast<size_t>(std::min<uint64_t>({fileSize, kProbeWindow, buffer.size()}));
  platform::File file;
  if (!file.Open(path, platform::OpenMode::Read)) return false;
  return LocateFirstHeader(file, buffer.first(window)) >= 0;
}

bool LzhReader::FindRootFolder(const std::string& path) {
  rootFolder.clear();
  platform::File file;
  int64_t first = ReadAndLocate(path, file);
  if (first < 0) return false;
  bool answer = true;
  std::string stored;
  uint64_t position = static_cast<uint64_t>(first);
  LzhHeader header;
  while (ParseAt(file, position, header)) {
    position += uint64_t{header.headerLength} + header.compressedSize;
    std::string component;
    FirstFolderComponent(header.path, component);
    if (component.empty() || (!stored.empty() && component != stored)) {
      answer = false;
      break;
    }
    stored = component;
  }
  if (answer) rootFolder = SystemName(stored);
  return answer;
}

bool LzhReader::Extract(const std::string& path, const std::string& outputFolder) {
  platform::File archive;
  int64_t first = ReadAndLocate(path, archive);
  if (first < 0) return false;
  int64_t archiveSize = archive.Size();
  if (archiveSize < 0) return false;
  progressPercent = 0;

  bool result = true;
  uint64_t position = static_cast<uint64_t>(first);
  LzhHeader header;
  while (ParseAt(archive, position, header)) {
    uint64_t dataStart = position + header.headerLength;
    position = dataStart + header.compressedSize;

    std::string name = SystemName(header.path);
    size_t start = SanitizeMemberPath(name);
    std::string outPath = name.substr(start);
    // A member with the folder attribute is a folder whatever its data (OS/2
    // archivers keep a folder's extended attributes there); a symbolic link
    // stays the plain file it has been made into.
    bool folderEntry = outPath.empty() || EndsWithSeparator(outPath) ||
                       ((header.attribute & platform::kAttrDirectory) && header.path.find('|') == std::string::npos);
    if (folderEntry && !outPath.empty() && !EndsWithSeparator(outPath)) platform::CreateDirectory(outPath);

    if (!overwrite && !outPath.empty() && platform::GetFileAttributes(outPath) != platform::kInvalidAttributes)
      continue;

    std::string fileName(FileNamePart(outPath, PathCodePage()));
    if (securityCheck && IsDisguisedExecutable(outPath)) {
      SetCurrentFileName(fileName);
      std::string shown;
      if (!SystemCodePage().ToUtf8(fileName, shown)) shown = fileName;
      std::string text =
          "偽装ファイルの可能性が高い実行可能ファイルが検出されました。\n"
          "このファイルに見覚えが無い場合は注意してください。\n\nファイル：" +
          shown + "\n";
      Ui().ShowWorkerMessage(text, "セキュリティ", MessageIcon::Warning);
    }

    platform::File out;
    if (folderEntry || !out.Open(outPath, platform::OpenMode::CreateAlways)) {
      // A folder entry made its folder on the way; anything else is lost.
      if (!folderEntry) result = false;
      if (cancelRequested) return false;
      continue;
    }
    SetCurrentFileName(fileName);

    lzh::Method method = lzh::MethodFromId(header.methodId);
    lzh::DecodeControl control;
    control.progress = &progressPercent;
    control.cancel = &cancelRequested;
    control.archiveSize = static_cast<uint64_t>(archiveSize);
    control.dataStart = dataStart;

    lzh::DecodeStatus status = lzh::DecodeStatus::Unsupported;
    MemberSink sink(out);
    if (method != lzh::Method::Unsupported) {
      FileByteSource source(archive);
      if (archive.Seek(dataStart))
        status = lzh::DecodeMember(method, source, header.compressedSize, sink, header.uncompressedSize, control);
      else
        status = lzh::DecodeStatus::Truncated;
    }
    bool written = sink.Flush();
    out.Close();

    bool intact;
    if (status == lzh::DecodeStatus::Unsupported) {
      // An entry of a method with no decoder (a folder, a link) stays an
      // empty file; one that holds data is lost.
      intact = header.uncompressedSize == 0;
    } else {
      intact = status == lzh::DecodeStatus::Ok && written && sink.Crc() == header.dataCrc;
    }
    if (!intact) result = false;

    if (header.level == 2)
      SetFileTimeFromUnix(outPath, static_cast<int64_t>(header.timeStamp));
    else
      SetFileTimeFromDos(outPath, static_cast<uint16_t>(header.timeStamp >> 16),
                         static_cast<uint16_t>(header.timeStamp & 0xFFFF));
    // After the times: a read-only file could no longer be opened for them.
    // The folder and volume bits name what the entry was, not what a file
    // can be given.
    platform::SetFileAttributes(outPath, header.attribute & ~uint32_t{0x18});

    if (cancelRequested) return false;
  }
  return result;
}

}  // namespace quindo
