// The ZIP reader over archives made by other tools (../shared/corpus). The
// oracle is each archive's central directory, which the reader never reads:
// every extracted file's CRC-32 must be one the directory lists.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "app/path_utils.h"
#include "common/crc32.h"
#include "tests/support/test_support.h"
#include "tests/unit/zip_fixture.h"
#include "zip/zip_reader.h"

namespace quindo {
namespace {

namespace fs = std::filesystem;

struct DirectoryEntry {
  std::string name;
  uint32_t crc;
  uint16_t method;
  uint16_t flags;
};

uint32_t At16(const std::string& d, size_t p) {
  return static_cast<uint8_t>(d[p]) | (static_cast<uint8_t>(d[p + 1]) << 8);
}
uint32_t At32(const std::string& d, size_t p) { return At16(d, p) | (At16(d, p + 2) << 16); }

// The central directory found through the end record; empty when there is
// none to be found.
std::vector<DirectoryEntry> CentralDirectory(const std::string& d) {
  std::vector<DirectoryEntry> out;
  size_t eocd = d.rfind(std::string("PK\x05\x06", 4));
  if (eocd == std::string::npos || eocd + 22 > d.size()) return out;
  const size_t count = At16(d, eocd + 10), size = At32(d, eocd + 12);
  if (size > eocd) return out;
  size_t p = eocd - size;
  for (size_t i = 0; i < count && p + 46 <= d.size() && d.compare(p, 4, "PK\x01\x02") == 0; ++i) {
    DirectoryEntry e;
    e.flags = static_cast<uint16_t>(At16(d, p + 8));
    e.method = static_cast<uint16_t>(At16(d, p + 10));
    e.crc = At32(d, p + 16);
    const size_t n = At16(d, p + 28), x = At16(d, p + 30), c = At16(d, p + 32);
    e.name = d.substr(p + 46, n);
    out.push_back(e);
    p += 46 + n + x + c;
  }
  return out;
}

bool IsFolder(const DirectoryEntry& e) { return !e.name.empty() && (e.name.back() == '/' || e.name.back() == '\\'); }

std::vector<std::string> Archives(const std::string& folder) {
  std::vector<std::string> out;
  const std::string corpus = test::CorpusDir();
  std::error_code ec;
  for (const auto& entry : fs::recursive_directory_iterator(corpus + "/" + folder, ec))
    if (entry.is_regular_file() && entry.path().filename() != "README.md" && entry.path().filename() != "README")
      out.push_back(entry.path().string());
  std::sort(out.begin(), out.end());
  return out;
}

class ZipCorpus : public ::testing::Test {
 protected:
  void SetUp() override {
    if (test::CorpusDir().empty()) GTEST_SKIP() << "the archive corpus (../shared/corpus) is absent";
    BuildLeadByteTable();
  }
  // Extracts into memory; answers Extract's verdict.
  bool Extract(const std::string& path, test::MemoryTarget& target, ZipReader& reader) {
    data = test::ReadFile(path);
    return test::ExtractInMemory(reader, data, target);
  }
  // Every extracted file's CRC is listed by the directory for a member of
  // one of `methods`, and every such member came out.
  void ExpectCrcsMatch(const test::MemoryTarget& target, std::initializer_list<uint16_t> methods, const std::string& what) {
    std::vector<uint32_t> expected, got;
    for (const DirectoryEntry& e : CentralDirectory(data))
      if (!IsFolder(e) && std::find(methods.begin(), methods.end(), e.method) != methods.end()) expected.push_back(e.crc);
    for (const auto& [name, bytes] : target.files) got.push_back(Crc32(bytes.data(), bytes.size()));
    for (uint32_t crc : expected) {
      auto it = std::find(got.begin(), got.end(), crc);
      EXPECT_NE(it, got.end()) << what << ": no extracted file has CRC " << std::hex << crc;
      if (it != got.end()) got.erase(it);
    }
  }
  test::ScopedUi ui;
  std::string data;
};

TEST_F(ZipCorpus, NamesAndMiscArchivesExtractIntact) {
  for (const std::string folder : {"zip-names", "zip-misc"}) {
    for (const std::string& path : Archives(folder)) {
      const std::string name = fs::path(path).filename().string();
      ZipReader reader;
      test::MemoryTarget target;
      if (name == "libarchive-malformed1.zip") {
        std::string bytes = test::ReadFile(path);
        MemorySource source({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
        EXPECT_FALSE(reader.ProbeData({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}, source));
        continue;
      }
      EXPECT_TRUE(Extract(path, target, reader)) << name;
      EXPECT_FALSE(target.files.empty()) << name;
      ExpectCrcsMatch(target, {0, 8}, name);
    }
  }
}

TEST_F(ZipCorpus, AnExecutableWithAZipAppendedIsAnArchive) {
  const std::string path = test::CorpusDir() + "/zip-misc/libarchive-sfx.exe";
  std::string bytes = test::ReadFile(path);
  ZipReader reader;
  MemorySource source({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
  EXPECT_TRUE(reader.ProbeData({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}, source));
  test::MemoryTarget target;
  EXPECT_TRUE(Extract(path, target, reader));
  EXPECT_EQ(target.files.count("build.sh"), 1u);
}

TEST_F(ZipCorpus, JapaneseNamesComeOutReadable) {
  if (SystemCodePage().Id() != CodePageId::Utf8) GTEST_SKIP() << "names are checked as UTF-8";
  const std::string sep(1, platform::kPathSeparator);
  struct Case {
    const char* archive;
    std::string member;
  } cases[] = {
      {"zip-names/7zip-old7z_cp932.zip", "こんにちは世界.txt"},
      {"zip-names/7zip-old7z_cp932.zip", "你好世界.txt"},
      {"zip-names/7zip-new7z_cp932.zip", "src" + sep + "こんにちは世界.txt"},
      {"zip-names/libarchive-filename_cp932.zip", "表だよ" + sep + "一覧表.txt"},
      {"zip-names/libarchive-filename_cp932.zip", "表だよ" + sep + "漢字.txt"},
      {"zip-names/libarchive-filename_utf8_jp.zip", "表だよ" + sep + "漢字.txt"},
  };
  for (const Case& c : cases) {
    ZipReader reader;
    test::MemoryTarget target;
    EXPECT_TRUE(Extract(test::CorpusDir() + "/" + c.archive, target, reader));
    EXPECT_EQ(target.files.count(c.member), 1u) << c.archive << " " << c.member;
  }
}

TEST_F(ZipCorpus, ShiftJisNamesReachTheFileSystemConverted) {
  test::ScratchDir dir;
  const std::string before = platform::GetCurrentDirectory();
  ASSERT_TRUE(platform::SetCurrentDirectory(dir.path()));
  ZipReader reader;
  const bool ok = reader.Extract(test::CorpusDir() + "/zip-names/libarchive-filename_cp932.zip", dir.path());
  platform::SetCurrentDirectory(before);
  EXPECT_TRUE(ok);
  if (SystemCodePage().Id() == CodePageId::Utf8) {
    EXPECT_EQ(test::ListTree(dir.path()),
              (std::vector<std::string>{"表だよ/", "表だよ/一覧表.txt", "表だよ/漢字.txt"}));
    EXPECT_EQ(test::ReadFile(dir / "表だよ/漢字.txt").size(), 5u);
  }
}

TEST_F(ZipCorpus, StoredAndDeflatedLegacyMembersExtractIntact) {
  for (const std::string& path : Archives("zip-legacy")) {
    ZipReader reader;
    test::MemoryTarget target;
    const bool ok = Extract(path, target, reader);
    const std::string name = fs::path(path).filename().string();
    ExpectCrcsMatch(target, {0, 8}, name);
    if (name.rfind("PKZ204", 0) == 0) EXPECT_TRUE(ok) << name;
  }
}

TEST_F(ZipCorpus, TraditionalEncryptionOpensWithOnePrompt) {
  ZipReader reader;
  test::MemoryTarget target;
  ui.ui.passwords = {"12345678"};
  EXPECT_TRUE(Extract(test::CorpusDir() + "/zip-crypt/libarchive-traditional_encryption_data.zip", target, reader));
  EXPECT_EQ(ui.ui.passwordPrompts, 1);
  EXPECT_EQ(target.files.size(), 2u);
  ExpectCrcsMatch(target, {8}, "traditional_encryption_data");
}

TEST_F(ZipCorpus, UnknownPasswordsAndStrongEncryptionEndCleanly) {
  {
    ZipReader reader;
    test::MemoryTarget target;
    ui.ui.passwords = {"a", "b", "c"};
    EXPECT_FALSE(Extract(test::CorpusDir() + "/zip-crypt/commons-password-encrypted.zip", target, reader));
    EXPECT_EQ(ui.ui.passwordPrompts, 3);
    EXPECT_TRUE(target.files.empty());
    EXPECT_FALSE(reader.cancelRequested);
  }
  for (const char* name : {"libarchive-encryption_data.zip", "libarchive-encryption_header.zip",
                           "libarchive-encryption_partially.zip"}) {
    ZipReader reader;
    test::MemoryTarget target;
    ui.ui.passwordPrompts = 0;
    EXPECT_FALSE(Extract(test::CorpusDir() + "/zip-crypt/" + name, target, reader)) << name;
    EXPECT_EQ(ui.ui.passwordPrompts, 0) << name;
    for (const auto& [file, bytes] : target.files) EXPECT_EQ(file, "bar.txt") << name;  // the one plain member
  }
}

}  // namespace
}  // namespace quindo
