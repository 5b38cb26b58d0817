// The deflate compressor: output stops at a failed write, and compressible
// data gives the very bytes Info-ZIP zip writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/support/zip_fixture.h"
#include "zip/deflater.h"

namespace quindo {
namespace {

using test::Noise;
using test::Text;

struct Result {
  int64_t count = 0;
  std::string stream, output;
  std::vector<size_t> writes;
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

TEST(Deflater, ShortWritesFailTheMemberAndStopOutput) {
  Deflater deflater;
  const std::string input = Text(2000000, 17);
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
      {"short text", Text(5000, 23)},
      {"text of one window buffer", Text(65536, 24)},
      {"text just over it", Text(65536 + 263, 25)},
      {"mixed", Text(90000, 20) + Periodic(50000, 3000, 21) + Text(70000, 22)},
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
      const std::vector<test::DirectoryEntry> peer = test::Directory(test::ReadFile(dir / "peer.zip"));
      ASSERT_EQ(peer.size(), 1u);
      ASSERT_EQ(peer[0].method, 8);
      EXPECT_EQ(Compress(input, level).stream, peer[0].data);
    }
  }
}

}  // namespace
}  // namespace quindo
