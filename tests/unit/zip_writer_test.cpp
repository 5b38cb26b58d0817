// The archive writer, checked byte by byte: every header it wrote is parsed
// back and compared field by field, and the member data are inflated again.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <ctime>
#include <thread>

#include "common/crc32.h"
#include "common/file_time.h"
#include "common/little_endian.h"
#include "tests/support/test_support.h"
#include "zip/zip_writer.h"

namespace quindo {
namespace {

using test::ReadFile;
using test::ScratchDir;
using test::WriteFile;

struct Local {
  size_t offset = 0;
  uint16_t version = 0, flags = 0, method = 0, time = 0, date = 0;
  uint32_t crc = 0, compressedSize = 0, size = 0;
  std::string name, extra, data;
};

struct Central {
  uint16_t madeBy = 0, version = 0, flags = 0, method = 0, time = 0, date = 0;
  uint32_t crc = 0, compressedSize = 0, size = 0;
  uint16_t commentLength = 0, disk = 0, internal = 0;
  uint32_t external = 0, localOffset = 0;
  std::string name, extra;
};

struct Parsed {
  std::vector<Local> locals;
  std::vector<Central> centrals;
  uint16_t entriesOnDisk = 0, totalEntries = 0;
  uint32_t directorySize = 0, directoryOffset = 0;
  size_t fileSize = 0;
};

const uint8_t* At(const std::string& s, size_t offset) {
  return reinterpret_cast<const uint8_t*>(s.data()) + offset;
}

// Walks the archive front to back, the way it must have been written: local
// headers with their data, then the directory, then the end record.
Parsed Parse(const std::string& bytes) {
  Parsed p;
  p.fileSize = bytes.size();
  size_t pos = 0;
  while (pos + 30 <= bytes.size() && LoadLe32(At(bytes, pos)) == zip::kLocalHeaderSignature) {
    Local l;
    l.offset = pos;
    l.version = LoadLe16(At(bytes, pos + 4));
    l.flags = LoadLe16(At(bytes, pos + 6));
    l.method = LoadLe16(At(bytes, pos + 8));
    l.time = LoadLe16(At(bytes, pos + 10));
    l.date = LoadLe16(At(bytes, pos + 12));
    l.crc = LoadLe32(At(bytes, pos + 14));
    l.compressedSize = LoadLe32(At(bytes, pos + 18));
    l.size = LoadLe32(At(bytes, pos + 22));
    const uint16_t n = LoadLe16(At(bytes, pos + 26)), e = LoadLe16(At(bytes, pos + 28));
    l.name = bytes.substr(pos + 30, n);
    l.extra = bytes.substr(pos + 30 + n, e);
    l.data = bytes.substr(pos + 30 + n + e, l.compressedSize);
    pos += 30 + n + e + l.compressedSize;
    p.locals.push_back(l);
  }
  while (pos + 46 <= bytes.size() && LoadLe32(At(bytes, pos)) == zip::kCentralHeaderSignature) {
    Central c;
    c.madeBy = LoadLe16(At(bytes, pos + 4));
    c.version = LoadLe16(At(bytes, pos + 6));
    c.flags = LoadLe16(At(bytes, pos + 8));
    c.method = LoadLe16(At(bytes, pos + 10));
    c.time = LoadLe16(At(bytes, pos + 12));
    c.date = LoadLe16(At(bytes, pos + 14));
    c.crc = LoadLe32(At(bytes, pos + 16));
    c.compressedSize = LoadLe32(At(bytes, pos + 20));
    c.size = LoadLe32(At(bytes, pos + 24));
    const uint16_t n = LoadLe16(At(bytes, pos + 28)), e = LoadLe16(At(bytes, pos + 30));
    c.commentLength = LoadLe16(At(bytes, pos + 32));
    c.disk = LoadLe16(At(bytes, pos + 34));
    c.internal = LoadLe16(At(bytes, pos + 36));
    c.external = LoadLe32(At(bytes, pos + 38));
    c.localOffset = LoadLe32(At(bytes, pos + 42));
    c.name = bytes.substr(pos + 46, n);
    c.extra = bytes.substr(pos + 46 + n, e);
    pos += 46 + n + e + c.commentLength;
    p.centrals.push_back(c);
  }
  EXPECT_EQ(pos + 22, bytes.size()) << "the end record must close the file";
  if (pos + 22 == bytes.size()) {
    EXPECT_EQ(LoadLe32(At(bytes, pos)), zip::kEndRecordSignature);
    EXPECT_EQ(LoadLe16(At(bytes, pos + 4)), 0);
    EXPECT_EQ(LoadLe16(At(bytes, pos + 6)), 0);
    p.entriesOnDisk = LoadLe16(At(bytes, pos + 8));
    p.totalEntries = LoadLe16(At(bytes, pos + 10));
    p.directorySize = LoadLe32(At(bytes, pos + 12));
    p.directoryOffset = LoadLe32(At(bytes, pos + 16));
    EXPECT_EQ(LoadLe16(At(bytes, pos + 20)), 0);
  }
  return p;
}

std::string Inflate(const std::string& compressed) {
  z_stream z{};
  EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
  std::string out;
  char buffer[65536];
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
  z.avail_in = static_cast<uInt>(compressed.size());
  int rc;
  do {
    z.next_out = reinterpret_cast<Bytef*>(buffer);
    z.avail_out = sizeof buffer;
    rc = inflate(&z, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - z.avail_out);
  } while (rc == Z_OK);
  EXPECT_EQ(rc, Z_STREAM_END);
  inflateEnd(&z);
  return out;
}

std::string Pseudorandom(size_t size, uint32_t seed) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) {
    seed = seed * 1103515245u + 12345u;
    s[i] = static_cast<char>(seed >> 24);
  }
  return s;
}

