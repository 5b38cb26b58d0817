#pragma once
// The LZH reader: archives of header levels 0, 1 and 2, read member by
// member in file order from the first header found near the start of the
// file (self-extracting programs included). It describes each member and
// decodes one member's data, checked against the CRC-16 its header stores.
// It only reads: where members go is the caller's.
#include <cstdint>
#include <span>
#include <string>

#include "common/archive.h"
#include "lzh/lzh_header.h"

namespace quindo {

class LzhReader final : public ArchiveReader {
 public:
  explicit LzhReader(ByteSource& source) : source_(source) {}

  // True when a member header starts within the first 300 KiB of `window`
  // (the first bytes of the source).
  static bool Probe(std::span<const uint8_t> window, ByteSource& source);

  bool Next(MemberInfo& member) override;
  void Rewind() override { position_ = first_; }
  DecodeStatus Decode(const MemberInfo& member, ByteSink& sink, PasswordSource& passwords,
                      const DecodeControl& control) override;
  uint64_t ArchiveSize() const override { return source_.Size(); }

  // How far the first-header search looks.
  static constexpr uint64_t kProbeWindow = 300 * 1024;
  static constexpr uint64_t kSearchWindow = 1024 * 1024;
  static constexpr uint64_t kHeaderReach = lzh::kMaxHeaderLength;  // the longest header there can be

 private:
  bool Locate();

  ByteSource& source_;
  bool located_ = false;
  int64_t first_ = -1;   // offset of the first header, -1 when there is none
  int64_t position_ = -1;
};

}  // namespace quindo
