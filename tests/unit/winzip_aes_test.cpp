// WinZip AES members made by 7-Zip at every key size, deflated and stored,
// through the reader: decrypted and authenticated under one prompt; wrong
// passwords and damaged data or codes.
#include "zip/winzip_aes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>

#include "tests/support/test_support.h"
#include "tests/support/walk_fixture.h"
#include "tests/support/zip_fixture.h"

namespace quindo {
namespace {

using Files = std::map<std::string, std::string>;
using Outcomes = std::map<std::string, MemberOutcome>;
constexpr const char* kPassword = "Pa55-word";

class WinZipAes : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const test::ScratchDir dir;
    files_ = {{"text.txt", test::Text(200000)}, {"small.txt", "short"}, {"noise.bin", test::Noise(70001, 9)}};
    for (const auto& [name, data] : files_) test::WriteFile(dir / name, data);
    for (const std::string strength : {"AES128", "AES192", "AES256"}) {
      const std::string command = "cd '" + dir.path() + "' && 7z a -tzip " + strength + ".zip -mem=" + strength +
                                  " -p" + kPassword + " text.txt small.txt noise.bin >/dev/null 2>&1";
      EXPECT_EQ(std::system(command.c_str()), 0) << command;
      archives_[strength] = test::ReadFile(dir / (strength + ".zip"));
    }
  }
  // The files written, the members that did not come out, and the prompts.
  static std::tuple<Files, Outcomes, size_t> Extract(const std::string& zip, std::deque<std::string> answers) {
    test::MemoryTree tree;
    test::ScriptedHost host;
    host.passwords = std::move(answers);
    const Outcomes outcomes = test::ExtractInto(zip, tree, host).Outcomes();
    return {tree.files, outcomes, host.prompts.size()};
  }

  static inline Files files_;
  static inline std::map<std::string, std::string> archives_;  // by key size
};

TEST_F(WinZipAes, EveryKeySizeDecryptsDeflatedAndStoredMembers) {
  uint8_t strength = 0;
  for (const auto& [name, zip] : archives_) {
    SCOPED_TRACE(name);
    ++strength;
    std::map<std::string, int> methods;
    for (const test::DirectoryEntry& m : test::Directory(zip)) {
      const auto info = ParseAesExtra(test::Bytes(m.extra));
      ASSERT_TRUE(info) << m.name;
      EXPECT_EQ(std::make_tuple(m.method, m.flags & 1, info->strength), std::make_tuple(kAesMethod, 1, strength));
      methods[m.name] = info->method;
    }
    EXPECT_EQ(std::make_pair(methods["text.txt"], methods["small.txt"]), std::make_pair(8, 0));
    EXPECT_EQ(Extract(zip, {kPassword}), std::make_tuple(files_, Outcomes{}, size_t{1}));
  }
}

TEST_F(WinZipAes, WrongPasswordsAndDamageAreFound) {
  for (const auto& [name, zip] : archives_) {
    SCOPED_TRACE(name);
    // A wrong password fails the verifier, or (one time in 65,536) passes it
    // and then fails the code.
    const auto [files, outcomes, prompts] = Extract(zip, {"pa55-word", "Pa55-word ", ""});
    EXPECT_EQ(std::make_pair(files, prompts), std::make_pair(Files{}, size_t{3}));
    // The data or the authentication code after it changed: that member
    // alone is damaged.
    const std::string data = test::Directory(zip).at(0).data;
    const std::string first = test::Directory(zip).at(0).name;
    for (const size_t at : {data.size() / 2, data.size() - 1}) {
      std::string damaged = zip;
      damaged[zip.find(data) + at] ^= 0x10;
      Files intact = files_;
      intact.erase(first);
      EXPECT_EQ(Extract(damaged, {kPassword}),
                std::make_tuple(intact, Outcomes{{first, MemberOutcome::Damaged}}, size_t{1}));
    }
  }
}

}  // namespace
}  // namespace quindo
