// Raw DEFLATE compressor, the blocks: the buffered literals and matches go
// out stored, with the fixed trees or with Huffman trees built for the block,
// whichever is smallest, through a bit buffer into the caller's output buffer.
#include <algorithm>
#include <bit>
#include <cstring>

#include "zip/deflate_internal.h"

namespace quindo {
namespace {

constexpr uint8_t kExtraLengthBits[kLengthCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                    2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint8_t kExtraDistanceBits[kDistanceCodes] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,
                                                        4, 4, 5, 5, 6, 6, 7, 7,  8,  8,
                                                        9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t kExtraBitLengthBits[kBitLengthCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                          0, 0, 0, 0, 0, 0, 2, 3, 7};
constexpr uint8_t kBitLengthOrder[kBitLengthCodes] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                      11, 4,  12, 3, 13, 2, 14, 1, 15};

unsigned ReverseBits(unsigned code, int length) {
  unsigned result = 0;
  do {
    result |= code & 1;
    code >>= 1;
    result <<= 1;
  } while (--length > 0);
  return result >> 1;
}

}  // namespace

// The length and distance code tables and the fixed trees; a failed check
// is kept in tableError and refuses every member.
void Deflater::State::BuildTables() {
  // Length codes.
  int length = 0;
  int code = 0;
  for (code = 0; code < kLengthCodes - 1; ++code) {
    baseLength[code] = length;
    for (int n = 0; n < (1 << kExtraLengthBits[code]); ++n) lengthCode[length++] = static_cast<uint8_t>(code);
  }
  if (length != 256 && tableError == nullptr) tableError = "ct_init: length != 256";
  // Length 258 has a code of its own; it overwrites the last entry of code 27.
  lengthCode[255] = static_cast<uint8_t>(code);
  baseLength[kLengthCodes - 1] = 0;

  int dist = 0;
  for (code = 0; code < 16; ++code) {
    baseDistance[code] = dist;
    for (int n = 0; n < (1 << kExtraDistanceBits[code]); ++n) distanceCode[dist++] = static_cast<uint8_t>(code);
  }
  if (dist != 256 && tableError == nullptr) tableError = "ct_init: dist != 256";
  dist >>= 7;
  for (; code < kDistanceCodes; ++code) {
    baseDistance[code] = dist << 7;
    for (int n = 0; n < (1 << (kExtraDistanceBits[code] - 7)); ++n) {
      distanceCode[256 + dist++] = static_cast<uint8_t>(code);
    }
  }
  if (dist != 256 && tableError == nullptr) tableError = "ct_init: 256+dist != 512";

  // The fixed trees.
  std::memset(bitLengthCount, 0, sizeof bitLengthCount);
  for (int n = 0; n < kLiteralCodes + 2; ++n) {
    int bits = n <= 143 ? 8 : n <= 255 ? 9 : n <= 279 ? 7 : 8;
    staticLiteralTree[n] = TreeNode{0, 0, static_cast<uint16_t>(bits), 0};
    bitLengthCount[bits]++;
  }
  checkError = nullptr;
  GenerateCodes(staticLiteralTree, kLiteralCodes + 1);
  for (int n = 0; n < kDistanceCodes; ++n) {
    staticDistanceTree[n] = TreeNode{0, static_cast<uint16_t>(ReverseBits(n, 5)), 5, 0};
  }
  if (checkError != nullptr && tableError == nullptr) tableError = checkError;
  checkError = nullptr;

  literalDesc = TreeDesc{literalTree, staticLiteralTree, kExtraLengthBits, kLiterals + 1, kLiteralCodes, kMaxBits, 0};
  distanceDesc = TreeDesc{distanceTree, staticDistanceTree, kExtraDistanceBits, 0, kDistanceCodes, kMaxBits, 0};
  bitLengthDesc = TreeDesc{bitLengthTree, nullptr, kExtraBitLengthBits, 0, kBitLengthCodes, kMaxBitLengthBits, 0};
  std::memset(flagBuffer, 0, sizeof flagBuffer);
  std::memset(distanceBuffer, 0, sizeof distanceBuffer);
}

// --- output -----------------------------------------------------------------

void Deflater::State::FlushOutput() {
  if (writeFailed) return;
  if (outPosition == 0) return;
  if ((*write)(out, outPosition)) {
    written += outPosition;
    outPosition = 0;
  } else {
    // The sink kept some of it: the member is lost, and nothing more may go
    // out nor into the caller's buffer.
    writeFailed = true;
    outPosition = kOutputBufferSize;
  }
}

void Deflater::State::AlignToByte() {
  PutPendingPairs();
  if (bitCount > 8) {
    PutShort(static_cast<unsigned>(bitBuffer & 0xffff));
  } else if (bitCount > 0) {
    PutByte(static_cast<unsigned>(bitBuffer & 0xff));
  }
  bitBuffer = 0;
  bitCount = 0;
}

void Deflater::State::WriteDirect(const uint8_t* bytes, size_t n) {
  if (writeFailed || n == 0) return;
  if ((*write)(bytes, n)) {
    written += static_cast<int64_t>(n);
  } else {
    writeFailed = true;
    outPosition = kOutputBufferSize;
  }
}

// The last block of the input: final, or for a piece that another follows,
// an ordinary block and an empty stored block, which ends on a byte boundary.
void Deflater::State::EndStream() {
  FlushBlock(finalPiece);
  if (finalPiece || writeFailed) return;
  SendBits(kStoredBlock << 1, 3);
  AlignToByte();
  PutShort(0);
  PutShort(0xffff);
  FlushOutput();
}

// --- blocks -------------------------------------------------------------------

void Deflater::State::InitBlock() {
  for (int n = 0; n < kLiteralCodes; ++n) literalTree[n].freq = 0;
  for (int n = 0; n < kDistanceCodes; ++n) distanceTree[n].freq = 0;
  for (int n = 0; n < kBitLengthCodes; ++n) bitLengthTree[n].freq = 0;
  literalTree[kEndBlock].freq = 1;
  optLength = 0;
  staticLength = 0;
  std::memset(flagBuffer, 0, (lastLiteral + 7) / 8);
  lastLiteral = 0;
  lastDistance = 0;
}

// Buffers a match (distance, length - 3) found at position `at`; answers
// whether the block should end here.
bool Deflater::State::TallyMatch(unsigned distance, unsigned lc, unsigned at) {
  const unsigned n = lastLiteral;
  literalBuffer[n] = static_cast<uint8_t>(lc);
  flagBuffer[n >> 3] |= static_cast<uint8_t>(1u << (n & 7));
  --distance;
  Check(distance < static_cast<unsigned>(kMaxDistance) && lc <= static_cast<unsigned>(kMaxMatch - kMinMatch) &&
            DistanceCode(distance) < static_cast<unsigned>(kDistanceCodes),
        "ct_tally: bad match");
  literalTree[lengthCode[lc & 0xff] + kLiterals + 1].freq++;
  distanceTree[DistanceCode(distance & 0x7fff)].freq++;
  distanceBuffer[lastDistance++] = static_cast<uint16_t>(distance);
  lastLiteral = n + 1;
  if (((n + 1) & 0xfff) != 0 && n + 1 != kLiteralBufferSize - 1 && lastDistance != kDistanceBufferSize) return false;
  return BlockEnds(at);
}

// The block-end rules, at every 4096th symbol and when a buffer is full.
bool Deflater::State::BlockEnds(unsigned at) {
  if (packLevel > 2 && (lastLiteral & 0xfff) == 0) {
    uint64_t outLength = static_cast<uint64_t>(lastLiteral) * 8;
    uint64_t inLength = static_cast<uint64_t>(static_cast<long>(at) - blockStart);
    for (int code = 0; code < kDistanceCodes; ++code) {
      outLength += static_cast<uint64_t>(distanceTree[code].freq) * (5 + kExtraDistanceBits[code]);
    }
    outLength >>= 3;
    if (lastDistance < lastLiteral / 2 && outLength < inLength / 2) return true;
  }
  return lastLiteral == kLiteralBufferSize - 1 || lastDistance == kDistanceBufferSize;
}

// Node n comes before node m when its frequency is lower, or equal with a
// depth no greater: heapKey holds frequency and depth as one number.
void Deflater::State::PutDownHeap(int k) {
  const int v = heap[k];
  const uint32_t key = heapKey[v];
  int j = k << 1;
  while (j <= heapLength) {
    if (j < heapLength && heapKey[heap[j + 1]] <= heapKey[heap[j]]) ++j;
    if (key <= heapKey[heap[j]]) break;
    heap[k] = heap[j];
    k = j;
    j <<= 1;
  }
  heap[k] = v;
}

void Deflater::State::GenerateBitLengths(TreeDesc& desc) {
  TreeNode* tree = desc.dynTree;
  const TreeNode* stree = desc.staticTree;
  const int maxCode = desc.maxCode;
  const int maxLength = desc.maxLength;
  int overflow = 0;
  for (int bits = 0; bits <= kMaxBits; ++bits) bitLengthCount[bits] = 0;

  // The root has length 0; every other node is one longer than its parent.
  tree[heap[heapMax]].len = 0;
  int h;
  for (h = heapMax + 1; h < kHeapSize; ++h) {
    int n = heap[h];
    int bits = tree[tree[n].dad].len + 1;
    if (bits > maxLength) {
      bits = maxLength;
      ++overflow;
    }
    tree[n].len = static_cast<uint16_t>(bits);
    if (n > maxCode) continue;  // not a leaf
    bitLengthCount[bits]++;
    int extra = n >= desc.extraBase ? desc.extraBits[n - desc.extraBase] : 0;
    uint64_t f = tree[n].freq;
    optLength += f * static_cast<uint64_t>(bits + extra);
    if (stree != nullptr) staticLength += f * static_cast<uint64_t>(stree[n].len + extra);
  }
  if (overflow == 0) return;

  // Move leaves down from above the limit: take a leaf of the deepest level
  // below it and let it carry the overflowing leaf as its sibling.
  do {
    int bits = maxLength - 1;
    while (bitLengthCount[bits] == 0) --bits;
    bitLengthCount[bits]--;
    bitLengthCount[bits + 1] += 2;
    bitLengthCount[maxLength]--;
    overflow -= 2;
  } while (overflow > 0);

  // Hand the lengths out again, longest to the least frequent.
  h = kHeapSize;
  for (int bits = maxLength; bits != 0; --bits) {
    int n = bitLengthCount[bits];
    while (n != 0) {
      int m = heap[--h];
      if (m > maxCode) continue;
      if (tree[m].len != bits) {
        optLength += (static_cast<int64_t>(bits) - tree[m].len) * static_cast<int64_t>(tree[m].freq);
        tree[m].len = static_cast<uint16_t>(bits);
      }
      --n;
    }
  }
}

void Deflater::State::GenerateCodes(TreeNode* tree, int maxCode) {
  uint16_t nextCode[kMaxBits + 1];
  unsigned code = 0;
  for (int bits = 1; bits <= kMaxBits; ++bits) {
    code = (code + bitLengthCount[bits - 1]) << 1;
    nextCode[bits] = static_cast<uint16_t>(code);
  }
  Check(((code + bitLengthCount[kMaxBits] - 1) & 0xffff) == (1u << kMaxBits) - 1, "inconsistent bit counts");
  for (int n = 0; n <= maxCode; ++n) {
    int len = tree[n].len;
    if (len == 0) continue;
    tree[n].code = static_cast<uint16_t>(ReverseBits(nextCode[len]++, len));
  }
}

void Deflater::State::BuildTree(TreeDesc& desc) {
  TreeNode* tree = desc.dynTree;
  const TreeNode* stree = desc.staticTree;
  const int elements = desc.elements;
  int maxCode = -1;

  heapLength = 0;
  heapMax = kHeapSize;
  for (int n = 0; n < elements; ++n) {
    if (tree[n].freq != 0) {
      heap[++heapLength] = maxCode = n;
      depth[n] = 0;
      heapKey[n] = tree[n].freq << 8;
    } else {
      tree[n].len = 0;
    }
  }
  // A tree needs two codes at least: force some in with frequency 1.
  while (heapLength < 2) {
    int node = heap[++heapLength] = maxCode < 2 ? ++maxCode : 0;
    tree[node].freq = 1;
    depth[node] = 0;
    heapKey[node] = 1 << 8;
    --optLength;
    if (stree != nullptr) staticLength -= stree[node].len;
  }
  desc.maxCode = maxCode;

  for (int n = heapLength / 2; n >= 1; --n) PutDownHeap(n);

  int node = elements;
  do {
    int n = heap[1];
    heap[1] = heap[heapLength--];
    PutDownHeap(1);
    int m = heap[1];
    heap[--heapMax] = n;
    heap[--heapMax] = m;
    tree[node].freq = tree[n].freq + tree[m].freq;
    depth[node] = static_cast<uint8_t>(std::max(depth[n], depth[m]) + 1);
    heapKey[node] = tree[node].freq << 8 | depth[node];
    tree[n].dad = tree[m].dad = static_cast<uint16_t>(node);
    heap[1] = node++;
    PutDownHeap(1);
  } while (heapLength >= 2);
  heap[--heapMax] = heap[1];

  GenerateBitLengths(desc);
  GenerateCodes(tree, maxCode);
}

namespace {

// Calls run(length, count, previous length, minimum count) for each run of
// equal code lengths of tree[0..maxCode], cut where the bit-length codes
// want it: a run of zeros up to 138, of another length up to 7 (6 when it
// repeats the one before).
template <typename RunFn>
void ForEachLengthRun(const TreeNode* tree, int maxCode, RunFn run) {
  int prevLen = -1;
  int nextLen = tree[0].len;
  int count = 0;
  int maxCount = 7;
  int minCount = 4;
  if (nextLen == 0) maxCount = 138, minCount = 3;
  for (int n = 0; n <= maxCode; ++n) {
    int curLen = nextLen;
    nextLen = n + 1 <= maxCode ? tree[n + 1].len : 0xffff;
    if (++count < maxCount && curLen == nextLen) continue;
    run(curLen, count, prevLen, minCount);
    count = 0;
    prevLen = curLen;
    if (nextLen == 0) {
      maxCount = 138, minCount = 3;
    } else if (curLen == nextLen) {
      maxCount = 6, minCount = 3;
    } else {
      maxCount = 7, minCount = 4;
    }
  }
}

}  // namespace

// Counts the bit-length codes that send the tree's lengths.
void Deflater::State::ScanTree(TreeNode* tree, int maxCode) {
  ForEachLengthRun(tree, maxCode, [&](int curLen, int count, int prevLen, int minCount) {
    if (count < minCount) {
      bitLengthTree[curLen].freq += static_cast<uint32_t>(count);
    } else if (curLen != 0) {
      if (curLen != prevLen) bitLengthTree[curLen].freq++;
      bitLengthTree[kRepeat3To6].freq++;
    } else if (count <= 10) {
      bitLengthTree[kZeros3To10].freq++;
    } else {
      bitLengthTree[kZeros11To138].freq++;
    }
  });
}

// Sends the tree's lengths in the bit-length codes.
void Deflater::State::SendTree(const TreeNode* tree, int maxCode) {
  ForEachLengthRun(tree, maxCode, [&](int curLen, int count, int prevLen, int minCount) {
    if (count < minCount) {
      do {
        SendCode(curLen, bitLengthTree);
      } while (--count != 0);
    } else if (curLen != 0) {
      if (curLen != prevLen) {
        SendCode(curLen, bitLengthTree);
        --count;
      }
      Check(count >= 3 && count <= 6, " 3_6?");
      SendCode(kRepeat3To6, bitLengthTree);
      SendBits(static_cast<unsigned>(count - 3), 2);
    } else if (count <= 10) {
      SendCode(kZeros3To10, bitLengthTree);
      SendBits(static_cast<unsigned>(count - 3), 3);
    } else {
      SendCode(kZeros11To138, bitLengthTree);
      SendBits(static_cast<unsigned>(count - 11), 7);
    }
  });
}

int Deflater::State::BuildBitLengthTree() {
  ScanTree(literalTree, literalDesc.maxCode);
  ScanTree(distanceTree, distanceDesc.maxCode);
  BuildTree(bitLengthDesc);
  int maxIndex;
  for (maxIndex = kBitLengthCodes - 1; maxIndex >= 3; --maxIndex) {
    if (bitLengthTree[kBitLengthOrder[maxIndex]].len != 0) break;
  }
  optLength += 3 * (static_cast<uint64_t>(maxIndex) + 1) + 5 + 5 + 4;
  return maxIndex;
}

void Deflater::State::SendAllTrees(int literalCodes, int distanceCodes, int bitLengthCodes) {
  Check(literalCodes >= 257 && distanceCodes >= 1 && bitLengthCodes >= 4, "not enough codes");
  Check(literalCodes <= kLiteralCodes && distanceCodes <= kDistanceCodes && bitLengthCodes <= kBitLengthCodes,
        "too many codes");
  SendBits(static_cast<unsigned>(literalCodes - 257), 5);
  SendBits(static_cast<unsigned>(distanceCodes - 1), 5);
  SendBits(static_cast<unsigned>(bitLengthCodes - 4), 4);
  for (int rank = 0; rank < bitLengthCodes; ++rank) SendBits(bitLengthTree[kBitLengthOrder[rank]].len, 3);
  SendTree(literalTree, literalCodes - 1);
  SendTree(distanceTree, distanceCodes - 1);
}

void Deflater::State::CompressBlock(const TreeNode* literals, const TreeNode* distances) {
  // The bit buffer and the output position live in registers here.
  uint64_t acc = bitBuffer;
  unsigned count = bitCount;
  unsigned position = outPosition;
  uint8_t* const o = out;
  uint64_t sent = 0;
  bool badLength = false;
  // Each symbol's code with its extra bits, as one value and one length.
  uint32_t literalCodes[kLiterals + 1];
  for (unsigned c = 0; c <= static_cast<unsigned>(kLiterals); ++c) {
    literalCodes[c] = literals[c].code | static_cast<uint32_t>(literals[c].len) << 24;
    badLength |= literals[c].len == 0 && (c == kEndBlock || literalTree[c].freq != 0);
  }
  uint32_t lengthCodes[256];
  for (unsigned lc = 0; lc < 256; ++lc) {
    const unsigned code = lengthCode[lc];
    const TreeNode& node = literals[code + kLiterals + 1];
    const unsigned extra = kExtraLengthBits[code];
    const unsigned extraValue = extra != 0 ? lc - static_cast<unsigned>(baseLength[code]) : 0;
    lengthCodes[lc] = (node.code | extraValue << node.len) | static_cast<uint32_t>(node.len + extra) << 24;
  }
  for (unsigned code = 0; code < static_cast<unsigned>(kLengthCodes); ++code) {
    badLength |= literals[code + kLiterals + 1].len == 0 && literalTree[code + kLiterals + 1].freq != 0;
  }
  // Distance codes with the length of code and extra bits together.
  uint32_t distanceCodes[kDistanceCodes];
  for (unsigned code = 0; code < static_cast<unsigned>(kDistanceCodes); ++code) {
    distanceCodes[code] = distances[code].code | static_cast<uint32_t>(distances[code].len + kExtraDistanceBits[code])
                                                     << 24;
    badLength |= distances[code].len == 0 && distanceTree[code].freq != 0;
  }

  // Literals and matches mix without a pattern, so a symbol is coded without
  // branching on its kind: a literal sends its code and then nothing, a match
  // its length and then its distance.
  // Whole pairs leave after each symbol: eight bytes are stored and the
  // position moves by the pairs complete, while eight bytes still fit.
  auto putPairs = [&]() __attribute__((always_inline)) {
    if (position <= kOutputBufferSize - 8) {
      if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(o + position, &acc, 8);
      } else {
        for (int b = 0; b < 8; ++b) o[position + b] = static_cast<uint8_t>(acc >> (8 * b));
      }
      const unsigned bytes = (count >> 4) << 1;
      position += bytes;
      acc >>= bytes * 8;
      count -= bytes * 8;
    } else {
      bitBuffer = acc;
      bitCount = count;
      outPosition = position;
      PutPendingPairs();
      acc = bitBuffer;
      count = bitCount;
      position = outPosition;
    }
  };
  auto add = [&](unsigned value, unsigned length) __attribute__((always_inline)) {
    acc |= static_cast<uint64_t>(value) << count;
    count += length;
    sent += length;
  };

