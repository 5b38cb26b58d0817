// Every member of the PKZIP 1.x archives in the corpus decodes to its
// declared size with the CRC-32 its local header stores. The members are
// found by a small local-header walk of the test's own, so the decoders are
// checked apart from the archive reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/crc32.h"
#include "common/little_endian.h"
#include "tests/support/test_support.h"
#include "zip/legacy_methods.h"

namespace quindo {
namespace {

namespace fs = std::filesystem;

struct Member {
  std::string name;
  uint16_t flags = 0, method = 0;
  uint32_t crc = 0, compressedSize = 0, uncompressedSize = 0;
  std::string data;
};

// The members in file order, from their local headers.
std::vector<Member> LocalMembers(const std::string& archive) {
  std::vector<Member> members;
  size_t at = 0;
  while ((at = archive.find("PK\x03\x04", at)) != std::string::npos && at + 30 <= archive.size()) {
    auto p = reinterpret_cast<const uint8_t*>(archive.data()) + at;
    Member m;
    m.flags = LoadLe16(p + 6);
    m.method = LoadLe16(p + 8);
    m.crc = LoadLe32(p + 14);
    m.compressedSize = LoadLe32(p + 18);
    m.uncompressedSize = LoadLe32(p + 22);
    size_t nameLength = LoadLe16(p + 26), extraLength = LoadLe16(p + 28);
    size_t data = at + 30 + nameLength + extraLength;
    if (data + m.compressedSize > archive.size()) break;
    m.name = archive.substr(at + 30, nameLength);
    m.data = archive.substr(data, m.compressedSize);
    members.push_back(std::move(m));
    at = data + members.back().compressedSize;
  }
  return members;
}

class BufferInput final : public ZipMemberInput {
 public:
  explicit BufferInput(const std::string& bytes) : bytes_(bytes) {}
  size_t Read(uint8_t* buffer, size_t size) override {
    size_t n = std::min(size, bytes_.size() - pos_);
    std::copy_n(bytes_.data() + pos_, n, reinterpret_cast<char*>(buffer));
    pos_ += n;
    return n;
  }

 private:
  const std::string& bytes_;
  size_t pos_ = 0;
};

class CrcOutput final : public ZipMemberOutput {
 public:
  bool Write(const uint8_t* data, size_t size) override {
    crc = Crc32Update(crc, data, size);
    total += size;
    largestChunk = std::max(largestChunk, size);
    return true;
  }
  uint32_t crc = 0;
  uint64_t total = 0;
  size_t largestChunk = 0;
};

DecodeResult DecodeMember(const Member& m, CrcOutput& out) {
  BufferInput in(m.data);
  if (m.method == 1) return Unshrink(in, out, m.uncompressedSize, m.compressedSize);
  if (m.method >= 2 && m.method <= 5)
    return Unreduce(in, out, m.uncompressedSize, m.compressedSize, m.method - 1);
  return Explode(in, out, m.uncompressedSize, m.compressedSize, m.flags);
}

// A method, with Implode's dictionary and tree flags, as a readable key.
std::string Kind(const Member& m) {
  if (m.method == 1) return "shrink";
  if (m.method <= 5) return "reduce" + std::to_string(m.method - 1);
  return std::string("implode") + ((m.flags & 2) ? "8K" : "4K") + ((m.flags & 4) ? "3" : "2");
}

TEST(ZipLegacyCorpus, EveryMemberMatchesItsCrc) {
  std::string corpus = test::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "the archive corpus (../shared/corpus) is absent";
  fs::path root = fs::path(corpus) / "zip-legacy";
  std::vector<fs::path> archives;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) archives.push_back(entry.path());
  }
  std::sort(archives.begin(), archives.end());
  ASSERT_FALSE(archives.empty());

  std::map<std::string, int> decodedByKind;
  for (const fs::path& archive : archives) {
    for (const Member& m : LocalMembers(test::ReadFile(archive.string()))) {
      if (m.method < 1 || m.method > 6) continue;
      SCOPED_TRACE(archive.filename().string() + ": " + m.name);
      ASSERT_EQ(m.flags & 1, 0) << "encrypted members are tested apart";
      CrcOutput out;
      EXPECT_EQ(DecodeMember(m, out), DecodeResult::Ok);
      EXPECT_EQ(out.total, m.uncompressedSize);
      EXPECT_EQ(out.crc, m.crc);
      EXPECT_LE(out.largestChunk, 16384u);
      ++decodedByKind[Kind(m)];
    }
  }
  // Each method and variant that the corpus is meant to hold was met.
  for (const char* kind : {"shrink", "reduce1", "reduce2", "reduce3", "reduce4", "implode4K2",
                           "implode8K3"}) {
    EXPECT_GT(decodedByKind[kind], 0) << kind;
  }
  for (const auto& [kind, count] : decodedByKind) std::printf("%-12s %d members\n", kind.c_str(), count);
}

