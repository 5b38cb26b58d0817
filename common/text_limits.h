#pragma once
// The lengths that the Windows program's fixed buffers set, and that both
// programs keep so that a settings file, an archive or an installation
// record means the same to each.
#include <cstddef>

namespace quindo {

// A member name or a path in a MAX_PATH buffer: 260 bytes with the
// terminating zero.
inline constexpr size_t kMaxNameLength = 259;

// A value read from a profile (the settings file, the installation record)
// or typed into the password box: a 255-byte buffer with its terminator.
inline constexpr size_t kMaxValueLength = 254;

}  // namespace quindo
