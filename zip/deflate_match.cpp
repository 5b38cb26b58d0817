// Raw DEFLATE compressor, the match finder and the parsing: hash chains over
// 3-byte strings in a 32 KiB window that lives in a 64 KiB buffer, greedy
// parsing at levels 1 to 3 and lazy parsing at 4 to 8. The blocks that the
// parser fills go out through deflate_trees.cpp.
#include <algorithm>
#include <bit>
#include <cstring>

#include "zip/deflate_internal.h"

namespace quindo {
namespace {

// Levels 1 to 8; level 0 (stored) never reaches the deflater.
constexpr Level kLevels[9] = {
    {0, 0, 0, 0, ParseStrategy::kGreedy},
    {4, 4, 8, 4, ParseStrategy::kGreedy},
    {4, 5, 16, 8, ParseStrategy::kGreedy},
    {4, 6, 32, 32, ParseStrategy::kGreedy},
    {4, 4, 16, 16, ParseStrategy::kLazy},
    {8, 16, 32, 32, ParseStrategy::kLazy},
    {8, 16, 128, 128, ParseStrategy::kLazyThreeLinks},
    {8, 32, 128, 256, ParseStrategy::kLazyThreeLinks},
    {32, 128, 258, 1024, ParseStrategy::kLazyThreeLinks},
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

}  // namespace

Deflater::State::State() {
  BuildTables();
  std::memset(window, 0, sizeof window);
  std::memset(prev, 0, sizeof prev);
  std::memset(prev2, 0, sizeof prev2);
  std::memset(prev3, 0, sizeof prev3);
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
    LinkString<true>(p, hash);
  }
  insertHash = hash;
  strStart = length;
  blockStart = length;
}

// Sends the block that ends at strStart; false when the output failed.
bool Deflater::State::EndBlock() {
  FlushBlock(false);
  blockStart = strStart;
  return !writeFailed;
}

// The parsers keep their position, lookahead and match start in locals: they
// go back into the state, the block ends when `flush` says so, the window is
// filled, and they come back; false when the output failed.
inline QUINDO_ALWAYS_INLINE bool Deflater::State::EndBlockAndRefill(bool flush, const ReadFn& read,
                                                                    unsigned& pos, unsigned& ahead,
                                                                    unsigned& start) {
  strStart = pos;
  lookahead = ahead;
  matchStart = start;
  if (flush && !EndBlock()) return false;
  while (lookahead < static_cast<unsigned>(kMinLookahead) && !endOfInput) FillWindow(read);
  pos = strStart;
  ahead = lookahead;
  start = matchStart;
  return true;
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
    hashHead = LinkString<false>(pos, hash);
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
          LinkString<false>(pos, hash);
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
      if (!EndBlockAndRefill(flush, read, pos, ahead, start)) return;
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
    hashHead = LinkString<kThree>(pos, hash);
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
        LinkString<kThree>(pos, hash);
      } while (--left != 0);
      matchAvailable = false;
      matchLength = kMinMatch - 1;
      ++pos;
    } else if (matchAvailable) {
      // This block ends before the byte that waits for its match.
      if (TallyLiteral(win[pos - 1], pos)) {
        strStart = pos;
        if (!EndBlock()) return;
      }
      ++pos;
      --ahead;
    } else {
      matchAvailable = true;
      ++pos;
      --ahead;
    }
    if (flush || (ahead < static_cast<unsigned>(kMinLookahead) && !endOfInput)) {
      if (!EndBlockAndRefill(flush, read, pos, ahead, start)) return;
    }
  }
  strStart = pos;
  lookahead = ahead;
  insertHash = hash;
  if (matchAvailable) TallyLiteral(win[pos - 1], pos);
  EndStream();
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

  switch (s.level.strategy) {
    case ParseStrategy::kGreedy:
      s.DeflateGreedy(read);
      break;
    case ParseStrategy::kLazy:
      s.DeflateLazy<false>(read);
      break;
    case ParseStrategy::kLazyThreeLinks:
      s.DeflateLazy<true>(read);
      break;
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
