#include "lzh/lzh_reader.h"

#include <algorithm>
#include <vector>

#include "common/code_page.h"
#include "lzh/data_crc.h"
#include "lzh/decoder.h"
#include "platform/platform.h"

namespace quindo {

namespace {

using lzh::LzhHeader;

constexpr uint32_t kAttrDirectory = 0x10;

// The decoded bytes, with their CRC-16 and count, on to the caller's sink.
class CheckedSink final : public ByteSink {
 public:
  explicit CheckedSink(ByteSink& sink) : sink_(sink) {}
  bool Write(const uint8_t* data, size_t size) override {
    crc_ = lzh::DataCrcUpdate(crc_, data, size);
    written_ += size;
    return sink_.Write(data, size);
  }
  uint16_t crc() const { return crc_; }
  uint64_t written() const { return written_; }

 private:
  ByteSink& sink_;
  uint16_t crc_ = 0;
  uint64_t written_ = 0;
};

bool ParseAt(ByteSource& source, uint64_t offset, LzhHeader& header) {
  return source.Seek(offset) && lzh::ParseHeader(source, header);
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// A symbolic link is stored as "link|target": it stays one plain name, the
// target's separators made harmless. The walk steps over double-byte
// characters, whose second byte may be "\".
std::string LinkAsPlainName(const std::string& stored) {
  std::string name = stored;
  const CodePage& cp = Cp932CodePage();
  bool inTarget = false;
  for (size_t i = 0; i < name.size();) {
    const auto c = static_cast<uint8_t>(name[i]);
    if (cp.LeadByteLength(c) == 2) {
      i += 2;
      continue;
    }
    if (c == '|') inTarget = true;
    else if (inTarget && IsSeparator(name[i])) name[i] = '_';
    ++i;
  }
  return name;
}

}  // namespace

// Candidates are judged from the bytes in memory; only one whose header runs
// past them is parsed from the source.
bool LzhReader::Probe(std::span<const uint8_t> window, ByteSource& source) {
  const size_t n = static_cast<size_t>(std::min<uint64_t>(window.size(), kProbeWindow));
  LzhHeader header;
  return lzh::FindFirstHeader(window, n, window.size() == source.Size(),
                              [&](uint64_t offset) { return ParseAt(source, offset, header); }) >= 0;
}

bool LzhReader::Locate() {
  if (located_) return first_ >= 0;
  located_ = true;
  // The search window and as much again as a header may run past it.
  std::vector<uint8_t> window(static_cast<size_t>(std::min<uint64_t>(source_.Size(), kSearchWindow + kHeaderReach)));
  if (!source_.Seek(0)) return false;
  size_t got = 0;
  while (got < window.size()) {
    const int64_t n = source_.Read(window.data() + got, window.size() - got);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  window.resize(got);
  LzhHeader header;
  first_ = lzh::FindFirstHeader(std::span<const uint8_t>(window), std::min<size_t>(got, kSearchWindow),
                                got == source_.Size(), [&](uint64_t offset) { return ParseAt(source_, offset, header); });
  position_ = first_;
  return first_ >= 0;
}

bool LzhReader::Next(MemberInfo& m) {
  if (!Locate() || position_ < 0) return false;
  LzhHeader h;
  const auto at = static_cast<uint64_t>(position_);
  if (!ParseAt(source_, at, h)) {
    position_ = -1;  // a header that does not parse ends the archive
    return false;
  }
  m = MemberInfo{};
  m.headerOffset = at;
  m.dataOffset = at + h.headerLength;
  m.dataEnd = m.dataOffset + h.compressedSize;
  position_ = static_cast<int64_t>(m.dataEnd);

  const bool link = h.path.find('|') != std::string::npos;
  m.name = link ? LinkAsPlainName(h.path) : h.path;
  m.encoding = NameEncoding::Cp932;
  m.method = h.methodId;
  const lzh::Method method = lzh::MethodFromId(h.methodId);
  m.methodCode = static_cast<uint16_t>(method);
  // An entry of a method with no decoder and no data (a folder, a link)
  // decodes to nothing; one that holds data cannot be read.
  m.supported = method != lzh::Method::Unsupported || h.uncompressedSize == 0;
  m.compressedSize = h.compressedSize;
  m.size = h.uncompressedSize;
  m.check = h.dataCrc;
  m.hasAttributes = true;
  m.attributes = h.attribute;
  // Only an entry without data, or one whose name ends with a separator, is
  // a folder: OS/2 archivers mark files that carry data with the bit too.
  const bool endsWithSeparator = !m.name.empty() && IsSeparator(m.name.back());
  m.isFolder = endsWithSeparator ||
               (!link && (h.attribute & kAttrDirectory) && h.compressedSize == 0 && h.uncompressedSize == 0);
  if (h.level == 2) {
    m.unixTime = true;
    m.unixSeconds = static_cast<int64_t>(h.timeStamp);
  } else {
    m.dosDate = static_cast<uint16_t>(h.timeStamp >> 16);
    m.dosTime = static_cast<uint16_t>(h.timeStamp & 0xFFFF);
  }
  return true;
}

DecodeStatus LzhReader::Decode(const MemberInfo& m, ByteSink& sink, PasswordSource&, const DecodeControl& control) {
  if (!m.supported) return DecodeStatus::Unsupported;
  const auto method = static_cast<lzh::Method>(m.methodCode);
  if (method == lzh::Method::Unsupported) return DecodeStatus::Ok;  // nothing to decode
  if (!source_.Seek(m.dataOffset)) return DecodeStatus::Truncated;
  CheckedSink out(sink);
  const DecodeStatus status = lzh::DecodeMember(method, source_, static_cast<uint32_t>(m.compressedSize), out,
                                                static_cast<uint32_t>(m.size), control, m.dataOffset);
  if (status != DecodeStatus::Ok) return status;
  if (out.crc() != m.check) return DecodeStatus::Damaged;
  // Stored data "to the end of the archive" has no size to agree with.
  const bool toEnd = method == lzh::Method::Stored && m.compressedSize == lzh::kSizeToEnd;
  if (!toEnd && out.written() != m.size) return DecodeStatus::Damaged;
  return DecodeStatus::Ok;
}

}  // namespace quindo