// Text that deflates well but not trivially.
std::string Prose(size_t size) {
  static const char* words[] = {"archive ", "member ", "header ", "deflate ", "folder ", "name\n"};
  std::string s;
  uint32_t x = 7;
  while (s.size() < size) {
    x = x * 1664525u + 1013904223u;
    s += words[(x >> 16) % 6];
  }
  s.resize(size);
  return s;
}

void SetWriteTime(const std::string& path, time_t when) {
  struct timeval times[2] = {{when, 0}, {when, 0}};
  ASSERT_EQ(::utimes(path.c_str(), times), 0);
}

class ZipWriterTest : public ::testing::Test {
 protected:
  ScratchDir dir;
  std::string archivePath = dir / "out.zip";
  std::atomic<uint64_t> progress{0};
  std::atomic<bool> abort{false};

  std::string Source(const std::string& name, const std::string& bytes) {
    std::string path = dir / ("src/" + name);
    WriteFile(path, bytes);
    return path;
  }
};

TEST_F(ZipWriterTest, ArchiveWithoutMembersIsTheEndRecordAlone) {
  ZipWriter writer;
  ASSERT_EQ(writer.Create(archivePath), ZipOk);
  ASSERT_EQ(writer.Close(), ZipOk);
  const std::string bytes = ReadFile(archivePath);
  ASSERT_EQ(bytes.size(), 22u);
  Parsed p = Parse(bytes);
  EXPECT_EQ(p.totalEntries, 0);
  EXPECT_EQ(p.entriesOnDisk, 0);
  EXPECT_EQ(p.directorySize, 0u);
  EXPECT_EQ(p.directoryOffset, 0u);
}

