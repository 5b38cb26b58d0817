#include "zip/zip_reader.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <functional>
#include <optional>
#include <cstring>

#include "common/code_page.h"
#include "common/crc32.h"
#include "zip/fast_inflate.h"
#include "common/little_endian.h"
#include "zip/inflate64.h"
#include "zip/legacy_methods.h"
#include "zip/winzip_aes.h"
#include "zip/zip_format.h"
#include "zip/zip_methods.h"
#include "platform/platform.h"

namespace quindo {

namespace {

constexpr size_t kInputBufferSize = 64 * 1024;
constexpr size_t kHalf = 512 * 1024;  // each half of the decoding buffer
// Members up to this size, packed and unpacked, are inflated in one piece.
constexpr uint64_t kWholeLimit = 1024 * 1024;
constexpr size_t kLocalHeaderFixed = 26;
// The largest method number any writer is known to use (99: WinZip AES).
constexpr uint16_t kHighestMethod = 99;

bool Decodes(uint16_t method) { return method <= 6 || method == 8 || method == 9; }

// What an AES member holds once decrypted: the data of one of these.
bool DecodesUnderAes(uint16_t method) { return method == 0 || method == 8 || method == 9; }

// The bytes of a password that the cipher takes.
constexpr size_t kPasswordBytes = 127;

// A password reaches the reader as UTF-8, and is tried in those bytes.
// Archives made on Japanese Windows enciphered the CP932 bytes of the same
// text, so where those differ they are tried next.
bool OpensInEitherForm(const std::string& password, const std::function<bool(const std::string&)>& opens) {
  const std::string utf8 = password.substr(0, kPasswordBytes);
  if (opens(utf8)) return true;
  std::string cp932;
  if (!Cp932CodePage().FromUtf8(password, cp932)) return false;
  cp932.resize(std::min(cp932.size(), kPasswordBytes));
  return cp932 != utf8 && opens(cp932);
}

}  // namespace

// --- buffered reading of the archive -------------------------------------------

class ZipReader::Input {
 public:
  // The source may stand anywhere (a probe of another format may have read
  // it): the input starts at its first byte.
  explicit Input(ByteSource& source) : source_(source), buffer_(kInputBufferSize), size_(source.Size()) {
    source_.Seek(0);
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
        const size_t n = std::min(size - done, end_ - pos_);
        std::memcpy(out + done, buffer_.data() + pos_, n);
        pos_ += n;
        done += n;
        continue;
      }
      if (size - done >= buffer_.size()) {
        // Large reads go straight to the caller's buffer.
        base_ += end_;
        pos_ = end_ = 0;
        const int64_t n = source_.Read(out + done, size - done);
        if (n <= 0) break;
        base_ += static_cast<uint64_t>(n);
        done += static_cast<size_t>(n);
        continue;
      }
      if (!Fill()) break;
    }
    return done;
  }

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
    const int64_t n = source_.Read(buffer_.data(), buffer_.size());
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
  MemberInput(ZipReader& reader, uint64_t size, const DecodeControl& control)
      : reader_(reader), remaining_(size), control_(control) {}
  size_t Read(uint8_t* buffer, size_t size) override {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(size, remaining_));
    if (want == 0) return 0;
    control_.Report(reader_.in_->Position());
    const size_t n = reader_.in_->Read(buffer, want);
    if (reader_.decrypting_) reader_.cipher_.Decrypt(buffer, n);
    remaining_ -= n;
    if (n < want) truncated_ = true;
    return n;
  }
  bool truncated() const { return truncated_; }

 private:
  ZipReader& reader_;
  uint64_t remaining_;
  const DecodeControl& control_;
  bool truncated_ = false;
};

