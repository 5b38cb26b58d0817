#pragma once
// Deflate64 (ZIP method 9): DEFLATE with a 64 KiB window, length code 285
// standing for 3 to 65,538 bytes (16 extra bits) and distance codes 30 and
// 31 reaching back 65,536 bytes. Windows' compressed folders write it for
// large files.
#include <cstdint>

#include "zip/zip_member_io.h"

namespace quindo {

// Decodes one stream from `in` to `out` up to the end of its final block;
// bytes after it are not used. Corrupt when the data breaks a rule of the
// format or ends before the final block, after writing what was decoded up
// to there. When `consumed` is given it receives the number of input bytes
// the stream took (its last partial byte included), on every outcome.
DecodeResult Inflate64(ZipMemberInput& in, ZipMemberOutput& out, uint64_t* consumed = nullptr);

}  // namespace quindo