TEST_F(ZipWriterTest, HeadersOffsetsAndExtraBlocksOfEveryMember) {
  const std::string text = Prose(100000);
  const std::string a = Source("a.txt", text);
  const std::string b = Source("b.zip", "stored bytes");
  SetWriteTime(a, 1150000000);
  SetWriteTime(b, 1160000000);

  ZipWriter writer;
  ASSERT_EQ(writer.Create(archivePath), ZipOk);
  ASSERT_EQ(writer.AddFile("dir\\a.txt", a, progress, abort, 6), ZipOk);
  EXPECT_EQ(progress.load(), text.size());
  ASSERT_EQ(writer.AddFolder("dir"), ZipOk);
  ASSERT_EQ(writer.AddFile("b.zip", b, progress, abort, 6), ZipOk);
  ASSERT_EQ(writer.Close(), ZipOk);

  Parsed p = Parse(ReadFile(archivePath));
  ASSERT_EQ(p.locals.size(), 3u);
  ASSERT_EQ(p.centrals.size(), 3u);
  EXPECT_EQ(p.totalEntries, 3);
  EXPECT_EQ(p.entriesOnDisk, 3);

  // Each local header follows the previous member's data directly.
  EXPECT_EQ(p.locals[0].offset, 0u);
  EXPECT_EQ(p.locals[1].offset, 30 + 9 + 17 + p.locals[0].data.size());
  EXPECT_EQ(p.locals[2].offset, p.locals[1].offset + 30 + 4 + 17);
  const size_t directoryStart = p.locals[2].offset + 30 + 5 + 17 + 12;
  EXPECT_EQ(p.directoryOffset, directoryStart);
  EXPECT_EQ(p.directorySize, (46 + 9 + 9) + (46 + 4 + 9) + (46 + 5 + 9));

  const std::string names[] = {"dir/a.txt", "dir/", "b.zip"};
  const uint16_t methods[] = {8, 0, 0};
  const uint32_t sizes[] = {static_cast<uint32_t>(text.size()), 0, 12};
  const uint32_t crcs[] = {Crc32(text.data(), text.size()), 0, Crc32("stored bytes", 12)};
  const uint32_t attributes[] = {0x81800020, 0x41C00010, 0x81800020};
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(names[i]);
    const Local& l = p.locals[i];
    const Central& c = p.centrals[i];
    EXPECT_EQ(l.version, 20);
    EXPECT_EQ(l.flags, 0) << "the provisional bit 3 must be gone";
    EXPECT_EQ(l.method, methods[i]);
    EXPECT_EQ(l.crc, crcs[i]);
    EXPECT_EQ(l.size, sizes[i]);
    EXPECT_EQ(l.name, names[i]);
    EXPECT_EQ(c.madeBy, 0x0B17);
    EXPECT_EQ(c.version, 20);
    EXPECT_EQ(c.flags, l.flags);
    EXPECT_EQ(c.method, l.method);
    EXPECT_EQ(c.time, l.time);
    EXPECT_EQ(c.date, l.date);
    EXPECT_EQ(c.crc, l.crc);
    EXPECT_EQ(c.compressedSize, l.compressedSize);
    EXPECT_EQ(c.size, l.size);
    EXPECT_EQ(c.name, l.name);
    EXPECT_EQ(c.commentLength, 0);
    EXPECT_EQ(c.disk, 0);
    EXPECT_EQ(c.internal, 0);
    EXPECT_EQ(c.external, attributes[i]);
    EXPECT_EQ(c.localOffset, l.offset);

    // Local block: UT, 13 bytes, flag 7, three times; central: UT, 5, flag 7, one time.
    ASSERT_EQ(l.extra.size(), 17u);
    EXPECT_EQ(LoadLe16(At(l.extra, 0)), 0x5455);
    EXPECT_EQ(LoadLe16(At(l.extra, 2)), 13);
    EXPECT_EQ(l.extra[4], 7);
    ASSERT_EQ(c.extra.size(), 9u);
    EXPECT_EQ(LoadLe16(At(c.extra, 0)), 0x5455);
    EXPECT_EQ(LoadLe16(At(c.extra, 2)), 5);
    EXPECT_EQ(c.extra[4], 7);
    EXPECT_EQ(LoadLe32(At(c.extra, 5)), LoadLe32(At(l.extra, 5)));
  }
  EXPECT_EQ(Inflate(p.locals[0].data), text);
  EXPECT_EQ(p.locals[2].data, "stored bytes");

  // Times of the files come from the file system: write time in all three
  // places, the DOS fields in local time.
  EXPECT_EQ(LoadLe32(At(p.locals[0].extra, 5)), 1150000000u);
  EXPECT_EQ(LoadLe32(At(p.locals[2].extra, 5)), 1160000000u);
  EXPECT_EQ(LoadLe32(At(p.locals[2].extra, 9)), 1160000000u);  // access time, set alike
  DosDateTime dos = DosFromUnixLocal(1150000000);
  EXPECT_EQ(p.locals[0].time, dos.time);
  EXPECT_EQ(p.locals[0].date, dos.date);
  // A folder entry carries the time it was added.
  const int64_t added = LoadLe32(At(p.locals[1].extra, 5));
  EXPECT_LE(std::abs(added - static_cast<int64_t>(std::time(nullptr))), 60);
}

