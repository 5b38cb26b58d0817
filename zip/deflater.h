#pragma once
// Raw DEFLATE (RFC 1951) for ZIP method 8: hash chains over 3-byte strings in
// a 32 KiB window, greedy parsing at levels 1 to 3 and lazy parsing at 4 to 8,
// stored, fixed or dynamic blocks. One Deflater serves every deflated member
// of an archive; each member starts from a cleared hash table and fresh trees.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace quindo {

class Deflater {
 public:
  // Fills up to n bytes and answers the count; 0 is the end of the member.
  using ReadFn = std::function<size_t(uint8_t* buffer, size_t n)>;
  // Appends n bytes to the archive; false when they were not all accepted.
  using WriteFn = std::function<bool(const uint8_t* bytes, size_t n)>;

  static constexpr size_t kOutputBufferSize = 16384;

  Deflater();
  ~Deflater();
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  // Compresses one member at `level` (1 to 8), gathering output in
  // `outputBuffer` (kOutputBufferSize bytes) before it goes to `write`.
  // Answers the exact number of bytes that went through `write`, or -1 when
  // the member failed (bad level, a short write; LastError() says which).
  // ORs the level's general-purpose flag bits into `flags`: 0x0004 for
  // levels 1 and 2, 0x0002 for level 8.
  int64_t DeflateMember(int level, const ReadFn& read, const WriteFn& write, uint8_t* outputBuffer,
                        uint16_t& flags);

  // Compresses one piece of a member that is split for several threads.
  // `dictionary` (at most the 32 KiB that precede the piece in the member)
  // primes the window, so that matches may reach back into it. Unless `last`,
  // the stream ends without a final block, on a byte boundary (an empty
  // stored block follows the piece's last block), so that the next piece's
  // stream can follow it directly. Answers as DeflateMember.
  int64_t DeflatePiece(int level, std::span<const uint8_t> dictionary, bool last, const ReadFn& read,
                       const WriteFn& write, uint8_t* outputBuffer, uint16_t& flags);

  // The text of the latest failed internal check ("bad pack level", ...).
  const std::string& LastError() const { return error_; }

 private:
  struct State;
  std::unique_ptr<State> state_;
  std::string error_;
};

}  // namespace quindo
