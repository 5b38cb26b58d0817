#pragma once
// WinZip AES encryption of ZIP members (method 99). The member's extra field
// 0x9901 names the key size and the real method; its data starts with a salt
// and a 2-byte password verifier and ends with a 10-byte authentication code.
// The key comes from PBKDF2-HMAC-SHA1 (1,000 rounds) over the password and
// the salt; the data is AES in counter mode, the counter a little-endian
// number starting at 1; the code is HMAC-SHA1 of the encrypted data, cut to
// its first 10 bytes.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "zip/zip_member_io.h"

namespace quindo {

constexpr uint16_t kAesMethod = 99;
constexpr uint16_t kAesExtraId = 0x9901;
constexpr size_t kAesVerifierSize = 2;
constexpr size_t kAesAuthCodeSize = 10;

struct AesInfo {
  uint16_t vendorVersion = 0;  // 1: AE-1, 2: AE-2
  uint8_t strength = 0;        // 1, 2, 3: AES-128, -192, -256
  uint16_t method = 0;         // the method of the data once decrypted

  size_t KeySize() const { return 8 + 8 * static_cast<size_t>(strength); }
  size_t SaltSize() const { return 4 + 4 * static_cast<size_t>(strength); }
  // What the member's compressed size holds besides the encrypted data:
  // salt, verifier and authentication code.
  size_t Overhead() const { return SaltSize() + kAesVerifierSize + kAesAuthCodeSize; }
  // AE-2 stores 0 for the CRC-32 (the authentication code stands for it);
  // AE-1 stores the real one, to be checked as usual.
  bool CrcStored() const { return vendorVersion == 1; }
};

// The AES record of a member's extra field (all its records, as stored);
// nothing when there is none or it is not one this reader knows (vendor
// "AE", version 1 or 2, strength 1 to 3).
std::optional<AesInfo> ParseAesExtra(std::span<const uint8_t> extra);

class AesDecryptor {
 public:
  AesDecryptor() = default;
  ~AesDecryptor();
  AesDecryptor(const AesDecryptor&) = delete;
  AesDecryptor& operator=(const AesDecryptor&) = delete;

  // Derives the keys for the password (its bytes as given) and the salt of
  // the key size's length. False when the password does not give the
  // verifier (a wrong password, but for one in 65,536), when the salt has the
  // wrong length, or when the library fails; the decryptor is then unusable
  // until the next Open.
  bool Open(const AesInfo& info, std::string_view password, std::span<const uint8_t> salt,
            std::span<const uint8_t, kAesVerifierSize> verifier);

  // Deciphers the member's encrypted bytes in place, in file order, and takes
  // them into the authentication code.
  void Decrypt(uint8_t* data, size_t size);

  // After the last Decrypt: true when the stored code matches the code of all
  // the bytes deciphered; false means damaged data (or a password that
  // passed the verifier by chance).
  bool Authentic(std::span<const uint8_t, kAesAuthCodeSize> code);

 private:
  void Close();
  void NextKeyStream();

  void* cipher_ = nullptr;  // gcry_cipher_hd_t
  void* mac_ = nullptr;     // gcry_md_hd_t
  uint64_t counterLow_ = 0, counterHigh_ = 0;
  static constexpr size_t kStreamBlocks = 256;
  uint8_t stream_[kStreamBlocks * 16];
  size_t streamPos_ = sizeof stream_;
};

// The deciphered data of an opened member for its decoder. `raw` gives the
// member's stored bytes from just after the verifier: `encryptedSize` bytes
// of data (the compressed size less the overhead), then the code.
class AesMemberInput final : public ZipMemberInput {
 public:
  AesMemberInput(ZipMemberInput& raw, AesDecryptor& aes, uint64_t encryptedSize)
      : raw_(raw), aes_(aes), left_(encryptedSize) {}
  size_t Read(uint8_t* buffer, size_t size) override;
  // Takes in what the decoder left of the data, then reads and compares the
  // code. False for damaged or cut data.
  bool Authenticate();

 private:
  ZipMemberInput& raw_;
  AesDecryptor& aes_;
  uint64_t left_;
  bool cut_ = false;
};

}  // namespace quindo
