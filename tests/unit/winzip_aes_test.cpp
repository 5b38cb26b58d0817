// WinZip AES members made by 7-Zip at every key size, deflated and stored,
// decrypted and authenticated; wrong passwords, damaged and cut data.
#include "zip/winzip_aes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

#include "tests/support/test_support.h"
#include "tests/support/zip_fixture.h"
#include "zip/inflate64.h"

namespace quindo {
namespace {

using Member = test::DirectoryEntry;

std::span<const uint8_t> Span(const std::string& s) { return test::Bytes(s); }

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

bool Authentic(AesDecryptor& aes, const std::string& code) { return aes.Authentic(Span(code).first<kAesAuthCodeSize>()); }

// Decrypts in pieces of `piece` bytes; nullopt when the password is refused.
std::optional<std::string> Decrypt(const AesInfo& info, const Sealed& s, std::string_view password, bool& authentic,
                                   size_t piece = SIZE_MAX) {
  AesDecryptor aes;
  if (!Open(aes, info, s, password)) return std::nullopt;
  std::string plain = s.data;
  for (size_t at = 0; at < plain.size(); at += piece)
    aes.Decrypt(reinterpret_cast<uint8_t*>(plain.data()) + at, std::min(piece, plain.size() - at));
  authentic = Authentic(aes, s.code);
  return plain;
}

class WinZipAes : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::ScratchDir;
    files_ = {{"text.txt", test::Text(200000)}, {"small.txt", "short"}, {"noise.bin", test::Noise(70001, 9)}};
    for (const auto& [name, data] : files_) test::WriteFile(*dir_ / name, data);
    for (const std::string strength : {"AES128", "AES192", "AES256"}) {
      const std::string command = "cd '" + dir_->path() + "' && 7z a -tzip " + strength + ".zip -mem=" + strength +
                                  " -p" + kPassword + " text.txt small.txt noise.bin >/dev/null 2>&1";
      EXPECT_EQ(std::system(command.c_str()), 0) << command;
      for (Member& m : test::Directory(test::ReadFile(*dir_ / (strength + ".zip")))) archives_[strength][m.name] = m;
    }
  }
  static void TearDownTestSuite() { delete dir_; }
  // A member's plain data, inflated when it was deflated.
  static std::optional<std::string> Plain(const AesInfo& info, const std::string& data, const std::string& name) {
    return info.method == 8 ? test::RawInflate(data, files_[name].size()) : data;
  }

  static constexpr const char* kPassword = "Pa55-word";
  static inline test::ScratchDir* dir_;
  static inline std::map<std::string, std::string> files_;
  static inline std::map<std::string, std::map<std::string, Member>> archives_;  // by name
};

TEST_F(WinZipAes, EveryKeySizeDecryptsDeflatedAndStoredMembers) {
  int strength = 0;
  for (const auto& [name, members] : archives_) {
    SCOPED_TRACE(name);
    ++strength;
    ASSERT_EQ(members.size(), 3u);
    for (const auto& [_, m] : members) {
      SCOPED_TRACE(m.name);
      EXPECT_EQ(std::make_tuple(m.method, m.flags & 1), std::make_tuple(kAesMethod, 1));
      auto info = ParseAesExtra(Span(m.extra));
      ASSERT_TRUE(info);
      EXPECT_EQ(info->strength, strength);
      // AE-2 members (what 7-Zip writes) carry no CRC.
      if (!info->CrcStored()) {
        EXPECT_EQ(m.crc, 0u);
      }
      for (size_t piece : {SIZE_MAX, size_t{1}, size_t{4097}}) {
        bool authentic = false;
        auto plain = Decrypt(*info, Split(*info, m.data), kPassword, authentic, piece);
        ASSERT_TRUE(plain);
        EXPECT_TRUE(authentic);
        EXPECT_EQ(Plain(*info, *plain, m.name), files_[m.name]) << "method " << info->method;
      }
    }
    EXPECT_EQ(ParseAesExtra(Span(members.at("text.txt").extra))->method, 8);
    EXPECT_EQ(ParseAesExtra(Span(members.at("small.txt").extra))->method, 0);
  }
}

TEST_F(WinZipAes, WrongPasswordsAndDamageAreFound) {
  for (const auto& [name, members] : archives_) {
    SCOPED_TRACE(name);
    const Member& m = members.at("text.txt");
    auto info = ParseAesExtra(Span(m.extra));
    ASSERT_TRUE(info);
    const Sealed s = Split(*info, m.data);

    // A wrong password fails the verifier, or (one time in 65,536) passes it
    // and then fails the code.
    for (const char* wrong : {"pa55-word", "Pa55-word ", ""}) {
      bool authentic = true;
      if (Decrypt(*info, s, wrong, authentic)) {
        EXPECT_FALSE(authentic) << "the wrong password \"" << wrong << "\" passed the verifier and the code";
      }
    }
    Sealed changedData = s, changedCode = s, shortData = s;
    changedData.data[s.data.size() / 2] ^= 0x10;
    changedCode.code[9] ^= 1;
    shortData.data.pop_back();
    for (const Sealed* damaged : {&changedData, &changedCode, &shortData}) {
      bool authentic = true;
      ASSERT_TRUE(Decrypt(*info, *damaged, kPassword, authentic));
      EXPECT_FALSE(authentic) << damaged - &changedData;
    }

    // The salt must have the key size's length; the verifier follows it.
    AesInfo other = *info;
    other.strength = static_cast<uint8_t>(info->strength % 3 + 1);
    AesDecryptor aes;
    EXPECT_FALSE(Open(aes, other, s, kPassword));
    EXPECT_FALSE(Authentic(aes, s.code)) << "an unopened decryptor vouches for nothing";
    // One decryptor opens member after member.
    ASSERT_TRUE(Open(aes, *info, s, kPassword));
    ASSERT_TRUE(Open(aes, *info, s, kPassword));
    std::string plain = s.data;
    aes.Decrypt(reinterpret_cast<uint8_t*>(plain.data()), plain.size());
    EXPECT_TRUE(Authentic(aes, s.code));
    EXPECT_EQ(Plain(*info, plain, "text.txt"), files_["text.txt"]);
  }
}

}  // namespace
}  // namespace quindo
