// The archive writer, checked byte by byte: every archive it wrote is laid
// out again from its directory and compared whole, and the member data are
// inflated again.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <atomic>
#include <ctime>
#include <fstream>
#include <map>

#include "tests/support/test_support.h"
#include "tests/support/zip_fixture.h"
#include "zip/zip_writer.h"
#include "platform/platform.h"

namespace quindo {
namespace {

using test::Put;
using test::ReadFile;
using test::Text;

// A member as the directory records it, with its times from the local header.
struct Member : test::DirectoryEntry {
  uint32_t mtime = 0, atime = 0, ctime = 0;
};

// Reads the members through the directory, then lays the archive out again
// the one way it may be written (local headers with the 17-byte timestamp
// block and the data; central headers with the 9-byte block and the
// modification time alone; the end record) and compares every byte.
std::vector<Member> Parse(const std::string& b) {
  auto u32 = [&](size_t at) { return LoadLe32(test::Bytes(b).data() + at); };
  std::vector<Member> members;
  std::string local, central, end = "PK\x05\x06";
  for (const test::DirectoryEntry& e : test::Directory(b)) {
    const size_t at = e.offset + 30 + e.name.size();  // the extended timestamp
    if (at + 17 > b.size()) break;
    const Member m{e, u32(at + 5), u32(at + 9), u32(at + 13)};
    // Version needed to name length, the same in both headers.
    std::string fields;
    Put(fields, {{20, 2}, {m.flags, 2}, {m.method, 2}, {m.time, 2}, {m.date, 2}, {m.crc, 4}, {m.compressedSize, 4},
                 {m.size, 4}, {m.name.size(), 2}});
    central += "PK\x01\x02\x17\x0B" + fields;  // made by 2.3 on NTFS
    Put(central, {{9, 2}, {0, 6}, {m.external, 4}, {local.size(), 4}});  // no comment, disk 0, no internal attributes
    central += m.name + std::string("UT\x05\x00\x07", 5);
    Put(central, {{m.mtime, 4}});
    local += "PK\x03\x04" + fields;
    Put(local, {{17, 2}});
    local += m.name + std::string("UT\x0D\x00\x07", 5);
    Put(local, {{m.mtime, 4}, {m.atime, 4}, {m.ctime, 4}});
    local += m.data;
    members.push_back(m);
  }
  Put(end, {{0, 4}, {members.size(), 2}, {members.size(), 2}, {central.size(), 4}, {local.size(), 4}, {0, 2}});
  const std::string expected = local + central + end;
  size_t same = 0;
  while (same < std::min(b.size(), expected.size()) && b[same] == expected[same]) ++same;
  EXPECT_EQ(same, b.size()) << "the archive departs from the layout at byte " << same;
  EXPECT_EQ(b.size(), expected.size());
  return members;
}

// A member's data as stored, inflated when deflated.
std::optional<std::string> Data(const Member& m) { return m.method == 8 ? test::RawInflate(m.data, m.size) : m.data; }

uint32_t Crc(const std::string& s) { return Crc32(s.data(), s.size()); }

// True when the peer tool is absent or accepts the archive.
void ExpectPeersAccept(const std::string& archive) {
  for (const std::string& command :
       {"python3 -c \"import sys, zipfile; sys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not None)\" '" + archive + "'",
        "unzip -tqq '" + archive + "'", "7z t '" + archive + "'"}) {
    const std::string tool = command.substr(0, command.find(' '));
    if (std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) != 0) continue;
    EXPECT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
  }
}

class ZipWriterTest : public ::testing::Test {
 protected:
  test::ScratchDir dir;
  std::string archive = dir / "out.zip";
  std::atomic<uint64_t> progress{0};
  std::atomic<bool> abort{false};

