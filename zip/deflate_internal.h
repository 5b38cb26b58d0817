#pragma once
// The deflater's shared state: the window and hash chains of the match finder
// (deflate_match.cpp) and the symbol buffers, trees and bit output of the
// blocks (deflate_trees.cpp). Only those two files include this.
//
// Positions in the window buffer are below 65536, so the chain heads and
// links are kept as 16-bit values (0 is "no position": position 0 never
// serves as a match candidate).
#include <cstdint>
#include <cstring>

#include "zip/deflater.h"

#if defined(__GNUC__) || defined(__clang__)
#define QUINDO_ALWAYS_INLINE __attribute__((always_inline))
#else
#define QUINDO_ALWAYS_INLINE
#endif

namespace quindo {

constexpr int kWindowSize = 32768;
constexpr int kWindowMask = kWindowSize - 1;
constexpr int kWindowBufferSize = 2 * kWindowSize;
constexpr int kHashBits = 15;
constexpr int kHashSize = 1 << kHashBits;
constexpr int kHashMask = kHashSize - 1;
constexpr int kHashShift = (kHashBits + 3 - 1) / 3;
constexpr int kMinMatch = 3;
constexpr int kMaxMatch = 258;
constexpr int kMinLookahead = kMaxMatch + kMinMatch + 1;
constexpr int kMaxDistance = kWindowSize - kMinLookahead;
constexpr int kTooFar = 4096;
constexpr int kLiteralBufferSize = 32768;
constexpr int kDistanceBufferSize = 32768;
// Bytes after the window buffer that word-wide comparisons may read.
constexpr int kWindowSlack = 16;

constexpr int kMaxBits = 15;
constexpr int kMaxBitLengthBits = 7;
constexpr int kLengthCodes = 29;
constexpr int kLiterals = 256;
constexpr int kEndBlock = 256;
constexpr int kLiteralCodes = kLiterals + 1 + kLengthCodes;  // 286
constexpr int kDistanceCodes = 30;
constexpr int kBitLengthCodes = 19;
constexpr int kHeapSize = 2 * kLiteralCodes + 1;
constexpr int kRepeat3To6 = 16;
constexpr int kZeros3To10 = 17;
constexpr int kZeros11To138 = 18;

constexpr int kStoredBlock = 0;
constexpr int kFixedBlock = 1;
constexpr int kDynamicBlock = 2;

// How a level parses: greedily (inserting the strings of a match no longer
// than `insertLimit` into the chains), or lazily with two or three chain
// links fetched ahead.
enum class ParseStrategy : uint8_t { kGreedy, kLazy, kLazyThreeLinks };

struct Level {
  uint16_t goodLength;
  uint16_t lazyLimit;  // insert limit at the greedy levels
  uint16_t niceLength;
  uint16_t chainLimit;
  ParseStrategy strategy;
};

struct TreeNode {
  uint32_t freq;  // frequency while building, then unused
  uint16_t code;
  uint16_t len;
  uint16_t dad;
};

struct TreeDesc {
  TreeNode* dynTree;
  const TreeNode* staticTree;  // null for the bit-length tree
  const uint8_t* extraBits;
  int extraBase;
  int elements;
  int maxLength;
  int maxCode;
};

struct Deflater::State {
  // --- tables built once (BuildTables) ---
  uint8_t lengthCode[256];
  uint8_t distanceCode[512];
  int baseLength[kLengthCodes];
  int baseDistance[kDistanceCodes];
  TreeNode staticLiteralTree[kLiteralCodes + 2];
  TreeNode staticDistanceTree[kDistanceCodes];
  const char* tableError = nullptr;

  // --- match finder ---
  uint8_t window[kWindowBufferSize + kWindowSlack];
  uint16_t prev[kWindowSize];
  // The link after the next one, prev[prev[p]]: the chain walk can fetch two
  // links at once instead of waiting for each in turn.
  uint16_t prev2[kWindowSize];
  // And the one after that, prev[prev2[p]], at the levels with long chains:
  // three links in flight.
  uint16_t prev3[kWindowSize];
  uint16_t head[kHashSize];
  unsigned insertHash = 0;
  unsigned strStart = 0;
  unsigned lookahead = 0;
  unsigned matchStart = 0;
  long blockStart = 0;
  bool endOfInput = false;
  // False for a piece that another piece's stream follows: no final block.
  bool finalPiece = true;
  // The head of the current block that a slide moved out of the window, so
  // that the block can still go out stored; valid when heldLength equals
  // -blockStart.
  uint8_t held[kWindowSize];
  unsigned heldLength = 0;
  Level level{};
  int packLevel = 0;

  // --- buffered symbols ---
  uint8_t literalBuffer[kLiteralBufferSize];
  uint16_t distanceBuffer[kDistanceBufferSize];
  uint8_t flagBuffer[kLiteralBufferSize / 8];  // bit i & 7 of byte i / 8: symbol i is a match
  unsigned lastLiteral = 0;
  unsigned lastDistance = 0;

  // --- trees ---
  TreeNode literalTree[kHeapSize];
  TreeNode distanceTree[2 * kDistanceCodes + 1];
  TreeNode bitLengthTree[2 * kBitLengthCodes + 1];
  TreeDesc literalDesc{};
  TreeDesc distanceDesc{};
  TreeDesc bitLengthDesc{};
  uint16_t bitLengthCount[kMaxBits + 1];
  int heap[kHeapSize];
  int heapLength = 0;
  int heapMax = 0;
  uint8_t depth[kHeapSize];
  uint32_t heapKey[kHeapSize];
  uint64_t optLength = 0;     // bits of the block with the built trees
  uint64_t staticLength = 0;  // bits of the block with the fixed trees
  uint64_t compressedLength = 0;
  uint64_t bitsSent = 0;

