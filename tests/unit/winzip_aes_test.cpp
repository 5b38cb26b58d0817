// WinZip AES members made by 7-Zip at every key size, deflated and stored,
// decrypted and authenticated; wrong passwords, damaged and cut data; the
// extra field's record in all its forms.
#include "zip/winzip_aes.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <map>
#include <optional>
#include <string>

#include "tests/unit/local_members.h"
#include "zip/inflate64.h"

namespace quindo {
namespace {

using test::LocalMember;

std::span<const uint8_t> Span(const std::string& s) { return test::Bytes(s); }

std::optional<std::string> RawInflate(const std::string& stream) {
  std::string out;
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return std::nullopt;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.data()));
  z.avail_in = static_cast<uInt>(stream.size());
  int rc = Z_OK;
  char buffer[65536];
  while (rc == Z_OK) {
    z.next_out = reinterpret_cast<Bytef*>(buffer);
    z.avail_out = sizeof buffer;
    rc = inflate(&z, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - z.avail_out);
  }
  inflateEnd(&z);
  if (rc != Z_STREAM_END) return std::nullopt;
  return out;
}

// A member's data taken apart: salt, verifier, encrypted data, code.
struct Sealed {
  std::string salt, verifier, data, code;
};

Sealed Split(const AesInfo& info, const std::string& stored) {
  Sealed s;
  if (stored.size() < info.Overhead()) return s;
  s.salt = stored.substr(0, info.SaltSize());
  s.verifier = stored.substr(info.SaltSize(), kAesVerifierSize);
  s.data = stored.substr(info.SaltSize() + kAesVerifierSize, stored.size() - info.Overhead());
  s.code = stored.substr(stored.size() - kAesAuthCodeSize);
  return s;
}

bool Open(AesDecryptor& aes, const AesInfo& info, const Sealed& s, std::string_view password) {
  return aes.Open(info, password, Span(s.salt), Span(s.verifier).first<kAesVerifierSize>());
}

bool Authentic(AesDecryptor& aes, const std::string& code) {
  return aes.Authentic(Span(code).first<kAesAuthCodeSize>());
}

// Decrypts in pieces of `piece` bytes; nullopt when the password is refused.
std::optional<std::string> Decrypt(const AesInfo& info, const Sealed& s, std::string_view password,
                                   bool* authentic = nullptr, size_t piece = SIZE_MAX) {
  AesDecryptor aes;
  if (!Open(aes, info, s, password)) return std::nullopt;
  std::string plain = s.data;
  for (size_t at = 0; at < plain.size(); at += piece)
    aes.Decrypt(reinterpret_cast<uint8_t*>(plain.data()) + at, std::min(piece, plain.size() - at));
  bool ok = Authentic(aes, s.code);
  if (authentic) *authentic = ok;
  return plain;
}

class WinZipAes : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::ScratchDir;
    std::string text;
    for (int i = 0; text.size() < 200000; ++i) text += "entry " + std::to_string(i * 613 % 4099) + "\n";
    files_ = {{"text.txt", text}, {"small.txt", "short"}, {"noise.bin", test::Noise(70001, 9)}};
    for (const auto& [name, data] : files_) test::WriteFile(*dir_ / name, data);
    for (const char* strength : {"AES128", "AES192", "AES256"})
      archives_[strength] = test::LocalMembers(
          test::SevenZip(*dir_, std::string("-mem=") + strength + " -p" + kPassword + " text.txt small.txt noise.bin"));
  }
  static void TearDownTestSuite() { delete dir_; }

  static constexpr const char* kPassword = "Pa55-word";
  static inline test::ScratchDir* dir_;
  static inline std::map<std::string, std::string> files_;
  static inline std::map<std::string, std::vector<LocalMember>> archives_;
};

