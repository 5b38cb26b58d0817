// -lh5-, -lh6- and -lh7-: blocks of codes, each block opening with its own
// canonical code lengths for the characters and lengths, and for the
// distances.
#include <cstring>
#include <vector>

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

  // Decodes `target` bytes into the sink. The bit state lives in locals
  // while symbols are decoded and goes back to the reader for the block
  // headers and the checks.
  DecodeStatus Run(unsigned windowBits, ByteSink& sink, uint32_t target, const DecodeControl& control);

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

// The output buffer: the dictionary's bytes in front (spaces before the
// first byte), then room for a chunk of new bytes and one match's overrun.
// Distances never reach before the buffer's start, so a match is one
// forward copy; when the chunk is full it goes to the sink and the last
// dictionary's worth moves to the front.
DecodeStatus BlockCodec::Run(unsigned windowBits, ByteSink& sink, uint32_t target, const DecodeControl& control) {
  constexpr uint32_t kChunk = 256 * 1024;
  constexpr uint32_t kSlack = 256 + 8;  // a match that starts below the chunk's end, and an 8-byte copy's overrun
  const uint32_t dictionary = 1u << windowBits;
  std::vector<uint8_t> buffer(dictionary + kChunk + kSlack, 0x20);
  uint8_t* const w = buffer.data();
  const uint32_t limit = dictionary + kChunk;
  uint32_t pos = dictionary;  // where the next byte goes
  uint32_t left = target;
  MemberInput& input = bits_.Input();
  uint64_t bits = bits_.Bits();
  int count = bits_.Count();
  auto refill = [&] {
    if (count < 32 && !BitReader::RefillFast(input, bits, count)) {
      bits_.Set(bits, count);
      bits_.RefillSlow();
      bits = bits_.Bits();
      count = bits_.Count();
    }
  };
  // One symbol of `code`, whose lookup is `entries` indexed by the top bits.
  auto decode = [&](const HuffmanCode& code, const uint32_t* entries, unsigned shift, unsigned& symbol) {
    const uint32_t e = entries[bits >> shift];
    unsigned length = e >> 16;
    symbol = e & 0xFFFF;
    if (length == HuffmanCode::kLongEntry) {
      const int decoded = code.Decode(static_cast<uint32_t>(bits >> 48), length);
      if (decoded < 0) return false;
      symbol = static_cast<unsigned>(decoded);
    }
    bits <<= length;
    count -= static_cast<int>(length);
    return true;
  };
  auto take = [&](unsigned n) {  // n <= 16, with at least n bits held
    const auto v = static_cast<uint32_t>(bits >> 32 >> (32 - n));
    bits <<= n;
    count -= static_cast<int>(n);
    return v;
  };
  // Hands [dictionary, pos) to the sink; the bytes before `pos` stay in
  // front as the dictionary.
  auto flush = [&](bool last) -> DecodeStatus {
    if (pos > dictionary && !sink.Write(w + dictionary, pos - dictionary)) return DecodeStatus::WriteFailed;
    if (!last) {
      std::memmove(w, w + pos - dictionary, dictionary);
      pos = dictionary;
    }
    bits_.Set(bits, count);
    if (control.Cancelled()) return DecodeStatus::Cancelled;
    if (bits_.Overrun()) return DecodeStatus::Truncated;
    return DecodeStatus::Ok;
  };
  auto fail = [&](DecodeStatus status) {
    if (pos > dictionary && !sink.Write(w + dictionary, pos - dictionary)) return DecodeStatus::WriteFailed;
    return status;
  };

  const uint32_t* symbolEntries = symbols_.Entries();
  const uint32_t* positionEntries = positions_.Entries();
  const unsigned symbolShift = 64 - symbols_.TableBits(), positionShift = 64 - positions_.TableBits();
  while (left > 0) {
    if (blockLeft_ == 0) {
      refill();  // the reader's own calls expect at least 32 bits held
      bits_.Set(bits, count);
      blockLeft_ = static_cast<uint16_t>(bits_.Take(16));
      if (!ReadShortCode(lengthCode_, kLengthCodes, 5, 3) || !ReadSymbolCode() ||
          !ReadShortCode(positions_, positionCodes_, positionBits_, -1))
        return fail(DecodeStatus::Damaged);
      bits = bits_.Bits();
      count = bits_.Count();
    }
    --blockLeft_;
    refill();
    unsigned s;
    if (!decode(symbols_, symbolEntries, symbolShift, s)) return fail(DecodeStatus::Damaged);
    if (s < 256) {
      w[pos++] = static_cast<uint8_t>(s);
      --left;
    } else {
      uint32_t copy = s - 253;
      refill();
      unsigned j;
      if (!decode(positions_, positionEntries, positionShift, j)) return fail(DecodeStatus::Damaged);
      const uint32_t distance = j <= 1 ? j : (1u << (j - 1)) + take(j - 1);
      if (distance >= dictionary) return fail(DecodeStatus::Damaged);
      // The member ends at its stated size, even inside a match.
      if (copy > left) copy = left;
      left -= copy;
      uint8_t* dst = w + pos;
      const uint8_t* src = dst - distance - 1;
      if (distance >= 7) {
        // Eight bytes at a time: the source stays at least eight behind.
        for (uint32_t i = 0; i < copy; i += 8) std::memcpy(dst + i, src + i, 8);
      } else {
        for (uint32_t i = 0; i < copy; ++i) dst[i] = src[i];
      }
      pos += copy;
    }
    if (pos >= limit) {
      if (DecodeStatus st = flush(false); st != DecodeStatus::Ok) return st;
    }
  }
  return flush(true);
}

}  // namespace

DecodeStatus DecodeBlockHuffman(Method method, MemberInput& input, ByteSink& sink, uint32_t target) {
  unsigned windowBits = 13, positionCodes = 14, positionBits = 4;
  if (method == Method::Lh6) windowBits = 15, positionCodes = 16, positionBits = 5;
  if (method == Method::Lh7) windowBits = 16, positionCodes = 17, positionBits = 5;
  if (target == 0) return DecodeStatus::Ok;
  BlockCodec codec(input, positionCodes, positionBits);
  return codec.Run(windowBits, sink, target, input.Control());
}

}  // namespace quindo::lzh