  const unsigned symbols = lastLiteral;
  unsigned dx = 0;
  bool badDistance = false;
  putPairs();  // at most 15 bits wait now, and a symbol adds at most 48
  for (unsigned i = 0; i < symbols; ++i) {
    const unsigned lc = literalBuffer[i];
    const bool isMatch = (flagBuffer[i >> 3] >> (i & 7)) & 1;
    const uint32_t first = isMatch ? lengthCodes[lc] : literalCodes[lc];
    add(first & 0xffffff, first >> 24);
    const unsigned raw = distanceBuffer[dx];
    badDistance |= isMatch & (raw > 0x7fff);
    const unsigned dist = raw & 0x7fff;
    dx += isMatch;
    const unsigned code = distanceCode[dist < 256 ? dist : 256 + (dist >> 7)];
    const uint32_t d = distanceCodes[code];
    const unsigned codeLength = distances[code].len;
    const uint32_t value = (d & 0xffffff) | (dist - static_cast<unsigned>(baseDistance[code])) << codeLength;
    add(isMatch ? value : 0, isMatch ? d >> 24 : 0);
    putPairs();
  }
  // Fewer than 16 bits wait after putPairs: the end code needs no output.
  add(literalCodes[kEndBlock] & 0xffffff, literalCodes[kEndBlock] >> 24);

