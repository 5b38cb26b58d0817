// The pipeline that deflates members ahead of the writer, when its sources
// changed after the listing (whole jobs with one thread and with several:
// compression_job_test).
#include <gtest/gtest.h>


#include "tests/support/test_support.h"
#include "tests/support/zip_fixture.h"
#include "zip/parallel_deflate.h"

namespace quindo {
namespace {

using test::Text;

uint32_t Crc(const std::string& s, size_t n = SIZE_MAX) { return Crc32(s.data(), std::min(n, s.size())); }

// What a deflated member handed out, and what it says of itself.
struct Collected {
  std::string stream;
  uint64_t raw = 0;
  uint32_t crc = 0;
  uint16_t flags = 0;
  bool readFailed = false, failed = false;
};

Collected Collect(DeflatedMember& member) {
  Collected c;
  std::span<const uint8_t> piece;
  while (member.Next(piece)) c.stream.append(reinterpret_cast<const char*>(piece.data()), piece.size());
  c.raw = member.RawSize(), c.crc = member.Crc(), c.flags = member.Flags();
  c.readFailed = member.ReadFailed(), c.failed = member.Failed();
  return c;
}

class ParallelDeflateTest : public ::testing::Test {
 protected:
  test::ScratchDir dir;
  std::atomic<bool> abort{false};
  static constexpr size_t kChunk = 65536;

  std::string File(const std::string& name, const std::string& bytes) {
    test::WriteFile(dir / name, bytes);
    return dir / name;
  }
};

TEST_F(ParallelDeflateTest, SourcesThatChangedGoTheSingleThreadedWayOrEndTheStreamCleanly) {
  const std::string big = Text(6 * kChunk, 1);
  ParallelDeflate pipeline(2, 6, abort, kChunk);
  const size_t missing = pipeline.Add(dir / "missing", 100);
  // Listed small, grew past the chunk size: the writer deflates it itself.
  const size_t grew = pipeline.Add(File("grew", big), 1000);
  // Listed with more chunks than it now has.
  const size_t shrank = pipeline.Add(File("shrank", big.substr(0, 2 * kChunk + 5)), big.size());
  pipeline.Add(File("skipped", big), big.size());
  const size_t last = pipeline.Add(File("last", Text(1000, 2)), 1000);
  pipeline.Start();
  EXPECT_EQ(pipeline.Take(missing), nullptr);
  EXPECT_EQ(pipeline.Take(grew), nullptr);
  DeflatedMember* member = pipeline.Take(shrank);
  ASSERT_NE(member, nullptr);
  const Collected c = Collect(*member);
  EXPECT_EQ(std::make_tuple(c.raw, c.crc), std::make_tuple(uint64_t{2 * kChunk + 5}, Crc(big, 2 * kChunk + 5)));
  EXPECT_EQ(test::RawInflate(c.stream, c.raw), big.substr(0, c.raw));
  // A member that is not taken is dropped; the next one still comes.
  member = pipeline.Take(last);
  ASSERT_NE(member, nullptr);
  EXPECT_EQ(Collect(*member).raw, 1000u);
  // Each member once, and none added while the threads run.
  EXPECT_EQ(std::make_tuple(pipeline.Take(last), pipeline.Take(shrank), pipeline.Add(dir / "late", 1)),
            std::make_tuple(nullptr, nullptr, SIZE_MAX));
}

}  // namespace
}  // namespace quindo
