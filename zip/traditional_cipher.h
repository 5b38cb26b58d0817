#pragma once
// The traditional PKWARE stream cipher of encrypted ZIP members: three keys
// advanced by every plain byte, a 12-byte header in front of the data that
// tells whether a password is right.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace quindo {

constexpr size_t kEncryptionHeaderSize = 12;

// How much of a streamed member's header the password check compares.
enum class StreamedHeaderCheck {
  TimeBothBytes,  // bytes 10 and 11 hold the whole DOS time
  TimeHighByte,   // byte 11 alone holds its top byte: members written from a
                  // pipe by 7-Zip, whose byte 10 is random
};

class ZipCipher {
 public:
  // Starts the keys over and feeds them the password's bytes as typed.
  void Reset(std::string_view password);
  uint8_t DecryptByte() const;
  void UpdateKeys(uint8_t plain);
  // Deciphers bytes in place, in order.
  void Decrypt(uint8_t* data, size_t size);
  void Decrypt(std::span<uint8_t> data) { Decrypt(data.data(), data.size()); }
  // Resets the keys with the password and deciphers the member's 12-byte
  // header. With a data descriptor (flag bit 3) bytes 10 and 11 must hold the
  // DOS modification time, otherwise byte 11 the top byte of the CRC-32.
  // True when the password opens the member; the keys then stand at its first
  // data byte. `streamed` applies only with flag bit 3; the reader passes
  // TimeHighByte for a member that really is streamed (sizes only in its data
  // descriptor), one check byte as unzip and 7-Zip take it.
  bool CheckHeader(std::string_view password, std::span<const uint8_t, kEncryptionHeaderSize> header,
                   uint16_t flags, uint32_t crc32, uint16_t dosTime,
                   StreamedHeaderCheck streamed = StreamedHeaderCheck::TimeBothBytes);

  uint32_t key0 = 0, key1 = 0, key2 = 0;
};

// Enciphers in place with an already reset cipher (tests build archives with it).
void EncryptBytes(ZipCipher& cipher, uint8_t* data, size_t size);

}  // namespace quindo