TEST_F(ZipWriterTest, DosTimeFieldsOfAKnownLocalTime) {
  struct tm local {};
  local.tm_year = 2006 - 1900;
  local.tm_mon = 6;
  local.tm_mday = 30;
  local.tm_hour = 10;
  local.tm_min = 15;
  local.tm_sec = 37;
  local.tm_isdst = -1;
  const std::string path = Source("t.txt", "x");
  SetWriteTime(path, std::mktime(&local));
  ZipWriter writer;
  ASSERT_EQ(writer.Create(archivePath), ZipOk);
  ASSERT_EQ(writer.AddFile("t.txt", path, progress, abort, 6), ZipOk);
  ASSERT_EQ(writer.Close(), ZipOk);
  Parsed p = Parse(ReadFile(archivePath));
  ASSERT_EQ(p.locals.size(), 1u);
  EXPECT_EQ(p.locals[0].time, 10 * 2048 + 15 * 32 + 18);
  EXPECT_EQ(p.locals[0].date, (26 << 9) | (7 << 5) | 30);
}

TEST_F(ZipWriterTest, MethodFollowsTheExtensionOfTheWholeName) {
  const std::string path = Source("payload", Prose(5000));
  struct Case {
    const char* name;
    uint16_t method;
  } cases[] = {
      {"data.ZIP", 0},  {"a.z", 0},        {"b.tar.gz", 0},  {"c.TGZ", 0},   {"x.lzh", 0},
      {"y.arj", 0},     {"z.zoo", 0},      {"w.arc", 0},     {"photo.jpg", 8}, {"a.gzip", 8},
      {"README", 8},    {"old.zip\\readme.txt", 8}, {"a.zip\\b", 8}, {"noext.", 8},
  };
  ZipWriter writer;
  ASSERT_EQ(writer.Create(archivePath), ZipOk);
  for (const Case& c : cases) ASSERT_EQ(writer.AddFile(c.name, path, progress, abort, 6), ZipOk) << c.name;
  ASSERT_EQ(writer.Close(), ZipOk);
  Parsed p = Parse(ReadFile(archivePath));
  ASSERT_EQ(p.locals.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(p.locals[i].method, cases[i].method) << cases[i].name;
    EXPECT_EQ(p.centrals[i].method, cases[i].method) << cases[i].name;
  }
}

TEST_F(ZipWriterTest, LevelFlagsOfDeflatedAndStoredMembers) {
  const std::string text = Source("t.txt", Prose(40000));
  const std::string gz = Source("t.gz", Prose(40000));
  struct Case {
    int level;
    uint16_t deflatedFlags;
  } cases[] = {{8, 0x0002}, {6, 0}, {4, 0}, {1, 0x0004}, {-1, 0}, {42, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.level);
    ZipWriter writer;
    ASSERT_EQ(writer.Create(archivePath), ZipOk);
    ASSERT_EQ(writer.AddFile("t.txt", text, progress, abort, c.level), ZipOk);
    ASSERT_EQ(writer.AddFile("t.gz", gz, progress, abort, c.level), ZipOk);
    ASSERT_EQ(writer.AddFolder("f"), ZipOk);
    ASSERT_EQ(writer.Close(), ZipOk);
    Parsed p = Parse(ReadFile(archivePath));
    ASSERT_EQ(p.locals.size(), 3u);
    EXPECT_EQ(p.locals[0].flags, c.deflatedFlags);
    EXPECT_EQ(p.centrals[0].flags, c.deflatedFlags);
    EXPECT_EQ(p.locals[1].flags, 0);
    EXPECT_EQ(p.centrals[1].flags, 0);
    EXPECT_EQ(p.locals[2].flags, 0);
    EXPECT_EQ(Inflate(p.locals[0].data), ReadFile(text));
  }
}

