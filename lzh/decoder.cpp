#include "lzh/decoder.h"

#include <vector>

#include "lzh/window_loop.h"

namespace quindo::lzh {

Method MethodFromId(std::string_view id) {
  static constexpr struct {
    const char* id;
    Method method;
  } kMethods[] = {
      {"-lh0-", Method::Stored}, {"-lh1-", Method::Lh1}, {"-lh2-", Method::Lh2},
      {"-lh3-", Method::Lh3},    {"-lh5-", Method::Lh5}, {"-lh6-", Method::Lh6},
      {"-lh7-", Method::Lh7},    {"-lzs-", Method::Lzs}, {"-lz4-", Method::Stored},
      {"-lz5-", Method::Lz5},
  };
  for (const auto& m : kMethods)
    if (id == m.id) return m.method;
  return Method::Unsupported;
}

namespace {

// Stored members are copied as they are; kSizeToEnd copies to the end of
// the archive.
DecodeStatus CopyStored(ByteStream& in, uint32_t compressedSize, ByteSink& out,
                        const DecodeControl& control, uint64_t dataStart) {
  std::vector<uint8_t> buffer(1 << 15);
  bool toEnd = compressedSize == kSizeToEnd;
  uint64_t left = compressedSize;
  uint64_t copied = 0;
  while (toEnd || left > 0) {
    size_t want = buffer.size();
    if (!toEnd && left < want) want = static_cast<size_t>(left);
    int64_t got = in.Read(buffer.data(), want);
    if (got < 0) return DecodeStatus::Truncated;
    if (got == 0) return toEnd ? DecodeStatus::Ok : DecodeStatus::Truncated;
    if (!out.Write(buffer.data(), static_cast<size_t>(got))) return DecodeStatus::WriteFailed;
    left -= static_cast<uint64_t>(got);
    copied += static_cast<uint64_t>(got);
    control.Report(dataStart + copied);
    if (control.Cancelled()) return DecodeStatus::Cancelled;
  }
  return DecodeStatus::Ok;
}

}  // namespace

DecodeStatus DecodeMember(Method method, ByteStream& in, uint32_t compressedSize, ByteSink& out,
                          uint32_t uncompressedSize, const DecodeControl& control, uint64_t dataStart) {
  if (method == Method::Stored) return CopyStored(in, compressedSize, out, control, dataStart);
  if (method == Method::Unsupported) return DecodeStatus::Unsupported;
  MemberInput input(in, compressedSize, control, dataStart);
  DecodeStatus status = DecodeStatus::Ok;
  switch (method) {
    case Method::Lh1:
    case Method::Lh2:
      status = DecodeAdaptive(method, input, out, uncompressedSize);
      break;
    case Method::Lh3:
      status = DecodeLh3(input, out, uncompressedSize);
      break;
    case Method::Lh5:
    case Method::Lh6:
    case Method::Lh7:
      status = DecodeBlockHuffman(method, input, out, uncompressedSize);
      break;
    case Method::Lzs:
      status = DecodeLzs(input, out, uncompressedSize);
      break;
    case Method::Lz5:
      status = DecodeLz5(input, out, uncompressedSize);
      break;
    default:
      return DecodeStatus::Unsupported;
  }
  if (status == DecodeStatus::Ok && input.ReadError()) status = DecodeStatus::Truncated;
  return status;
}

}  // namespace quindo::lzh
