#pragma once
// The sliding-window loop of the compressed LZH methods but -lh5- to -lh7-,
// which have a loop of their own for speed (static_huffman.cpp). A method
// supplies a codec with
//   int DecodeSymbol();   0..255 a literal, above 255 a match, -1 corrupt
//   int DecodeDistance(uint32_t windowPos, uint64_t produced);
//       -1 corrupt, else the distance d: the copy starts d + 1 bytes back
//   bool Overrun() const; the codec has used bits its data does not hold
// The window is written out whenever it fills and once at the end; the
// output stops at the member's stated size.
#include <cstdint>
#include <cstring>
#include <vector>

#include "lzh/bit_reader.h"
#include "lzh/decoder.h"

namespace quindo::lzh {

class Window {
 public:
  Window(unsigned sizeBits, ByteSink& sink)
      : size_(1u << sizeBits), mask_(size_ - 1), bytes_(size_, 0x20), sink_(sink) {}
  uint8_t* Data() { return bytes_.data(); }
  uint32_t Size() const { return size_; }
  // Hands the first `count` bytes of the window to the sink.
  bool Emit(uint32_t count) { return sink_.Write(bytes_.data(), count); }

  template <class Codec>
  DecodeStatus Run(Codec& codec, uint32_t target, unsigned lengthBias, const DecodeControl& control) {
    uint8_t* w = bytes_.data();
    uint32_t pos = 0;
    uint64_t produced = 0;
    // Cancel and the end of the data are looked at whenever the window is
    // written out, and at the end.
    auto flush = [&]() -> DecodeStatus {
      if (!sink_.Write(w, size_)) return DecodeStatus::WriteFailed;
      if (control.Cancelled()) return DecodeStatus::Cancelled;
      if (codec.Overrun()) return DecodeStatus::Truncated;
      return DecodeStatus::Ok;
    };
    while (produced < target) {
      int s = codec.DecodeSymbol();
      if (s < 0) return Finish(pos, DecodeStatus::Damaged);
      if (s < 256) {
        w[pos++] = static_cast<uint8_t>(s);
        ++produced;
        if (pos == size_) {
          pos = 0;
          if (DecodeStatus st = flush(); st != DecodeStatus::Ok) return st;
        }
      } else {
        uint32_t length = static_cast<uint32_t>(s) - lengthBias;
        int d = codec.DecodeDistance(pos, produced);
        if (d < 0 || static_cast<uint32_t>(d) >= size_) return Finish(pos, DecodeStatus::Damaged);
        // The member ends at its stated size, even inside a match.
        if (length > target - produced) length = static_cast<uint32_t>(target - produced);
        produced += length;
        uint32_t from = (pos - static_cast<uint32_t>(d) - 1) & mask_;
        if (pos + length < size_ && from + length <= size_) {
          uint8_t* dst = w + pos;
          const uint8_t* src = w + from;
          if (from + length <= pos || from >= pos + length) {
            std::memcpy(dst, src, length);
          } else {
            for (uint32_t i = 0; i < length; ++i) dst[i] = src[i];
          }
          pos += length;
        } else {
          for (uint32_t i = 0; i < length; ++i) {
            w[pos++] = w[from];
            from = (from + 1) & mask_;
            if (pos == size_) {
              pos = 0;
              if (DecodeStatus st = flush(); st != DecodeStatus::Ok) return st;
            }
          }
        }
      }
    }
    if (control.Cancelled()) return Finish(pos, DecodeStatus::Cancelled);
    if (codec.Overrun()) return Finish(pos, DecodeStatus::Truncated);
    return Finish(pos, DecodeStatus::Ok);
  }

 private:
  DecodeStatus Finish(uint32_t pos, DecodeStatus status) {
    if (pos && !sink_.Write(bytes_.data(), pos)) return DecodeStatus::WriteFailed;
    return status;
  }

  uint32_t size_, mask_;
  std::vector<uint8_t> bytes_;
  ByteSink& sink_;
};

// The method families; each decodes one member of `target` bytes.
DecodeStatus DecodeBlockHuffman(Method method, MemberInput& input, ByteSink& sink, uint32_t target);
DecodeStatus DecodeLh3(MemberInput& input, ByteSink& sink, uint32_t target);
DecodeStatus DecodeLzs(MemberInput& input, ByteSink& sink, uint32_t target);
DecodeStatus DecodeLz5(MemberInput& input, ByteSink& sink, uint32_t target);
// The initial 4 KiB window of -lz5-.
void PrefillLz5Window(uint8_t* window);
DecodeStatus DecodeAdaptive(Method method, MemberInput& input, ByteSink& sink, uint32_t target);

}  // namespace quindo::lzh