TEST_F(ZipWriterTest, ExternalAttributesFromModeAndExecutableHeader) {
  const std::string plain = Source("plain.txt", "plain text that is long enough to be examined");
  const std::string readOnly = Source("ro.txt", "read only");
  ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
  // MZ header, new-header offset 0x40 at 0x3C, "PE\0\0" there.
  std::string pe(200, '\0');
  pe[0] = 'M';
  pe[1] = 'Z';
  pe[0x3C] = 0x40;
  pe.replace(0x40, 4, std::string("PE\0\0", 4));
  const std::string program = Source("tool.exe", pe);
  std::string ne = pe;
  ne.replace(0x40, 4, std::string("NE\0\0", 4));
  const std::string oldProgram = Source("old.exe", ne);
  std::string mzOnly = pe;
  mzOnly.replace(0x40, 4, std::string("XX\0\0", 4));
  const std::string notProgram = Source("fake.exe", mzOnly);
  std::string farOffset = pe;
  farOffset[0x3C] = static_cast<char>(0xF0);  // h + 52 reaches past the end
  const std::string shortProgram = Source("short.exe", farOffset);

  ZipWriter writer;
  ASSERT_EQ(writer.Create(archivePath), ZipOk);
  for (const auto& path : {plain, readOnly, program, oldProgram, notProgram, shortProgram})
    ASSERT_EQ(writer.AddFile(path.substr(path.rfind('/') + 1), path, progress, abort, 6), ZipOk);
  ASSERT_EQ(writer.AddFolder("docs\\"), ZipOk);
  ASSERT_EQ(writer.Close(), ZipOk);
  Parsed p = Parse(ReadFile(archivePath));
  ASSERT_EQ(p.centrals.size(), 7u);
  EXPECT_EQ(p.centrals[0].external, 0x81800020u);
  EXPECT_EQ(p.centrals[1].external, 0x81000021u);
  EXPECT_EQ(p.centrals[2].external, 0x81C00020u);
  EXPECT_EQ(p.centrals[3].external, 0x81C00020u);
  EXPECT_EQ(p.centrals[4].external, 0x81800020u);
  EXPECT_EQ(p.centrals[5].external, 0x81800020u);
  EXPECT_EQ(p.centrals[6].external, 0x41C00010u);
  // The examination leaves the data whole.
  EXPECT_EQ(Inflate(p.locals[2].data), pe);
}

TEST_F(ZipWriterTest, EmptyFilesAndFolderEntries) {
  const std::string empty = Source("empty.txt", "");
  const std::string emptyZip = Source("x.zip", "");
  ZipWriter writer;
  ASSERT_EQ(writer.Create(archivePath), ZipOk);
  ASSERT_EQ(writer.AddFile("empty.txt", empty, progress, abort, 6), ZipOk);
  ASSERT_EQ(writer.AddFile("x.zip", emptyZip, progress, abort, 6), ZipOk);
  ASSERT_EQ(writer.AddFolder("docs"), ZipOk);
  ASSERT_EQ(writer.AddFolder("docs\\"), ZipOk);
  ASSERT_EQ(writer.Close(), ZipOk);
  Parsed p = Parse(ReadFile(archivePath));
  ASSERT_EQ(p.locals.size(), 4u);
  EXPECT_EQ(p.locals[0].method, 8);
  EXPECT_EQ(p.locals[0].compressedSize, 2u);
  EXPECT_EQ(p.locals[0].data, std::string("\x03\x00", 2));
  EXPECT_EQ(p.locals[0].crc, 0u);
  EXPECT_EQ(p.locals[0].size, 0u);
  EXPECT_EQ(p.locals[1].method, 0);
  EXPECT_EQ(p.locals[1].compressedSize, 0u);
  EXPECT_EQ(p.locals[1].size, 0u);
  for (int i : {2, 3}) {
    EXPECT_EQ(p.locals[i].name, "docs/");
    EXPECT_EQ(p.locals[i].method, 0);
    EXPECT_EQ(p.locals[i].compressedSize, 0u);
    EXPECT_EQ(p.locals[i].size, 0u);
    EXPECT_EQ(p.locals[i].crc, 0u);
    EXPECT_EQ(p.centrals[i].external, 0x41C00010u);
  }
}