TEST_F(WinZipAes, EveryKeySizeDecryptsDeflatedAndStoredMembers) {
  int strength = 0;
  for (const auto& [name, members] : archives_) {
    SCOPED_TRACE(name);
    ++strength;
    ASSERT_EQ(members.size(), 3u);
    for (const LocalMember& m : members) {
      SCOPED_TRACE(m.name);
      EXPECT_EQ(m.method, kAesMethod);
      EXPECT_TRUE(m.flags & 1);
      auto info = ParseAesExtra(Span(m.extra));
      ASSERT_TRUE(info);
      EXPECT_EQ(info->strength, strength);
      Sealed s = Split(*info, m.data);
      for (size_t piece : {SIZE_MAX, size_t{1}, size_t{4095}, size_t{4097}}) {
        bool authentic = false;
        auto plain = Decrypt(*info, s, kPassword, &authentic, piece);
        ASSERT_TRUE(plain);
        EXPECT_TRUE(authentic);
        auto data = info->method == 8 ? RawInflate(*plain) : info->method == 0 ? plain : std::nullopt;
        EXPECT_TRUE(data == files_[m.name]) << "method " << info->method;
      }
      // AE-2 members (what 7-Zip writes) carry no CRC.
      if (!info->CrcStored()) {
        EXPECT_EQ(m.crc, 0u);
      }
    }
    EXPECT_EQ(ParseAesExtra(Span(test::Find(members, "text.txt")->extra))->method, 8);
    EXPECT_EQ(ParseAesExtra(Span(test::Find(members, "small.txt")->extra))->method, 0);
  }
}

TEST_F(WinZipAes, WrongPasswordsAndDamageAreFound) {
  for (const auto& [name, members] : archives_) {
    SCOPED_TRACE(name);
    const LocalMember& m = *test::Find(members, "text.txt");
    auto info = ParseAesExtra(Span(m.extra));
    ASSERT_TRUE(info);
    Sealed s = Split(*info, m.data);

    // A wrong password fails the verifier, or (one time in 65,536) passes it
    // and then fails the code.
    for (const char* wrong : {"pa55-word", "Pa55-word ", ""}) {
      bool authentic = true;
      auto plain = Decrypt(*info, s, wrong, &authentic);
      EXPECT_TRUE(!plain || !authentic) << wrong;
    }

    bool authentic = true;
    Sealed damaged = s;
    damaged.data[damaged.data.size() / 2] ^= 0x10;
    ASSERT_TRUE(Decrypt(*info, damaged, kPassword, &authentic));
    EXPECT_FALSE(authentic) << "a changed data byte";
    damaged = s;
    damaged.code[9] ^= 1;
    ASSERT_TRUE(Decrypt(*info, damaged, kPassword, &authentic));
    EXPECT_FALSE(authentic) << "a changed code";
    damaged = s;
    damaged.data.pop_back();
    ASSERT_TRUE(Decrypt(*info, damaged, kPassword, &authentic));
    EXPECT_FALSE(authentic) << "data one byte short";

    // The salt must have the key size's length; the verifier follows it.
    AesInfo other = *info;
    other.strength = static_cast<uint8_t>(info->strength % 3 + 1);
    AesDecryptor aes;
    EXPECT_FALSE(Open(aes, other, s, kPassword));
    EXPECT_FALSE(Authentic(aes, s.code)) << "an unopened decryptor vouches for nothing";
    uint8_t byte = 0x55;
    aes.Decrypt(&byte, 1);
    EXPECT_EQ(byte, 0x55);
    // One decryptor opens member after member.
    ASSERT_TRUE(Open(aes, *info, s, kPassword));
    ASSERT_TRUE(Open(aes, *info, s, kPassword));
    std::string plain = s.data;
    aes.Decrypt(reinterpret_cast<uint8_t*>(plain.data()), plain.size());
    EXPECT_TRUE(Authentic(aes, s.code));
    EXPECT_TRUE(RawInflate(plain) == files_["text.txt"]);
  }
}

