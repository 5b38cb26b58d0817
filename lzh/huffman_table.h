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
    uint16_t j = table_[window >> (16 - tableBits_)];
    if (j < count_) {
      length = lengths_[j];
      return j;
    }
    return DecodeLong(window, j, length);
  }

 private:
  static constexpr uint16_t kNone = 0xFFFF;
  int DecodeLong(uint32_t window, uint16_t j, unsigned& length) const;

  unsigned count_, tableBits_;
  std::vector<uint8_t> lengths_;
  std::vector<uint16_t> table_;
  std::vector<uint16_t> zeroChild_, oneChild_;  // indexed by node - count_
};

}  // namespace quindo::lzh
