#pragma once
// The PKZIP 1.x methods: Shrink (1), Reduce (2 to 5, factors 1 to 4) and
// Implode (6). Each decodes one member from `in` to `out`; the sizes are the
// member's local-header values. None reads past the member's data or writes
// outside its own buffers, whatever the input.
#include <cstdint>

#include "zip/zip_member_io.h"

namespace quindo {

DecodeResult Unshrink(ZipMemberInput& in, ZipMemberOutput& out, uint32_t uncompressedSize,
                      uint32_t compressedSize);
// factor 1 to 4 (methods 2 to 5).
DecodeResult Unreduce(ZipMemberInput& in, ZipMemberOutput& out, uint32_t uncompressedSize,
                      uint32_t compressedSize, int factor);
// generalFlags: bit 1 selects the 8 KiB dictionary, bit 2 three trees.
DecodeResult Explode(ZipMemberInput& in, ZipMemberOutput& out, uint32_t uncompressedSize,
                     uint32_t compressedSize, uint16_t generalFlags);

}  // namespace quindo
