// -lh3-: blocks with 1+4-bit code lengths for 286 symbols (the last one
// followed by 8 more bits of length), and either sent or fixed 128-symbol
// distance codes followed by 6 low bits.
#include "lzh/huffman_table.h"
#include "lzh/window_loop.h"

namespace quindo::lzh {

namespace {

constexpr unsigned kSymbols = 286;
constexpr unsigned kDistanceCodes = 128;

class Lh3Codec {
 public:
  explicit Lh3Codec(MemberInput& input) : bits_(input), symbols_(kSymbols, 12), distances_(kDistanceCodes, 8) {}

  int DecodeSymbol() {
    if (blockLeft_ == 0) {
      blockLeft_ = static_cast<uint16_t>(bits_.Take(16));
      if (!ReadSymbolLengths()) return -1;
      if (bits_.Take(1)) {
        if (!ReadDistanceLengths()) return -1;
      } else {
        SetFixedDistances();
      }
    }
    --blockLeft_;
    unsigned length;
    int s = symbols_.Decode(bits_.Window16(), length);
    if (s < 0) return -1;
    bits_.Consume(length);
    if (s == kSymbols - 1) s += static_cast<int>(bits_.Take(8));
    return s;
  }

  int DecodeDistance(uint32_t, uint64_t) {
    unsigned length;
    int j = distances_.Decode(bits_.Window16(), length);
    if (j < 0) return -1;
    bits_.Consume(length);
    return j * 64 + static_cast<int>(bits_.Take(6));
  }

  bool Overrun() const { return bits_.Overrun(); }

 private:
  // Three leading lengths of 1 announce a block of a single symbol.
  bool ReadSymbolLengths() {
    uint8_t* lengths = symbols_.Lengths();
    for (unsigned i = 0; i < kSymbols; ++i) {
      lengths[i] = bits_.Take(1) ? static_cast<uint8_t>(bits_.Take(4) + 1) : 0;
      if (i == 2 && lengths[0] == 1 && lengths[1] == 1 && lengths[2] == 1) {
        unsigned v = bits_.Take(9);
        if (v >= kSymbols) return false;
        symbols_.SetSingle(static_cast<uint16_t>(v));
        return true;
      }
    }
    return symbols_.Build();
  }

  bool ReadDistanceLengths() {
    uint8_t* lengths = distances_.Lengths();
    for (unsigned i = 0; i < kDistanceCodes; ++i) {
      lengths[i] = static_cast<uint8_t>(bits_.Take(4));
      if (i == 2 && lengths[0] == 1 && lengths[1] == 1 && lengths[2] == 1) {
        // The one symbol is sent in the 7 bits that 128 symbols need (the
        // literal/length alphabet's single symbol takes 9 for its 286).
        distances_.SetSingle(static_cast<uint16_t>(bits_.Take(7)));
        return true;
      }
    }
    return distances_.Build();
  }

  void SetFixedDistances() {
    static constexpr struct { unsigned last, length; } kRuns[] = {
        {0, 2}, {2, 4}, {5, 5}, {12, 6}, {30, 7}, {77, 8}, {127, 9}};
    uint8_t* lengths = distances_.Lengths();
    unsigned s = 0;
    for (auto run : kRuns)
      for (; s <= run.last; ++s) lengths[s] = static_cast<uint8_t>(run.length);
    distances_.Build();
  }

  BitReader bits_;
  uint16_t blockLeft_ = 0;
  HuffmanCode symbols_, distances_;
};

}  // namespace

DecodeStatus DecodeLh3(MemberInput& input, ByteSink& sink, uint32_t target) {
  if (target == 0) return DecodeStatus::Ok;
  Window window(13, sink);
  Lh3Codec codec(input);
  return window.Run(codec, target, 253, input.Control());
}

}  // namespace quindo::lzh
