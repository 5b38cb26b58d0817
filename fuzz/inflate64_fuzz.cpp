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
  if (fuzz::IsSeedArchive(data, size)) {
    fuzz::LegacyCase c;
    if (!fuzz::FirstMember(data, size, 9, 9, c) || c.size == 0) return 0;
    stream = c.data;
    streamSize = c.size;
  } else if (size >= 1) {
    acceptWrites = data[0] < 240 ? -1 : data[0] - 240;
    ++stream;
    --streamSize;
  }
  MemoryMemberInput in(stream, streamSize, fuzz::kReadPiece);
  Output out(acceptWrites);
  uint64_t consumed = ~uint64_t{0};
  DecodeResult result = Inflate64(in, out, &consumed);
  if (consumed > streamSize) std::abort();
  if ((result == DecodeResult::Stopped) != out.refused) std::abort();
  return 0;
}
