// The ZIP reader over archives made by other tools (../shared/corpus). The
// oracle is each archive's central directory, which the reader never reads:
// every extracted file's CRC-32 must be one the directory lists.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "app/path_utils.h"
#include "common/crc32.h"
#include "tests/support/test_support.h"
#include "tests/support/walk_fixture.h"
#include "tests/support/zip_fixture.h"
#include "zip/zip_reader.h"
#include "platform/platform.h"

namespace quindo {
namespace {

namespace fs = std::filesystem;

// The CRCs the central directory lists for files of one of `methods`.
std::vector<uint32_t> DirectoryCrcs(const std::string& archive, std::initializer_list<uint16_t> methods) {
  std::vector<uint32_t> out;
  for (const test::DirectoryEntry& e : test::Directory(archive))
    if (!e.name.empty() && e.name.back() != '/' && e.name.back() != '\\' && !(e.external & 0x10) &&
        std::count(methods.begin(), methods.end(), e.method))
      out.push_back(e.crc);
  return out;
}

std::vector<std::string> Archives(const std::string& folder) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& entry : fs::recursive_directory_iterator(test::CorpusDir() + "/" + folder, ec))
    if (entry.is_regular_file() && entry.path().stem() != "README") out.push_back(entry.path().string());
  std::sort(out.begin(), out.end());
  return out;
}

class ZipCorpus : public ::testing::Test {
 protected:
  void SetUp() override {
    if (test::CorpusDir().empty()) GTEST_SKIP() << "the archive corpus (../shared/corpus) is absent";
    BuildLeadByteTable();
  }
  // Extracts into `target`, counting the prompts afresh; answers Extract's
  // verdict. Then every member of `methods` that the directory lists must
  // have come out intact.
  bool Extract(const std::string& path, std::initializer_list<uint16_t> methods = {0, 8}) {
    target = {};
    host.prompts.clear();
    const std::string data = test::ReadFile(path);
    const bool ok = !test::ExtractInto(data, target, host).record.Failed();
    std::vector<uint32_t> got;
    for (const auto& [name, bytes] : target.files) got.push_back(Crc32(bytes.data(), bytes.size()));
    for (uint32_t crc : DirectoryCrcs(data, methods)) {
      auto it = std::find(got.begin(), got.end(), crc);
      EXPECT_NE(it, got.end()) << path << ": no extracted file has CRC " << std::hex << crc;
      if (it != got.end()) got.erase(it);
    }
    return ok;
  }
  int Prompts() const { return static_cast<int>(host.prompts.size()); }
  test::ScriptedHost host;
  test::MemoryTree target;
};

TEST_F(ZipCorpus, NamesAndMiscArchivesExtractIntact) {
  for (const std::string folder : {"zip-names", "zip-misc"}) {
    for (const std::string& path : Archives(folder)) {
      SCOPED_TRACE(path);
      const bool malformed = fs::path(path).filename() == "libarchive-malformed1.zip";
      // The appended ZIP of libarchive-sfx.exe is found too.
      EXPECT_EQ(test::FormatOf(test::ReadFile(path)) == FormatZip, !malformed);
      if (malformed) continue;
      // Headers whose sizes disagree with the data: such a member is
      // reported, never passed off as intact (peers disagree on them too).
      const std::string name = fs::path(path).filename().string();
      if (name == "libarchive-size_exceeds_declared_deflate.zip" || name == "libarchive-size_exceeds_declared_stored.zip" ||
          name == "libarchive-uncompressed_size_off_by_4gib.zip") {
        const test::Extracted r = test::ExtractInto(test::ReadFile(path), target, host);
        EXPECT_TRUE(r.record.Failed());
        continue;
      }
      EXPECT_TRUE(Extract(path));
      EXPECT_FALSE(target.files.empty());
    }
  }
}

TEST_F(ZipCorpus, JapaneseNamesComeOutReadable) {
  if (SystemCodePage().Id() != CodePageId::Utf8) GTEST_SKIP() << "names are checked as UTF-8";
  const std::string sep(1, platform::kPathSeparator);
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"7zip-old7z_cp932.zip", {"こんにちは世界.txt", "你好世界.txt"}},
      {"7zip-new7z_cp932.zip", {"src" + sep + "こんにちは世界.txt"}},
      {"libarchive-filename_cp932.zip", {"表だよ" + sep + "一覧表.txt", "表だよ" + sep + "漢字.txt"}},
      {"libarchive-filename_utf8_jp.zip", {"表だよ" + sep + "漢字.txt"}},
  };
  for (const auto& [archive, members] : cases) {
    EXPECT_TRUE(Extract(test::CorpusDir() + "/zip-names/" + archive));
    for (const std::string& member : members) EXPECT_EQ(target.files.count(member), 1u) << archive << " " << member;
  }
}

}  // namespace
}  // namespace quindo
