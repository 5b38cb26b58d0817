// Deflating on several threads: pieces of a member primed with the bytes
// before them, the pipeline that deflates members ahead of the writer, and
// the writer taking its data from there (whole jobs with one thread and with
// several: compression_job_test).
#include <gtest/gtest.h>

#include <thread>

#include "app/compression_job.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_fixture.h"
#include "zip/deflater.h"
#include "zip/parallel_deflate.h"
#include "zip/zip_writer.h"

namespace quindo {
namespace {

using test::Noise;
using test::Prose;

std::span<const uint8_t> Span(const std::string& s) { return test::Bytes(s); }
uint32_t Crc(const std::string& s, size_t n = SIZE_MAX) { return Crc32(s.data(), std::min(n, s.size())); }

std::string Deflate(const std::string& input, int level, std::span<const uint8_t> dictionary = {}, bool last = true) {
  Deflater deflater;
  std::string out;
  size_t at = 0;
  uint16_t flags = 0;
  const int64_t count = deflater.DeflatePiece(
      level, dictionary, last,
      [&](uint8_t* b, size_t n) {
        n = std::min(n, input.size() - at);
        std::memcpy(b, input.data() + at, n);
        at += n;
        return n;
      },
      [&](const uint8_t* b, size_t n) { return out.append(reinterpret_cast<const char*>(b), n), true; }, nullptr,
      flags);
  EXPECT_EQ(count, static_cast<int64_t>(out.size())) << deflater.LastError();
  return out;
}

// The input cut into pieces of `size`, each primed with the 32 KiB before it.
std::string DeflateInPieces(const std::string& input, int level, size_t size) {
  std::string stream;
  for (size_t at = 0;; at += size) {
    const size_t end = std::min(input.size(), at + size), primed = std::min<size_t>(at, 32768);
    const bool last = end == input.size();
    const std::string piece = Deflate(input.substr(at, end - at), level, Span(input).subspan(at - primed, primed), last);
    // A piece before the last ends on a byte boundary, with an empty stored block.
    if (!last) {
      EXPECT_EQ(piece.substr(piece.size() - 4), std::string("\0\0\xff\xff", 4));
    }
    stream += piece;
    if (last) return stream;
  }
}

TEST(DeflatePiece, PiecesPrimedWithWhatPrecedesThemJoinIntoTheMembersStream) {
  const std::pair<const char*, std::string> inputs[] = {
      {"text", Prose(300000, 1)}, {"random", Noise(200000, 2)}, {"short last piece", Prose(3 * 65536 + 10, 3)}};
  for (const auto& [name, input] : inputs) {
    for (int level : {1, 6, 8}) {
      SCOPED_TRACE(::testing::Message() << name << " at level " << level);
      const std::string whole = Deflate(input, level);
      for (size_t size : {size_t{65536}, size_t{150000}}) {
        const std::string stream = DeflateInPieces(input, level, size);
        EXPECT_EQ(test::RawInflate(stream, input.size()), input);
        EXPECT_LE(stream.size(), whole.size() + whole.size() / 200 + 16 * (input.size() / size + 1));
      }
    }
  }
  // The dictionary is used, and only its last 32 KiB count.
  const std::string text = Noise(40000, 4), repeat = text.substr(20000);
  const std::string primed = Deflate(repeat, 6, Span(text));
  EXPECT_LT(primed.size(), Deflate(repeat, 6).size() / 20);
  EXPECT_EQ(primed, Deflate(repeat, 6, Span(text).last(32768)));
  EXPECT_EQ(test::RawInflate(DeflateInPieces("", 6, 65536), 0), "");
}

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

TEST_F(ParallelDeflateTest, MembersAreWholeUpToTheChunkSizeAndChunkedAbove) {
  std::vector<std::string> inputs = {"", "x", Prose(kChunk, 2), Prose(kChunk + 1, 3), Prose(5 * kChunk + 1000, 4),
                                     Noise(3 * kChunk, 5)};
  for (uint32_t i = 0; i < 40; ++i) inputs.push_back(Prose(100 + 997 * i, 10 + i));
  for (int threads : {1, 3}) {
    SCOPED_TRACE(::testing::Message() << threads << " threads");
    ParallelDeflate pipeline(threads, 8, abort, kChunk);
    for (size_t i = 0; i < inputs.size(); ++i)
      EXPECT_EQ(pipeline.Add(File("m" + std::to_string(i), inputs[i]), inputs[i].size()), i);
    pipeline.Start();
    for (size_t i = 0; i < inputs.size(); ++i) {
      SCOPED_TRACE(i);
      DeflatedMember* member = pipeline.Take(i);
      ASSERT_NE(member, nullptr);
      const Collected c = Collect(*member);
      EXPECT_EQ(std::make_tuple(c.raw, c.crc, c.flags, c.readFailed, c.failed),
                std::make_tuple(uint64_t{inputs[i].size()}, Crc(inputs[i]), uint16_t{2}, false, false));
      if (inputs[i].size() <= kChunk) {
        EXPECT_EQ(c.stream, Deflate(inputs[i], 8));  // what one thread writes
      } else {
        EXPECT_EQ(test::RawInflate(c.stream, inputs[i].size()), inputs[i]);
      }
    }
    EXPECT_EQ(pipeline.Take(inputs.size()), nullptr);
  }
}

TEST_F(ParallelDeflateTest, SourcesThatChangedGoTheSingleThreadedWayOrEndTheStreamCleanly) {
  const std::string big = Prose(6 * kChunk, 1);
  ParallelDeflate pipeline(2, 6, abort, kChunk);
  const size_t missing = pipeline.Add(dir / "missing", 100);
  // Listed small, grew past the chunk size: the writer deflates it itself.
  const size_t grew = pipeline.Add(File("grew", big), 1000);
  // Listed with more chunks than it now has.
  const size_t shrank = pipeline.Add(File("shrank", big.substr(0, 2 * kChunk + 5)), big.size());
  pipeline.Add(File("skipped", big), big.size());
  const size_t last = pipeline.Add(File("last", Prose(1000, 2)), 1000);
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

TEST_F(ParallelDeflateTest, AbortEndsAnOpenStreamWithAFinalBlockAndRefusesTheRest) {
  const std::string big = Prose(64 * kChunk, 1);
  ParallelDeflate pipeline(2, 6, abort, kChunk);
  pipeline.Add(File("big", big), big.size());
  pipeline.Add(File("next", big), big.size());
  pipeline.Start();
  DeflatedMember* member = pipeline.Take(0);
  ASSERT_NE(member, nullptr);
  std::span<const uint8_t> piece;
  ASSERT_TRUE(member->Next(piece));
  std::string stream(reinterpret_cast<const char*>(piece.data()), piece.size());
  abort.store(true);
  while (member->Next(piece)) stream.append(reinterpret_cast<const char*>(piece.data()), piece.size());
  // What went out decodes to the bytes it claims, and no further.
  ASSERT_LT(member->RawSize(), big.size());
  EXPECT_EQ(test::RawInflate(stream, member->RawSize()), big.substr(0, member->RawSize()));
  EXPECT_EQ(member->Crc(), Crc(big, member->RawSize()));
  EXPECT_EQ(pipeline.Take(1), nullptr);
}

// A member's deflated data as a test script gives them.
class ScriptedMember final : public DeflatedMember {
 public:
  std::vector<std::string> pieces;
  uint64_t raw = 0;
  uint32_t crc = 0;
  bool failed = false;
  size_t next = 0;
  bool Next(std::span<const uint8_t>& piece) override {
    if (next == pieces.size()) return false;
    piece = Span(pieces[next++]);
    return true;
  }
  uint64_t RawSize() const override { return next == pieces.size() ? raw : 0; }
  uint32_t Crc() const override { return crc; }
  uint16_t Flags() const override { return 0x0002; }
  bool ReadFailed() const override { return false; }
  bool Failed() const override { return failed; }
};

TEST_F(ParallelDeflateTest, TheWriterRecordsWhatTheDeflatedDataStandFor) {
  const std::string input = Prose(5000, 1), source = File("a.txt", input), archive = dir / "a.zip";
  const std::string stream = Deflate(input, 8);
  ScriptedMember good, bad;
  good.pieces = {stream.substr(0, 10), stream.substr(10)};
  good.raw = input.size(), good.crc = Crc(input);
  bad.pieces = good.pieces, bad.failed = true;
  std::atomic<uint64_t> progress{0};
  ZipWriter writer;
  ASSERT_EQ(writer.Create(archive), ZipOk);
  ASSERT_EQ(writer.AddFile("a.txt", source, progress, abort, 8, &good), ZipOk);
  EXPECT_EQ(progress.load(), input.size());
  EXPECT_EQ(writer.AddFile("b.txt", source, progress, abort, 8, &bad), ZipWriteFailed);
  writer.Close();
  const std::vector<test::DirectoryEntry> entries = test::Directory(test::ReadFile(archive));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(std::make_tuple(entries[0].method, entries[0].flags, entries[0].crc, entries[0].compressedSize, entries[0].size),
            std::make_tuple(8, 0x0002, good.crc, static_cast<uint32_t>(stream.size()), static_cast<uint32_t>(input.size())));
}

TEST(DeflateThreads, ZeroIsEveryCoreAndTheCountIsBounded) {
  EXPECT_EQ(DeflateThreads(0), std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 64));
  EXPECT_EQ(DeflateThreads(-3), DeflateThreads(0));
  EXPECT_EQ(std::make_tuple(DeflateThreads(1), DeflateThreads(5), DeflateThreads(1000)), std::make_tuple(1, 5, 64));
}

}  // namespace
}  // namespace quindo
