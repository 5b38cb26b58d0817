// The password check of encrypted members, with the single check byte of
// members 7-Zip streams from a pipe (the names of methods: zip_reader_test).
#include "zip/zip_methods.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "tests/support/zip_fixture.h"
#include "zip/traditional_cipher.h"

namespace quindo {
namespace {

constexpr uint16_t kTime = 0x6D70;
constexpr uint32_t kCrc = 0xA1B2C3D4;
constexpr uint16_t kStreamed = 0x0009, kSized = 0x0001;

// A 12-byte header as an encrypting tool writes it, with the two given
// check bytes, and the data after it, all encrypted with `password`.
std::string Encrypted(std::string_view password, uint8_t check10, uint8_t check11, const std::string& data) {
  std::string plain = "\x11\x22\x33\x44\x55\x66\x77\x88\x99\xAA";
  plain += static_cast<char>(check10);
  plain += static_cast<char>(check11);
  plain += data;
  ZipCipher cipher;
  cipher.Reset(password);
  EncryptBytes(cipher, reinterpret_cast<uint8_t*>(plain.data()), plain.size());
  return plain;
}

bool Check(ZipCipher& cipher, std::string_view password, const std::string& member, uint16_t flags,
           StreamedHeaderCheck streamed) {
  auto header = test::Bytes(member).first<kEncryptionHeaderSize>();
  return cipher.CheckHeader(password, header, flags, kCrc, kTime, streamed);
}

TEST(TraditionalCipher, StreamedMembersMayCarryOneCheckByte) {
  using enum StreamedHeaderCheck;
  ZipCipher cipher;
  const std::string both = Encrypted("pw", kTime & 0xFF, kTime >> 8, "data");
  const std::string high = Encrypted("pw", 0x5A, kTime >> 8, "data");
  EXPECT_TRUE(Check(cipher, "pw", both, kStreamed, TimeBothBytes));
  EXPECT_TRUE(Check(cipher, "pw", both, kStreamed, TimeHighByte));
  EXPECT_FALSE(Check(cipher, "pw", high, kStreamed, TimeBothBytes));
  ASSERT_TRUE(Check(cipher, "pw", high, kStreamed, TimeHighByte));
  std::string data = high.substr(kEncryptionHeaderSize);
  cipher.Decrypt(reinterpret_cast<uint8_t*>(data.data()), data.size());
  EXPECT_EQ(data, "data") << "the keys stand at the first data byte";
  EXPECT_FALSE(Check(cipher, "pw", Encrypted("pw", kTime & 0xFF, 0x5A, ""), kStreamed, TimeHighByte));
  EXPECT_FALSE(Check(cipher, "pW", high, kStreamed, TimeHighByte));
  // A member with its sizes in the header keeps the CRC byte, whatever the
  // reader passes.
  EXPECT_TRUE(Check(cipher, "pw", Encrypted("pw", 0, kCrc >> 24, ""), kSized, TimeHighByte));
  EXPECT_FALSE(Check(cipher, "pw", high, kSized, TimeHighByte));
  std::array<uint8_t, kEncryptionHeaderSize> header;
  std::copy_n(both.begin(), kEncryptionHeaderSize, header.begin());
  EXPECT_TRUE(cipher.CheckHeader("pw", header, kStreamed, kCrc, kTime)) << "the call without the option";
}

}  // namespace
}  // namespace quindo
