// -lh5-, -lh6- and -lh7-: blocks of codes, each block opening with its own
// canonical code lengths for the characters and lengths, and for the
// distances.
#include "lzh/huffman_table.h"
#include "lzh/window_loop.h"

namespace quindo::lzh {

namespace {

constexpr unsigned kSymbols = 510;     // 256 literals, lengths 3 to 256
constexpr unsigned kLengthCodes = 19;  // the code of the code lengths

class BlockCodec {
 public:
  BlockCodec(MemberInput& input, unsigned positionCodes, unsigned positionBits)
      : bits_(input),
        positionCodes_(positionCodes),
        positionBits_(positionBits),
        symbols_(kSymbols, 12),
        lengthCode_(kLengthCodes, 8),
        positions_(positionCodes, 8) {}

  int DecodeSymbol() {
    if (blockLeft_ == 0) {
      blockLeft_ = static_cast<uint16_t>(bits_.Take(16));
      if (!ReadShortCode(lengthCode_, kLengthCodes, 5, 3) || !ReadSymbolCode() ||
          !ReadShortCode(positions_, positionCodes_, positionBits_, -1))
        return -1;
    }
    --blockLeft_;
    unsigned length;
    int s = symbols_.Decode(bits_.Window16(), length);
    if (s >= 0) bits_.Consume(length);
    return s;
  }

  int DecodeDistance(uint32_t, uint64_t) {
    unsigned length;
    int j = positions_.Decode(bits_.Window16(), length);
    if (j < 0) return -1;
    bits_.Consume(length);
    if (j <= 1) return j;
    return static_cast<int>((1u << (j - 1)) + bits_.Take(j - 1));
  }

  bool Overrun() const { return bits_.Overrun(); }

 private:
  // Code lengths of a small alphabet: a count, then 3-bit lengths where 7
  // continues in unary; after the `special`-th length a 2-bit run of zeros.
  bool ReadShortCode(HuffmanCode& code, unsigned count, unsigned countBits, int special) {
    unsigned n = bits_.Take(countBits);
    if (n == 0) {
      unsigned v = bits_.Take(countBits);
      if (v >= count) return false;
      code.SetSingle(static_cast<uint16_t>(v));
      return true;
    }
    uint8_t* lengths = code.Lengths();
    unsigned i = 0;
    while (i < n) {
      uint32_t w = bits_.Window16();
      unsigned v = w >> 13;
      if (v == 7) {
        for (uint32_t mask = 1u << 12; w & mask; mask >>= 1) ++v;
        if (v > 16) return false;
        bits_.Consume(v - 3);
      } else {
        bits_.Consume(3);
      }
      if (i < count) lengths[i] = static_cast<uint8_t>(v);
      ++i;
      if (static_cast<int>(i) == special) {
        unsigned zeros = bits_.Take(2);
        for (; zeros > 0; --zeros, ++i)
          if (i < count) lengths[i] = 0;
      }
    }
    for (; i < count; ++i) lengths[i] = 0;
    for (unsigned k = n; k < count; ++k) lengths[k] = 0;
    return code.Build();
  }

  bool ReadSymbolCode() {
    unsigned n = bits_.Take(9);
    if (n == 0) {
      unsigned v = bits_.Take(9);
      if (v >= kSymbols) return false;
      symbols_.SetSingle(static_cast<uint16_t>(v));
      return true;
    }
    if (n > kSymbols) return false;
    uint8_t* lengths = symbols_.Lengths();
    unsigned i = 0;
    while (i < n) {
      unsigned length;
      int k = lengthCode_.Decode(bits_.Window16(), length);
      if (k < 0) return false;
      bits_.Consume(length);
      if (k <= 2) {
        unsigned zeros = k == 0 ? 1 : k == 1 ? bits_.Take(4) + 3 : bits_.Take(9) + 20;
        if (i + zeros > kSymbols) return false;
        for (; zeros > 0; --zeros) lengths[i++] = 0;
      } else {
        lengths[i++] = static_cast<uint8_t>(k - 2);
      }
    }
    for (; i < kSymbols; ++i) lengths[i] = 0;
    return symbols_.Build();
  }

  BitReader bits_;
  unsigned positionCodes_, positionBits_;
  uint16_t blockLeft_ = 0;
  HuffmanCode symbols_, lengthCode_, positions_;
};

}  // namespace

DecodeStatus DecodeBlockHuffman(Method method, MemberInput& input, ByteSink& sink, uint32_t target) {
  unsigned windowBits = 13, positionCodes = 14, positionBits = 4;
  if (method == Method::Lh6) windowBits = 15, positionCodes = 16, positionBits = 5;
  if (method == Method::Lh7) windowBits = 16, positionCodes = 17, positionBits = 5;
  if (target == 0) return DecodeStatus::Ok;
  Window window(windowBits, sink);
  BlockCodec codec(input, positionCodes, positionBits);
  return window.Run(codec, target, 253, input.Control());
}

}  // namespace quindo::lzh
