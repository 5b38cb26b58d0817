// The adaptive-Huffman decoders (-lh1-, -lh2-) on arbitrary data; the first
// byte picks the method.
#include "fuzz/lzh_fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  quindo::fuzz::DecodeInput(data[0] & 1 ? quindo::lzh::Method::Lh2 : quindo::lzh::Method::Lh1, data + 1, size - 1);
  return 0;
}