// Where every decoder's output goes: the CRC, the length, the sink, Cancel.
class ZipReader::MemberOutput final : public ZipMemberOutput {
 public:
  MemberOutput(ByteSink& sink, const DecodeControl& control) : sink_(sink), control_(control) {}
  bool Write(const uint8_t* data, size_t size) override {
    if (writeFailed_) return false;
    crc_ = FastCrc32(crc_, data, size);
    written_ += size;
    if (size && !sink_.Write(data, size)) {
      writeFailed_ = true;
      return false;
    }
    return !control_.Cancelled();
  }
  bool writeFailed() const { return writeFailed_; }
  uint32_t crc() const { return crc_; }
  uint64_t written() const { return written_; }

 private:
  ByteSink& sink_;
  const DecodeControl& control_;
  uint32_t crc_ = 0;
  uint64_t written_ = 0;
  bool writeFailed_ = false;
};

// A sink that keeps nothing: finding where a stream ends.
namespace {
class DiscardSink final : public ByteSink {
 public:
  bool Write(const uint8_t*, size_t) override { return true; }
};
}  // namespace

ZipReader::ZipReader(ByteSource& source) : in_(std::make_unique<Input>(source)) {
  // The end searches of streamed members may read the archive about twice
  // over, whatever their number, so no archive makes them quadratic.
  searchBudget_ = 2 * in_->Size() + (64u << 20);
}

ZipReader::~ZipReader() = default;

uint64_t ZipReader::ArchiveSize() const { return in_->Size(); }

void ZipReader::Rewind() { scan_ = 0; }

// --- headers ------------------------------------------------------------------

// Parses the header after a signature at the input's position. False when
// the bytes there are no member: a short read, a method number no writer
// uses, or (for a method this reader does not decode) an empty name or data
// that run past the end of the archive.
bool ZipReader::ReadLocalHeader(MemberInfo& m) {
  uint8_t fixed[kLocalHeaderFixed];
  if (in_->Read(fixed, sizeof fixed) < sizeof fixed) return false;
  const uint16_t flags = LoadLe16(fixed + 2);
  const uint16_t method = LoadLe16(fixed + 4);
  uint64_t compressed = LoadLe32(fixed + 14);
  uint64_t uncompressed = LoadLe32(fixed + 18);
  const uint16_t nameLength = LoadLe16(fixed + 22);
  const uint16_t extraLength = LoadLe16(fixed + 24);
  if (method > kHighestMethod) return false;

  std::vector<uint8_t> bytes(std::max<size_t>(nameLength, extraLength));
  if (in_->Read(bytes.data(), nameLength) < nameLength) return false;
  // A name ends at a NUL byte (some writers keep a comment after it).
  const auto* nameStart = reinterpret_cast<const char*>(bytes.data());
  m.name.assign(nameStart, nameLength ? strnlen(nameStart, nameLength) : 0);
  const uint32_t nameCrc = nameLength ? Crc32(bytes.data(), nameLength) : 0;
  if (in_->Read(bytes.data(), extraLength) < extraLength) return false;
  bool sizesRead = false;
  for (size_t p = 0; p + 4 <= extraLength;) {
    const uint16_t tag = LoadLe16(&bytes[p]);
    const uint16_t len = LoadLe16(&bytes[p + 2]);
    if (p + 4 + len > extraLength) break;
    if (tag == zip::kUnicodePathExtraId && len >= 5 && bytes[p + 4] == 1 && LoadLe32(&bytes[p + 5]) == nameCrc &&
        m.unicodeName.empty()) {
      // The UTF-8 name, valid only for the stored name it was made from: a
      // tool that renamed the member without knowing the field left a CRC
      // that no longer matches.
      const auto* text = reinterpret_cast<const char*>(&bytes[p + 9]);
      const std::string_view name(text, strnlen(text, len - 5u));
      if (!name.empty() && IsValidUtf8(name)) m.unicodeName.assign(name);
    } else if (tag == 0x0001 && !sizesRead) {
      // A ZIP64 field carries the sizes that the header marks with 0xFFFFFFFF.
      sizesRead = true;
      m.zip64 = true;
      const uint8_t* field = &bytes[p + 4];
      size_t q = 0;
      if (uncompressed == 0xFFFFFFFFu && q + 8 <= len) {
        uncompressed = LoadLe64(field + q);
        q += 8;
      }
      if (compressed == 0xFFFFFFFFu && q + 8 <= len) compressed = LoadLe64(field + q);
    }
    p += 4 + len;
  }

  m.dataOffset = in_->Position();
  const bool strong = (flags & kFlagEncrypted) && (flags & kFlagStrongEncryption);
  std::optional<AesInfo> aes;
  if (method == kAesMethod) aes = ParseAesExtra({bytes.data(), extraLength});
  const bool known = Decodes(method) || (aes && DecodesUnderAes(aes->method));
  m.supported = known && !strong;
  if (!known && (m.name.empty() || m.dataOffset + compressed > in_->Size())) return false;
  m.encoding = (flags & kFlagUtf8) ? NameEncoding::Utf8 : NameEncoding::Unknown;
  m.method = strong ? "strong encryption" : ZipMethodLabel(method);
  if (aes) {
    m.aesStrength = aes->strength;
    m.aesVersion = static_cast<uint8_t>(aes->vendorVersion);
    m.innerMethod = aes->method;
    m.method = "AES-" + std::to_string(64 + 64 * aes->strength) + " " + ZipMethodLabel(aes->method);
  }
  m.methodCode = method;
  m.flags = flags;
  m.encrypted = flags & kFlagEncrypted;
  m.dosTime = LoadLe16(fixed + 6);
  m.dosDate = LoadLe16(fixed + 8);
  m.check = LoadLe32(fixed + 10);
  m.compressedSize = compressed;
  m.size = uncompressed;
  m.sizeKnown = true;
  m.isFolder = !m.name.empty() && (m.name.back() == '/' || m.name.back() == '\\');
  return true;
}