TEST_F(ZipWriterTest, NamesInBothCodePages) {
  const std::string path = Source("n.txt", "n");
  {
    // Shift-JIS: the trail byte 0x5C of 表 is no separator.
    ZipWriter writer(Cp932CodePage());
    ASSERT_EQ(writer.Create(archivePath), ZipOk);
    ASSERT_EQ(writer.AddFile("sub\\\x95\x5C.txt", path, progress, abort, 6), ZipOk);
    ASSERT_EQ(writer.AddFolder("\x95\x5C"), ZipOk);
    ASSERT_EQ(writer.Close(), ZipOk);
    Parsed p = Parse(ReadFile(archivePath));
    ASSERT_EQ(p.locals.size(), 2u);
    EXPECT_EQ(p.locals[0].name, "sub/\x95\x5C.txt");
    EXPECT_EQ(p.locals[1].name, "\x95\x5C/");
    EXPECT_EQ(p.locals[0].flags & 0x0800, 0) << "Shift-JIS names are not marked as UTF-8";
  }
  {
    // UTF-8: names that are not plain ASCII carry bit 11 in both headers.
    ZipWriter writer(Utf8CodePage());
    ASSERT_EQ(writer.Create(archivePath), ZipOk);
    ASSERT_EQ(writer.AddFile("資料\\表.txt", path, progress, abort, 8), ZipOk);
    ASSERT_EQ(writer.AddFile("plain.txt", path, progress, abort, 8), ZipOk);
    ASSERT_EQ(writer.AddFolder("写真"), ZipOk);
    ASSERT_EQ(writer.Close(), ZipOk);
    Parsed p = Parse(ReadFile(archivePath));
    ASSERT_EQ(p.locals.size(), 3u);
    EXPECT_EQ(p.locals[0].name, "資料/表.txt");
    EXPECT_EQ(p.locals[0].flags, 0x0802);
    EXPECT_EQ(p.centrals[0].flags, 0x0802);
    EXPECT_EQ(p.locals[1].flags, 0x0002);
    EXPECT_EQ(p.locals[2].name, "写真/");
    EXPECT_EQ(p.centrals[2].flags, 0x0800);
  }
}

TEST_F(ZipWriterTest, RefusedArgumentsWriteNothing) {
  const std::string path = Source("n.txt", "n");
  ZipWriter writer;
  EXPECT_EQ(writer.AddFolder("a"), ZipBadArgument) << "no writer before Create";
  EXPECT_EQ(writer.Create(dir / "no/such/folder/out.zip"), ZipOpenFailed);
  ASSERT_EQ(writer.Create(archivePath), ZipOk);
  EXPECT_EQ(writer.AddFile("", path, progress, abort, 6), ZipBadArgument);
  EXPECT_EQ(writer.AddFolder(""), ZipBadArgument);
  EXPECT_EQ(writer.AddFile("a", "", progress, abort, 6), ZipBadArgument);
  EXPECT_EQ(writer.AddFile("a", dir / "missing", progress, abort, 6), ZipOpenFailed);
  EXPECT_EQ(writer.AddFile("a", dir.path(), progress, abort, 6), ZipOpenFailed) << "a folder is no source";
  // 259 bytes fit, the 260th does not (a folder's "/" counts).
  EXPECT_EQ(writer.AddFile(std::string(259, 'n'), path, progress, abort, 6), ZipOk);
  EXPECT_EQ(writer.AddFile(std::string(260, 'n'), path, progress, abort, 6), ZipBadArgument);
  EXPECT_EQ(writer.AddFolder(std::string(259, 'f')), ZipBadArgument);
  ASSERT_EQ(writer.Close(), ZipOk);
  Parsed p = Parse(ReadFile(archivePath));
  EXPECT_EQ(p.totalEntries, 1);
  EXPECT_EQ(writer.Close(), ZipBadArgument) << "a closed writer is gone";
}