  bitBuffer = acc;
  bitCount = count;
  outPosition = position;
  bitsSent += sent;
  if (badDistance) Check(false, "bad d_code");
  if (badLength) Check(false, "invalid length");
}

void Deflater::State::FlushBlock(bool last) {
  if (writeFailed) return;
  // The block's bytes: in the window, or partly held back from a slide.
  const uint64_t storedLength = static_cast<uint64_t>(static_cast<long>(strStart) - blockStart);
  const bool canStore = blockStart >= 0 || static_cast<long>(heldLength) == -blockStart;

  BuildTree(literalDesc);
  BuildTree(distanceDesc);
  int maxBlIndex = BuildBitLengthTree();

  uint64_t optBytes = (optLength + 3 + 7) >> 3;
  uint64_t staticBytes = (staticLength + 3 + 7) >> 3;
  if (staticBytes <= optBytes) optBytes = staticBytes;

  const unsigned eof = last ? 1 : 0;
  // LEN is 16 bits: a longer block cannot go out stored.
  if (storedLength + 4 <= optBytes && canStore && storedLength <= 0xffff) {
    SendBits((kStoredBlock << 1) + eof, 3);
    compressedLength = (compressedLength + 3 + 7) & ~uint64_t{7};
    compressedLength += (storedLength + 4) << 3;
    AlignToByte();
    FlushOutput();
    PutShort(static_cast<unsigned>(storedLength));
    PutShort(static_cast<unsigned>(~storedLength) & 0xffff);
    FlushOutput();
    if (blockStart >= 0) {
      WriteDirect(window + blockStart, static_cast<size_t>(storedLength));
    } else {
      WriteDirect(held, heldLength);
      WriteDirect(window, strStart);
    }
    bitsSent = (bitsSent + 7) & ~uint64_t{7};
    bitsSent += (storedLength + 4) << 3;
  } else if (staticBytes == optBytes) {
    SendBits((kFixedBlock << 1) + eof, 3);
    CompressBlock(staticLiteralTree, staticDistanceTree);
    compressedLength += 3 + staticLength;
  } else {
    SendBits((kDynamicBlock << 1) + eof, 3);
    SendAllTrees(literalDesc.maxCode + 1, distanceDesc.maxCode + 1, maxBlIndex + 1);
    CompressBlock(literalTree, distanceTree);
    compressedLength += 3 + optLength;
  }
  Check(compressedLength == bitsSent, "bad compressed size");
  heldLength = 0;
  InitBlock();
  if (last) {
    AlignToByte();
    FlushOutput();
  }
}

}  // namespace quindo