bool ZipReader::Probe(std::span<const uint8_t> window, ByteSource& source) {
  const size_t n = window.size();
  for (size_t offset = 0; offset + 30 < n; ++offset) {
    const uint8_t* p = window.data() + offset;
    if (p[0] != 'P' || p[1] != 'K' || p[2] != 0x03 || p[3] != 0x04) continue;
    if (LoadLe16(p + 8) > kHighestMethod || LoadLe16(p + 26) == 0) continue;
    ZipReader reader(source);
    if (!reader.in_->Seek(offset + 4)) return false;
    MemberInfo member;
    return reader.ReadLocalHeader(member);
  }
  return false;
}

bool ZipReader::Next(MemberInfo& member) {
  if (!in_->Seek(scan_)) return false;
  int match = 0;
  for (;;) {
    const int b = in_->Get();
    if (b < 0) return false;
    if (b == 'P') {
      match = 1;
    } else if (b == 'K' && match == 1) {
      match = 2;
    } else if (b == 0x03 && match == 2) {
      match = 3;
    } else if (b == 0x04 && match == 3) {
      const uint64_t candidate = in_->Position();
      member = MemberInfo{};
      member.headerOffset = candidate - 4;
      if (ReadLocalHeader(member)) {
        SettleDataEnd(member);
        // After a member whose end is unknown the search goes on through its
        // data; after any other, past it (an archive stored inside a member
        // gives no members of its own).
        scan_ = member.dataEnd ? member.dataEnd : member.dataOffset;
        return true;
      }
      in_->Seek(candidate);
      match = 0;
    } else {
      match = 0;
    }
  }
}

