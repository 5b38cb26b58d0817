#pragma once
// Input side of the LZH decoders: a chunked reader over a member's compressed
// bytes and the MSB-first bit reader on top of it. Reads never go past the
// member's compressed size; past it (or past a premature end of the archive)
// the reader supplies zero bytes and notes whether a decoder has actually
// used bits that the data does not hold.
#include <cstdint>
#include <cstring>
#include <vector>

#include "lzh/decoder.h"

#if defined(__GNUC__)
#define LZH_ALWAYS_INLINE inline __attribute__((always_inline))
#define LZH_NOINLINE __attribute__((noinline))
#else
#define LZH_ALWAYS_INLINE inline
#define LZH_NOINLINE
#endif

namespace quindo::lzh {

class MemberInput {
 public:
  MemberInput(ByteStream& source, uint32_t compressedSize, const DecodeControl& control, uint64_t dataStart = 0)
      : source_(source), left_(compressedSize), control_(control), buffer_(kChunk), consumed_(dataStart) {}

  // The next byte; 0 once the data is used up (counted in PastEnd()).
  uint8_t NextByte() {
    if (pos_ == end_ && !Fill()) {
      ++pastEnd_;
      return 0;
    }
    return buffer_[pos_++];
  }
  // Bytes available in the buffer right now, and direct access to them.
  size_t Buffered() const { return end_ - pos_; }
  const uint8_t* Cursor() const { return buffer_.data() + pos_; }
  void Skip(size_t n) { pos_ += n; }

  // Zero bytes handed out after the data ended.
  uint64_t PastEnd() const { return pastEnd_; }
  // The archive ended before the member's compressed size was read.
  bool SourceEnded() const { return sourceEnded_; }
  bool ReadError() const { return readError_; }
  const DecodeControl& Control() const { return control_; }

  bool Fill() {
    if (left_ == 0 || sourceEnded_) return false;
    size_t want = left_ < kChunk ? left_ : kChunk;
    int64_t got = source_.Read(buffer_.data(), want);
    if (got <= 0) {
      sourceEnded_ = true;
      readError_ = got < 0;
      left_ = 0;
      return false;
    }
    left_ -= static_cast<uint32_t>(got);
    consumed_ += static_cast<uint64_t>(got);
    pos_ = 0;
    end_ = static_cast<size_t>(got);
    control_.Report(consumed_);
    return true;
  }

 private:
  static constexpr size_t kChunk = 1 << 16;
  ByteStream& source_;
  uint32_t left_;
  const DecodeControl& control_;
  std::vector<uint8_t> buffer_;
  size_t pos_ = 0, end_ = 0;
  uint64_t consumed_;  // the archive offset reached: the member's data start plus the bytes read
  uint64_t pastEnd_ = 0;
  bool sourceEnded_ = false;
  bool readError_ = false;
};

// Bits are taken from the most significant end of each byte. `Window16`
// shows the next 16 bits; Consume and Take accept up to 32 bits at a time.
class BitReader {
 public:
  explicit BitReader(MemberInput& input) : input_(input) { Refill(); }

  uint32_t Window16() const { return static_cast<uint32_t>(bits_ >> 48); }
  LZH_ALWAYS_INLINE void Consume(unsigned n) {
    bits_ <<= n;
    count_ -= static_cast<int>(n);
    if (count_ < 32) Refill();
  }
  uint32_t Take(unsigned n) {
    if (n == 0) return 0;
    uint32_t v = static_cast<uint32_t>(bits_ >> (64 - n));
    Consume(n);
    return v;
  }
  // True once bits beyond the member's data have been consumed.
  bool Overrun() const { return input_.PastEnd() * 8 > static_cast<uint64_t>(count_); }
  MemberInput& Input() { return input_; }

  // The state itself, for a decoder's loop that keeps it in registers and
  // hands it back before anything else reads bits.
  uint64_t Bits() const { return bits_; }
  int Count() const { return count_; }
  void Set(uint64_t bits, int count) {
    bits_ = bits;
    count_ = count;
  }
  // Tops up a state of fewer than 32 bits to at least 56.
  static LZH_ALWAYS_INLINE bool RefillFast(MemberInput& input, uint64_t& bits, int& count) {
    if (input.Buffered() < 8) return false;
    // Eight bytes at once; bits of bytes beyond the whole ones taken land
    // where those bytes will land again, so OR-ing them twice is harmless.
    uint64_t v;
    std::memcpy(&v, input.Cursor(), 8);
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    v = __builtin_bswap64(v);
#else
    const uint8_t* p = input.Cursor();
    v = 0;
    for (int k = 0; k < 8; ++k) v = (v << 8) | p[k];
#endif
    bits |= v >> count;
    unsigned n = static_cast<unsigned>(63 - count) >> 3;
    input.Skip(n);
    count += static_cast<int>(n * 8);
    return true;
  }
  LZH_NOINLINE void RefillSlow() {
    while (count_ <= 56) {
      bits_ |= static_cast<uint64_t>(input_.NextByte()) << (56 - count_);
      count_ += 8;
    }
  }

 private:
  LZH_ALWAYS_INLINE void Refill() {
    if (!RefillFast(input_, bits_, count_)) RefillSlow();
  }

  MemberInput& input_;
  uint64_t bits_ = 0;
  int count_ = 0;
};

}  // namespace quindo::lzh
