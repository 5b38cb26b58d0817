// Compresses the input at every level through one reused Deflater and checks
// that zlib's raw inflate gives the input back; then once more in two pieces,
// the second primed with the 32 KiB before it, joined into one stream. The
// first byte picks how many bytes one read answers, so that refills at odd
// sizes are exercised too.
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "zip/deflater.h"

namespace {

void Fail() { std::abort(); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static quindo::Deflater deflater;
  static std::vector<uint8_t> outputBuffer(quindo::Deflater::kOutputBufferSize);
  size_t piece = 0;
  if (size > 0) {
    piece = data[0] < 128 ? 0 : static_cast<size_t>(data[0] - 127) * 37;
    ++data;
    --size;
  }
  // A quarter of the short inputs repeat themselves past 64 KiB, so that the
  // window slides; the rest stay short and keep the runs many.
  std::vector<uint8_t> input(data, data + size);
  if (size > 0 && size < 4096 && (size & 3) == 1) {
    while (input.size() < 100000) input.insert(input.end(), data, data + size);
  }

  for (int level = 1; level <= 8; ++level) {
    std::vector<uint8_t> stream;
    // Deflates input[from, to) onto the stream, primed with what precedes it.
    auto deflate = [&](size_t from, size_t to, bool last) {
      size_t position = from;
      auto read = [&](uint8_t* buffer, size_t n) -> size_t {
        size_t take = std::min(n, to - position);
        if (piece != 0) take = std::min(take, piece);
        if (take != 0) std::memcpy(buffer, input.data() + position, take);
        position += take;
        return take;
      };
      auto write = [&](const uint8_t* bytes, size_t n) -> bool {
        if (n > 65535) Fail();
        stream.insert(stream.end(), bytes, bytes + n);
        return true;
      };
      const size_t before = stream.size();
      const size_t primed = std::min<size_t>(from, 32768);
      uint16_t flags = 0;
      int64_t count = deflater.DeflatePiece(level, std::span<const uint8_t>(input.data() + from - primed, primed),
                                            last, read, write, outputBuffer.data(), flags);
      if (count < 0 || static_cast<size_t>(count) != stream.size() - before) Fail();
      if (position != to) Fail();
    };
    auto inflatesBack = [&] {
      z_stream z{};
      if (inflateInit2(&z, -15) != Z_OK) Fail();
      std::vector<uint8_t> back(input.size() + 1);
      z.next_in = stream.data();
      z.avail_in = static_cast<uInt>(stream.size());
      z.next_out = back.data();
      z.avail_out = static_cast<uInt>(back.size());
      int rc = inflate(&z, Z_FINISH);
      size_t produced = back.size() - z.avail_out;
      bool ok = rc == Z_STREAM_END && z.avail_in == 0 && produced == input.size() &&
                (input.empty() || std::memcmp(back.data(), input.data(), input.size()) == 0);
      inflateEnd(&z);
      if (!ok) Fail();
    };
    deflate(0, input.size(), true);
    inflatesBack();
    stream.clear();
    const size_t cut = input.size() * level / 9;
    deflate(0, cut, false);
    deflate(cut, input.size(), true);
    inflatesBack();
  }
  return 0;
}