// Where the member's data ends. The header says, except for data streamed
// without sizes, whose end is found from the data descriptor after it (or,
// for DEFLATE data without a findable descriptor, from the end of the stream).
void ZipReader::SettleDataEnd(MemberInfo& m) {
  const bool streamed = (m.flags & kFlagDescriptor) && m.compressedSize == 0;
  m.streamed = streamed;
  if (!streamed) {
    m.dataEnd = m.dataOffset + m.compressedSize;
    if (m.flags & kFlagDescriptor) ReadDescriptor(m, m.dataEnd);
    return;
  }
  m.sizeKnown = false;
  if (auto it = settled_.find(m.headerOffset); it != settled_.end()) {
    const SettledEnd& e = it->second;
    m.dataEnd = e.dataEnd, m.compressedSize = e.compressedSize, m.size = e.size, m.check = e.check;
    m.sizeKnown = e.sizeKnown;
    return;
  }
  struct Remember {
    ZipReader& reader;
    MemberInfo& m;
    ~Remember() { reader.settled_[m.headerOffset] = {m.dataEnd, m.compressedSize, m.size, m.check, m.sizeKnown}; }
  } remember{*this, m};
  uint64_t end = 0;
  if (FindStreamedEnd(m, end)) {
    m.dataEnd = end;
    ReadDescriptor(m, end);
    return;
  }
  if ((m.methodCode == 8 || m.methodCode == 9) && !m.encrypted) {
    // The stream ends by itself: decode it once, keeping nothing.
    DiscardSink discard;
    DecodeControl none;
    MemberOutput out(discard, none);
    uint64_t streamEnd = 0;
    in_->Seek(m.dataOffset);
    const uint64_t rest = in_->Size() - std::min(in_->Size(), m.dataOffset);
    bool ended = false;
    if (m.methodCode == 8) {
      ended = Inflate(out, rest, streamEnd, none) == End::Complete;
    } else {
      MemberInput input(*this, rest, none);
      uint64_t consumed = 0;
      ended = Inflate64(input, out, &consumed) == DecodeResult::Ok;
      streamEnd = m.dataOffset + consumed;
    }
    if (ended) {
      m.dataEnd = streamEnd;
      ReadDescriptor(m, streamEnd);
    }
  }
}

// The data descriptor at `end`, with or without its signature, with 32-bit
// or ZIP64 sizes: taken only when its compressed size is the data's own
// length. It gives the check value and the size of a streamed member.
bool ZipReader::ReadDescriptor(MemberInfo& m, uint64_t end) {
  uint8_t d[24] = {};
  if (!in_->Seek(end)) return false;
  const size_t got = in_->Read(d, sizeof d);
  const uint64_t length = end - m.dataOffset;
  auto take = [&](uint32_t crc, uint64_t size) {
    m.check = crc;
    m.size = size;
    m.sizeKnown = true;
    m.compressedSize = length;
    return true;
  };
  // After a member with ZIP64 sizes the descriptor has them too.
  const uint32_t first = LoadLe32(d);
  if (got >= 16 && first == zip::kDescriptorSignature) {
    if (m.zip64 && got >= 24 && LoadLe64(d + 8) == length) return take(LoadLe32(d + 4), LoadLe64(d + 16));
    if (LoadLe32(d + 8) == length) return take(LoadLe32(d + 4), LoadLe32(d + 12));
    if (got >= 24 && LoadLe64(d + 8) == length) return take(LoadLe32(d + 4), LoadLe64(d + 16));
  }
  // The next header or the central directory is no descriptor.
  if (first == zip::kLocalHeaderSignature || first == zip::kCentralHeaderSignature || first == zip::kEndRecordSignature) return false;
  if (m.zip64 && got >= 20 && LoadLe64(d + 4) == length) return take(first, LoadLe64(d + 12));
  if (got >= 12 && LoadLe32(d + 4) == length) return take(first, LoadLe32(d + 8));
  if (got >= 20 && LoadLe64(d + 4) == length) return take(first, LoadLe64(d + 12));
  return false;
}

