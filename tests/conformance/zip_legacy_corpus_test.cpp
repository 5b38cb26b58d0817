// Every member of the PKZIP 1.x archives in the corpus decodes to its
// declared size with the CRC-32 the directory lists. The members are found
// by a small directory walk of the test's own, so the decoders are checked
// apart from the archive reader (cut short, a member fails its size and
// CRC there; hostile streams: legacy_methods_test and the fuzz target).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/crc32.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_fixture.h"
#include "zip/legacy_methods.h"

namespace quindo {
namespace {

namespace fs = std::filesystem;

using Member = test::DirectoryEntry;

// The PKZIP 1.x members in directory order.
std::vector<Member> LegacyMembers(const std::string& file) {
  std::vector<Member> members =
      test::Directory(test::ReadFile((fs::path(test::CorpusDir()) / "zip-legacy" / file).string()));
  std::erase_if(members, [](const Member& m) { return m.method < 1 || m.method > 6; });
  return members;
}

test::Decoded DecodeMember(const Member& m) {
  return test::DecodeLegacy(m.method, m.data, m.size, static_cast<uint32_t>(m.data.size()), m.flags);
}

uint32_t Crc(const std::string& s) { return Crc32(s.data(), s.size()); }

// A method, with Implode's dictionary and tree flags, as a readable key.
std::string Kind(const Member& m) {
  if (m.method == 1) return "shrink";
  if (m.method <= 5) return "reduce" + std::to_string(m.method - 1);
  return std::string("implode") + ((m.flags & 2) ? "8K" : "4K") + ((m.flags & 4) ? "3" : "2");
}

class ZipLegacyCorpus : public ::testing::Test {
 protected:
  void SetUp() override {
    if (test::CorpusDir().empty()) GTEST_SKIP() << "the archive corpus (../shared/corpus) is absent";
  }
};

TEST_F(ZipLegacyCorpus, EveryMemberMatchesItsCrc) {
  std::map<std::string, int> decodedByKind;
  for (const auto& entry : fs::recursive_directory_iterator(fs::path(test::CorpusDir()) / "zip-legacy")) {
    if (!entry.is_regular_file()) continue;
    const std::string file = fs::relative(entry.path(), fs::path(test::CorpusDir()) / "zip-legacy").string();
    for (const Member& m : LegacyMembers(file)) {
      SCOPED_TRACE(file + ": " + m.name);
      ASSERT_EQ(m.flags & 1, 0) << "encrypted members are tested apart";
      const test::Decoded out = DecodeMember(m);
      EXPECT_EQ(std::make_tuple(out.result, out.text.size(), Crc(out.text)),
                std::make_tuple(DecodeResult::Ok, size_t{m.size}, m.crc));
      EXPECT_LE(out.largestChunk, 16384u);
      ++decodedByKind[Kind(m)];
    }
  }
  // Each method and variant that the corpus is meant to hold was met.
  for (const char* kind : {"shrink", "reduce1", "reduce2", "reduce3", "reduce4", "implode4K2", "implode8K3"})
    EXPECT_GT(decodedByKind[kind], 0) << kind;
}

}  // namespace
}  // namespace quindo