TEST_F(ZipWriterTest, AbortEndsTheMemberShortWithMatchingHeaders) {
  const std::string data = Pseudorandom(24 << 20, 3);
  const std::string big = Source("big.bin", data);
  const std::string bigStored = Source("big.gz", data);

  // Abort already set: the member holds nothing, and says so.
  abort = true;
  {
    ZipWriter writer;
    ASSERT_EQ(writer.Create(archivePath), ZipOk);
    ASSERT_EQ(writer.AddFile("big.bin", big, progress, abort, 6), ZipOk);
    ASSERT_EQ(writer.AddFile("big.gz", bigStored, progress, abort, 6), ZipOk);
    ASSERT_EQ(writer.Close(), ZipOk);
    Parsed p = Parse(ReadFile(archivePath));
    ASSERT_EQ(p.locals.size(), 2u);
    EXPECT_EQ(p.locals[0].size, 0u);
    EXPECT_EQ(p.locals[0].crc, 0u);
    EXPECT_EQ(p.locals[1].size, 0u);
    EXPECT_EQ(p.locals[1].compressedSize, 0u);
  }

  // Abort while the data move: the headers record the bytes read before it.
  for (const std::string& source : {big, bigStored}) {
    SCOPED_TRACE(source);
    abort = false;
    progress = 0;
    std::thread canceller([&] {
      while (progress.load() < (256u << 10)) std::this_thread::yield();
      abort = true;
    });
    ZipWriter writer;
    ASSERT_EQ(writer.Create(archivePath), ZipOk);
    ASSERT_EQ(writer.AddFile("m", source, progress, abort, 6), ZipOk);
    canceller.join();
    ASSERT_EQ(writer.Close(), ZipOk);
    Parsed p = Parse(ReadFile(archivePath));
    ASSERT_EQ(p.locals.size(), 1u);
    const Local& l = p.locals[0];
    ASSERT_LT(l.size, data.size());
    ASSERT_GT(l.size, 0u);
    EXPECT_EQ(l.crc, Crc32(data.data(), l.size));
    EXPECT_EQ(p.centrals[0].size, l.size);
    const std::string content = l.method == 8 ? Inflate(l.data) : l.data;
    EXPECT_EQ(content, data.substr(0, l.size));
  }
}

TEST_F(ZipWriterTest, WhatTheFormatCannotRecordFailsTheMember) {
  // A sparse file of exactly 4 GiB: refused before anything is written.
  const std::string huge = dir / "huge.bin";
  WriteFile(huge, "");
  ASSERT_EQ(::truncate(huge.c_str(), 0x100000000LL), 0);
  const std::string small = Source("s.txt", Prose(3000));
  {
    ZipWriter writer;
    ASSERT_EQ(writer.Create(archivePath), ZipOk);
    ASSERT_EQ(writer.AddFile("s.txt", small, progress, abort, 6), ZipOk);
    const uint64_t before = writer.BytesWritten();
    EXPECT_EQ(writer.AddFile("huge.bin", huge, progress, abort, 6), ZipWriteFailed);
    EXPECT_EQ(writer.AddFile("huge.gz", huge, progress, abort, 6), ZipWriteFailed);
    EXPECT_EQ(writer.BytesWritten(), before);
    writer.Close();
  }

  ZipWriter::Limits limits;
  // The member count: the field holds 16 bits.
  limits.maxMembers = 2;
  {
    ZipWriter writer(SystemCodePage(), limits);
    ASSERT_EQ(writer.Create(archivePath), ZipOk);
    EXPECT_EQ(writer.AddFolder("a"), ZipOk);
    EXPECT_EQ(writer.AddFile("b", small, progress, abort, 6), ZipOk);
    EXPECT_EQ(writer.AddFolder("c"), ZipWriteFailed);
    EXPECT_EQ(writer.AddFile("d", small, progress, abort, 6), ZipWriteFailed);
    EXPECT_EQ(writer.Close(), ZipOk);
    EXPECT_EQ(Parse(ReadFile(archivePath)).totalEntries, 2);
  }

  // The archive size: a member whose data would pass the end fails, and so
  // does a directory that would.
  limits = ZipWriter::Limits{};
  limits.maxArchiveSize = 4000;
  {
    ZipWriter writer(SystemCodePage(), limits);
    ASSERT_EQ(writer.Create(archivePath), ZipOk);
    EXPECT_EQ(writer.AddFile("big.gz", Source("b.gz", std::string(5000, 'b')), progress, abort, 6),
              ZipWriteFailed);
    writer.Close();
  }
  {
    ZipWriter writer(SystemCodePage(), limits);
    ASSERT_EQ(writer.Create(archivePath), ZipOk);
    ASSERT_EQ(writer.AddFile("s.gz", Source("s2.gz", std::string(3900, 's')), progress, abort, 6), ZipOk);
    EXPECT_EQ(writer.Close(), ZipWriteFailed) << "30+4+17+3900 + 46+4+9 + 22 passes 4000";
  }
}

}  // namespace
}  // namespace quindo
