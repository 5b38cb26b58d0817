// Explode, with every combination of dictionary and tree flags, on arbitrary
// data and on the imploded members of real archives.
#include "fuzz/legacy_fuzz_input.h"
#include "zip/legacy_methods.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quindo;
  fuzz::LegacyCase c;
  if (!fuzz::PickCase(data, size, 6, 6, c)) return 0;
  MemoryMemberInput in(c.data, c.size, fuzz::kReadPiece);
  fuzz::FuzzOutput out(c.acceptWrites);
  DecodeResult result = Explode(in, out, c.uncompressedSize, static_cast<uint32_t>(c.size), c.flags);
  fuzz::CheckResult(result, c, out);
  return 0;
}
