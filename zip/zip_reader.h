#pragma once
// The ZIP reader: works from the local file headers alone, in file order. It
// finds each member by scanning for the local header signature, takes the
// sizes from the header (or, for a member streamed without sizes, from the
// data descriptor after it), and decodes a member's data (stored, DEFLATE
// through zlib, the PKZIP 1.x methods, traditional decryption), checking its
// CRC-32 and length. It only reads: where members go is the caller's.
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/archive.h"
#include "zip/fast_inflate.h"
#include "zip/traditional_cipher.h"
#include "zip/zip_methods.h"

namespace quindo {

class ZipReader final : public ArchiveReader {
 public:
  explicit ZipReader(ByteSource& source);
  ~ZipReader() override;

  // True when the first local header in `window` (the first bytes of the
  // source) starts a member.
  static bool Probe(std::span<const uint8_t> window, ByteSource& source);

  bool Next(MemberInfo& member) override;
  void Rewind() override;
  DecodeStatus Decode(const MemberInfo& member, ByteSink& sink, PasswordSource& passwords,
                      const DecodeControl& control) override;
  uint64_t ArchiveSize() const override;

  // The flags of general-purpose bit field that callers look at.
  static constexpr uint16_t kFlagEncrypted = 0x0001;
  static constexpr uint16_t kFlagDescriptor = 0x0008;
  static constexpr uint16_t kFlagStrongEncryption = 0x0040;
  static constexpr uint16_t kFlagUtf8 = 0x0800;

 private:
  class Input;
  class MemberInput;
  class MemberOutput;
  enum class End { Complete, Truncated, Corrupt, Stopped };

  bool ReadLocalHeader(MemberInfo& member);
  void SettleDataEnd(MemberInfo& member);
  bool FindStreamedEnd(const MemberInfo& member, uint64_t& end);
  bool ReadDescriptor(MemberInfo& member, uint64_t end);
  bool OpenEncrypted(const MemberInfo& member, PasswordSource& passwords, DecodeStatus& refusal);
  bool AskPassword(const MemberInfo& member, PasswordSource& passwords, DecodeStatus& refusal,
                   const std::function<bool(const std::string&)>& opens);
  DecodeStatus DecodeAes(const MemberInfo& member, uint64_t dataSize, ByteSink& sink, PasswordSource& passwords,
                         const DecodeControl& control);
  End CopyStored(MemberOutput& out, uint64_t size, const DecodeControl& control);
  End Inflate(MemberOutput& out, uint64_t size, uint64_t& streamEnd, const DecodeControl& control);
  bool InflateWhole(MemberOutput& out, const MemberInfo& member, uint64_t dataSize, const DecodeControl& control);

  std::unique_ptr<Input> in_;
  uint64_t scan_ = 0;           // where the search for the next header goes on
  uint64_t searchBudget_ = 0;   // bytes the end searches of streamed data may still read
  ZipCipher cipher_;
  bool decrypting_ = false;
  std::string remembered_;      // the password that opened a member, for the next ones
  bool noPasswords_ = false;    // the password source said it cannot ask
  std::vector<uint8_t> buffer_; // decoding buffers, made on first use
  WholeInflater whole_;         // small members, inflated in one piece
  std::vector<uint8_t> wholeIn_, wholeOut_;
  // What was found of streamed members' ends, by header offset, so that a
  // second walk over the headers does not search again.
  struct SettledEnd {
    uint64_t dataEnd, compressedSize, size;
    uint32_t check;
    bool sizeKnown;
  };
  std::unordered_map<uint64_t, SettledEnd> settled_;
};

}  // namespace quindo
