// The block-Huffman decoders (-lh5-, -lh6-, -lh7-) on arbitrary data; the
// first byte picks the method.
#include "fuzz/lzh_fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static constexpr quindo::lzh::Method kMethods[] = {quindo::lzh::Method::Lh5, quindo::lzh::Method::Lh6,
                                                      quindo::lzh::Method::Lh7};
  quindo::fuzz::DecodeInput(kMethods[data[0] % 3], data + 1, size - 1);
  return 0;
}
