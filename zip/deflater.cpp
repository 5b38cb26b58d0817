// Raw DEFLATE compressor. The match finder keeps hash chains over 3-byte
// strings in a 32 KiB window that lives in a 64 KiB buffer; parsing is greedy
// at levels 1 to 3 and lazy at 4 to 8. Literals and matches are buffered and
// each block goes out stored, with the fixed trees or with trees built for it,
// whichever is smallest.
//
// Positions in the window buffer are below 65536, so the chain heads and
// links are kept as 16-bit values (0 is "no position": position 0 never
// serves as a match candidate).
#include "zip/deflater.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace quindo {
namespace {

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

constexpr uint8_t kExtraLengthBits[kLengthCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                    2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint8_t kExtraDistanceBits[kDistanceCodes] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,
                                                        4, 4, 5, 5, 6, 6, 7, 7,  8,  8,
                                                        9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t kExtraBitLengthBits[kBitLengthCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                          0, 0, 0, 0, 0, 0, 2, 3, 7};
constexpr uint8_t kBitLengthOrder[kBitLengthCodes] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                      11, 4,  12, 3, 13, 2, 14, 1, 15};

struct Level {
  uint16_t goodLength;
  uint16_t lazyLimit;  // insert limit at the greedy levels
  uint16_t niceLength;
  uint16_t chainLimit;
  bool lazy;
};

constexpr Level kLevels[9] = {
    {0, 0, 0, 0, false},       {4, 4, 8, 4, false},      {4, 5, 16, 8, false},
    {4, 6, 32, 32, false},     {4, 4, 16, 16, true},     {8, 16, 32, 32, true},
    {8, 16, 128, 128, true},   {8, 32, 128, 256, true},  {32, 128, 258, 1024, true},
};

inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

// Number of equal leading bytes of a and b, at most `limit`. Reads up to 7
// bytes past the limit on both sides.
inline int CommonLength(const uint8_t* a, const uint8_t* b, int limit) {
  int n = 0;
  while (n < limit) {
    uint64_t diff = Load64(a + n) ^ Load64(b + n);
    if (diff != 0) {
#if defined(__GNUC__) || defined(__clang__)
      if constexpr (std::endian::native == std::endian::little) {
        n += __builtin_ctzll(diff) >> 3;
      } else {
        n += __builtin_clzll(diff) >> 3;
      }
#else
      while (a[n] == b[n]) ++n;
#endif
      return n < limit ? n : limit;
    }
    n += 8;
  }
  return limit;
}

unsigned ReverseBits(unsigned code, int length) {
  unsigned result = 0;
  do {
    result |= code & 1;
    code >>= 1;
    result <<= 1;
  } while (--length > 0);
  return result >> 1;
}

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

}  // namespace

