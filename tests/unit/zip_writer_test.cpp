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

#include "common/little_endian.h"
#include "tests/support/test_support.h"
#include "zip/zip_writer.h"

namespace quindo {
namespace {

using test::ReadFile;

// A member as its local header records it, with the attributes from its
// central header; Parse checks that both headers agree on the rest.
struct Member {
  size_t offset = 0;
  uint16_t flags = 0, method = 0, time = 0, date = 0;
  uint32_t crc = 0, compressedSize = 0, size = 0, external = 0, mtime = 0, atime = 0;
  std::string name, data;
};

// Walks the archive front to back, the way it must have been written: local
// headers with their data, then the directory, then the end record.
std::vector<Member> Parse(const std::string& b) {
  auto u16 = [&](size_t at) { return LoadLe16(reinterpret_cast<const uint8_t*>(b.data()) + at); };
  auto u32 = [&](size_t at) { return LoadLe32(reinterpret_cast<const uint8_t*>(b.data()) + at); };
  std::vector<Member> members;
  size_t pos = 0;
  while (pos + 30 <= b.size() && u32(pos) == zip::kLocalHeaderSignature) {
    Member m;
    m.offset = pos;
    EXPECT_EQ(u16(pos + 4), 20);
    m.flags = u16(pos + 6), m.method = u16(pos + 8), m.time = u16(pos + 10), m.date = u16(pos + 12);
    m.crc = u32(pos + 14), m.compressedSize = u32(pos + 18), m.size = u32(pos + 22);
    const size_t n = u16(pos + 26);
    m.name = b.substr(pos + 30, n);
    // Extended timestamp: id "UT", 13 bytes, flag 7, then the three times.
    EXPECT_EQ(u16(pos + 28), 17);
    EXPECT_EQ(b.substr(pos + 30 + n, 5), std::string("UT\x0D\x00\x07", 5)) << m.name;
    m.mtime = u32(pos + 35 + n), m.atime = u32(pos + 39 + n);
    m.data = b.substr(pos + 47 + n, m.compressedSize);
    pos += 47 + n + m.compressedSize;
    members.push_back(m);
  }
  const size_t directory = pos;
  for (Member& m : members) {
    if (pos + 46 > b.size() || u32(pos) != zip::kCentralHeaderSignature) {
      ADD_FAILURE() << "no central header for " << m.name;
      return members;
    }
    EXPECT_EQ(u16(pos + 4), 0x0B17) << m.name;
    // Version needed to name length: the local header's bytes.
    EXPECT_EQ(b.substr(pos + 6, 24), b.substr(m.offset + 4, 24)) << m.name;
    const size_t n = u16(pos + 28);
    EXPECT_EQ(u16(pos + 30), 9) << m.name;
    EXPECT_EQ(b.substr(pos + 32, 6), std::string(6, '\0')) << "comment, disk, internal attributes";
    m.external = u32(pos + 38);
    EXPECT_EQ(u32(pos + 42), m.offset) << m.name;
    EXPECT_EQ(b.substr(pos + 46, n), m.name);
    // The central block holds the modification time alone.
    EXPECT_EQ(b.substr(pos + 46 + n, 9), std::string("UT\x05\x00\x07", 5) + b.substr(m.offset + 35 + n, 4));
    pos += 46 + n + 9;
  }
  if (pos + 22 != b.size()) {
    ADD_FAILURE() << "the end record must close the file";
    return members;
  }
  // Signature, disk numbers, both member counts, directory size and offset, no comment.
  auto le = [](uint64_t v, int bytes) {
    std::string s;
    while (bytes--) s += static_cast<char>(v), v >>= 8;
    return s;
  };
  const std::string count = le(members.size(), 2);
  EXPECT_EQ(b.substr(pos), std::string("PK\x05\x06\0\0\0\0", 8) + count + count + le(pos - directory, 4) +
                               le(directory, 4) + le(0, 2));
  return members;
}

// Raw-inflates a member's data, which must give exactly its size.
std::string Inflate(const Member& m) {
  std::string out(m.size, '\0');
  z_stream z{};
  EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(m.data.data()));
  z.avail_in = static_cast<uInt>(m.data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END) << m.name;
  EXPECT_EQ(z.avail_in + z.avail_out, 0u) << m.name;
  inflateEnd(&z);
  return out;
}

uint32_t Crc(const std::string& s) {
  return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

// Text that deflates well but not trivially.
std::string Text(size_t size) {
  std::string s;
  for (uint32_t x = 7; s.size() < size; x = x * 1664525u + 1013904223u)
    s += std::to_string(x >> 23) + (x & 0x100 ? " member\n" : " header ");
  return s.substr(0, size);
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
    SCOPED_TRACE(entries[i].name);
    EXPECT_EQ(m[i].name, entries[i].stored);
    EXPECT_EQ(m[i].flags, 0) << "the provisional bit 3 must be gone";
    EXPECT_EQ(m[i].method, entries[i].method);
    EXPECT_EQ(m[i].external, entries[i].external);
    EXPECT_EQ(m[i].size, entries[i].bytes.size());
    EXPECT_EQ(m[i].crc, Crc(entries[i].bytes));
    EXPECT_EQ(m[i].method == 8 ? Inflate(m[i]) : m[i].data, entries[i].bytes);
  }
  EXPECT_EQ(m[8].data, std::string("\x03\x00", 2)) << "an empty file is one empty fixed block";
  // Times of files come from the file system, the DOS fields in local time.
  EXPECT_EQ(m[0].mtime, static_cast<uint32_t>(when));
  EXPECT_EQ(m[0].time, 10 * 2048 + 15 * 32 + 18);
  EXPECT_EQ(m[0].date, (26 << 9) | (7 << 5) | 30);
  EXPECT_EQ(m[2].mtime, 1160000000u);
  EXPECT_EQ(m[2].atime, 1160000000u);
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
    for (size_t i = 0; i < std::size(names); ++i) {
      SCOPED_TRACE(names[i].name);
      EXPECT_EQ(m[i].method, names[i].method);
      EXPECT_EQ(m[i].flags, names[i].method == 8 ? l.flags : 0);
      EXPECT_EQ(m[i].method == 8 ? Inflate(m[i]) : m[i].data, content);
    }
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
    EXPECT_EQ(m[0].name, c.stored);
    EXPECT_EQ(m[0].flags, c.flags);
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
      EXPECT_EQ(m[0].crc, Crc(head));
      EXPECT_EQ(m[0].method == 8 ? Inflate(m[0]) : m[0].data, head);
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
