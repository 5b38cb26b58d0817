// The WinZip AES extra record and the decryptor on arbitrary data: the
// extra field, then the member's data (salt, verifier, encrypted bytes,
// code) with a password from the input. A verifier matches by chance one
// time in 65,536; the seeds carry members whose verifier matches, so that
// decryption and the code are reached too.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "common/little_endian.h"
#include "fuzz/legacy_fuzz_input.h"
#include "zip/winzip_aes.h"


extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quindo;
  // Layout: extra length (2), extra field, password length (1), password,
  // the member's data.
  if (size < 3) return 0;
  size_t extraSize = LoadLe16(data);
  if (extraSize > size - 2) return 0;
  std::span<const uint8_t> extra(data + 2, extraSize);
  size_t at = 2 + extraSize;
  if (at >= size) return 0;
  size_t passwordSize = data[at++];
  if (passwordSize > size - at) return 0;
  std::string_view password(reinterpret_cast<const char*>(data + at), passwordSize);
  at += passwordSize;
  std::span<const uint8_t> member(data + at, size - at);

  auto info = ParseAesExtra(extra);
  if (!info) return 0;
  if (info->strength < 1 || info->strength > 3 || info->KeySize() > 32) std::abort();
  if (member.size() < info->Overhead()) return 0;
  AesDecryptor aes;
  auto salt = member.first(info->SaltSize());
  auto verifier = member.subspan(info->SaltSize()).first<kAesVerifierSize>();
  size_t dataSize = member.size() - info->Overhead();
  const uint8_t* encrypted = member.data() + info->SaltSize() + kAesVerifierSize;
  std::vector<uint8_t> plain(encrypted, encrypted + dataSize);
  bool open = aes.Open(*info, password, salt, verifier);
  for (size_t done = 0; done < dataSize;) {
    size_t n = std::min(dataSize - done, done % 3 == 0 ? size_t{37} : size_t{4096});
    aes.Decrypt(plain.data() + done, n);
    done += n;
  }
  if (!open && dataSize != 0 && std::memcmp(plain.data(), encrypted, dataSize) != 0)
    std::abort();  // refused: nothing deciphered
  bool authentic = aes.Authentic(member.last<kAesAuthCodeSize>());
  if (authentic && !open) std::abort();
  if (!open) return 0;

  // The same through the member input, in other pieces: the same bytes and
  // the same verdict.
  AesDecryptor again;
  if (!again.Open(*info, password, salt, verifier)) std::abort();
  MemoryMemberInput raw(encrypted, dataSize + kAesAuthCodeSize, fuzz::kReadPiece);
  AesMemberInput in(raw, again, dataSize);
  uint8_t buffer[1000];
  for (size_t done = 0;;) {
    size_t n = in.Read(buffer, sizeof buffer);
    if (n == 0) break;
    if (done + n > dataSize || std::memcmp(buffer, plain.data() + done, n) != 0) std::abort();
    done += n;
  }
  if (in.Authenticate() != authentic) std::abort();
  return 0;
}