  std::string Source(const std::string& name, const std::string& bytes, time_t when = 0) {
    const std::string path = dir / ("src/" + name);
    test::WriteFile(path, bytes);
    const struct timeval times[2] = {{when, 0}, {when, 0}};
    if (when != 0) {
      EXPECT_EQ(::utimes(path.c_str(), times), 0);
    }
    return path;
  }
  ZipResult Add(ZipWriter& w, std::string_view name, const std::string& path, int level = 6) {
    return w.AddFile(name, path, progress, abort, level);
  }
  std::vector<Member> Close(ZipWriter& w) {
    EXPECT_EQ(w.Close(), ZipOk);
    return Parse(ReadFile(archive));
  }
};

TEST_F(ZipWriterTest, HeadersAttributesTimesAndDataOfEveryKindOfEntry) {
  struct tm local {};
  local.tm_year = 2006 - 1900, local.tm_mon = 6, local.tm_mday = 30;
  local.tm_hour = 10, local.tm_min = 15, local.tm_sec = 37, local.tm_isdst = -1;
  const time_t when = std::mktime(&local);
  // An MZ header whose new-header offset (at 0x3C) points at `signature`.
  auto program = [](const char* signature, char offset) {
    std::string s(200, '\0');
    s[0] = 'M', s[1] = 'Z', s[0x3C] = offset;
    return s.replace(0x40, 4, signature, 4);
  };
  const uint32_t kFile = 0x81800020, kFolder = 0x41C00010;
  const struct {
    const char *name, *stored;
    std::string bytes;
    uint16_t method;
    uint32_t external;
    time_t when = 0;
  } entries[] = {
      {"dir\\a.txt", "dir/a.txt", Text(100000), 8, kFile, when},
      {"dir", "dir/", "", 0, kFolder},
      {"b.zip", "b.zip", "stored bytes", 0, kFile, 1160000000},
      {"ro.txt", "ro.txt", "read only", 8, 0x81000021},
      {"tool.exe", "tool.exe", program("PE\0\0", 0x40), 8, 0x81C00020},
      {"fake.exe", "fake.exe", program("XX\0\0", 0x40), 8, kFile},
      {"short.exe", "short.exe", program("PE\0\0", '\xF0'), 8, kFile},  // header offset past the end
      {"empty.txt", "empty.txt", "", 8, kFile},
      {"docs\\", "docs/", "", 0, kFolder},
  };
  ZipWriter w;
  ASSERT_EQ(w.Create(archive), ZipOk);
  for (const auto& e : entries) {
    if (e.external == kFolder) {
      ASSERT_EQ(w.AddFolder(e.name), ZipOk);
      continue;
    }
    const std::string path = Source(e.name, e.bytes, e.when);
    if (e.external & 1) {
      ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    }
    progress = 0;
    ASSERT_EQ(Add(w, e.name, path), ZipOk);
    EXPECT_EQ(progress.load(), e.bytes.size());
  }
  const std::vector<Member> m = Close(w);
  ASSERT_EQ(m.size(), std::size(entries));
  for (size_t i = 0; i < m.size(); ++i) {
    const auto& e = entries[i];
    // Flags 0: the provisional bit 3 is gone.
    EXPECT_EQ(std::tie(m[i].name, m[i].flags, m[i].method, m[i].external, m[i].size, m[i].crc),
              std::make_tuple(e.stored, 0, e.method, e.external, e.bytes.size(), Crc(e.bytes)));
    EXPECT_EQ(Data(m[i]), e.bytes) << e.name;
  }
  EXPECT_EQ(m[7].data, std::string("\x03\x00", 2)) << "an empty file is one empty fixed block";
  // Times of files come from the file system, the DOS fields in local time.
  EXPECT_EQ(std::tie(m[0].mtime, m[0].time, m[0].date),
            std::make_tuple(uint32_t(when), 10 * 2048 + 15 * 32 + 18, (26 << 9) | (7 << 5) | 30));
  EXPECT_EQ(std::tie(m[2].mtime, m[2].atime), std::make_tuple(1160000000u, 1160000000u));
  // A folder entry carries the time it was added.
  EXPECT_LE(std::abs(static_cast<int64_t>(m[1].mtime) - static_cast<int64_t>(std::time(nullptr))), 60);
}

TEST_F(ZipWriterTest, NamesInBothCodePages) {
  const std::string path = Source("n.txt", "n");
  // Shift-JIS: the trail byte 0x5C of 表 is no separator, and no name is
  // marked as UTF-8. UTF-8: names that are not plain ASCII carry bit 11
  // when they are valid UTF-8.
  const struct {
    const CodePage& codePage;
    std::string name, stored;
    bool folder;
    uint16_t flags;
  } cases[] = {
      {Cp932CodePage(), "sub\\\x95\x5C.txt", "sub/\x95\x5C.txt", false, 0x0002},
      {Cp932CodePage(), "\x95\x5C", "\x95\x5C/", true, 0},
      {Utf8CodePage(), "資料\\表.txt", "資料/表.txt", false, 0x0802},
      {Utf8CodePage(), "写真", "写真/", true, 0x0800},
      // A Latin-1 name on a UTF-8 system is not UTF-8: its bytes, unflagged.
      {Utf8CodePage(), "caf\xE9.txt", "caf\xE9.txt", false, 0x0002},
      {Utf8CodePage(), std::string(259, 'n'), std::string(259, 'n'), false, 0x0002},  // the longest name
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored);
    ZipWriter w(c.codePage);
    ASSERT_EQ(w.Create(archive), ZipOk);
    ASSERT_EQ(c.folder ? w.AddFolder(c.name) : Add(w, c.name, path, 8), ZipOk);
    const std::vector<Member> m = Close(w);
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(std::tie(m[0].name, m[0].flags), std::tie(c.stored, c.flags));
  }
}

