#pragma once
// The mark of an LZH header: its method ID, five characters at offset 2 of
// the header, begins "-lh" or "-lz".
#include <cstddef>
#include <cstdint>

namespace quindo::lzh {

inline constexpr size_t kMethodIdOffset = 2;
inline constexpr size_t kMethodIdLength = 5;

// Whether the bytes at p begin a method ID ("-lh", "-lz").
inline bool IsMethodIdStart(const uint8_t* p) { return p[0] == '-' && p[1] == 'l' && (p[2] == 'h' || p[2] == 'z'); }

}  // namespace quindo::lzh
