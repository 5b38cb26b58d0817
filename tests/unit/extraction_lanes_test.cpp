// Extraction on several lanes: what the progress view is shown, encrypted
// members, and the local times that every extracted file is given.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "app/extraction_walk.h"
#include "common/file_time.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"
#include "tests/support/walk_fixture.h"
#include "tests/support/zip_fixture.h"

namespace quindo {
namespace {

constexpr uint64_t kSpan = 400000;  // each member's bytes, header to end of data: one batch each
constexpr int kMembers = 4;

// What the lanes share: the reports in the order they were made, and the
// value the progress view would have read after each.
struct Reports {
  std::mutex mutex;
  std::condition_variable changed;
  bool secondReported = false;
  std::atomic<uint64_t>* shown = nullptr;
  std::vector<uint64_t> seen;

  void Report(const DecodeControl& control, uint64_t position) {
    std::lock_guard lock(mutex);
    control.Report(position);
    seen.push_back(shown->load());
  }
};

// Members m0..m3 laid end to end. The second member reports close to its end
// before the first one reports at all, as a lane ahead of another does.
class PacedReader final : public ArchiveReader {
 public:
  explicit PacedReader(Reports& reports) : reports_(reports) {}
  bool Next(MemberInfo& m) override {
    if (next_ == kMembers) return false;
    m = MemberInfo{};
    m.name = "m" + std::to_string(next_);
    m.method = "Fake";
    m.size = 1;
    m.headerOffset = next_ * kSpan;
    m.dataOffset = m.headerOffset + 30;
    m.dataEnd = m.headerOffset + kSpan;
    m.compressedSize = m.dataEnd - m.dataOffset;
    ++next_;
    return true;
  }
  void Rewind() override { next_ = 0; }
  DecodeStatus Decode(const MemberInfo& m, ByteSink& sink, PasswordSource&, const DecodeControl& control) override {
    if (m.name == "m0") {
      std::unique_lock lock(reports_.mutex);
      reports_.changed.wait_for(lock, std::chrono::seconds(5), [&] { return reports_.secondReported; });
    }
    for (uint64_t at = m.dataOffset; at < m.dataEnd; at += kSpan / 4) reports_.Report(control, at);
    if (m.name == "m1") {
      std::lock_guard lock(reports_.mutex);
      reports_.secondReported = true;
      reports_.changed.notify_all();
    }
    const uint8_t byte = 'x';
    return sink.Write(&byte, 1) ? DecodeStatus::Ok : DecodeStatus::WriteFailed;
  }
  uint64_t ArchiveSize() const override { return kMembers * kSpan; }

 private:
  Reports& reports_;
  int next_ = 0;
};

TEST(ExtractionLanes, ProgressNeverStepsBackWhileLanesOvertakeEachOther) {
  BuildLeadByteTable();
  Reports reports;
  std::atomic<uint64_t> position{0};
  reports.shown = &position;
  PacedReader reader(reports);
  ArchivePlan plan;
  ASSERT_TRUE(PlanArchive(reader, true, plan));
  std::vector<test::MemoryTree*> laneTrees;
  const LaneFactory lanes = [&] {
    Lane lane;
    lane.reader = std::make_unique<PacedReader>(reports);
    auto tree = std::make_unique<test::MemoryTree>();
    laneTrees.push_back(tree.get());
    lane.tree = std::move(tree);
    return lane;
  };
  test::MemoryTree tree;
  test::ScriptedHost host;
  std::atomic<bool> cancel{false};
  DecodeControl control;
  control.cancel = &cancel;
  control.position = &position;
  ExtractionOptions options;
  options.threads = 2;
  const ExtractionRecord record = ExtractMembers(reader, plan, tree, options, host, control, lanes);

  EXPECT_FALSE(record.Failed());
  EXPECT_EQ(record.files, static_cast<size_t>(kMembers));
  ASSERT_EQ(laneTrees.size(), 2u);
  EXPECT_TRUE(reports.secondReported);
  ASSERT_FALSE(reports.seen.empty());
  for (size_t i = 1; i < reports.seen.size(); ++i)
    EXPECT_GE(reports.seen[i], reports.seen[i - 1]) << "report " << i;
  // Every member counted whole once, whichever lane had it.
  EXPECT_EQ(position.load(), kMembers * kSpan);
}

// Encrypted members go to the lanes once a password has opened one; the one
// that needs another password comes back for the prompt. Two prompts, none
// on a lane, every member whole.
TEST(ExtractionLanes, EncryptedMembersShareTheOpeningPasswordAndComeBackForAnother) {
  BuildLeadByteTable();
  test::ZipBuilder builder;
  std::map<std::string, std::string> expected;
  for (int i = 0; i < 12; ++i) {
    const std::string name = "one" + std::to_string(i) + ".txt", data = test::Text(5000 + i);
    builder.Add(test::Member(name, data, 8, "one"));
    expected[name] = data;
    if (i == 6) {
      builder.Add(test::Member("two.txt", "second password", 8, "two"));
      expected["two.txt"] = "second password";
    }
  }
  const std::string zip = builder.bytes;
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(zip.data()), zip.size());
  test::ScratchDir dir;
  std::deque<MemorySource> sources;
  const LaneFactory lanes = [&] {
    Lane lane;
    lane.reader = MakeArchiveReader(FormatZip, sources.emplace_back(bytes));
    lane.tree = std::make_unique<FileSystemTree>(dir.path(), "");
    return lane;
  };
  MemorySource source(bytes);
  std::unique_ptr<ArchiveReader> reader = MakeArchiveReader(FormatZip, source);
  ArchivePlan plan;
  ASSERT_TRUE(PlanArchive(*reader, true, plan));
  FileSystemTree tree(dir.path(), "");
  test::ScriptedHost host;
  host.passwords = {"one", "two"};
  std::atomic<bool> cancel{false};
  std::atomic<uint64_t> position{0};
  DecodeControl control;
  control.cancel = &cancel;
  control.position = &position;
  ExtractionOptions options;
  options.threads = 2;
  const ExtractionRecord record = ExtractMembers(*reader, plan, tree, options, host, control, lanes);