TEST_F(ZipWriterTest, FailedReadsLeaveNothingOfTheirMemberAndAFailedWriteSaysWhy) {
  const std::string a = Source("a.txt", Text(3000)), b = Source("b.bin", Text(200000)), c = Source("c.zip", Text(70000));
  const std::string held = Source("held.txt", "x");
  {
    // Reads of b fail after 100000 bytes, of c after 65536 (its last bytes);
    // held cannot be opened at all.
    test::ScopedFaults faults({{.path = b, .readLimit = 100000},
                               {.path = c, .readLimit = 65536},
                               {.path = held, .openError = platform::FileError::InUse}});
    ZipWriter w;
    ASSERT_EQ(w.Create(archive), ZipOk);
    EXPECT_EQ(Add(w, "a.txt", a), ZipOk);
    EXPECT_FALSE(w.SourceChanged());
    EXPECT_EQ(Add(w, "b.bin", b), ZipReadFailed);
    EXPECT_EQ(w.SourceError(), platform::FileError::ReadFailed);
    EXPECT_EQ(Add(w, "held.txt", held), ZipOpenFailed);
    EXPECT_EQ(w.SourceError(), platform::FileError::InUse);
    EXPECT_EQ(w.AddFolder("d"), ZipOk);
    EXPECT_EQ(Add(w, "c.zip", c), ZipReadFailed) << "the last member, taken back past the directory's end";
    const std::vector<Member> m = Close(w);  // laid out again byte for byte: nothing is left of b or c
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(std::make_tuple(m[0].name, Data(m[0]), m[1].name), std::make_tuple("a.txt", Text(3000), "d/"));
  }
  // The archive's bytes are buffered: a full disk shows when they go out,
  // here at the end, and says why.
  test::ScopedFaults faults({{.path = archive, .writeLimit = 20000}});
  ZipWriter w;
  ASSERT_EQ(w.Create(archive), ZipOk);
  EXPECT_EQ(Add(w, "a.bin", Source("r.bin", test::Noise(30000, 7))), ZipOk);
  EXPECT_EQ(w.Close(), ZipWriteFailed);
  EXPECT_EQ(w.ArchiveError(), platform::FileError::DiskFull);
}

// The ZIP64 side of an archive: the end records, and per member whether its
// central header carries ZIP64 sizes and offset, its local header the sizes
// (exactly when the central one has them), and its data.
struct Zip64Member {
  std::string name;
  bool sizes = false, offset = false;
};

