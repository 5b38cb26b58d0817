// The -lzs- and -lz5- decoders and the stored copy on arbitrary data; the
// first byte picks the method.
#include "fuzz/lzh_fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static constexpr quindo::lzh::Method kMethods[] = {quindo::lzh::Method::Lzs, quindo::lzh::Method::Lz5,
                                                      quindo::lzh::Method::Stored};
  quindo::fuzz::DecodeInput(kMethods[data[0] % 3], data + 1, size - 1);
  return 0;
}
