// The archive writer, checked byte by byte: every archive it wrote is laid
// out again from its directory and compared whole, and the member data are
// inflated again.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <ctime>
#include <thread>

#include "tests/support/test_support.h"
#include "tests/unit/zip_fixture.h"
#include "zip/zip_writer.h"

namespace quindo {
namespace {

using test::Put;
using test::ReadFile;
using test::Text;

// A member as the directory records it, with its times and data from the
// local header.
struct Member : test::DirectoryEntry {
  uint32_t mtime = 0, atime = 0, ctime = 0;
  std::string data;
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
    const Member m{e, u32(at + 5), u32(at + 9), u32(at + 13), b.substr(at + 17, e.compressedSize)};
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
  EXPECT_TRUE(b == expected) << "the archive departs from the layout at byte " << same << " of " << b.size();
  return members;
}

// A member's data as stored, inflated when deflated.
std::optional<std::string> Data(const Member& m) { return m.method == 8 ? test::RawInflate(m.data, m.size) : m.data; }

uint32_t Crc(const std::string& s) { return Crc32(s.data(), s.size()); }

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
    EXPECT_TRUE(when == 0 || ::utimes(path.c_str(), times) == 0);
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
  const std::string text = Text(100000);
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
      {"dir\\a.txt", "dir/a.txt", text, 8, kFile, when},
      {"dir", "dir/", "", 0, kFolder},
      {"b.zip", "b.zip", "stored bytes", 0, kFile, 1160000000},
      {"ro.txt", "ro.txt", "read only", 8, 0x81000021},
      {"tool.exe", "tool.exe", program("PE\0\0", 0x40), 8, 0x81C00020},
      {"old.exe", "old.exe", program("NE\0\0", 0x40), 8, 0x81C00020},
      {"fake.exe", "fake.exe", program("XX\0\0", 0x40), 8, kFile},
      {"short.exe", "short.exe", program("PE\0\0", '\xF0'), 8, kFile},  // header offset past the end
      {"empty.txt", "empty.txt", "", 8, kFile},
      {"x.zip", "x.zip", "", 0, kFile},
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
    ASSERT_TRUE(!(e.external & 1) || ::chmod(path.c_str(), 0444) == 0);
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
  EXPECT_EQ(m[8].data, std::string("\x03\x00", 2)) << "an empty file is one empty fixed block";
  // Times of files come from the file system, the DOS fields in local time.
  EXPECT_EQ(std::tie(m[0].mtime, m[0].time, m[0].date), std::make_tuple(uint32_t(when), 10 * 2048 + 15 * 32 + 18, (26 << 9) | (7 << 5) | 30));
  EXPECT_EQ(std::tie(m[2].mtime, m[2].atime), std::make_tuple(1160000000u, 1160000000u));
  // A folder entry carries the time it was added.
  EXPECT_LE(std::abs(static_cast<int64_t>(m[1].mtime) - static_cast<int64_t>(std::time(nullptr))), 60);
}

TEST_F(ZipWriterTest, MethodByExtensionAndFlagsByLevel) {
  const std::string content = Text(5000);
  const std::string path = Source("payload", content);
  const struct {
    const char* name;
    uint16_t method;
  } names[] = {
      {"data.ZIP", 0}, {"a.z", 0},       {"b.tar.gz", 0},  {"c.TGZ", 0},    {"x.lzh", 0},
      {"y.arj", 0},    {"z.zoo", 0},     {"w.arc", 0},     {"photo.jpg", 8}, {"a.gzip", 8},
      {"README", 8},   {"old.zip\\readme.txt", 8},         {"a.zip\\b", 8},  {"noext.", 8},
  };
  // Levels outside 0..9 become 6.
  const struct {
    int level;
    uint16_t flags;
  } levels[] = {{8, 0x0002}, {6, 0}, {4, 0}, {1, 0x0004}, {-1, 0}, {42, 0}};
  for (const auto& l : levels) {
    SCOPED_TRACE(l.level);
    ZipWriter w;
    ASSERT_EQ(w.Create(archive), ZipOk);
    for (const auto& n : names) ASSERT_EQ(Add(w, n.name, path, l.level), ZipOk) << n.name;
    ASSERT_EQ(w.AddFolder("f"), ZipOk);
    const std::vector<Member> m = Close(w);
    ASSERT_EQ(m.size(), std::size(names) + 1);
    for (size_t i = 0; i < std::size(names); ++i)
      EXPECT_EQ(std::make_tuple(m[i].method, m[i].flags, Data(m[i])),
                std::make_tuple(names[i].method, names[i].method == 8 ? l.flags : 0, content)) << names[i].name;
    EXPECT_EQ(m.back().flags, 0);
  }
}

TEST_F(ZipWriterTest, NamesInBothCodePages) {
  const std::string path = Source("n.txt", "n");
  // Shift-JIS: the trail byte 0x5C of 表 is no separator, and no name is
  // marked as UTF-8. UTF-8: names that are not plain ASCII carry bit 11.
  const struct {
    const CodePage& codePage;
    std::string name, stored;
    bool folder;
    uint16_t flags;
  } cases[] = {
      {Cp932CodePage(), "sub\\\x95\x5C.txt", "sub/\x95\x5C.txt", false, 0x0002},
      {Cp932CodePage(), "\x95\x5C", "\x95\x5C/", true, 0},
      {Utf8CodePage(), "資料\\表.txt", "資料/表.txt", false, 0x0802},
      {Utf8CodePage(), "plain.txt", "plain.txt", false, 0x0002},
      {Utf8CodePage(), "写真", "写真/", true, 0x0800},
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

TEST_F(ZipWriterTest, RefusedArgumentsWriteNothing) {
  // What is left is the 22-byte archive with no member.
  const std::string path = Source("n.txt", "n");
  ZipWriter w;
  EXPECT_EQ(w.AddFolder("a"), ZipBadArgument) << "no writer before Create";
  EXPECT_EQ(w.Create(dir / "no/such/folder/out.zip"), ZipOpenFailed);
  ASSERT_EQ(w.Create(archive), ZipOk);
  EXPECT_EQ(Add(w, "", path), ZipBadArgument);
  EXPECT_EQ(w.AddFolder(""), ZipBadArgument);
  EXPECT_EQ(Add(w, "a", ""), ZipBadArgument);
  EXPECT_EQ(Add(w, "a", dir / "missing"), ZipOpenFailed);
  EXPECT_EQ(Add(w, "a", dir.path()), ZipOpenFailed) << "a folder is no source";
  // 259 bytes fit, the 260th does not (a folder's "/" counts).
  EXPECT_EQ(Add(w, std::string(260, 'n'), path), ZipBadArgument);
  EXPECT_EQ(w.AddFolder(std::string(259, 'f')), ZipBadArgument);
  EXPECT_TRUE(Close(w).empty());
  EXPECT_EQ(ReadFile(archive).size(), 22u);
  EXPECT_EQ(w.Close(), ZipBadArgument) << "a closed writer is gone";
}

TEST_F(ZipWriterTest, AbortEndsTheMemberShortWithMatchingHeaders) {
  std::string data(24 << 20, '\0');
  uint32_t x = 3;
  for (char& c : data) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
  // Abort set before the member or while its data move, deflated or stored:
  // the headers record the bytes read before it.
  for (const char* name : {"big.bin", "big.gz"}) {
    const std::string source = Source(name, data);
    for (uint64_t at : {uint64_t{0}, uint64_t{256} << 10}) {
      SCOPED_TRACE(::testing::Message() << name << " aborted at " << at);
      ZipWriter w;
      ASSERT_EQ(w.Create(archive), ZipOk);
      progress = 0;
      abort = at == 0;
      std::thread canceller([&] {
        while (progress.load() < at) std::this_thread::yield();
        abort = true;
      });
      EXPECT_EQ(Add(w, name, source), ZipOk);
      canceller.join();
      const std::vector<Member> m = Close(w);
      ASSERT_EQ(m.size(), 1u);
      ASSERT_LT(m[0].size, data.size());
      EXPECT_EQ(m[0].size == 0, at == 0);
      const std::string head = data.substr(0, m[0].size);
      EXPECT_EQ(std::make_tuple(m[0].crc, Data(m[0])), std::make_tuple(Crc(head), head));
    }
  }
}

TEST_F(ZipWriterTest, WhatTheFormatCannotRecordFailsTheMember) {
  // A sparse file of exactly 4 GiB: refused, deflated or stored, before
  // anything is written.
  const std::string huge = Source("huge.bin", ""), small = Source("s.txt", Text(3000));
  ASSERT_EQ(::truncate(huge.c_str(), 0x100000000LL), 0);
  ZipWriter w;
  ASSERT_EQ(w.Create(archive), ZipOk);
  ASSERT_EQ(Add(w, "s.txt", small), ZipOk);
  const uint64_t written = w.BytesWritten();
  EXPECT_EQ(Add(w, "huge.bin", huge), ZipWriteFailed);
  EXPECT_EQ(Add(w, "huge.gz", huge), ZipWriteFailed);
  EXPECT_EQ(w.BytesWritten(), written);
  EXPECT_EQ(Close(w).size(), 1u);

  // The member count (16 bits), here lowered to 2.
  ZipWriter two(SystemCodePage(), {.maxMembers = 2});
  ASSERT_EQ(two.Create(archive), ZipOk);
  EXPECT_EQ(two.AddFolder("a"), ZipOk);
  EXPECT_EQ(Add(two, "b", small), ZipOk);
  EXPECT_EQ(two.AddFolder("c"), ZipWriteFailed);
  EXPECT_EQ(Add(two, "d", small), ZipWriteFailed);
  EXPECT_EQ(Close(two).size(), 2u);

  // The archive size, lowered to 4000: member data that would pass it fail,
  // and so does a directory that would.
  ZipWriter big(SystemCodePage(), {.maxArchiveSize = 4000});
  ASSERT_EQ(big.Create(archive), ZipOk);
  EXPECT_EQ(Add(big, "big.gz", Source("b.gz", std::string(5000, 'b'))), ZipWriteFailed);
  ZipWriter full(SystemCodePage(), {.maxArchiveSize = 4000});
  ASSERT_EQ(full.Create(dir / "full.zip"), ZipOk);
  ASSERT_EQ(Add(full, "s.gz", Source("s2.gz", std::string(3900, 's'))), ZipOk);
  EXPECT_EQ(full.Close(), ZipWriteFailed) << "30+4+17+3900 + 46+4+9 + 22 passes 4000";
}

}  // namespace
}  // namespace quindo
