// -lzs- and -lz5-: LZSS with a flag per item, from the LArc family. A match
// names an absolute window position rather than a distance back.
#include "lzh/window_loop.h"

namespace quindo::lzh {

namespace {

// -lzs-: a flag bit, then an 8-bit literal or an 11-bit position and a
// 4-bit length (2 to 17), all through the bit reader. 2 KiB window.
class LzsCodec {
 public:
  explicit LzsCodec(MemberInput& input) : bits_(input) {}
  int DecodeSymbol() {
    if (bits_.Take(1)) return static_cast<int>(bits_.Take(8));
    matchPos_ = bits_.Take(11);
    return static_cast<int>(bits_.Take(4)) + 256;
  }
  int DecodeDistance(uint32_t windowPos, uint64_t) {
    return static_cast<int>((windowPos - matchPos_ - 18) & 0x7FF);
  }
  bool Overrun() const { return bits_.Overrun(); }

 private:
  BitReader bits_;
  uint32_t matchPos_ = 0;
};

// -lz5-: a flag byte for every eight items, then a literal byte or two bytes
// of 12-bit position and 4-bit length (3 to 18). 4 KiB window.
class Lz5Codec {
 public:
  explicit Lz5Codec(MemberInput& input) : input_(input) {}
  int DecodeSymbol() {
    if (flagsLeft_ == 0) {
      flags_ = input_.NextByte();
      flagsLeft_ = 8;
    }
    --flagsLeft_;
    unsigned b = input_.NextByte();
    bool literal = flags_ & 1;
    flags_ >>= 1;
    if (literal) return static_cast<int>(b);
    unsigned b2 = input_.NextByte();
    matchPos_ = b + (b2 & 0xF0) * 16;
    return static_cast<int>(b2 & 0x0F) + 256;
  }
  int DecodeDistance(uint32_t windowPos, uint64_t) {
    return static_cast<int>((windowPos - matchPos_ - 19) & 0xFFF);
  }
  bool Overrun() const { return input_.PastEnd() > 0; }

 private:
  MemberInput& input_;
  unsigned flags_ = 0, flagsLeft_ = 0;
  uint32_t matchPos_ = 0;
};

}  // namespace

// The 18 bytes before the first position a match can name hold zeros, as
// LArc's own decoder left them; archives that copy from there check out
// only with zeros.
void PrefillLz5Window(uint8_t* w) {
  size_t i = 0;
  for (; i < 18; ++i) w[i] = 0;
  for (unsigned v = 0; v < 256; ++v)
    for (int k = 0; k < 13; ++k) w[i++] = static_cast<uint8_t>(v);
  for (unsigned v = 0; v < 256; ++v) w[i++] = static_cast<uint8_t>(v);
  for (unsigned v = 256; v-- > 0;) w[i++] = static_cast<uint8_t>(v);
  for (int k = 0; k < 128; ++k) w[i++] = 0;
  for (; i < 4096; ++i) w[i] = 0x20;
}

DecodeStatus DecodeLzs(MemberInput& input, ByteSink& sink, uint32_t target) {
  if (target == 0) return DecodeStatus::Ok;
  Window window(11, sink);
  LzsCodec codec(input);
  return window.Run(codec, target, 254, input.Control());
}

DecodeStatus DecodeLz5(MemberInput& input, ByteSink& sink, uint32_t target) {
  if (target == 0) return DecodeStatus::Ok;
  Window window(12, sink);
  PrefillLz5Window(window.Data());
  Lz5Codec codec(input);
  return window.Run(codec, target, 253, input.Control());
}

}  // namespace quindo::lzh
