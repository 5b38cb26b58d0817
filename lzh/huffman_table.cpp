#include "lzh/huffman_table.h"

#include <algorithm>

namespace quindo::lzh {

HuffmanCode::HuffmanCode(unsigned symbolCount, unsigned tableBits)
    : count_(symbolCount),
      tableBits_(tableBits),
      lengths_(symbolCount, 0),
      table_(size_t{1} << tableBits, kNone),
      packed_(size_t{1} << tableBits, kLongEntry << 16 | kNone),
      zeroChild_(symbolCount, kNone),
      oneChild_(symbolCount, kNone) {}

void HuffmanCode::SetSingle(uint16_t symbol) {
  std::fill(lengths_.begin(), lengths_.end(), 0);
  std::fill(table_.begin(), table_.end(), symbol < count_ ? symbol : kNone);
  Pack();
}

void HuffmanCode::Pack() {
  for (size_t i = 0; i < table_.size(); ++i) {
    uint16_t j = table_[i];
    packed_[i] = j < count_ ? (uint32_t{lengths_[j]} << 16) | j : (kLongEntry << 16) | j;
  }
}

bool HuffmanCode::Build() {
  uint32_t lengthCount[17] = {};
  for (unsigned s = 0; s < count_; ++s) {
    if (lengths_[s] > 16) return false;
    ++lengthCount[lengths_[s]];
  }
  lengthCount[0] = 0;
  uint32_t start[18];
  start[1] = 0;
  for (unsigned len = 1; len <= 16; ++len) start[len + 1] = start[len] + (lengthCount[len] << (16 - len));
  if (start[17] == 0) {
    // No symbol at all: nothing can be decoded with this code.
    std::fill(table_.begin(), table_.end(), kNone);
    Pack();
    return true;
  }
  if (start[17] != 0x10000) return false;

  const unsigned t = tableBits_;
  std::fill(table_.begin(), table_.end(), kNone);
  unsigned nextNode = count_;
  for (unsigned s = 0; s < count_; ++s) {
    unsigned len = lengths_[s];
    if (len == 0) continue;
    uint32_t code = start[len];
    start[len] += 1u << (16 - len);
    if (len <= t) {
      uint32_t first = code >> (16 - t), n = 1u << (t - len);
      std::fill_n(table_.begin() + first, n, static_cast<uint16_t>(s));
      continue;
    }
    uint16_t* link = &table_[code >> (16 - t)];
    uint32_t k = (code << t) & 0xFFFF;
    for (unsigned step = t; step < len; ++step) {
      if (*link == kNone) {
        if (nextNode - count_ >= zeroChild_.size()) return false;
        *link = static_cast<uint16_t>(nextNode);
        zeroChild_[nextNode - count_] = kNone;
        oneChild_[nextNode - count_] = kNone;
        ++nextNode;
      } else if (*link < count_) {
        return false;
      }
      unsigned node = *link - count_;
      link = (k & 0x8000) ? &oneChild_[node] : &zeroChild_[node];
      k = (k << 1) & 0xFFFF;
    }
    if (*link != kNone) return false;
    *link = static_cast<uint16_t>(s);
  }
  Pack();
  return true;
}

int HuffmanCode::DecodeLong(uint32_t window, uint16_t j, unsigned& length) const {
  uint32_t bit = 1u << (15 - tableBits_);
  while (j >= count_) {
    if (j == kNone || bit == 0) return -1;
    unsigned node = j - count_;
    j = (window & bit) ? oneChild_[node] : zeroChild_[node];
    bit >>= 1;
  }
  length = lengths_[j];
  return j;
}

}  // namespace quindo::lzh