// Searches the end of data streamed without sizes: the first data descriptor
// whose compressed size is its own distance from the data's start (for
// stored data, whose uncompressed size agrees too, and, without a signature,
// whose CRC-32 is that of the bytes before it). The searches of one archive
// read at most about twice its size together.
bool ZipReader::FindStreamedEnd(const MemberInfo& m, uint64_t& end) {
  const bool stored = m.methodCode == 0;
  const uint64_t overhead = m.encrypted ? kEncryptionHeaderSize : 0;
  const bool unsignedToo = stored && !m.encrypted;
  constexpr size_t kWindow = 1 << 20, kKeep = 23;
  std::vector<uint8_t> window(kWindow);
  if (!in_->Seek(m.dataOffset)) return false;
  uint64_t base = m.dataOffset;  // archive offset of window[0]
  size_t have = 0;
  uint32_t crc = 0;
  uint64_t crcDone = m.dataOffset;  // the CRC covers the data up to here
  for (;;) {
    if (searchBudget_ == 0) return false;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kWindow - have, searchBudget_));
    const size_t n = in_->Read(window.data() + have, want);
    searchBudget_ -= n;
    have += n;
    const size_t limit = n == 0 ? have : (have > kKeep ? have - kKeep : 0);
    for (size_t i = 0; i < limit; ++i) {
      const uint8_t* p = window.data() + i;
      const size_t left = have - i;
      const uint64_t distance = base + i - m.dataOffset;
      if (left >= 16 && p[0] == 'P' && LoadLe32(p) == zip::kDescriptorSignature) {
        if (LoadLe32(p + 8) == distance && (!stored || uint64_t{LoadLe32(p + 12)} + overhead == distance)) {
          end = base + i;
          return true;
        }
        if (left >= 24 && LoadLe64(p + 8) == distance && (!stored || LoadLe64(p + 16) + overhead == distance)) {
          end = base + i;
          return true;
        }
      }
      if (unsignedToo && left >= 12 && LoadLe32(p + 4) == distance && LoadLe32(p + 8) == distance) {
        // The CRC of the data so far, brought up to this candidate.
        const size_t from = static_cast<size_t>(crcDone - base);
        crc = Crc32Update(crc, window.data() + from, i - from);
        crcDone = base + i;
        if (LoadLe32(p) == crc) {
          end = base + i;
          return true;
        }
      }
    }
    if (n == 0) return false;
    // Keep the tail that may hold the start of a descriptor.
    if (crcDone < base + limit) {
      const size_t from = static_cast<size_t>(crcDone - base);
      crc = Crc32Update(crc, window.data() + from, limit - from);
      crcDone = base + limit;
    }
    std::memmove(window.data(), window.data() + limit, have - limit);
    base += limit;
    have -= limit;
  }
}

// --- decoding -----------------------------------------------------------------

bool ZipReader::OpenEncrypted(const MemberInfo& m, PasswordSource& passwords, DecodeStatus& refusal) {
  std::array<uint8_t, kEncryptionHeaderSize> header{};
  if (in_->Read(header.data(), header.size()) != header.size()) {
    refusal = DecodeStatus::Truncated;
    return false;
  }
  // A member streamed with its sizes after the data is checked by one byte,
  // as 7-Zip writes it from a pipe (and as unzip and 7-Zip read it).
  const StreamedHeaderCheck check = m.streamed ? StreamedHeaderCheck::TimeHighByte : StreamedHeaderCheck::TimeBothBytes;
  return AskPassword(m, passwords, refusal, [&](const std::string& password) {
    return cipher_.CheckHeader(password, header, m.flags, m.check, m.dosTime, check);
  });
}

// The remembered password first, then up to three answers; one prompt serves
// every member of the archive that it opens.
bool ZipReader::AskPassword(const MemberInfo& m, PasswordSource& passwords, DecodeStatus& refusal,
                            const std::function<bool(const std::string&)>& opens) {
  if (!remembered_.empty() && OpensInEitherForm(remembered_, opens)) return true;
  if (noPasswords_) {
    refusal = DecodeStatus::NoPassword;
    return false;
  }
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::string answer;
    switch (passwords.Ask(m, attempt > 0, answer)) {
      case PasswordAnswer::Cancelled:
        refusal = DecodeStatus::Cancelled;
        return false;
      case PasswordAnswer::Unavailable:
        noPasswords_ = true;
        refusal = DecodeStatus::NoPassword;
        return false;
      case PasswordAnswer::Entered:
        break;
    }
    remembered_ = std::move(answer);
    if (OpensInEitherForm(remembered_, opens)) return true;
  }
  refusal = DecodeStatus::WrongPassword;
  return false;
}

