#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/unit/zip_fixture.h"
#include "zip/deflater.h"

namespace quindo {
namespace {

using Bytes = std::vector<uint8_t>;

struct Result {
  int64_t count = 0;
  Bytes stream, output;
  std::vector<size_t> writes, requests;
  uint16_t flags = 0;
  std::string error;
  size_t readAfterFailure = 0;
};

// Feeds `input` to the compressor; `piece` limits how much one read answers
// (0: as much as asked). After `accepted` writes the sink fails, and fills the
// caller's buffer with 0xEE.
Result Compress(Deflater& deflater, const Bytes& input, int level, size_t piece = 0, size_t accepted = SIZE_MAX) {
  Result r;
  size_t position = 0;
  r.output.resize(Deflater::kOutputBufferSize);
  auto read = [&](uint8_t* buffer, size_t n) -> size_t {
    r.requests.push_back(n);
    size_t take = std::min(n, input.size() - position);
    if (piece != 0) take = std::min(take, piece);
    if (take != 0) std::memcpy(buffer, input.data() + position, take);
    position += take;
    if (r.writes.size() > accepted) r.readAfterFailure += take;
    return take;
  };
  auto write = [&](const uint8_t* bytes, size_t n) -> bool {
    if (r.writes.size() > accepted) ADD_FAILURE() << "write after the sink failed";
    r.writes.push_back(n);
    if (r.writes.size() > accepted) return std::fill(r.output.begin(), r.output.end(), 0xEE), false;
    r.stream.insert(r.stream.end(), bytes, bytes + n);
    return true;
  };
  r.count = deflater.DeflateMember(level, read, write, r.output.data(), r.flags);
  r.error = deflater.LastError();
  return r;
}

Result Compress(const Bytes& input, int level, size_t piece = 0) {
  Deflater deflater;
  return Compress(deflater, input, level, piece);
}

Bytes RandomBytes(size_t n, uint32_t seed) {
  Bytes b(n);
  for (auto& c : b) c = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 8);
  return b;
}

// Text-like data: words from a small vocabulary, lines of varying length.
Bytes Text(size_t n, uint32_t seed) {
  static const char* const words[] = {"the", "archive", "member", "window", "deflate", "static", "int", "return",
                                      "{",   "}",       "if",     "(",      ")",       "for",    "0x7fff", ";"};
  std::string s;
  while (s.size() < n) {
    seed = seed * 1103515245u + 12345u;
    s += words[(seed >> 8) % 16];
    s += (seed >> 20) % 9 == 0 ? "\n" : (seed >> 24) % 50 == 0 ? std::to_string(seed) : " ";
  }
  s.resize(n);
  return Bytes(s.begin(), s.end());
}

// A random block repeated: every match lies exactly one period back.
Bytes Periodic(size_t n, size_t period, uint32_t seed) {
  Bytes unit = RandomBytes(period, seed), b(n);
  for (size_t i = 0; i < n; ++i) b[i] = unit[i % period];
  return b;
}

// Lengths of the stored blocks that open a stream, up to the final one or to
// the first block of another type (0 then ends the list).
std::vector<size_t> StoredBlocks(const Bytes& s, bool& sawFinal) {
  std::vector<size_t> lengths;
  sawFinal = false;
  for (size_t at = 0; at + 5 <= s.size() && (s[at] & 6) == 0 && !sawFinal; at += 5 + lengths.back()) {
    sawFinal = s[at] & 1;
    lengths.push_back(s[at + 1] | (s[at + 2] << 8));
    EXPECT_EQ(lengths.back() ^ 0xffff, size_t(s[at + 3] | (s[at + 4] << 8)));
  }
  return lengths;
}

void ExpectRoundTrip(const Bytes& input, int level, const Result& r) {
  SCOPED_TRACE(::testing::Message() << "level " << level);
  // The count answered is what went through the sink.
  EXPECT_EQ(std::make_tuple(r.error, r.flags, r.count),
            std::make_tuple("", level == 8 ? 0x0002 : level <= 2 ? 0x0004 : 0, int64_t(r.stream.size())));
  EXPECT_TRUE(test::RawInflate(r.stream, input.size()) == std::string(input.begin(), input.end()));
  for (size_t n : r.writes) EXPECT_LE(n, size_t{65535});
  EXPECT_TRUE(!input.empty() || r.stream == (Bytes{0x03, 0x00})) << "empty input is one empty fixed block";
}

TEST(Deflater, EveryLevelInflatesBackToTheInput) {
  const std::vector<std::pair<const char*, Bytes>> inputs = {
      {"empty", {}},
      {"one byte", Bytes{'x'}},
      {"short text", Text(300, 1)},
      {"text sliding the window", Text(700000, 2)},
      {"period across the slide", Periodic(400000, 30000, 3)},
      {"period near the longest distance", Periodic(200000, 32506, 4)},
      {"period beyond the longest distance", Periodic(200000, 32507, 5)},
      {"run of one byte", Bytes(1 << 20, 0xAA)},
      {"short period", Periodic(300000, 7, 6)},
      {"random", RandomBytes(300000, 10)},
  };
  Deflater deflater;
  for (const auto& [name, input] : inputs) {
    SCOPED_TRACE(name);
    for (int level = 1; level <= 8; ++level) {
      const Result r = Compress(deflater, input, level);
      ExpectRoundTrip(input, level, r);
      if (std::string_view(name) != "random") continue;
      // Random data goes out in stored blocks of at most 32767 bytes.
      bool sawFinal;
      const std::vector<size_t> blocks = StoredBlocks(r.stream, sawFinal);
      ASSERT_TRUE(sawFinal);
      EXPECT_LE(*std::max_element(blocks.begin(), blocks.end()), 32767u);
      EXPECT_EQ(std::accumulate(blocks.begin(), blocks.end(), size_t{0}), input.size());
      EXPECT_LE(r.stream.size(), input.size() + 5 * blocks.size());
    }
  }
}

TEST(Deflater, ReadAndWriteSizesAndFreshMembersDoNotChangeTheStream) {
  // The blocks and matches depend on positions only, not on how the source
  // hands the bytes over, nor on the members a Deflater compressed before.
  Bytes input = RandomBytes(40000, 12);
  const Bytes text = Text(400000, 11);
  input.insert(input.end(), text.begin(), text.end());
  Deflater shared;
  for (int level : {2, 4, 8}) {
    SCOPED_TRACE(level);
    Result whole = Compress(input, level);
    ExpectRoundTrip(input, level, whole);
    EXPECT_EQ(whole.requests[0], 65536u);
    for (size_t i = 1; i < whole.requests.size(); ++i) EXPECT_LE(whole.requests[i], 65536u - 32768u + 262u);
    for (size_t piece : {size_t{1000}, size_t{7}}) EXPECT_TRUE(Compress(input, level, piece).stream == whole.stream);
    Compress(shared, Periodic(120000, 1000, 14), level);
    Compress(shared, RandomBytes(5, 15), 3);
    EXPECT_TRUE(Compress(shared, input, level).stream == whole.stream);
    // Output leaves in full 16 KiB pieces (16383 when a two-byte code no
    // longer fits), the opening stored block's length bytes on their own.
    size_t full = 0;
    for (size_t i = 0; i + 1 < whole.writes.size(); ++i) full += whole.writes[i] + 1 >= Deflater::kOutputBufferSize;
    EXPECT_GE(full, 3u);
    EXPECT_NE(std::find(whole.writes.begin(), whole.writes.end(), 4u), whole.writes.end());
  }
}

TEST(Deflater, LevelsOutsideOneToEightAreRefused) {
  Deflater deflater;
  for (int level : {0, 9, -1, 100}) {
    const Result r = Compress(deflater, Text(1000, 16), level);
    EXPECT_EQ(std::tie(r.count, r.error, r.flags), std::make_tuple(-1, "bad pack level", 0));
    EXPECT_TRUE(r.requests.empty() && r.writes.empty()) << "level " << level << ": nothing read or written";
  }
}

TEST(Deflater, ShortWriteFailsTheMemberAndStopsOutput) {
  const Bytes input = Text(2000000, 17);
  Deflater deflater;
  for (size_t accepted : {0, 1, 3}) {
    SCOPED_TRACE(accepted);
    const Result r = Compress(deflater, input, 6, 0, accepted);
    EXPECT_EQ(r.count, -1);
    EXPECT_NE(r.error, "");
    ASSERT_EQ(r.writes.size(), accepted + 1);
    // The caller's buffer is left as the sink left it, and the compressor
    // gives up instead of reading the rest of a 2 MB member.
    EXPECT_TRUE(std::all_of(r.output.begin(), r.output.end(), [](uint8_t c) { return c == 0xEE; }));
    EXPECT_LT(r.readAfterFailure, 200000u);
    // The same Deflater still serves the next member.
    ExpectRoundTrip(input, 4, Compress(deflater, input, 4));
  }
}

// The member data Info-ZIP zip writes for one file at `level`; empty when zip
// did not deflate it.
Bytes ZipMemberData(const test::ScratchDir& dir, const Bytes& input, int level) {
  const std::string source = dir / "input.bin", archive = dir / "peer.zip";
  test::WriteFile(source, std::string(input.begin(), input.end()));
  std::remove(archive.c_str());
  const std::string command = "zip -q -X -j -" + std::to_string(level) + " '" + archive + "' '" + source + "'";
  const std::string zip = std::system(command.c_str()) == 0 ? test::ReadFile(archive) : "";
  auto u16 = [&](size_t at) { return size_t(uint8_t(zip[at])) | size_t(uint8_t(zip[at + 1])) << 8; };
  if (zip.size() < 30 || zip.compare(0, 4, "PK\x03\x04") != 0 || u16(8) != 8) return {};
  const size_t start = 30 + u16(26) + u16(28), size = u16(18) | u16(20) << 16;
  return Bytes(zip.begin() + long(start), zip.begin() + long(std::min(start + size, zip.size())));
}

TEST(Deflater, SameStreamAsInfoZipAtEveryLevel) {
  // The matches, block ends and block types follow the same reference
  // design as Info-ZIP zip, so compressible data gives the very same bytes.
  if (std::system("zip -v >/dev/null 2>&1") != 0) GTEST_SKIP() << "zip is not installed";
  test::ScratchDir dir;
  Bytes mixed = Text(90000, 20);
  for (const Bytes& part : {Periodic(50000, 3000, 21), Text(70000, 22)}) mixed.insert(mixed.end(), part.begin(), part.end());
  const std::vector<std::pair<const char*, Bytes>> inputs = {
      {"short text", Text(5000, 23)},         {"text of one window buffer", Text(65536, 24)},
      {"text just over it", Text(65536 + 263, 25)}, {"mixed", mixed},
      {"run of one byte", Bytes(200000, 0)},
  };
  for (const auto& [name, input] : inputs) {
    for (int level = 1; level <= 8; ++level) {
      const Bytes peer = ZipMemberData(dir, input, level);
      ASSERT_FALSE(peer.empty()) << name << " level " << level;
      const Result ours = Compress(input, level);
      EXPECT_TRUE(ours.stream == peer) << name << " level " << level << ": " << ours.stream.size()
                                       << " bytes against " << peer.size();
    }
  }
}

}  // namespace
}  // namespace quindo
