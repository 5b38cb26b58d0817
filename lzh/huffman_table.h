#pragma once
// Canonical Huffman codes as the LZH block formats send them: a code length
// per symbol, codes assigned in order of length and then of symbol. Decoding
// looks up the top `tableBits` bits of the 16-bit bit window; longer codes
// continue in a small binary tree.
#include <cstdint>
#include <vector>

namespace quindo::lzh {

class HuffmanCode {
 public:
  HuffmanCode(unsigned symbolCount, unsigned tableBits);

  unsigned SymbolCount() const { return count_; }
  uint8_t* Lengths() { return lengths_.data(); }
  // Builds the lookup from Lengths(). False when the lengths are not a
  // complete prefix code (too few or too many codes, or a length above 16).
  // All-zero lengths make a code that fails on first use.
  bool Build();
  // A code of one symbol and zero bits.
  void SetSingle(uint16_t symbol);

  // The symbol whose code starts at the top of `window`, or -1 when the bits
  // name no symbol; `length` receives the code's length in bits.
  int Decode(uint32_t window, unsigned& length) const {
    uint32_t e = packed_[window >> (16 - tableBits_)];
    if ((e >> 16) != kLongEntry) {
      length = e >> 16;
      return static_cast<int>(e & 0xFFFF);
    }
    return DecodeLong(window, static_cast<uint16_t>(e), length);
  }
  // The lookup itself, for a loop that decodes from its own bit state: an
  // entry is length << 16 | symbol, or kLongEntry << 16 for a code longer
  // than TableBits(), which Decode finishes.
  const uint32_t* Entries() const { return packed_.data(); }
  unsigned TableBits() const { return tableBits_; }
  static constexpr uint32_t kLongEntry = 0xFF;

 private:
  static constexpr uint16_t kNone = 0xFFFF;
  int DecodeLong(uint32_t window, uint16_t j, unsigned& length) const;
  // The lookup entries with the code length beside each symbol.
  void Pack();

  unsigned count_, tableBits_;
  std::vector<uint8_t> lengths_;
  std::vector<uint16_t> table_;
  std::vector<uint32_t> packed_;  // length << 16 | symbol, or kLongEntry << 16 | node
  std::vector<uint16_t> zeroChild_, oneChild_;  // indexed by node - count_
};

}  // namespace quindo::lzh
