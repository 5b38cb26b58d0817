// Deflate64 on arbitrary data and on the Deflate64 members of seed archives.
// The checks: Ok only at a final block, the bytes used never more than the
// input, nothing written once the output refused, Stopped only then.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "common/little_endian.h"
#include "fuzz/legacy_fuzz_input.h"
#include "zip/inflate64.h"

namespace {

using namespace quindo;

// Refuses after `limit` bytes (a stream can expand a thousandfold) or after
// a chosen number of writes.
class Output final : public ZipMemberOutput {
 public:
  explicit Output(int acceptWrites) : acceptWrites_(acceptWrites) {}
  bool Write(const uint8_t* data, size_t size) override {
    if (refused || size == 0) std::abort();
    uint32_t sum = sum_;  // touches every byte
    for (size_t i = 0; i < size; ++i) sum += data[i];
    sum_ = sum;
    total += size;
    if (total > (64u << 20) || (acceptWrites_ >= 0 && writes_++ >= acceptWrites_)) refused = true;
    return !refused;
  }
  uint64_t total = 0;
  bool refused = false;

 private:
  int acceptWrites_;
  int writes_ = 0;
  volatile uint32_t sum_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int acceptWrites = -1;
  const uint8_t* stream = data;
  size_t streamSize = size;
  // A seed archive: its first Deflate64 member.
  if (size >= 30 && std::memcmp(data, "PK\x03\x04", 4) == 0) {
    streamSize = 0;
    for (size_t at = 0; at + 30 <= size; ++at) {
      const uint8_t* p = data + at;
      if (std::memcmp(p, "PK\x03\x04", 4) != 0 || LoadLe16(p + 8) != 9) continue;
      size_t start = at + 30 + LoadLe16(p + 26) + LoadLe16(p + 28);
      if (start > size) return 0;
      stream = data + start;
      streamSize = std::min<size_t>(LoadLe32(p + 18), size - start);
      break;
    }
    if (streamSize == 0) return 0;
  } else if (size >= 1) {
    acceptWrites = data[0] < 240 ? -1 : data[0] - 240;
    ++stream;
    --streamSize;
  }
  fuzz::FuzzInput in(stream, streamSize);
  Output out(acceptWrites);
  uint64_t consumed = ~uint64_t{0};
  DecodeResult result = Inflate64(in, out, &consumed);
  if (consumed > streamSize) std::abort();
  if ((result == DecodeResult::Stopped) != out.refused) std::abort();
  return 0;
}
