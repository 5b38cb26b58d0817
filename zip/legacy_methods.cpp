#include "zip/legacy_methods.h"

namespace quindo {

// The PKZIP 1.x decoders are not built in yet; such members count as unreadable.
DecodeResult Unshrink(ZipMemberInput&, ZipMemberOutput&, uint32_t, uint32_t) { return DecodeResult::Corrupt; }
DecodeResult Unreduce(ZipMemberInput&, ZipMemberOutput&, uint32_t, uint32_t, int) { return DecodeResult::Corrupt; }
DecodeResult Explode(ZipMemberInput&, ZipMemberOutput&, uint32_t, uint32_t, uint16_t) { return DecodeResult::Corrupt; }

}  // namespace quindo
