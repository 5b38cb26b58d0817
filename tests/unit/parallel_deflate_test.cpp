// Deflating on several threads: pieces of a member primed with the bytes
// before them, the pipeline that deflates members ahead of the writer, the
// writer taking its data from there, and whole jobs with one thread and with
// several.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <thread>

#include "app/compression_job.h"
#include "common/crc32.h"
#include "tests/support/test_support.h"
#include "tests/unit/zip_fixture.h"
#include "zip/deflater.h"
#include "zip/parallel_deflate.h"
#include "zip/zip_writer.h"

namespace quindo {
namespace {

using Bytes = std::vector<uint8_t>;

// Text-like data: words from a small vocabulary, numbers, lines.
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

Bytes Random(size_t n, uint32_t seed) {
  Bytes b(n);
  for (auto& c : b) c = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 8);
  return b;
}

std::string AsText(const Bytes& b) { return std::string(b.begin(), b.end()); }

Bytes Deflate(const Bytes& input, int level, std::span<const uint8_t> dictionary = {}, bool last = true) {
  Deflater deflater;
  Bytes out;
  size_t at = 0;
  uint16_t flags = 0;
  const int64_t count = deflater.DeflatePiece(
      level, dictionary, last,
      [&](uint8_t* b, size_t n) {
        n = std::min(n, input.size() - at);
        std::copy_n(input.begin() + static_cast<ptrdiff_t>(at), n, b);
        at += n;
        return n;
      },
      [&](const uint8_t* b, size_t n) { return out.insert(out.end(), b, b + n), true; }, nullptr, flags);
  EXPECT_EQ(count, static_cast<int64_t>(out.size())) << deflater.LastError();
  return out;
}

// The input cut into pieces of `size`, each primed with the 32 KiB before it.
Bytes DeflateInPieces(const Bytes& input, int level, size_t size) {
  Bytes stream;
  for (size_t at = 0; at < input.size() || at == 0; at += size) {
    const size_t end = std::min(input.size(), at + size);
    const size_t primed = std::min<size_t>(at, 32768);
    const bool last = end == input.size();
    Bytes piece = Deflate(Bytes(input.begin() + at, input.begin() + end), level,
                          std::span<const uint8_t>(input.data() + at - primed, primed), last);
    if (!last) {
      // Ends on a byte boundary, with an empty stored block.
      EXPECT_TRUE(piece.size() >= 4 && Bytes(piece.end() - 4, piece.end()) == (Bytes{0, 0, 0xff, 0xff}));
    }
    stream.insert(stream.end(), piece.begin(), piece.end());
    if (last) break;
  }
  return stream;
}

TEST(DeflatePiece, PiecesPrimedWithWhatPrecedesThemJoinIntoTheMembersStream) {
  const std::vector<std::pair<const char*, Bytes>> inputs = {
      {"text", Text(300000, 1)},
      {"random", Random(200000, 2)},
      {"short last piece", Text(3 * 65536 + 10, 3)},
  };
  for (const auto& [name, input] : inputs) {
    for (int level : {1, 6, 8}) {
      SCOPED_TRACE(::testing::Message() << name << " at level " << level);
      const Bytes whole = Deflate(input, level);
      // Without a dictionary and as the last piece, a piece is the member.
      EXPECT_EQ(whole, Deflate(input, level, {}, true));
      for (size_t size : {size_t{65536}, size_t{150000}}) {
        const Bytes stream = DeflateInPieces(input, level, size);
        EXPECT_EQ(test::RawInflate(stream, input.size()), AsText(input));
        EXPECT_LE(stream.size(), whole.size() + whole.size() / 200 + 16 * (input.size() / size + 1));
      }
    }
  }
  // The dictionary is used, and only its last 32 KiB count.
  const Bytes text = Random(40000, 4);
  const Bytes repeat(text.end() - 20000, text.end());
  const Bytes primed = Deflate(repeat, 6, text);
  EXPECT_LT(primed.size(), Deflate(repeat, 6).size() / 20);
  EXPECT_EQ(primed, Deflate(repeat, 6, std::span<const uint8_t>(text).last(32768)));
  EXPECT_EQ(test::RawInflate(DeflateInPieces(Bytes{}, 6, 65536), 0), "");
}

struct Collected {
  Bytes stream;
  uint64_t raw = 0;
  uint32_t crc = 0;
  uint16_t flags = 0;
  bool readFailed = false, failed = false;
};

Collected Collect(DeflatedMember& member) {
  Collected c;
  std::span<const uint8_t> piece;
  while (member.Next(piece)) c.stream.insert(c.stream.end(), piece.begin(), piece.end());
  c.raw = member.RawSize(), c.crc = member.Crc(), c.flags = member.Flags();
  c.readFailed = member.ReadFailed(), c.failed = member.Failed();
  return c;
}

class ParallelDeflateTest : public ::testing::Test {
 protected:
  test::ScratchDir dir;
  std::atomic<bool> abort{false};
  static constexpr size_t kChunk = 65536;