TEST(WinZipAesMemberInput, FeedsADecoderAndChecksTheCodeAtTheEnd) {
  test::ScratchDir dir;
  std::string text;
  for (int i = 0; text.size() < 300000; ++i) text += "record " + std::to_string(i * 389 % 7001) + ";\n";
  test::WriteFile(dir / "t.txt", text);
  for (const char* strength : {"AES128", "AES256"}) {
    SCOPED_TRACE(strength);
    auto members = test::LocalMembers(
        test::SevenZip(dir, std::string("-mm=Deflate64 -mem=") + strength + " -psecret t.txt"));
    ASSERT_EQ(members.size(), 1u);
    auto info = ParseAesExtra(Span(members[0].extra));
    ASSERT_TRUE(info);
    ASSERT_EQ(info->method, 9);
    const std::string& stored = members[0].data;
    const size_t head = info->SaltSize() + kAesVerifierSize, encrypted = stored.size() - info->Overhead();

    // `tail` replaces the stored bytes after the encrypted data.
    auto run = [&](std::string body, std::string tail, DecodeResult expected) {
      AesDecryptor aes;
      Sealed s = Split(*info, stored);
      EXPECT_TRUE(Open(aes, *info, s, "secret"));
      test::StringInput raw(body + tail, 1000);
      AesMemberInput in(raw, aes, encrypted);
      test::StringOutput out;
      EXPECT_EQ(Inflate64(in, out), expected);
      if (expected == DecodeResult::Ok) {
        EXPECT_TRUE(out.text == text);
      }
      return in.Authenticate();
    };
    const std::string body = stored.substr(head, encrypted), code = stored.substr(head + encrypted);
    EXPECT_TRUE(run(body, code, DecodeResult::Ok));
    std::string badCode = code;
    badCode[0] ^= 0x80;
    EXPECT_FALSE(run(body, badCode, DecodeResult::Ok));
    EXPECT_FALSE(run(body, code.substr(0, 9), DecodeResult::Ok)) << "a cut code";
    EXPECT_FALSE(run(body.substr(0, body.size() / 2), "", DecodeResult::Corrupt)) << "cut data";
  }
}

TEST(WinZipAesExtra, RecordIsFoundAndChecked) {
  auto record = [](uint16_t version, std::string vendor, uint8_t strength, uint16_t method, uint16_t size = 7) {
    std::string s;
    AppendLe16(s, kAesExtraId);
    AppendLe16(s, size);
    AppendLe16(s, version);
    s += vendor;
    s += static_cast<char>(strength);
    AppendLe16(s, method);
    return s;
  };
  const std::string timestamp("UT\x05\x00\x01\x00\x00\x00\x00", 9);
  auto info = ParseAesExtra(Span(timestamp + record(1, "AE", 3, 12)));
  ASSERT_TRUE(info);
  EXPECT_EQ(info->vendorVersion, 1);
  EXPECT_TRUE(info->CrcStored());
  EXPECT_EQ(info->method, 12);
  EXPECT_EQ(info->KeySize(), 32u);
  EXPECT_EQ(info->SaltSize(), 16u);
  EXPECT_EQ(info->Overhead(), 28u);
  info = ParseAesExtra(Span(record(2, "AE", 1, 8)));
  ASSERT_TRUE(info);
  EXPECT_FALSE(info->CrcStored());
  EXPECT_EQ(info->KeySize(), 16u);
  EXPECT_EQ(info->Overhead(), 20u);
  EXPECT_EQ(ParseAesExtra(Span(record(2, "AE", 2, 8)))->SaltSize(), 12u);

  EXPECT_FALSE(ParseAesExtra(Span(record(3, "AE", 1, 8))));
  EXPECT_FALSE(ParseAesExtra(Span(record(2, "AX", 1, 8))));
  EXPECT_FALSE(ParseAesExtra(Span(record(2, "AE", 0, 8))));
  EXPECT_FALSE(ParseAesExtra(Span(record(2, "AE", 4, 8))));
  EXPECT_FALSE(ParseAesExtra(Span(record(2, "AE", 1, 8, 6))));
  std::string cut = record(2, "AE", 1, 8);
  EXPECT_FALSE(ParseAesExtra(Span(cut.substr(0, cut.size() - 1)))) << "a record longer than the field";
  EXPECT_FALSE(ParseAesExtra(Span(timestamp)));
  EXPECT_FALSE(ParseAesExtra({}));
}

}  // namespace
}  // namespace quindo
