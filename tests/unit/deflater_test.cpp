#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "zip/deflater.h"

namespace quindo {
namespace {

using Bytes = std::vector<uint8_t>;

struct Result {
  int64_t count = 0;
  Bytes stream;
  std::vector<size_t> writes;
  std::vector<size_t> requests;
  uint16_t flags = 0;
  std::string error;
};

// Feeds `input` to the compressor; `piece` limits how much one read answers
// (0: as much as asked).
Result Compress(Deflater& deflater, const Bytes& input, int level, size_t piece = 0) {
  Result r;
  size_t position = 0;
  std::vector<uint8_t> output(Deflater::kOutputBufferSize);
  auto read = [&](uint8_t* buffer, size_t n) -> size_t {
    r.requests.push_back(n);
    size_t take = std::min(n, input.size() - position);
    if (piece != 0) take = std::min(take, piece);
    if (take != 0) std::memcpy(buffer, input.data() + position, take);
    position += take;
    return take;
  };
  auto write = [&](const uint8_t* bytes, size_t n) -> bool {
    r.writes.push_back(n);
    r.stream.insert(r.stream.end(), bytes, bytes + n);
    return true;
  };
  r.count = deflater.DeflateMember(level, read, write, output.data(), r.flags);
  r.error = deflater.LastError();
  return r;
}

Result Compress(const Bytes& input, int level, size_t piece = 0) {
  Deflater deflater;
  return Compress(deflater, input, level, piece);
}

// Raw inflate; empty optional-like result with ok=false on any error or
// trailing garbage.
bool Inflate(const Bytes& stream, Bytes& out) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return false;
  out.clear();
  std::vector<uint8_t> chunk(65536);
  z.next_in = const_cast<Bytef*>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  int rc;
  do {
    z.next_out = chunk.data();
    z.avail_out = static_cast<uInt>(chunk.size());
    rc = inflate(&z, Z_NO_FLUSH);
    out.insert(out.end(), chunk.data(), chunk.data() + (chunk.size() - z.avail_out));
  } while (rc == Z_OK);
  bool ok = rc == Z_STREAM_END && z.avail_in == 0;
  inflateEnd(&z);
  return ok;
}

uint32_t Next(uint32_t& seed) {
  seed = seed * 1103515245u + 12345u;
  return seed >> 8;
}

Bytes RandomBytes(size_t n, uint32_t seed) {
  Bytes b(n);
  for (auto& c : b) c = static_cast<uint8_t>(Next(seed));
  return b;
}

// Text-like data: words from a small vocabulary, lines of varying length.
Bytes Text(size_t n, uint32_t seed) {
  static const char* const words[] = {"the",   "archive", "member", "window", "deflate", "static", "int",
                                      "return", "{",      "}",      "if",     "(",       ")",      "for",
                                      "const", "struct",  "size_t", "0x7fff", "buffer",  "length", ";"};
  std::string s;
  while (s.size() < n) {
    s += words[Next(seed) % (sizeof words / sizeof words[0])];
    s += (Next(seed) % 9 == 0) ? "\n" : " ";
    if (Next(seed) % 50 == 0) s += std::to_string(Next(seed));
  }
  s.resize(n);
  return Bytes(s.begin(), s.end());
}

// A random block repeated: every match lies exactly one period back.
Bytes Periodic(size_t n, size_t period, uint32_t seed) {
  Bytes unit = RandomBytes(period, seed);
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = unit[i % period];
  return b;
}

struct Block {
  int type;
  bool last;
  size_t storedLength;
};

// Walks the block headers of a stream made only of stored blocks (and one
// final fixed block, if any); stops at the first other block.
std::vector<Block> StoredBlocks(const Bytes& s) {
  std::vector<Block> blocks;
  size_t bit = 0;
  auto bits = [&](int n) {
    unsigned v = 0;
    for (int i = 0; i < n; ++i, ++bit) v |= ((s[bit >> 3] >> (bit & 7)) & 1u) << i;
    return v;
  };
  while ((bit >> 3) < s.size()) {
    bool last = bits(1) != 0;
    int type = static_cast<int>(bits(2));
    if (type != 0) {
      blocks.push_back({type, last, 0});
      break;
    }
    bit = (bit + 7) & ~size_t{7};
    size_t at = bit >> 3;
    if (at + 4 > s.size()) break;
    size_t len = s[at] | (s[at + 1] << 8);
    size_t nlen = s[at + 2] | (s[at + 3] << 8);
    EXPECT_EQ(len ^ 0xffff, nlen);
    blocks.push_back({0, last, len});
    bit += (4 + len) * 8;
    if (last) break;
  }
  return blocks;
}

void ExpectRoundTrip(const Bytes& input, int level, const Result& r) {
  ASSERT_GE(r.count, 0) << "level " << level << ": " << r.error;
  EXPECT_EQ(static_cast<size_t>(r.count), r.stream.size()) << "level " << level;
  for (size_t n : r.writes) EXPECT_LE(n, size_t{65535});
  Bytes back;
  ASSERT_TRUE(Inflate(r.stream, back)) << "level " << level;
  ASSERT_EQ(back.size(), input.size()) << "level " << level;
  EXPECT_TRUE(back == input) << "level " << level;
}

TEST(Deflater, EmptyInputIsOneFixedEndOfBlock) {
  Deflater deflater;
  for (int level = 1; level <= 8; ++level) {
    Result r = Compress(deflater, {}, level);
    EXPECT_EQ(r.count, 2);
    EXPECT_EQ(r.stream, (Bytes{0x03, 0x00})) << "level " << level;
    ASSERT_FALSE(r.requests.empty());
    EXPECT_EQ(r.requests[0], 65536u);
  }
}

TEST(Deflater, EveryLevelInflatesBackToTheInput) {
  const std::vector<std::pair<const char*, Bytes>> inputs = {
      {"one byte", Bytes{'x'}},
      {"two bytes", Bytes{'x', 'y'}},
      {"short text", Text(300, 1)},
      {"text sliding the window", Text(700000, 2)},
      {"period across the slide", Periodic(400000, 30000, 3)},
      {"period near the longest distance", Periodic(200000, 32506, 4)},
      {"period beyond the longest distance", Periodic(200000, 32507, 5)},
      {"run of one byte", Bytes(1 << 20, 0xAA)},
      {"short period", Periodic(300000, 7, 6)},
      {"random", RandomBytes(150000, 7)},
  };
  Deflater deflater;
  for (const auto& [name, input] : inputs) {
    SCOPED_TRACE(name);
    for (int level = 1; level <= 8; ++level) ExpectRoundTrip(input, level, Compress(deflater, input, level));
  }
}

TEST(Deflater, OutputLeavesThroughTheBufferInFullPieces) {
  Bytes input = RandomBytes(40000, 8);
  Bytes text = Text(400000, 9);
  input.insert(input.end(), text.begin(), text.end());
  Result r = Compress(input, 6);
  ExpectRoundTrip(input, 6, r);
  ASSERT_GE(r.writes.size(), 4u);
  // The stored block at the start goes out as header bytes, the four length
  // bytes and the bytes themselves; the compressed rest in 16 KiB pieces
  // (16383 when a two-byte code no longer fits).
  size_t full = 0;
  for (size_t i = 0; i + 1 < r.writes.size(); ++i) {
    if (r.writes[i] >= Deflater::kOutputBufferSize - 1 && r.writes[i] <= Deflater::kOutputBufferSize) ++full;
  }
  EXPECT_GE(full, 3u);
  EXPECT_TRUE(std::find(r.writes.begin(), r.writes.end(), 4u) != r.writes.end());
}

TEST(Deflater, RandomDataGoesOutInSmallStoredBlocks) {
  const Bytes input = RandomBytes(300000, 10);
  for (int level : {1, 4, 6, 8}) {
    Result r = Compress(input, level);
    ExpectRoundTrip(input, level, r);
    std::vector<Block> blocks = StoredBlocks(r.stream);
    size_t total = 0;
    for (const Block& b : blocks) {
      EXPECT_EQ(b.type, 0);
      EXPECT_LE(b.storedLength, 32767u);
      total += b.storedLength;
    }
    EXPECT_EQ(total, input.size());
    ASSERT_FALSE(blocks.empty());
    EXPECT_TRUE(blocks.back().last);
    EXPECT_LE(r.stream.size(), input.size() + 5 * blocks.size()) << "level " << level;
  }
}

TEST(Deflater, ReadSizesDoNotChangeTheStream) {
  // The blocks and matches depend on positions only, not on how the source
  // hands the bytes over.
  Bytes input = Text(250000, 11);
  Bytes noise = RandomBytes(70000, 12);
  input.insert(input.begin() + 100000, noise.begin(), noise.end());
  for (int level : {2, 4, 8}) {
    Result whole = Compress(input, level);
    ExpectRoundTrip(input, level, whole);
    EXPECT_EQ(whole.requests[0], 65536u);
    for (size_t i = 1; i < whole.requests.size(); ++i) EXPECT_LE(whole.requests[i], 65536u - 32768u + 262u);
    for (size_t piece : {size_t{1000}, size_t{7}}) {
      Result pieces = Compress(input, level, piece);
      EXPECT_TRUE(pieces.stream == whole.stream) << "level " << level << " piece " << piece;
    }
  }
}

TEST(Deflater, EachMemberStartsAfresh) {
  const Bytes a = Text(150000, 13);
  const Bytes b = Periodic(120000, 1000, 14);
  Deflater shared;
  for (int level : {1, 4, 8}) {
    Result first = Compress(shared, a, level);
    Compress(shared, b, level);
    Compress(shared, RandomBytes(5, 15), 3);
    Result again = Compress(shared, a, level);
    Result fresh = Compress(a, level);
    EXPECT_TRUE(first.stream == again.stream) << "level " << level;
    EXPECT_TRUE(first.stream == fresh.stream) << "level " << level;
  }
}

TEST(Deflater, LevelsAndTheirFlags) {
  Deflater deflater;
  const Bytes input = Text(1000, 16);
  for (int level : {0, 9, -1, 100}) {
    int reads = 0, writes = 0;
    uint16_t flags = 0x0800;
    uint8_t buffer[Deflater::kOutputBufferSize];
    int64_t n = deflater.DeflateMember(
        level, [&](uint8_t*, size_t) -> size_t { return ++reads, 0; },
        [&](const uint8_t*, size_t) { return ++writes, true; }, buffer, flags);
    EXPECT_EQ(n, -1);
    EXPECT_EQ(deflater.LastError(), "bad pack level");
    EXPECT_EQ(flags, 0x0800);
    EXPECT_EQ(reads + writes, 0);
  }
  const uint16_t expected[9] = {0, 0x0004, 0x0004, 0, 0, 0, 0, 0, 0x0002};
  for (int level = 1; level <= 8; ++level) {
    Result r = Compress(deflater, input, level);
    EXPECT_EQ(r.flags, expected[level]) << "level " << level;
    EXPECT_EQ(r.error, "");
  }
}

TEST(Deflater, ShortWriteFailsTheMemberAndStopsOutput) {
  const Bytes input = Text(2000000, 17);
  for (int accepted : {0, 1, 3}) {
    Deflater deflater;
    int calls = 0;
    size_t position = 0;
    size_t readAfterFailure = 0;
    bool failed = false;
    std::vector<uint8_t> output(Deflater::kOutputBufferSize, 0);
    auto read = [&](uint8_t* buffer, size_t n) -> size_t {
      size_t take = std::min(n, input.size() - position);
      if (take != 0) std::memcpy(buffer, input.data() + position, take);
      position += take;
      if (failed) readAfterFailure += take;
      return take;
    };
    auto write = [&](const uint8_t*, size_t) -> bool {
      if (failed) ADD_FAILURE() << "write after the sink failed";
      if (calls++ < accepted) return true;
      failed = true;
      std::fill(output.begin(), output.end(), 0xEE);
      return false;
    };
    uint16_t flags = 0;
    EXPECT_EQ(deflater.DeflateMember(6, read, write, output.data(), flags), -1);
    EXPECT_FALSE(deflater.LastError().empty());
    EXPECT_TRUE(failed);
    // The caller's buffer is left as the sink left it, and the compressor
    // gives up instead of reading the rest of a 2 MB member.
    EXPECT_TRUE(std::all_of(output.begin(), output.end(), [](uint8_t c) { return c == 0xEE; }));
    EXPECT_LT(readAfterFailure, 200000u);
    // The same Deflater still serves the next member.
    Result next = Compress(deflater, input, 4);
    ExpectRoundTrip(input, 4, next);
  }
}

TEST(Deflater, SizeIsCloseToZlibAtTheSameLevel) {
  // zlib follows the same design with a different block size; a large gap
  // would mean lost matches or badly built trees.
  const Bytes input = Text(600000, 18);
  for (int level : {4, 6, 8}) {
    Result r = Compress(input, level);
    z_stream z{};
    ASSERT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY), Z_OK);
    Bytes out(deflateBound(&z, input.size()));
    z.next_in = const_cast<Bytef*>(input.data());
    z.avail_in = static_cast<uInt>(input.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    double ratio = static_cast<double>(r.stream.size()) / static_cast<double>(z.total_out);
    deflateEnd(&z);
    EXPECT_GT(ratio, 0.97) << "level " << level;
    EXPECT_LT(ratio, 1.02) << "level " << level;
  }
}