  std::string File(const std::string& name, const Bytes& bytes) {
    test::WriteFile(dir / name, AsText(bytes));
    return dir / name;
  }
};

TEST_F(ParallelDeflateTest, MembersAreWholeUpToTheChunkSizeAndChunkedAbove) {
  std::vector<Bytes> inputs = {{}, Bytes{'x'}, Text(5000, 1), Text(kChunk, 2), Text(kChunk + 1, 3),
                               Text(5 * kChunk + 1000, 4), Random(3 * kChunk, 5)};
  for (uint32_t i = 0; i < 40; ++i) inputs.push_back(Text(100 + 997 * i, 10 + i));
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
      const Bytes& input = inputs[i];
      EXPECT_EQ(std::make_tuple(c.raw, c.crc, c.flags, c.readFailed, c.failed),
                std::make_tuple(uint64_t{input.size()}, Crc32(input.data(), input.size()), uint16_t{2}, false, false));
      if (input.size() <= kChunk) {
        EXPECT_EQ(c.stream, Deflate(input, 8));  // what one thread writes
      } else {
        EXPECT_EQ(test::RawInflate(c.stream, input.size()), AsText(input));
      }
    }
    EXPECT_EQ(pipeline.Take(inputs.size()), nullptr);
  }
}

TEST_F(ParallelDeflateTest, SourcesThatChangedGoTheSingleThreadedWayOrEndTheStreamCleanly) {
  const Bytes big = Text(6 * kChunk, 1);
  ParallelDeflate pipeline(2, 6, abort, kChunk);
  const size_t missing = pipeline.Add(dir / "missing", 100);
  // Listed small, grew past the chunk size: the writer deflates it itself.
  const size_t grew = pipeline.Add(File("grew", big), 1000);
  // Listed with more chunks than it now has.
  const size_t shrank = pipeline.Add(File("shrank", Bytes(big.begin(), big.begin() + 2 * kChunk + 5)), big.size());
  const size_t skipped = pipeline.Add(File("skipped", big), big.size());
  const size_t last = pipeline.Add(File("last", Text(1000, 2)), 1000);
  pipeline.Start();
  EXPECT_EQ(pipeline.Take(missing), nullptr);
  EXPECT_EQ(pipeline.Take(grew), nullptr);
  DeflatedMember* member = pipeline.Take(shrank);
  ASSERT_NE(member, nullptr);
  const Collected c = Collect(*member);
  EXPECT_EQ(c.raw, 2 * kChunk + 5);
  EXPECT_EQ(c.crc, Crc32(big.data(), 2 * kChunk + 5));
  EXPECT_EQ(test::RawInflate(c.stream, c.raw), AsText(big).substr(0, c.raw));
  // A member that is not taken is dropped; the next one still comes.
  (void)skipped;
  member = pipeline.Take(last);
  ASSERT_NE(member, nullptr);
  EXPECT_EQ(Collect(*member).raw, 1000u);
  // Each member once, and none added while the threads run.
  EXPECT_EQ(std::make_tuple(pipeline.Take(last), pipeline.Take(shrank), pipeline.Add(dir / "late", 1)),
            std::make_tuple(nullptr, nullptr, SIZE_MAX));
}

TEST_F(ParallelDeflateTest, AbortEndsAnOpenStreamWithAFinalBlockAndRefusesTheRest) {
  const Bytes big = Text(64 * kChunk, 1);
  ParallelDeflate pipeline(2, 6, abort, kChunk);
  pipeline.Add(File("big", big), big.size());
  pipeline.Add(File("next", big), big.size());
  pipeline.Start();
  DeflatedMember* member = pipeline.Take(0);
  ASSERT_NE(member, nullptr);
  std::span<const uint8_t> piece;
  ASSERT_TRUE(member->Next(piece));
  Bytes stream(piece.begin(), piece.end());
  abort.store(true);
  while (member->Next(piece)) stream.insert(stream.end(), piece.begin(), piece.end());
  // What went out decodes to the bytes it claims, and no further.
  ASSERT_LT(member->RawSize(), big.size());
  EXPECT_EQ(test::RawInflate(stream, member->RawSize()), AsText(big).substr(0, member->RawSize()));
  EXPECT_EQ(member->Crc(), Crc32(big.data(), member->RawSize()));
  EXPECT_EQ(pipeline.Take(1), nullptr);
}

// A member's deflated data as a test script gives them.
class ScriptedMember final : public DeflatedMember {
 public:
  std::vector<Bytes> pieces;
  uint64_t raw = 0;
  uint32_t crc = 0;
  bool failed = false;
  size_t next = 0;
  bool Next(std::span<const uint8_t>& piece) override {
    if (next == pieces.size()) return false;
    piece = pieces[next++];
    return true;
  }
  uint64_t RawSize() const override { return next == pieces.size() ? raw : 0; }
  uint32_t Crc() const override { return crc; }
  uint16_t Flags() const override { return 0x0002; }
  bool ReadFailed() const override { return false; }
  bool Failed() const override { return failed; }
};