// Cut short, a member still hands on what it decoded, and reports the loss.
TEST(ZipLegacyCorpus, TruncatedMembersAreCorrupt) {
  std::string corpus = test::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "the archive corpus (../shared/corpus) is absent";
  fs::path root = fs::path(corpus) / "zip-legacy" / "hwzip";
  for (const char* name : {"HWSHRINK.ZIP", "HWREDUCE.ZIP", "HWIMPODE.ZIP"}) {
    for (Member m : LocalMembers(test::ReadFile((root / name).string()))) {
      if (m.method < 1 || m.method > 6 || m.data.size() < 100) continue;
      SCOPED_TRACE(std::string(name) + ": " + m.name);
      m.data.resize(m.data.size() / 2);
      CrcOutput out;
      EXPECT_EQ(DecodeMember(m, out), DecodeResult::Corrupt);
      EXPECT_GT(out.total, 0u);
      EXPECT_LT(out.total, m.uncompressedSize);
    }
  }
}

// The traditional PKWARE stream cipher, as the archive reader runs it in
// front of a decoder.
class TraditionalCipher {
 public:
  explicit TraditionalCipher(const std::string& password) {
    for (char c : password) Update(static_cast<uint8_t>(c));
  }
  uint8_t Encrypt(uint8_t plain) {
    uint8_t cipher = plain ^ KeyStream();
    Update(plain);
    return cipher;
  }
  uint8_t Decrypt(uint8_t cipher) {
    uint8_t plain = cipher ^ KeyStream();
    Update(plain);
    return plain;
  }

 private:
  // One step of the bare CRC-32 register (no inversion).
  static uint32_t CrcStep(uint32_t crc, uint8_t byte) { return ~Crc32Update(~crc, &byte, 1); }
  uint8_t KeyStream() const {
    uint32_t t = (key2_ & 0xFFFF) | 2;
    return static_cast<uint8_t>((t * (t ^ 1)) >> 8);
  }
  void Update(uint8_t plain) {
    key0_ = CrcStep(key0_, plain);
    key1_ = (key1_ + (key0_ & 0xFF)) * 134775813u + 1;
    key2_ = CrcStep(key2_, static_cast<uint8_t>(key1_ >> 24));
  }
  uint32_t key0_ = 0x12345678, key1_ = 0x23456789, key2_ = 0x34567890;
};

// The member's data decrypted byte by byte as the decoder reads it.
class DecryptingInput final : public ZipMemberInput {
 public:
  DecryptingInput(const std::string& bytes, TraditionalCipher& cipher) : inner_(bytes), cipher_(cipher) {}
  size_t Read(uint8_t* buffer, size_t size) override {
    size_t n = inner_.Read(buffer, std::min<size_t>(size, 1000));
    for (size_t i = 0; i < n; ++i) buffer[i] = cipher_.Decrypt(buffer[i]);
    return n;
  }

 private:
  BufferInput inner_;
  TraditionalCipher& cipher_;
};

TEST(ZipLegacyCorpus, EncryptedShrunkMemberDecrypts) {
  std::string corpus = test::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "the archive corpus (../shared/corpus) is absent";
  std::vector<Member> members =
      LocalMembers(test::ReadFile((fs::path(corpus) / "zip-legacy/hwzip/HWSHRINK.ZIP").string()));
  auto shrunk = std::find_if(members.begin(), members.end(), [](const Member& m) { return m.method == 1; });
  ASSERT_NE(shrunk, members.end());

  // Encryption header (its last byte the top of the CRC), then the data.
  std::string plain = "\x11\x22\x33\x44\x55\x66\x77\x88\x99\xAA\xBB";
  plain.push_back(static_cast<char>(shrunk->crc >> 24));
  plain += shrunk->data;
  std::string encrypted;
  TraditionalCipher writer("legacy");
  for (char c : plain) encrypted.push_back(static_cast<char>(writer.Encrypt(static_cast<uint8_t>(c))));
  ASSERT_NE(encrypted.substr(12), shrunk->data);

  auto headerCheck = [&](const std::string& password) {
    TraditionalCipher reader(password);
    uint8_t last = 0;
    for (int i = 0; i < 12; ++i) last = reader.Decrypt(static_cast<uint8_t>(encrypted[i]));
    return last == static_cast<uint8_t>(shrunk->crc >> 24);
  };
  EXPECT_FALSE(headerCheck("legacz"));
  ASSERT_TRUE(headerCheck("legacy"));

  TraditionalCipher reader("legacy");
  for (int i = 0; i < 12; ++i) reader.Decrypt(static_cast<uint8_t>(encrypted[i]));
  std::string data = encrypted.substr(12);
  DecryptingInput in(data, reader);
  CrcOutput out;
  EXPECT_EQ(Unshrink(in, out, shrunk->uncompressedSize, static_cast<uint32_t>(data.size())),
            DecodeResult::Ok);
  EXPECT_EQ(out.total, shrunk->uncompressedSize);
  EXPECT_EQ(out.crc, shrunk->crc);
}

}  // namespace
}  // namespace quindo