std::vector<Zip64Member> ParseZip64(const std::string& b, const std::map<std::string, std::string>& contents,
                                    bool expectEnd64) {
  auto u16 = [&](size_t at) { return LoadLe16(test::Bytes(b).data() + at); };
  auto u32 = [&](size_t at) { return LoadLe32(test::Bytes(b).data() + at); };
  auto u64 = [&](size_t at) { return u32(at) | uint64_t{u32(at + 4)} << 32; };
  const size_t end = b.size() - 22;
  uint64_t count = u16(end + 10), dirStart = u32(end + 16);
  const bool hasLocator = end >= 20 && u32(end - 20) == 0x07064B50;
  EXPECT_EQ(hasLocator, expectEnd64);
  if (hasLocator) {
    const uint64_t record = u64(end - 12);
    EXPECT_EQ(std::make_tuple(u32(record), record + 56, u64(record + 24)),
              std::make_tuple(0x06064B50u, uint64_t{end - 20}, u64(record + 32)));
    count = u64(record + 32), dirStart = u64(record + 48);
  }
  std::vector<Zip64Member> out;
  for (size_t p = dirStart; out.size() < count && u32(p) == 0x02014B50;) {
    Zip64Member m;
    const uint16_t nameLength = u16(p + 28), method = u16(p + 10);
    m.name = b.substr(p + 46, nameLength);
    uint64_t packed = u32(p + 20), size = u32(p + 24), offset = u32(p + 42);
    if (size_t x = p + 46 + nameLength; u16(x) == 1) {
      x += 4;
      if ((m.sizes = size == 0xFFFFFFFF)) size = u64(x), packed = u64(x + 8), x += 16;
      if ((m.offset = offset == 0xFFFFFFFF)) offset = u64(x);
    }
    EXPECT_EQ(u16(p + 6), m.sizes || m.offset ? 45 : 20) << m.name;
    const bool localZip64 = u32(offset + 18) == 0xFFFFFFFF;
    EXPECT_EQ(localZip64, m.sizes) << m.name;
    const std::string data = b.substr(offset + 30 + nameLength + u16(offset + 28), packed);
    if (const auto found = contents.find(m.name); found != contents.end()) {
      EXPECT_EQ(method == 8 ? test::RawInflate(data, size) : data, found->second) << m.name;
      EXPECT_EQ(u32(p + 16), Crc(found->second)) << m.name;
    }
    p += 46 + nameLength + u16(p + 30) + u16(p + 32);
    out.push_back(m);
  }
  return out;
}

TEST_F(ZipWriterTest, Zip64WhereTheFieldsEndAndNowhereElse) {
  // The 32-bit fields end at 4096 here: sizes near it take the ZIP64 sizes
  // from their first header, offsets past it go into the central extra
  // field, a directory past it brings the ZIP64 end record.
  const std::map<std::string, std::string> contents = {
      {"small.txt", Text(500)},               // plain, at offset 0
      {"near.txt", Text(4040)},               // within 1/64 of the limit: ZIP64 sizes, deflated small
      {"big.zip", test::Noise(9000, 1)},      // stored past the limit
      {"after.txt", Text(300)},               // offset past the limit, sizes plain
  };
  ZipWriter w(SystemCodePage(), {.fieldLimit = 4096});
  ASSERT_EQ(w.Create(archive), ZipOk);
  for (const char* name : {"small.txt", "near.txt", "big.zip", "after.txt"})
    ASSERT_EQ(Add(w, name, Source(name, contents.at(name))), ZipOk) << name;
  ASSERT_EQ(w.AddFolder("folder"), ZipOk);
  // A source larger than it said at its open: taken back and written again
  // with the ZIP64 sizes (the kernel reports size 0 for this one).
  const bool proc = std::ifstream("/proc/self/smaps").good();
  if (proc) {
    EXPECT_EQ(Add(w, "grown.txt", "/proc/self/smaps"), ZipOk);
    EXPECT_TRUE(w.SourceChanged());
  }
  ASSERT_EQ(w.Close(), ZipOk);
  const std::vector<Zip64Member> m = ParseZip64(ReadFile(archive), contents, true);
  ASSERT_EQ(m.size(), proc ? 6u : 5u);
  const std::vector<std::pair<bool, bool>> zip64 = {{false, false}, {true, false}, {true, false}, {false, true},
                                                    {false, true}, {true, true}};
  for (size_t i = 0; i < m.size(); ++i) EXPECT_EQ(std::make_pair(m[i].sizes, m[i].offset), zip64[i]) << m[i].name;
  ExpectPeersAccept(archive);
}

TEST_F(ZipWriterTest, MoreThan65535MembersBringTheZip64EndRecord) {
  const std::string one = Source("one.txt", "1");
  for (const size_t count : {size_t{65535}, size_t{70000}}) {
    SCOPED_TRACE(count);
    ZipWriter w;
    ASSERT_EQ(w.Create(archive), ZipOk);
    for (size_t i = 0; i < count; ++i) {
      const std::string name = "m" + std::to_string(i);
      ASSERT_EQ(i % 1000 ? w.AddFolder(name) : Add(w, name + ".txt", one), ZipOk);
    }
    ASSERT_EQ(w.Close(), ZipOk);
    const std::string bytes = ReadFile(archive);
    ASSERT_EQ(ParseZip64(bytes, {{"m69000.txt", "1"}}, count > 65535).size(), count);
    EXPECT_EQ(LoadLe16(test::Bytes(bytes).data() + bytes.size() - 12), count > 65535 ? 0xFFFF : count);
    if (count > 65535) ExpectPeersAccept(archive);
  }
}

}  // namespace
}  // namespace quindo
