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

  bool Overrun() const { return bits_.Overrun(); }

  // Window::Run for these methods, with the bit state in locals: the
  // decoding loop of the large members, where the time goes.
  DecodeStatus Run(Window& window, uint32_t target, const DecodeControl& control) {
    uint8_t* const w = window.Data();
    const uint32_t size = window.Size(), mask = size - 1;
    MemberInput& in = bits_.Input();
    uint64_t bits = bits_.Bits();
    int count = bits_.Count();
    uint32_t pos = 0, left = target;
    uint32_t blockLeft = 0;  // codes left in the block
    auto sync = [&] { bits_.Set(bits, count); };
    auto load = [&] {
      bits = bits_.Bits();
      count = bits_.Count();
    };
    auto refill = [&] {
      if (count < 32 && !BitReader::RefillFast(in, bits, count)) {
        sync();
        bits_.RefillSlow();
        load();
      }
    };
    auto take = [&](unsigned n) {
      bits <<= n;
      count -= static_cast<int>(n);
    };
    auto finish = [&](DecodeStatus status) {
      sync();
      if (pos && !window.Emit(pos)) return DecodeStatus::WriteFailed;
      return status;
    };
    // Cancel and the end of the data are looked at whenever the window is
    // written out, and at the end.
    auto flush = [&] {
      sync();
      if (!window.Emit(size)) return DecodeStatus::WriteFailed;
      if (control.Cancelled()) return DecodeStatus::Cancelled;
      if (bits_.Overrun()) return DecodeStatus::Truncated;
      return DecodeStatus::Ok;
    };
    while (left > 0) {
      if (blockLeft == 0) {
        sync();
        // A block that says it holds no codes holds 65536.
        blockLeft = bits_.Take(16);
        if (blockLeft == 0) blockLeft = 0x10000;
        const bool ok = ReadBlockCodes();
        load();
        if (!ok) return finish(DecodeStatus::Damaged);
      }
      --blockLeft;
      refill();
      unsigned length;
      const int s = symbols_.Decode(static_cast<uint32_t>(bits >> 48), length);
      if (s < 0) return finish(DecodeStatus::Damaged);
      take(length);
      if (s < 256) {
        w[pos++] = static_cast<uint8_t>(s);
        --left;
        if (pos == size) {
          pos = 0;
          if (const DecodeStatus st = flush(); st != DecodeStatus::Ok) return st;
        }
        continue;
      }
      uint32_t matchLength = static_cast<uint32_t>(s) - 253;
      refill();
      const int j = positions_.Decode(static_cast<uint32_t>(bits >> 48), length);
      if (j < 0) return finish(DecodeStatus::Damaged);
      take(length);
      uint32_t d = static_cast<uint32_t>(j);
      if (j > 1) {
        const unsigned extra = static_cast<unsigned>(j - 1);
        d = (1u << extra) + static_cast<uint32_t>(bits >> (64 - extra));
        take(extra);
      }
      if (d >= size) return finish(DecodeStatus::Damaged);
      // The member ends at its stated size, even inside a match.
      if (matchLength > left) matchLength = left;
      left -= matchLength;
      uint32_t from = (pos - d - 1) & mask;
      if (pos + matchLength < size && from + matchLength <= size) {
        // Byte by byte: a match may overlap the bytes it makes.
        uint8_t* dst = w + pos;
        const uint8_t* src = w + from;
        for (uint32_t i = 0; i < matchLength; ++i) dst[i] = src[i];
        pos += matchLength;
        continue;
      }
      for (uint32_t i = 0; i < matchLength; ++i) {
        w[pos++] = w[from];
        from = (from + 1) & mask;
        if (pos == size) {
          pos = 0;
          if (const DecodeStatus st = flush(); st != DecodeStatus::Ok) return st;
        }
      }
    }
    sync();
    if (control.Cancelled()) return finish(DecodeStatus::Cancelled);
    if (bits_.Overrun()) return finish(DecodeStatus::Truncated);
    return finish(DecodeStatus::Ok);
  }

 private:
  bool ReadBlockCodes() {
    return ReadShortCode(lengthCode_, kLengthCodes, 5, 3) && ReadSymbolCode() &&
           ReadShortCode(positions_, positionCodes_, positionBits_, -1);
  }

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
  return codec.Run(window, target, input.Control());
}

}  // namespace quindo::lzh
