#include "zip/traditional_cipher.h"

#include <array>

#include "common/little_endian.h"

namespace quindo {

namespace {

// One-byte CRC-32 step with the table of the member checksums.
const std::array<uint32_t, 256>& CrcTable() {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  return table;
}

inline uint32_t CrcStep(uint32_t c, uint8_t b) { return CrcTable()[(c ^ b) & 0xFF] ^ (c >> 8); }

}  // namespace

void ZipCipher::Reset(std::string_view password) {
  key0 = 0x12345678u;
  key1 = 0x23456789u;
  key2 = 0x34567890u;
  for (char c : password) UpdateKeys(static_cast<uint8_t>(c));
}

uint8_t ZipCipher::DecryptByte() const {
  uint32_t t = (key2 & 0xFFFF) | 2;
  return static_cast<uint8_t>(((t * (t ^ 1)) >> 8) & 0xFF);
}

void ZipCipher::UpdateKeys(uint8_t plain) {
  key0 = CrcStep(key0, plain);
  key1 = (key1 + (key0 & 0xFF)) * 134775813u + 1;
  key2 = CrcStep(key2, static_cast<uint8_t>(key1 >> 24));
}

void ZipCipher::Decrypt(uint8_t* data, size_t size) {
  const auto& table = CrcTable();
  uint32_t k0 = key0, k1 = key1, k2 = key2;
  for (size_t i = 0; i < size; ++i) {
    uint32_t t = (k2 & 0xFFFF) | 2;
    uint8_t plain = static_cast<uint8_t>(data[i] ^ static_cast<uint8_t>((t * (t ^ 1)) >> 8));
    data[i] = plain;
    k0 = table[(k0 ^ plain) & 0xFF] ^ (k0 >> 8);
    k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
    k2 = table[(k2 ^ (k1 >> 24)) & 0xFF] ^ (k2 >> 8);
  }
  key0 = k0;
  key1 = k1;
  key2 = k2;
}

bool ZipCipher::CheckHeader(std::string_view password, std::span<const uint8_t, kEncryptionHeaderSize> header,
                            uint16_t flags, uint32_t crc32, uint16_t dosTime,
                            StreamedHeaderCheck streamed) {
  Reset(password);
  std::array<uint8_t, kEncryptionHeaderSize> plain;
  std::copy(header.begin(), header.end(), plain.begin());
  Decrypt(plain.data(), plain.size());
  if (flags & 0x0008) {
    if (streamed == StreamedHeaderCheck::TimeHighByte) return plain[11] == static_cast<uint8_t>(dosTime >> 8);
    return LoadLe16(plain.data() + 10) == dosTime;
  }
  return plain[11] == static_cast<uint8_t>(crc32 >> 24);
}

void EncryptBytes(ZipCipher& cipher, uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    uint8_t plain = data[i];
    data[i] = static_cast<uint8_t>(plain ^ cipher.DecryptByte());
    cipher.UpdateKeys(plain);
  }
}

}  // namespace quindo