ZipReader::End ZipReader::CopyStored(MemberOutput& out, uint64_t size, const DecodeControl& control) {
  if (buffer_.size() < 2 * kHalf) buffer_.resize(2 * kHalf);
  uint64_t remaining = size;
  while (remaining > 0) {
    control.Report(in_->Position());
    const size_t want = static_cast<size_t>(std::min<uint64_t>(remaining, buffer_.size()));
    const size_t n = in_->Read(buffer_.data(), want);
    if (n == 0) return End::Truncated;
    if (decrypting_) cipher_.Decrypt(buffer_.data(), n);
    if (!out.Write(buffer_.data(), n)) return End::Stopped;
    remaining -= n;
  }
  return End::Complete;
}

ZipReader::End ZipReader::Inflate(MemberOutput& out, uint64_t size, uint64_t& streamEnd,
                                  const DecodeControl& control) {
  if (buffer_.size() < 2 * kHalf) buffer_.resize(2 * kHalf);
  uint8_t* output = buffer_.data();
  uint8_t* input = buffer_.data() + kHalf;
  uint64_t remaining = size;

  auto readInput = [&]() -> size_t {
    control.Report(in_->Position());
    const size_t want = static_cast<size_t>(std::min<uint64_t>(remaining, kHalf));
    const size_t n = want ? in_->Read(input, want) : 0;
    if (decrypting_) cipher_.Decrypt(input, n);
    remaining -= n;
    return n;
  };

  size_t got = readInput();
  if (got == 0) {
    streamEnd = in_->Position();
    return End::Truncated;
  }
  z_stream stream{};
  if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return End::Corrupt;
  stream.next_in = input;
  stream.avail_in = static_cast<uInt>(got);
  End end = End::Truncated;
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
      end = End::Stopped;
      break;
    }
    if (ret == Z_STREAM_END) {
      end = End::Complete;
      break;
    }
    if (ret == Z_BUF_ERROR && stream.avail_in == 0) continue;
    if (ret != Z_OK) {
      end = End::Corrupt;
      break;
    }
  }
  streamEnd = in_->Position() - stream.avail_in;
  inflateEnd(&stream);
  return end;
}

bool ZipReader::InflateWhole(MemberOutput& out, const MemberInfo& m, uint64_t dataSize, const DecodeControl& control) {
  control.Report(in_->Position());
  const auto packed = static_cast<size_t>(dataSize);
  const auto size = static_cast<size_t>(m.size);
  if (wholeIn_.size() < packed) wholeIn_.resize(packed);
  if (wholeOut_.size() < size) wholeOut_.resize(size);
  // A member cut short, or data that does not inflate to its size, is
  // decoded again the streaming way, which tells what is wrong with it.
  if (in_->Read(wholeIn_.data(), packed) != packed ||
      !whole_.Inflate(wholeIn_.data(), packed, wholeOut_.data(), size)) {
    in_->Seek(m.dataOffset);
    return false;
  }
  out.Write(wholeOut_.data(), size);
  return true;
}

