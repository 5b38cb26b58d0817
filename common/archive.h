#pragma once
// What every archive reader offers the rest of the program: the members in
// archive order, each described, and one member's data decoded into a sink.
// A reader knows no user interface, no settings, no current directory and no
// output folder; it reads a ByteSource and asks for passwords through a
// callback. Listing, testing and extracting an archive all use this.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace quindo {

// Bytes read in order: a member's data as its decoder reads it.
class ByteStream {
 public:
  virtual ~ByteStream() = default;
  // Bytes read (fewer only at the end), 0 at the end, -1 on an error.
  virtual int64_t Read(uint8_t* buffer, size_t size) = 0;
};

// The archive as a reader sees it: random access, read-only.
class ByteSource : public ByteStream {
 public:
  virtual bool Seek(uint64_t position) = 0;
  virtual uint64_t Size() = 0;
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

// Where a member's decoded bytes go.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // False when the bytes could not be taken: decoding stops.
  virtual bool Write(const uint8_t* data, size_t size) = 0;
};

// What is known of the encoding of a stored name.
enum class NameEncoding {
  Unknown,  // no mark: the reader of the names judges them
  Utf8,     // marked as UTF-8 by the archive
  Cp932,    // the format's names are always Shift-JIS (LZH)
};

struct MemberInfo {
  // The name as stored, with the separators it was stored with ("/" or "\").
  std::string name;
  NameEncoding encoding = NameEncoding::Unknown;
  // The name in UTF-8 from a field beside the stored one (ZIP's Unicode Path
  // field), kept only when the field is valid and names this very stored
  // name; empty otherwise.
  std::string unicodeName;
  // The method as users know it ("Deflate", "-lh5-"), and whether this
  // reader decodes it.
  std::string method;
  bool supported = true;
  bool encrypted = false;
  bool isFolder = false;
  uint64_t compressedSize = 0;
  uint64_t size = 0;        // the declared size of the data
  bool sizeKnown = true;    // false: streamed without sizes
  // The modification time: Unix seconds (UTC) or a DOS date and time (local).
  bool unixTime = false;
  int64_t unixSeconds = 0;
  uint16_t dosDate = 0, dosTime = 0;
  // MS-DOS attribute bits, when the format keeps them.
  bool hasAttributes = false;
  uint32_t attributes = 0;

  // The reader's own bookkeeping: where the member lies and how to decode it.
  uint64_t headerOffset = 0;
  uint64_t dataOffset = 0;
  uint64_t dataEnd = 0;     // where the data ends; 0 when it is not known
  uint32_t check = 0;       // the stored check value (CRC-32 or CRC-16)
  uint16_t methodCode = 0;
  uint16_t flags = 0;
  bool zip64 = false;       // sizes in ZIP64 form (and so in its data descriptor)
  bool streamed = false;    // no sizes before the data: they follow it
  // WinZip AES: the key size (1 to 3), the record's version (1, 2) and the
  // method of the data once decrypted.
  uint8_t aesStrength = 0, aesVersion = 0;
  uint16_t innerMethod = 0;
};

// How the decoding of one member ended.
enum class DecodeStatus {
  Ok,             // the whole member came out and passed its check
  Damaged,        // the data broke its format's rules or failed its check
  Truncated,      // the archive ended inside the member's data
  WrongPassword,  // no password that was given opens it
  NoPassword,     // a password is needed and there is no way to ask for one
  Unsupported,    // a method this reader does not decode
  WriteFailed,    // the sink refused bytes
  Cancelled,      // the user cancelled (at a prompt or during decoding)
};

enum class PasswordAnswer { Entered, Cancelled, Unavailable };

// Asked by a reader, on the thread that decodes, when a member needs a
// password. `previousWrong` says that the last answer did not open it.
class PasswordSource {
 public:
  virtual ~PasswordSource() = default;
  virtual PasswordAnswer Ask(const MemberInfo& member, bool previousWrong, std::string& password) = 0;
};

// Told, on the decoding thread, how far into the archive the decoding of a
// member has come; where several threads decode, the meter sums them up.
class ProgressMeter {
 public:
  virtual ~ProgressMeter() = default;
  virtual void Reached(uint64_t archivePosition) = 0;
};

// Shared with whoever shows progress or offers Cancel.
struct DecodeControl {
  const std::atomic<bool>* cancel = nullptr;
  std::atomic<uint64_t>* position = nullptr;  // how far into the archive
  ProgressMeter* meter = nullptr;             // given: told instead of `position`

  bool Cancelled() const { return cancel && cancel->load(std::memory_order_relaxed); }
  void Report(uint64_t archivePosition) const {
    if (meter) meter->Reached(archivePosition);
    else if (position) position->store(archivePosition, std::memory_order_relaxed);
  }
};

class ArchiveReader {
 public:
  virtual ~ArchiveReader() = default;
  // The next member in archive order; false after the last one.
  virtual bool Next(MemberInfo& member) = 0;
  // Starts the walk again at the first member.
  virtual void Rewind() = 0;
  // Decodes a member that Next described, checks it against its stored
  // check value and declared size, and writes it to `sink`.
  virtual DecodeStatus Decode(const MemberInfo& member, ByteSink& sink, PasswordSource& passwords,
                              const DecodeControl& control) = 0;
  // The size of the archive, for progress.
  virtual uint64_t ArchiveSize() const = 0;
};

}  // namespace quindo
