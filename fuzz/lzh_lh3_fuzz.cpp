// The -lh3- decoder on arbitrary data.
#include "fuzz/lzh_fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quindo::fuzz::DecodeInput(quindo::lzh::Method::Lh3, data, size);
  return 0;
}