struct Deflater::State {
  // --- tables built once ---
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
  bool threeLinks = false;
  uint16_t head[kHashSize];
  unsigned insertHash = 0;
  unsigned strStart = 0;
  unsigned lookahead = 0;
  unsigned matchStart = 0;
  unsigned prevLength = 0;
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
  void InsertString(unsigned s, unsigned& matchHead) {
    insertHash = ((insertHash << kHashShift) ^ window[s + kMinMatch - 1]) & kHashMask;
    matchHead = head[insertHash];
    prev[s & kWindowMask] = static_cast<uint16_t>(matchHead);
    head[insertHash] = static_cast<uint16_t>(s);
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
  void PutDownHeap(TreeNode* tree, int k);
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

Deflater::State::State() {
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
  std::memset(window, 0, sizeof window);
  std::memset(prev, 0, sizeof prev);
  std::memset(prev2, 0, sizeof prev2);
  std::memset(prev3, 0, sizeof prev3);
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

// --- match finder -------------------------------------------------------------

void Deflater::State::ClearForMember() {
  std::memset(head, 0, sizeof head);
  // Chain links are only followed from heads and links of this member, and
  // every link is written before it is read, so prev needs no clearing.
  insertHash = 0;
  strStart = 0;
  lookahead = 0;
  matchStart = 0;
  prevLength = kMinMatch - 1;
  blockStart = 0;
  heldLength = 0;
  endOfInput = false;
  compressedLength = 0;
  bitsSent = 0;
  bitBuffer = 0;
  bitCount = 0;
  outPosition = 0;
  written = 0;
  writeFailed = false;
  checkError = nullptr;
  InitBlock();
}

void Deflater::State::FillWindow(const ReadFn& read) {
  unsigned more = kWindowBufferSize - lookahead - strStart;
  if (strStart >= kWindowSize + kMaxDistance) {
    if (blockStart >= 0 && blockStart < kWindowSize) {
      heldLength = static_cast<unsigned>(kWindowSize - blockStart);
      std::memcpy(held, window + blockStart, heldLength);
    } else {
      heldLength = 0;  // nothing to keep, or a block too long to store anyway
    }
    std::memcpy(window, window + kWindowSize, kWindowSize);
    matchStart -= kWindowSize;
    strStart -= kWindowSize;
    blockStart -= kWindowSize;
    for (int n = 0; n < kHashSize; ++n) {
      unsigned m = head[n];
      head[n] = static_cast<uint16_t>(m >= kWindowSize ? m - kWindowSize : 0);
    }
    for (int n = 0; n < kWindowSize; ++n) {
      unsigned m = prev[n];
      prev[n] = static_cast<uint16_t>(m >= kWindowSize ? m - kWindowSize : 0);
      m = prev2[n];
      prev2[n] = static_cast<uint16_t>(m >= kWindowSize ? m - kWindowSize : 0);
      m = prev3[n];
      prev3[n] = static_cast<uint16_t>(m >= kWindowSize ? m - kWindowSize : 0);
    }
    more += kWindowSize;
  }
  if (endOfInput) return;
  Check(more >= 2, "more < 2");
  unsigned end = strStart + lookahead;
  size_t n = more == 0 ? 0 : read(window + end, more);
  if (n > more) n = more;  // a source that claims more than it was given room for
  if (n == 0) {
    endOfInput = true;
    // Whatever lies after the input is left from earlier data; make it the
    // same for every member so that the hash of the last strings is too.
    // Nothing reads more than 8 bytes past the input.
    std::memset(window + end, 0, 16);
  } else {
    lookahead += static_cast<unsigned>(n);
  }
}

// Enters the `length` bytes of dictionary at the start of the window into the
// hash chains, as the parser would have entered them, and leaves the rolling
// hash ready for the first position after them. The bytes that follow are
// already in the window.
void Deflater::State::PrimeDictionary(unsigned length) {
  unsigned hash = ((window[0] << kHashShift) ^ window[1]) & kHashMask;
  for (unsigned p = 0; p < length; ++p) {
    hash = ((hash << kHashShift) ^ window[p + kMinMatch - 1]) & kHashMask;
    const unsigned h = head[hash];
    prev[p & kWindowMask] = static_cast<uint16_t>(h);
    prev2[p & kWindowMask] = prev[h & kWindowMask];
    prev3[p & kWindowMask] = prev2[h & kWindowMask];
    head[hash] = static_cast<uint16_t>(p);
  }
  insertHash = hash;
  strStart = length;
  blockStart = length;
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

// Answers the longest match for the string at strStart among at most the
// level's chain limit of earlier positions on the chain from curMatch, or
// bestLength when none is longer; a longer match sets matchStart.
template <bool kThree>
unsigned Deflater::State::LongestMatch(unsigned curMatch, unsigned strStart, unsigned lookahead,
                                       unsigned bestLength, unsigned& matchStart) const {
  const unsigned maxLength = std::min<unsigned>(kMaxMatch, lookahead);
  if (bestLength >= maxLength) return bestLength;
  unsigned chainLength = level.chainLimit;
  if (bestLength >= level.goodLength) chainLength >>= 2;
  const unsigned nice = std::min<unsigned>(level.niceLength, maxLength);
  const unsigned limit = strStart > static_cast<unsigned>(kMaxDistance) ? strStart - kMaxDistance : 0;
  const uint8_t* const win = window;
  const uint16_t* const links = prev;
  const uint16_t* const skips = prev2;
  const uint8_t* const scan = win + strStart;

  // A candidate can be longer only if it agrees on bytes 0 to bestLength:
  // test the first four and the four that end at bestLength (three bytes
  // each while bestLength is 2) before comparing the whole.
  constexpr uint32_t kThreeBytes = std::endian::native == std::endian::little ? 0x00ffffffu : 0xffffff00u;
  uint32_t mask = bestLength >= 3 ? 0xffffffffu : kThreeBytes;
  unsigned endOffset = bestLength >= 3 ? bestLength - 3 : 0;
  const uint32_t scanStart = Load32(scan);
  uint32_t scanEnd = Load32(scan + endOffset);
  unsigned nextMatch = links[curMatch & kWindowMask];
  unsigned afterNext = kThree ? skips[curMatch & kWindowMask] : 0;
  for (;;) {
    const uint8_t* match = win + curMatch;
    if ((((Load32(match + endOffset) ^ scanEnd) | (Load32(match) ^ scanStart)) & mask) == 0) {
      unsigned length = static_cast<unsigned>(CommonLength(scan, match, static_cast<int>(maxLength)));
      if (length > bestLength) {
        matchStart = curMatch;
        bestLength = length;
        if (length >= nice) break;
        mask = 0xffffffffu;
        endOffset = bestLength - 3;
        scanEnd = Load32(scan + endOffset);
      }
    }
    if (nextMatch <= limit || --chainLength == 0) break;
    if constexpr (kThree) {
      const unsigned third = prev3[curMatch & kWindowMask];
      curMatch = nextMatch;
      nextMatch = afterNext;
      afterNext = third;
    } else {
      const unsigned second = skips[curMatch & kWindowMask];
      curMatch = nextMatch;
      nextMatch = second;
    }
  }
  return bestLength;
}

void Deflater::State::DeflateGreedy(const ReadFn& read) {
  unsigned hashHead = 0;
  unsigned matchLength = 0;
  unsigned pos = strStart;
  unsigned ahead = lookahead;
  unsigned hash = insertHash;
  unsigned start = matchStart;
  uint8_t* const win = window;
  const unsigned insertLimit = level.lazyLimit;
  while (ahead != 0) {
    hash = ((hash << kHashShift) ^ win[pos + kMinMatch - 1]) & kHashMask;
    hashHead = head[hash];
    prev[pos & kWindowMask] = static_cast<uint16_t>(hashHead);
    prev2[pos & kWindowMask] = prev[hashHead & kWindowMask];
    head[hash] = static_cast<uint16_t>(pos);
    if (hashHead != 0 && pos - hashHead <= static_cast<unsigned>(kMaxDistance)) {
      matchLength = LongestMatch<false>(hashHead, pos, ahead, kMinMatch - 1, start);
      if (matchLength > ahead) matchLength = ahead;
    }
    bool flush;
    if (matchLength >= static_cast<unsigned>(kMinMatch)) {
      flush = TallyMatch(pos - start, matchLength - kMinMatch, pos);
      ahead -= matchLength;
      if (matchLength <= insertLimit) {
        --matchLength;
        do {
          ++pos;
          hash = ((hash << kHashShift) ^ win[pos + kMinMatch - 1]) & kHashMask;
          const unsigned h = head[hash];
          prev[pos & kWindowMask] = static_cast<uint16_t>(h);
          prev2[pos & kWindowMask] = prev[h & kWindowMask];
          head[hash] = static_cast<uint16_t>(pos);
        } while (--matchLength != 0);
        ++pos;
      } else {
        pos += matchLength;
        matchLength = 0;
        hash = win[pos];
        hash = ((hash << kHashShift) ^ win[pos + 1]) & kHashMask;
      }
    } else {
      flush = TallyLiteral(win[pos], pos);
      --ahead;
      ++pos;
    }
    if (flush || (ahead < static_cast<unsigned>(kMinLookahead) && !endOfInput)) {
      strStart = pos;
      lookahead = ahead;
      matchStart = start;
      if (flush) {
        FlushBlock(false);
        blockStart = strStart;
        if (writeFailed) return;
      }
      while (lookahead < static_cast<unsigned>(kMinLookahead) && !endOfInput) FillWindow(read);
      pos = strStart;
      ahead = lookahead;
      start = matchStart;
    }
  }
  strStart = pos;
  lookahead = ahead;
  insertHash = hash;
  EndStream();
}

template <bool kThree>
void Deflater::State::DeflateLazy(const ReadFn& read) {
  unsigned hashHead = 0;
  unsigned prevMatch = 0;
  unsigned matchLength = kMinMatch - 1;
  unsigned prevLen = kMinMatch - 1;
  bool matchAvailable = false;
  unsigned pos = strStart;
  unsigned ahead = lookahead;
  unsigned hash = insertHash;
  unsigned start = matchStart;
  uint8_t* const win = window;
  const unsigned lazyLimit = level.lazyLimit;
  while (ahead != 0) {
    hash = ((hash << kHashShift) ^ win[pos + kMinMatch - 1]) & kHashMask;
    hashHead = head[hash];
    prev[pos & kWindowMask] = static_cast<uint16_t>(hashHead);
    prev2[pos & kWindowMask] = prev[hashHead & kWindowMask];
    if constexpr (kThree) prev3[pos & kWindowMask] = prev2[hashHead & kWindowMask];
    head[hash] = static_cast<uint16_t>(pos);
#if defined(__GNUC__) || defined(__clang__)
    // The next position's chain head, fetched while this one is matched.
    __builtin_prefetch(&head[((hash << kHashShift) ^ win[pos + kMinMatch]) & kHashMask]);
#endif
    prevLen = matchLength;
    prevMatch = start;
    matchLength = kMinMatch - 1;
    if (hashHead != 0 && prevLen < lazyLimit && pos - hashHead <= static_cast<unsigned>(kMaxDistance)) {
      matchLength = LongestMatch<kThree>(hashHead, pos, ahead, prevLen, start);
      if (matchLength > ahead) matchLength = ahead;
      if (matchLength == static_cast<unsigned>(kMinMatch) && pos - start > static_cast<unsigned>(kTooFar)) {
        --matchLength;
      }
    }
    bool flush = false;
    if (prevLen >= static_cast<unsigned>(kMinMatch) && matchLength <= prevLen) {
      flush = TallyMatch(pos - 1 - prevMatch, prevLen - kMinMatch, pos);
      ahead -= prevLen - 1;
      unsigned left = prevLen - 2;
      do {
        ++pos;
        hash = ((hash << kHashShift) ^ win[pos + kMinMatch - 1]) & kHashMask;
        const unsigned h = head[hash];
        prev[pos & kWindowMask] = static_cast<uint16_t>(h);
        prev2[pos & kWindowMask] = prev[h & kWindowMask];
        if constexpr (kThree) prev3[pos & kWindowMask] = prev2[h & kWindowMask];
        head[hash] = static_cast<uint16_t>(pos);
      } while (--left != 0);
      matchAvailable = false;
      matchLength = kMinMatch - 1;
      ++pos;
    } else if (matchAvailable) {
      // This block ends before the byte that waits for its match.
      if (TallyLiteral(win[pos - 1], pos)) {
        strStart = pos;
        FlushBlock(false);
        blockStart = strStart;
        if (writeFailed) return;
      }
      ++pos;
      --ahead;
    } else {
      matchAvailable = true;
      ++pos;
      --ahead;
    }
    if (flush || (ahead < static_cast<unsigned>(kMinLookahead) && !endOfInput)) {
      strStart = pos;
      lookahead = ahead;
      matchStart = start;
      if (flush) {
        FlushBlock(false);
        blockStart = strStart;
        if (writeFailed) return;
      }
      while (lookahead < static_cast<unsigned>(kMinLookahead) && !endOfInput) FillWindow(read);
      pos = strStart;
      ahead = lookahead;
      start = matchStart;
    }
  }
  strStart = pos;
  lookahead = ahead;
  insertHash = hash;
  if (matchAvailable) TallyLiteral(win[pos - 1], pos);
  EndStream();
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
void Deflater::State::PutDownHeap(TreeNode*, int k) {
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

  for (int n = heapLength / 2; n >= 1; --n) PutDownHeap(tree, n);

  int node = elements;
  do {
    int n = heap[1];
    heap[1] = heap[heapLength--];
    PutDownHeap(tree, 1);
    int m = heap[1];
    heap[--heapMax] = n;
    heap[--heapMax] = m;
    tree[node].freq = tree[n].freq + tree[m].freq;
    depth[node] = static_cast<uint8_t>(std::max(depth[n], depth[m]) + 1);
    heapKey[node] = tree[node].freq << 8 | depth[node];
    tree[n].dad = tree[m].dad = static_cast<uint16_t>(node);
    heap[1] = node++;
    PutDownHeap(tree, 1);
  } while (heapLength >= 2);
  heap[--heapMax] = heap[1];

  GenerateBitLengths(desc);
  GenerateCodes(tree, maxCode);
}

void Deflater::State::ScanTree(TreeNode* tree, int maxCode) {
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

void Deflater::State::SendTree(const TreeNode* tree, int maxCode) {
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
  auto send = [&](unsigned value, unsigned length) __attribute__((always_inline)) {
    acc |= static_cast<uint64_t>(value) << count;
    count += length;
    sent += length;
    if (count >= 32) {
      if (position <= kOutputBufferSize - 4) {
        o[position] = static_cast<uint8_t>(acc);
        o[position + 1] = static_cast<uint8_t>(acc >> 8);
        o[position + 2] = static_cast<uint8_t>(acc >> 16);
        o[position + 3] = static_cast<uint8_t>(acc >> 24);
        position += 4;
        acc >>= 32;
        count -= 32;
      } else {
        bitBuffer = acc;
        bitCount = count;
        outPosition = position;
        PutPendingPairs();
        acc = bitBuffer;
        count = bitCount;
        position = outPosition;
      }
    }
  };
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
  send(literalCodes[kEndBlock] & 0xffffff, literalCodes[kEndBlock] >> 24);

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

// --- the member -------------------------------------------------------------

Deflater::Deflater() : state_(std::make_unique<State>()) {}
Deflater::~Deflater() = default;

int64_t Deflater::DeflateMember(int level, const ReadFn& read, const WriteFn& write, uint8_t* outputBuffer,
                                uint16_t& flags) {
  return DeflatePiece(level, {}, true, read, write, outputBuffer, flags);
}

int64_t Deflater::DeflatePiece(int level, std::span<const uint8_t> dictionary, bool last, const ReadFn& read,
                               const WriteFn& write, uint8_t* outputBuffer, uint16_t& flags) {
  State& s = *state_;
  error_.clear();
  if (level < 1 || level > 8) {
    error_ = "bad pack level";
    return -1;
  }
  if (s.tableError != nullptr) {
    error_ = s.tableError;
    return -1;
  }
  if (level == 1 || level == 2) flags |= 0x0004;
  if (level == 8) flags |= 0x0002;

  s.packLevel = level;
  s.level = kLevels[level];
  s.write = &write;
  s.out = outputBuffer != nullptr ? outputBuffer : s.ownOutput;
  s.ClearForMember();
  s.finalPiece = last;

  // Only the window's reach back counts; older bytes could not be matched.
  if (dictionary.size() > static_cast<size_t>(kWindowSize)) dictionary = dictionary.last(kWindowSize);
  const auto primed = static_cast<unsigned>(dictionary.size());
  if (primed != 0) std::memcpy(s.window, dictionary.data(), primed);
  const size_t room = kWindowBufferSize - primed;
  size_t n = read(s.window + primed, room);
  if (n > room) n = room;
  if (n == 0) {
    s.endOfInput = true;
    std::memset(s.window + primed, 0, kMinLookahead + 8);
  } else {
    s.lookahead = static_cast<unsigned>(n);
  }
  s.strStart = primed;
  while (s.lookahead < static_cast<unsigned>(kMinLookahead) && !s.endOfInput) s.FillWindow(read);
  if (primed != 0) {
    s.PrimeDictionary(primed);
  } else if (n != 0) {
    for (int j = 0; j < kMinMatch - 1; ++j) {
      s.insertHash = ((s.insertHash << kHashShift) ^ s.window[j]) & kHashMask;
    }
  }

  if (s.level.lazy) {
    if (level >= 6) {
      s.DeflateLazy<true>(read);
    } else {
      s.DeflateLazy<false>(read);
    }
  } else {
    s.DeflateGreedy(read);
  }
  s.write = nullptr;

  if (s.writeFailed) {
    error_ = "short write";
    return -1;
  }
  if (s.checkError != nullptr) {
    error_ = s.checkError;
    return -1;
  }
  return s.written;
}

}  // namespace quindo