// The member data Info-ZIP zip writes for one file at `level`; empty when zip
// is not installed or did not deflate it.
Bytes ZipMemberData(const test::ScratchDir& dir, const Bytes& input, int level) {
  const std::string source = dir / "input.bin";
  const std::string archive = dir / "peer.zip";
  test::WriteFile(source, std::string(input.begin(), input.end()));
  std::remove(archive.c_str());
  std::string command = "zip -q -X -j -" + std::to_string(level) + " '" + archive + "' '" + source + "' >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) return {};
  std::string zip = test::ReadFile(archive);
  if (zip.size() < 30 || zip.compare(0, 4, "PK\x03\x04") != 0) return {};
  auto u16 = [&](size_t at) { return static_cast<size_t>(static_cast<uint8_t>(zip[at]) | (static_cast<uint8_t>(zip[at + 1]) << 8)); };
  auto u32 = [&](size_t at) { return u16(at) | (u16(at + 2) << 16); };
  if (u16(8) != 8) return {};
  size_t start = 30 + u16(26) + u16(28);
  size_t size = u32(18);
  if (start + size > zip.size()) return {};
  return Bytes(zip.begin() + static_cast<long>(start), zip.begin() + static_cast<long>(start + size));
}

TEST(Deflater, SameStreamAsInfoZipAtEveryLevel) {
  // The matches, block ends and block types follow the same reference
  // design as Info-ZIP zip, so compressible data gives the very same bytes.
  if (std::system("zip -v >/dev/null 2>&1") != 0) GTEST_SKIP() << "zip is not installed";
  test::ScratchDir dir;
  Bytes mixed = Text(90000, 20);
  Bytes period = Periodic(50000, 3000, 21);
  mixed.insert(mixed.end(), period.begin(), period.end());
  Bytes tail = Text(70000, 22);
  mixed.insert(mixed.end(), tail.begin(), tail.end());
  const std::vector<std::pair<const char*, Bytes>> inputs = {
      {"short text", Text(5000, 23)},
      {"text of one window buffer", Text(65536, 24)},
      {"text just over it", Text(65536 + 263, 25)},
      {"mixed", mixed},
      {"run of one byte", Bytes(200000, 0)},
  };
  for (const auto& [name, input] : inputs) {
    for (int level = 1; level <= 8; ++level) {
      Bytes peer = ZipMemberData(dir, input, level);
      ASSERT_FALSE(peer.empty()) << name << " level " << level;
      Result ours = Compress(input, level);
      EXPECT_TRUE(ours.stream == peer) << name << " level " << level << ": " << ours.stream.size() << " bytes against "
                                       << peer.size();
    }
  }
}

}  // namespace
}  // namespace quindo
