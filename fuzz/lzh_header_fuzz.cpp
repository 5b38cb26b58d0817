// The LZH header parser and the first-header search on arbitrary bytes. The
// parse from a stream and from memory must agree, and so must the search
// that judges candidates from memory and one that parses at every offset.
#include <span>

#include "fuzz/lzh_fuzz_common.h"
#include "lzh/lzh_format.h"
#include "lzh/lzh_header.h"

namespace {

using quindo::lzh::HeaderParse;
using quindo::lzh::LzhHeader;

bool Same(const LzhHeader& a, const LzhHeader& b) {
  return a.level == b.level && a.methodId == b.methodId && a.compressedSize == b.compressedSize &&
         a.uncompressedSize == b.uncompressedSize && a.timeStamp == b.timeStamp && a.attribute == b.attribute &&
         a.dataCrc == b.dataCrc && a.path == b.path && a.headerLength == b.headerLength;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  namespace lzh = quindo::lzh;
  std::span<const uint8_t> bytes(data, size);

  LzhHeader fromStream, fromMemory;
  quindo::fuzz::SpanSource source(data, size);
  bool ok = lzh::ParseHeader(source, fromStream);
  if (ok != (lzh::ParseHeader(bytes, fromMemory) == HeaderParse::Header)) std::abort();
  if (ok && (!Same(fromStream, fromMemory) || fromStream.path.size() > lzh::kMaxPath ||
             fromStream.headerLength < 21 || fromStream.headerLength > lzh::kMaxHeaderLength))
    std::abort();

  lzh::HeaderSearchCounts counts;
  int64_t found = lzh::FindFirstHeader(bytes, size, true, nullptr, &counts);
  if (counts.parses > 1 || counts.handedOver != 0 || counts.bytesExamined > 255 * counts.candidates + size)
    std::abort();
  if (size <= 16384) {
    int64_t expected = -1;
    for (size_t i = 0; i + 20 < size && expected < 0; ++i) {
      LzhHeader h;
      if (lzh::IsMethodIdStart(data + i + lzh::kMethodIdOffset) &&
          lzh::ParseHeader(bytes.subspan(i), h) == HeaderParse::Header)
        expected = static_cast<int64_t>(i);
    }
    if (found != expected) std::abort();
  }

  // A window cut short, whose headers that run past it are parsed from the
  // rest, finds what the search over all the bytes finds in that window.
  size_t cut = size / 2;
  int64_t viaRest = lzh::FindFirstHeader(bytes.first(cut), [&](uint64_t offset) {
    quindo::fuzz::SpanSource rest(data + offset, size - offset);
    LzhHeader h;
    return lzh::ParseHeader(rest, h);
  });
  if (viaRest != lzh::FindFirstHeader(bytes, cut, true, nullptr)) std::abort();
  return 0;
}