TEST_F(ParallelDeflateTest, TheWriterRecordsWhatTheDeflatedDataStandFor) {
  const Bytes input = Text(5000, 1);
  const std::string source = File("a.txt", input), archive = dir / "a.zip";
  const Bytes stream = Deflate(input, 8);
  ScriptedMember good, bad;
  good.pieces = {Bytes(stream.begin(), stream.begin() + 10), Bytes(stream.begin() + 10, stream.end())};
  good.raw = input.size(), good.crc = Crc32(input.data(), input.size());
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

class ThreadsSettingTest : public ::testing::Test {
 protected:
  test::ScratchDir dir;
  std::string ini = dir / "quindo.ini";
  std::optional<std::string> savedTmp;
  test::ScopedUi scoped;

  void SetUp() override {
    std::filesystem::create_directories(dir / "tmp");
    if (const char* t = std::getenv("TMPDIR")) savedTmp = t;
    ::setenv("TMPDIR", (dir / "tmp").c_str(), 1);
  }
  void TearDown() override { savedTmp ? ::setenv("TMPDIR", savedTmp->c_str(), 1) : ::unsetenv("TMPDIR"); }

  // The archive of `paths` made with THREADS set to `threads`.
  std::string Compress(const std::vector<std::string>& paths, int threads) {
    Settings(ini).WriteInt("OPTION", "THREADS", threads);
    const std::string out = dir / ("out" + std::to_string(threads));
    std::filesystem::create_directories(out);
    std::vector<std::string> args = {"quindo"};
    args.insert(args.end(), paths.begin(), paths.end());
    std::string folder = out;
    EXPECT_EQ(RunCompressionJob(args, folder, Settings(ini)), ResultOk);
    return test::ReadFile(out + "/" + std::filesystem::path(paths.front()).stem().string() + ".zip");
  }
  // A file last written an hour ago and read just now: reading it again
  // leaves its access time, which the archive records, as it is.
  std::string File(const std::string& name, const Bytes& bytes) {
    std::filesystem::create_directories(std::filesystem::path(dir / name).parent_path());
    test::WriteFile(dir / name, AsText(bytes));
    timespec times[2];
    ::clock_gettime(CLOCK_REALTIME, &times[0]);
    times[1] = times[0];
    times[1].tv_sec -= 3600;
    EXPECT_EQ(::utimensat(AT_FDCWD, (dir / name).c_str(), times, 0), 0);
    return dir / name;
  }
};

// Every member's name, CRC, size and inflated data.
std::vector<std::string> Contents(const std::string& archive) {
  std::vector<std::string> out;
  for (const test::DirectoryEntry& e : test::Directory(archive)) {
    const size_t at = e.offset + 30 + LoadLe16(reinterpret_cast<const uint8_t*>(archive.data()) + e.offset + 26) +
                      LoadLe16(reinterpret_cast<const uint8_t*>(archive.data()) + e.offset + 28);
    const std::string data = archive.substr(at, e.compressedSize);
    out.push_back(e.name + " " + std::to_string(e.crc) + " " + std::to_string(e.size) + " " +
                  (e.method == 8 ? test::RawInflate(data, e.size).value_or("corrupt") : data));
  }
  return out;
}

TEST_F(ThreadsSettingTest, OneAndSeveralThreadsGiveTheSameArchive) {
  // Dropped files only: folder entries carry the time they were added.
  std::vector<std::string> files;
  for (uint32_t i = 0; i < 30; ++i) files.push_back(File("f" + std::to_string(i) + ".txt", Text(3000 * i, i)));
  files.push_back(File("kept.zip", Random(5000, 1)));
  files.push_back(File("r.bin", Random(300000, 2)));
  const std::string one = Compress(files, 1);
  EXPECT_EQ(Compress(files, 4), one);

  // Above the chunk size the data differ but hold the same bytes.
  files.push_back(File("big.txt", Text(2 * ParallelDeflate::kDefaultChunkSize + 12345, 7)));
  files.push_back(File("tree/sub/deep.txt", Text(2000, 8)));
  files.insert(files.begin(), dir / "tree");
  const std::string single = Compress(files, 1), parallel = Compress(files, 3);
  EXPECT_EQ(Contents(parallel), Contents(single));
  EXPECT_LE(parallel.size(), single.size() + single.size() / 200);
}

TEST(DeflateThreads, ZeroIsEveryCoreAndTheCountIsBounded) {
  EXPECT_EQ(DeflateThreads(0), std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 64));
  EXPECT_EQ(DeflateThreads(-3), DeflateThreads(0));
  EXPECT_EQ(std::make_tuple(DeflateThreads(1), DeflateThreads(5), DeflateThreads(1000)), std::make_tuple(1, 5, 64));
}

}  // namespace
}  // namespace quindo