DecodeStatus ZipReader::Decode(const MemberInfo& m, ByteSink& sink, PasswordSource& passwords,
                               const DecodeControl& control) {
  if (!m.supported) return DecodeStatus::Unsupported;
  const uint64_t archiveSize = in_->Size();
  // Stored data whose end nobody can tell cannot be given out as a file.
  if (m.dataEnd == 0 && m.methodCode != 8) return DecodeStatus::Damaged;
  uint64_t dataSize = m.dataEnd ? m.dataEnd - m.dataOffset : archiveSize - std::min(archiveSize, m.dataOffset);
  if (!in_->Seek(m.dataOffset)) return DecodeStatus::Truncated;
  decrypting_ = false;
  if (m.methodCode == kAesMethod) return DecodeAes(m, dataSize, sink, passwords, control);
  if (m.encrypted) {
    DecodeStatus refusal = DecodeStatus::Damaged;
    if (!OpenEncrypted(m, passwords, refusal)) return refusal;
    if (dataSize < kEncryptionHeaderSize) return DecodeStatus::Truncated;
    dataSize -= kEncryptionHeaderSize;
    decrypting_ = true;
  }

  MemberOutput out(sink, control);
  End end = End::Complete;
  uint64_t streamEnd = 0;
  switch (m.methodCode) {
    case 0:
      end = CopyStored(out, dataSize, control);
      break;
    case 8:
      if (!decrypting_ && m.dataEnd && m.sizeKnown && m.size > 0 && m.size <= kWholeLimit &&
          dataSize <= kWholeLimit && WholeInflater::Available() && InflateWhole(out, m, dataSize, control)) {
        end = out.writeFailed() || control.Cancelled() ? End::Stopped : End::Complete;
        break;
      }
      end = Inflate(out, dataSize, streamEnd, control);
      // An empty stream where nothing was promised is an empty member.
      if (end == End::Truncated && dataSize == 0 && m.size == 0) end = End::Complete;
      break;
    case 9: {
      MemberInput input(*this, dataSize, control);
      uint64_t consumed = 0;
      const DecodeResult r = Inflate64(input, out, &consumed);
      streamEnd = m.dataOffset + (m.encrypted ? kEncryptionHeaderSize : 0) + consumed;
      end = r == DecodeResult::Ok ? End::Complete : r == DecodeResult::Stopped ? End::Stopped
            : input.truncated() ? End::Truncated : End::Corrupt;
      break;
    }
    default: {
      MemberInput input(*this, dataSize, control);
      const auto usize = static_cast<uint32_t>(std::min<uint64_t>(m.size, 0xFFFFFFFFu));
      const auto csize = static_cast<uint32_t>(std::min<uint64_t>(dataSize, 0xFFFFFFFFu));
      DecodeResult r;
      if (m.methodCode == 1) r = Unshrink(input, out, usize, csize);
      else if (m.methodCode == 6) r = Explode(input, out, usize, csize, m.flags);
      else r = Unreduce(input, out, usize, csize, m.methodCode - 1);
      end = r == DecodeResult::Ok ? (input.truncated() ? End::Truncated : End::Complete)
            : r == DecodeResult::Stopped ? End::Stopped
                                         : End::Corrupt;
      break;
    }
  }
  decrypting_ = false;
  if (out.writeFailed()) return DecodeStatus::WriteFailed;
  if (end == End::Stopped || control.Cancelled()) return DecodeStatus::Cancelled;
  if (end == End::Truncated) return DecodeStatus::Truncated;
  if (end == End::Corrupt) return DecodeStatus::Damaged;

  // A stream whose end was learnt only now has its descriptor there.
  MemberInfo checked = m;
  if (m.dataEnd == 0 && (m.flags & kFlagDescriptor)) ReadDescriptor(checked, streamEnd);
  // Fewer bytes than the header promised: the member was cut short.
  if (checked.sizeKnown && out.written() < checked.size) return DecodeStatus::Truncated;
  if (out.crc() != checked.check) return DecodeStatus::Damaged;
  if (checked.sizeKnown && out.written() != checked.size) return DecodeStatus::Damaged;
  return DecodeStatus::Ok;
}

}  // namespace quindo

