#include "zip/winzip_aes.h"

#include <gcrypt.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "common/little_endian.h"

namespace quindo {

namespace {

// libgcrypt must be set up once per process before its first use; the
// keys here need no secure memory.
bool LibraryReady() {
  static const bool ready = [] {
    if (!gcry_check_version(GCRYPT_VERSION)) return false;
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    return true;
  }();
  return ready;
}

gcry_cipher_hd_t Cipher(void* handle) { return static_cast<gcry_cipher_hd_t>(handle); }
gcry_md_hd_t Mac(void* handle) { return static_cast<gcry_md_hd_t>(handle); }

}  // namespace

std::optional<AesInfo> ParseAesExtra(std::span<const uint8_t> extra) {
  size_t at = 0;
  while (extra.size() - at >= 4) {
    uint16_t id = LoadLe16(extra.data() + at), size = LoadLe16(extra.data() + at + 2);
    at += 4;
    if (size > extra.size() - at) break;
    const uint8_t* field = extra.data() + at;
    at += size;
    if (id != kAesExtraId) continue;
    if (size < 7) return std::nullopt;
    AesInfo info;
    info.vendorVersion = LoadLe16(field);
    info.strength = field[4];
    info.method = LoadLe16(field + 5);
    if (field[2] != 'A' || field[3] != 'E') return std::nullopt;
    if (info.vendorVersion != 1 && info.vendorVersion != 2) return std::nullopt;
    if (info.strength < 1 || info.strength > 3) return std::nullopt;
    return info;
  }
  return std::nullopt;
}

AesDecryptor::~AesDecryptor() { Close(); }

void AesDecryptor::Close() {
  if (cipher_) gcry_cipher_close(Cipher(cipher_));
  if (mac_) gcry_md_close(Mac(mac_));
  cipher_ = mac_ = nullptr;
}

bool AesDecryptor::Open(const AesInfo& info, std::string_view password, std::span<const uint8_t> salt,
                        std::span<const uint8_t, kAesVerifierSize> verifier) {
  Close();
  if (!LibraryReady() || info.strength < 1 || info.strength > 3 || salt.size() != info.SaltSize()) return false;
  // Key material: the AES key, the HMAC key of the same size, the verifier.
  const size_t keySize = info.KeySize();
  std::array<uint8_t, 2 * 32 + kAesVerifierSize> keys{};
  const size_t derived = 2 * keySize + kAesVerifierSize;
  // The library refuses an empty passphrase; one zero byte stands in for it
  // (HMAC pads its key with zeros, so both give the same keys).
  const char zero = 0;
  const char* text = password.empty() ? &zero : password.data();
  size_t textSize = password.empty() ? 1 : password.size();
  if (gcry_kdf_derive(text, textSize, GCRY_KDF_PBKDF2, GCRY_MD_SHA1, salt.data(), salt.size(), 1000, derived,
                      keys.data()) != 0)
    return false;
  bool right = std::memcmp(keys.data() + 2 * keySize, verifier.data(), kAesVerifierSize) == 0;
  if (!right) return false;

  static constexpr int kAlgorithms[] = {GCRY_CIPHER_AES128, GCRY_CIPHER_AES192, GCRY_CIPHER_AES256};
  gcry_cipher_hd_t cipher = nullptr;
  gcry_md_hd_t mac = nullptr;
  if (gcry_cipher_open(&cipher, kAlgorithms[info.strength - 1], GCRY_CIPHER_MODE_ECB, 0) != 0) return false;
  cipher_ = cipher;
  if (gcry_cipher_setkey(cipher, keys.data(), keySize) != 0 ||
      gcry_md_open(&mac, GCRY_MD_SHA1, GCRY_MD_FLAG_HMAC) != 0) {
    Close();
    return false;
  }
  mac_ = mac;
  if (gcry_md_setkey(mac, keys.data() + keySize, keySize) != 0) {
    Close();
    return false;
  }
  counterLow_ = counterHigh_ = 0;
  streamPos_ = sizeof stream_;
  return true;
}

void AesDecryptor::NextKeyStream() {
  for (size_t block = 0; block < kStreamBlocks; ++block) {
    if (++counterLow_ == 0) ++counterHigh_;
    uint8_t* p = stream_ + 16 * block;
    for (int i = 0; i < 8; ++i) {
      p[i] = static_cast<uint8_t>(counterLow_ >> (8 * i));
      p[8 + i] = static_cast<uint8_t>(counterHigh_ >> (8 * i));
    }
  }
  if (gcry_cipher_encrypt(Cipher(cipher_), stream_, sizeof stream_, nullptr, 0) != 0) std::memset(stream_, 0, sizeof stream_);
  streamPos_ = 0;
}

void AesDecryptor::Decrypt(uint8_t* data, size_t size) {
  if (!cipher_ || size == 0) return;
  gcry_md_write(Mac(mac_), data, size);
  for (size_t i = 0; i < size;) {
    if (streamPos_ == sizeof stream_) NextKeyStream();
    size_t n = std::min(size - i, sizeof stream_ - streamPos_);
    for (size_t k = 0; k < n; ++k) data[i + k] ^= stream_[streamPos_ + k];
    i += n;
    streamPos_ += n;
  }
}

bool AesDecryptor::Authentic(std::span<const uint8_t, kAesAuthCodeSize> code) {
  if (!mac_) return false;
  const unsigned char* digest = gcry_md_read(Mac(mac_), GCRY_MD_SHA1);
  if (!digest) return false;
  uint8_t difference = 0;
  for (size_t i = 0; i < kAesAuthCodeSize; ++i) difference |= static_cast<uint8_t>(digest[i] ^ code[i]);
  return difference == 0;
}

size_t AesMemberInput::Read(uint8_t* buffer, size_t size) {
  size_t n = raw_.Read(buffer, static_cast<size_t>(std::min<uint64_t>(size, left_)));
  if (n == 0 && size != 0 && left_ != 0) cut_ = true;
  left_ -= n;
  aes_.Decrypt(buffer, n);
  return n;
}

bool AesMemberInput::Authenticate() {
  uint8_t scratch[4096];
  while (left_ > 0 && !cut_) Read(scratch, sizeof scratch);
  if (cut_) return false;
  std::array<uint8_t, kAesAuthCodeSize> code;
  size_t have = 0;
  while (have < code.size()) {
    size_t n = raw_.Read(code.data() + have, code.size() - have);
    if (n == 0) return false;
    have += n;
  }
  return aes_.Authentic(code);
}

}  // namespace quindo