  // --- output ---
  // Pending bits, least significant first. They leave two bytes at a time,
  // as from a 16-bit buffer; holding more lets two pairs go out together.
  uint64_t bitBuffer = 0;
  unsigned bitCount = 0;
  uint8_t* out = nullptr;
  unsigned outPosition = 0;
  const WriteFn* write = nullptr;
  int64_t written = 0;
  bool writeFailed = false;
  const char* checkError = nullptr;
  uint8_t ownOutput[kOutputBufferSize];

  State();
  void BuildTables();
  void Check(bool condition, const char* text) {
    if (!condition && checkError == nullptr) checkError = text;
  }

  // Output.
  void FlushOutput();
  void PutShort(unsigned w) {
    if (outPosition < kOutputBufferSize - 1) {
      out[outPosition] = static_cast<uint8_t>(w);
      out[outPosition + 1] = static_cast<uint8_t>(w >> 8);
      outPosition += 2;
      return;
    }
    FlushOutput();
    if (writeFailed) return;
    out[0] = static_cast<uint8_t>(w);
    out[1] = static_cast<uint8_t>(w >> 8);
    outPosition = 2;
  }
  void PutByte(unsigned c) {
    if (outPosition >= kOutputBufferSize) {
      FlushOutput();
      if (writeFailed) return;
    }
    out[outPosition++] = static_cast<uint8_t>(c);
  }
  void SendBits(unsigned value, int length) {
    Check(length > 0 && length <= 15, "invalid length");
    bitsSent += static_cast<unsigned>(length);
    bitBuffer |= static_cast<uint64_t>(value) << bitCount;
    bitCount += static_cast<unsigned>(length);
    if (bitCount >= 32) PutPendingPairs();
  }
  void PutPendingPairs() {
    while (bitCount >= 16) {
      PutShort(static_cast<unsigned>(bitBuffer & 0xffff));
      bitBuffer >>= 16;
      bitCount -= 16;
    }
  }
  void SendCode(int c, const TreeNode* tree) { SendBits(tree[c].code, tree[c].len); }
  void AlignToByte();
  void WriteDirect(const uint8_t* bytes, size_t n);

  // Match finder.
  void ClearForMember();
  void PrimeDictionary(unsigned length);
  void EndStream();
  void FillWindow(const ReadFn& read);
  bool EndBlock();
  bool EndBlockAndRefill(bool flush, const ReadFn& read, unsigned& pos, unsigned& ahead, unsigned& start);
  // Rolls `hash` on to the string at `pos`, enters the string at the head of
  // its chain with the links after the next (prev2, and prev3 with kThree),
  // and answers the chain's former head.
  template <bool kThree>
  QUINDO_ALWAYS_INLINE unsigned LinkString(unsigned pos, unsigned& hash) {
    hash = ((hash << kHashShift) ^ window[pos + kMinMatch - 1]) & kHashMask;
    const unsigned h = head[hash];
    prev[pos & kWindowMask] = static_cast<uint16_t>(h);
    prev2[pos & kWindowMask] = prev[h & kWindowMask];
    if constexpr (kThree) prev3[pos & kWindowMask] = prev2[h & kWindowMask];
    head[hash] = static_cast<uint16_t>(pos);
    return h;
  }
  template <bool kThree>
  unsigned LongestMatch(unsigned curMatch, unsigned strStart, unsigned lookahead, unsigned bestLength,
                        unsigned& matchStart) const;
  void DeflateGreedy(const ReadFn& read);
  template <bool kThree>
  void DeflateLazy(const ReadFn& read);

  // Blocks.
  void InitBlock();
  bool TallyMatch(unsigned distance, unsigned lc, unsigned at);
  // Buffers a literal at position `at`; answers whether the block should end.
  bool TallyLiteral(unsigned c, unsigned at) {
    const unsigned n = lastLiteral;
    literalBuffer[n] = static_cast<uint8_t>(c);
    literalTree[c].freq++;
    lastLiteral = n + 1;
    if (((n + 1) & 0xfff) != 0 && n + 1 != kLiteralBufferSize - 1) return false;
    return BlockEnds(at);
  }
  bool BlockEnds(unsigned at);
  void FlushBlock(bool last);
  void PutDownHeap(int k);
  void GenerateBitLengths(TreeDesc& desc);
  void GenerateCodes(TreeNode* tree, int maxCode);
  void BuildTree(TreeDesc& desc);
  void ScanTree(TreeNode* tree, int maxCode);
  void SendTree(const TreeNode* tree, int maxCode);
  int BuildBitLengthTree();
  void SendAllTrees(int literalCodes, int distanceCodes, int bitLengthCodes);
  void CompressBlock(const TreeNode* literals, const TreeNode* distances);
  // 30 (no code) for a distance out of range.
  unsigned DistanceCode(unsigned dist) const {
    if (dist < 256) return distanceCode[dist];
    return (dist >> 7) < 256 ? distanceCode[256 + (dist >> 7)] : kDistanceCodes;
  }
};

}  // namespace quindo
