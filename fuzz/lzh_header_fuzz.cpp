// The LZH header parser and the first-header search on arbitrary bytes.
#include <span>

#include "fuzz/lzh_fuzz_common.h"
#include "lzh/lzh_header.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> bytes(data, size);
  int parsed = 0;
  quindo::lzh::FindFirstHeader(bytes, [&](uint64_t offset) {
    if (++parsed > 64) return true;
    quindo::fuzz::SpanSource source(data + offset, size - offset);
    quindo::lzh::LzhHeader header;
    bool ok = quindo::lzh::ParseHeader(source, header);
    if (ok && (header.path.size() > quindo::lzh::kMaxPath || header.headerLength < 21)) std::abort();
    return ok;
  });
  quindo::fuzz::SpanSource source(data, size);
  quindo::lzh::LzhHeader header;
  quindo::lzh::ParseHeader(source, header);
  return 0;
}