namespace quindo {

namespace {

// Whatever is read, to the end, into an output: stored data under AES.
DecodeResult CopyAll(ZipMemberInput& in, ZipMemberOutput& out) {
  std::vector<uint8_t> buffer(256 * 1024);
  for (;;) {
    const size_t n = in.Read(buffer.data(), buffer.size());
    if (n == 0) return DecodeResult::Ok;
    if (!out.Write(buffer.data(), n)) return DecodeResult::Stopped;
  }
}

// Raw DEFLATE through zlib from a decoder input.
DecodeResult InflateAll(ZipMemberInput& in, ZipMemberOutput& out) {
  std::vector<uint8_t> input(64 * 1024), output(256 * 1024);
  z_stream stream{};
  if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return DecodeResult::Corrupt;
  DecodeResult result = DecodeResult::Corrupt;
  for (;;) {
    if (stream.avail_in == 0) {
      const size_t n = in.Read(input.data(), input.size());
      if (n == 0) break;  // the data ended before the stream did
      stream.next_in = input.data();
      stream.avail_in = static_cast<uInt>(n);
    }
    stream.next_out = output.data();
    stream.avail_out = static_cast<uInt>(output.size());
    const int ret = inflate(&stream, Z_NO_FLUSH);
    const size_t produced = output.size() - stream.avail_out;
    if (produced && !out.Write(output.data(), produced)) {
      result = DecodeResult::Stopped;
      break;
    }
    if (ret == Z_STREAM_END) {
      result = DecodeResult::Ok;
      break;
    }
    if (ret == Z_BUF_ERROR && stream.avail_in == 0) continue;
    if (ret != Z_OK) break;
  }
  inflateEnd(&stream);
  return result;
}

}  // namespace

// WinZip AES: the salt and the verifier, one prompt for the archive, the
// data deciphered for its decoder, and the authentication code after it.
DecodeStatus ZipReader::DecodeAes(const MemberInfo& m, uint64_t dataSize, ByteSink& sink, PasswordSource& passwords,
                                  const DecodeControl& control) {
  AesInfo info;
  info.vendorVersion = m.aesVersion;
  info.strength = m.aesStrength;
  info.method = m.innerMethod;
  if (dataSize < info.Overhead()) return DecodeStatus::Truncated;
  std::vector<uint8_t> salt(info.SaltSize());
  std::array<uint8_t, kAesVerifierSize> verifier{};
  if (in_->Read(salt.data(), salt.size()) != salt.size() || in_->Read(verifier.data(), verifier.size()) != verifier.size())
    return DecodeStatus::Truncated;
  AesDecryptor aes;
  DecodeStatus refusal = DecodeStatus::Damaged;
  if (!AskPassword(m, passwords, refusal, [&](const std::string& password) {
        return aes.Open(info, password, salt, verifier);
      }))
    return refusal;
  const uint64_t encrypted = dataSize - info.Overhead();
  MemberInput raw(*this, encrypted + kAesAuthCodeSize, control);
  AesMemberInput input(raw, aes, encrypted);
  MemberOutput out(sink, control);
  DecodeResult r;
  switch (m.innerMethod) {
    case 0: r = CopyAll(input, out); break;
    case 8: r = InflateAll(input, out); break;
    default: r = Inflate64(input, out); break;
  }
  if (out.writeFailed()) return DecodeStatus::WriteFailed;
  if (r == DecodeResult::Stopped || control.Cancelled()) return DecodeStatus::Cancelled;
  if (raw.truncated()) return DecodeStatus::Truncated;
  if (r != DecodeResult::Ok || !input.Authenticate()) return DecodeStatus::Damaged;
  MemberInfo checked = m;
  if (m.dataEnd == 0 && (m.flags & kFlagDescriptor)) ReadDescriptor(checked, in_->Position());
  if (checked.sizeKnown && out.written() < checked.size) return DecodeStatus::Truncated;
  // AE-2 stores no CRC: the authentication code stands for it.
  if (info.CrcStored() && out.crc() != checked.check) return DecodeStatus::Damaged;
  if (checked.sizeKnown && out.written() != checked.size) return DecodeStatus::Damaged;
  return DecodeStatus::Ok;
}

}  // namespace quindo
