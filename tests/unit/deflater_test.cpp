// The deflate compressor: every level inflates back, the stream depends on
// the data alone, output stops at a failed write, and compressible data
// gives the very bytes Info-ZIP zip writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/support/zip_fixture.h"
#include "zip/deflater.h"

namespace quindo {
namespace {

using test::Noise;
using test::Prose;

struct Result {
  int64_t count = 0;
  std::string stream, output;
  std::vector<size_t> writes, requests;
  uint16_t flags = 0;
  std::string error;
  size_t readAfterFailure = 0;
};

// Feeds `input` to the compressor; `piece` limits how much one read answers
// (0: as much as asked). After `accepted` writes the sink fails, and fills the
// caller's buffer with 0xEE.
Result Compress(Deflater& deflater, const std::string& input, int level, size_t piece = 0, size_t accepted = SIZE_MAX) {
  Result r;
  size_t position = 0;
  r.output.resize(Deflater::kOutputBufferSize);
  auto read = [&](uint8_t* buffer, size_t n) -> size_t {
    r.requests.push_back(n);
    size_t take = std::min({n, input.size() - position, piece ? piece : n});
    std::memcpy(buffer, input.data() + position, take);
    position += take;
    if (r.writes.size() > accepted) r.readAfterFailure += take;
    return take;
  };
  auto write = [&](const uint8_t* bytes, size_t n) -> bool {
    if (r.writes.size() > accepted) ADD_FAILURE() << "write after the sink failed";
    r.writes.push_back(n);
    if (r.writes.size() > accepted) return std::fill(r.output.begin(), r.output.end(), '\xEE'), false;
    r.stream.append(reinterpret_cast<const char*>(bytes), n);
    return true;
  };
  r.count = deflater.DeflateMember(level, read, write, reinterpret_cast<uint8_t*>(r.output.data()), r.flags);
  r.error = deflater.LastError();
  return r;
}

Result Compress(const std::string& input, int level, size_t piece = 0) {
  Deflater deflater;
  return Compress(deflater, input, level, piece);
}

// Random bytes of the generator's middle bits.
std::string Random(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 8);
  return s;
}

// A random block repeated: every match lies exactly one period back.
std::string Periodic(size_t n, size_t period, uint32_t seed) {
  const std::string unit = Noise(period, seed);
  std::string s;
  while (s.size() < n) s += unit;
  return s.substr(0, n);
}

void ExpectRoundTrip(const std::string& input, int level, const Result& r) {
  SCOPED_TRACE(::testing::Message() << "level " << level);
  // The count answered is what went through the sink.
  EXPECT_EQ(std::make_tuple(r.error, r.flags, r.count),
            std::make_tuple("", level == 8 ? 0x0002 : level <= 2 ? 0x0004 : 0, int64_t(r.stream.size())));
  EXPECT_EQ(test::RawInflate(r.stream, input.size()), input);
  for (size_t n : r.writes) EXPECT_LE(n, size_t{65535});
  if (input.empty()) {
    EXPECT_EQ(r.stream, std::string("\x03\x00", 2)) << "empty input is one empty fixed block";
  }
}

TEST(Deflater, EveryLevelInflatesBackToTheInput) {
  const std::pair<const char*, std::string> inputs[] = {
      {"empty", ""},
      {"one byte", "x"},
      {"text sliding the window", Prose(700000, 2)},
      {"period across the slide", Periodic(400000, 30000, 3)},
      {"period near the longest distance", Periodic(200000, 32506, 4)},
      {"period beyond the longest distance", Periodic(200000, 32507, 5)},
      {"run of one byte", std::string(1 << 20, '\xAA')},
      {"short period", Periodic(300000, 7, 6)},
      {"random", Random(300000, 10)},
  };
  Deflater deflater;
  for (const auto& [name, input] : inputs) {
    SCOPED_TRACE(name);
    for (int level = 1; level <= 8; ++level) {
      const Result r = Compress(deflater, input, level);
      ExpectRoundTrip(input, level, r);
      if (std::string_view(name) != "random") continue;
      // Random data goes out in stored blocks of at most 32767 bytes, the
      // final one marked.
      size_t at = 0, stored = 0, blocks = 0;
      bool final = false;
      for (; at + 5 <= r.stream.size() && (r.stream[at] & 6) == 0 && !final; ++blocks) {
        final = r.stream[at] & 1;
        const size_t length = uint8_t(r.stream[at + 1]) | uint8_t(r.stream[at + 2]) << 8;
        EXPECT_LE(length, 32767u);
        stored += length, at += 5 + length;
      }
      EXPECT_TRUE(final);
      EXPECT_EQ(std::make_pair(stored, at), std::make_pair(input.size(), r.stream.size()));
    }
  }
}

TEST(Deflater, ReadAndWriteSizesAndFreshMembersDoNotChangeTheStream) {
  // The blocks and matches depend on positions only, not on how the source
  // hands the bytes over, nor on the members a Deflater compressed before.
  const std::string input = Noise(40000, 12) + Prose(400000, 11);
  Deflater shared;
  for (int level : {2, 4, 8}) {
    SCOPED_TRACE(level);
    Result whole = Compress(input, level);
    ExpectRoundTrip(input, level, whole);
    EXPECT_EQ(whole.requests[0], 65536u);
    for (size_t i = 1; i < whole.requests.size(); ++i) EXPECT_LE(whole.requests[i], 65536u - 32768u + 262u);
    for (size_t piece : {size_t{1000}, size_t{7}}) EXPECT_EQ(Compress(input, level, piece).stream, whole.stream);
    Compress(shared, Periodic(120000, 1000, 14), level);
    Compress(shared, Noise(5, 15), 3);
    EXPECT_EQ(Compress(shared, input, level).stream, whole.stream);
    // Output leaves in full 16 KiB pieces (16383 when a two-byte code no
    // longer fits), the opening stored block's length bytes on their own.
    size_t full = 0;
    for (size_t i = 0; i + 1 < whole.writes.size(); ++i) full += whole.writes[i] + 1 >= Deflater::kOutputBufferSize;
    EXPECT_GE(full, 3u);
    EXPECT_NE(std::find(whole.writes.begin(), whole.writes.end(), 4u), whole.writes.end());
  }
}

TEST(Deflater, BadLevelsAndShortWritesFailTheMemberAndStopOutput) {
  Deflater deflater;
  for (int level : {0, 9, -1, 100}) {
    const Result r = Compress(deflater, Prose(1000, 16), level);
    EXPECT_EQ(std::tie(r.count, r.error, r.flags), std::make_tuple(-1, "bad pack level", 0));
    EXPECT_EQ(r.requests.size() + r.writes.size(), 0u) << "level " << level << ": nothing read or written";
  }
  const std::string input = Prose(2000000, 17);
  for (size_t accepted : {0, 1, 3}) {
    SCOPED_TRACE(accepted);
    const Result r = Compress(deflater, input, 6, 0, accepted);
    EXPECT_EQ(r.count, -1);
    EXPECT_NE(r.error, "");
    ASSERT_EQ(r.writes.size(), accepted + 1);
    // The caller's buffer is left as the sink left it, and the compressor
    // gives up instead of reading the rest of a 2 MB member.
    EXPECT_EQ(r.output, std::string(r.output.size(), '\xEE'));
    EXPECT_LT(r.readAfterFailure, 200000u);
    // The same Deflater still serves the next member.
    ExpectRoundTrip(input, 4, Compress(deflater, input, 4));
  }
}

TEST(Deflater, SameStreamAsInfoZipAtEveryLevel) {
  // The matches, block ends and block types follow the same reference
  // design as Info-ZIP zip, so compressible data gives the very same bytes.
  if (std::system("zip -v >/dev/null 2>&1") != 0) GTEST_SKIP() << "zip is not installed";
  test::ScratchDir dir;
  const std::pair<const char*, std::string> inputs[] = {
      {"short text", Prose(5000, 23)},
      {"text of one window buffer", Prose(65536, 24)},
      {"text just over it", Prose(65536 + 263, 25)},
      {"mixed", Prose(90000, 20) + Periodic(50000, 3000, 21) + Prose(70000, 22)},
      {"run of one byte", std::string(200000, '\0')},
  };
  for (const auto& [name, input] : inputs) {
    test::WriteFile(dir / "input.bin", input);
    for (int level = 1; level <= 8; ++level) {
      SCOPED_TRACE(::testing::Message() << name << " level " << level);
      std::remove((dir / "peer.zip").c_str());
      const std::string command =
          "zip -q -X -j -" + std::to_string(level) + " '" + (dir / "peer.zip") + "' '" + (dir / "input.bin") + "'";
      ASSERT_EQ(std::system(command.c_str()), 0);
      const std::vector<test::LocalMember> peer = test::LocalMembers(test::ReadFile(dir / "peer.zip"));
      ASSERT_EQ(peer.size(), 1u);
      ASSERT_EQ(peer[0].method, 8);
      EXPECT_EQ(Compress(input, level).stream, peer[0].data);
    }
  }
}

}  // namespace
}  // namespace quindo