  EXPECT_FALSE(record.Failed());
  EXPECT_EQ(record.files, expected.size());
  // One thread would ask a third time, for one7.txt after two.txt.
  EXPECT_EQ(host.prompts, (std::vector<std::pair<std::string, bool>>{{"one0.txt", false}, {"two.txt", false}}));
  std::map<std::string, std::string> written;
  for (const std::string& name : test::ListTree(dir.path())) written[name] = test::ReadFile(dir / name);
  EXPECT_EQ(written, expected);
  // The member handed back is counted once.
  uint64_t spans = 0;
  reader->Rewind();
  for (MemberInfo m; reader->Next(m);) spans += m.dataEnd - m.headerOffset;
  EXPECT_EQ(position.load(), spans);
}

uint16_t DosDate(int year, int month, int day) {
  return static_cast<uint16_t>((year - 1980) << 9 | month << 5 | day);
}
uint16_t DosTime(int hour, int minute, int second) {
  return static_cast<uint16_t>(hour << 11 | minute << 5 | second / 2);
}

// Every hour of a year, the clock changes included (Lord Howe Island moves
// it by half an hour), and times no clock shows.
TEST(ExtractionLanes, LocalTimesAgreeWithTheSystemsConversion) {
  for (const char* zone : {"UTC", "Europe/Berlin", "Australia/Lord_Howe", "America/St_Johns"}) {
    test::ScopedEnv tz("TZ", zone);
    ::tzset();
    LocalTimes times;
    for (int month = 1; month <= 12; ++month)
      for (int day = 1; day <= 31; ++day)
        for (int hour = 0; hour < 24; ++hour)
          for (const auto& [minute, second] : {std::pair{0, 0}, {15, 8}, {29, 58}, {30, 0}, {59, 58}}) {
            const uint16_t date = DosDate(2021, month, day), time = DosTime(hour, minute, second);
            ASSERT_EQ(times.Seconds(date, time), UnixFromDosLocal({date, time}))
                << zone << " 2021-" << month << "-" << day << " " << hour << ":" << minute << ":" << second;
          }
    const uint16_t badTimes[] = {DosTime(24, 0, 0), DosTime(12, 60, 0), static_cast<uint16_t>(DosTime(12, 0, 0) | 30)};
    for (const uint16_t bad : badTimes)
      EXPECT_EQ(times.Seconds(DosDate(2021, 5, 1), bad), UnixFromDosLocal({DosDate(2021, 5, 1), bad})) << zone;
    EXPECT_EQ(times.Seconds(DosDate(2021, 13, 1), DosTime(1, 0, 0)), std::nullopt) << zone;
    EXPECT_EQ(times.Seconds(DosDate(2021, 1, 0), DosTime(1, 0, 0)), std::nullopt) << zone;
  }
  ::tzset();  // the zone put back
}

// Files larger than the write buffer are written on a thread beside the
// decoder: their bytes, their time and a full disk must come out as for a
// small file.
TEST(ExtractionLanes, LargeFilesWrittenInTheBackgroundKeepBytesTimesAndFailures) {
  const std::string big = test::Text(3 * 1024 * 1024 + 77), stored = test::Text(700 * 1024);
  const std::string zip = test::ZipBuilder()
                              .Add(test::Member("big.txt", big))
                              .Add(test::Member("stored.txt", stored, 0))
                              .Add(test::Member("full/big.txt", big))
                              .Add(test::Member("full/small.txt", "small"))
                              .bytes;
  test::ScratchDir dir;
  platform::SetFileFaults({{.path = dir / "full" + platform::kPathSeparator, .writeLimit = 600 * 1024}});
  test::ScriptedHost host;
  const test::Extracted r = test::ExtractToFolder(zip, dir.path(), host);
  platform::SetFileFaults({});

  EXPECT_EQ(r.Outcomes(), (std::map<std::string, MemberOutcome>{
                              {std::string("full") + platform::kPathSeparator + "big.txt", MemberOutcome::WriteFailed}}));
  EXPECT_EQ(test::ReadFile(dir / "big.txt"), big);
  EXPECT_EQ(test::ReadFile(dir / "stored.txt"), stored);
  EXPECT_EQ(test::ReadFile(dir / "full/small.txt"), "small");
  EXPECT_EQ(test::ListTree(dir.path()), (std::vector<std::string>{"big.txt", "full/", "full/small.txt", "stored.txt"}));
  platform::FileInfo info;
  ASSERT_TRUE(platform::GetFileInfo(dir / "big.txt", info));
  EXPECT_EQ(info.writeTime, FileTimeFromUnix(*UnixFromDosLocal({test::kDosDate, test::kDosTime})));
}

}  // namespace
}  // namespace quindo
