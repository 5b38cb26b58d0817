#include "app/extraction_job.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

#include "app/extraction_walk.h"
#include "app/file_source.h"
#include "app/message_text.h"
#include "app/output_folders.h"
#include "app/path_utils.h"
#include "app/settings.h"
#include "app/user_interface.h"
#include "app/worker.h"
#include "common/path_text.h"
#include "lzh/lzh_reader.h"
#include "platform/platform.h"
#include "zip/zip_reader.h"

namespace quindo {

namespace {

constexpr size_t kDetectionWindow = 1024 * 1024;

const char kSecurityTitle[] = "セキュリティ";
const char kSecurityText[] =
    "偽装ファイルの可能性が高い実行可能ファイルが検出されました。\n"
    "このファイルに見覚えが無い場合は注意してください。\n\nファイル：";

std::string Shown(const std::string& systemText) {
  std::string shown;
  if (!PathCodePage().ToUtf8(systemText, shown)) shown = systemText;
  return shown;
}

// What the progress view polls, and how its Cancel and the worker's prompts
// reach the walk.
class ExtractionProgress final : public ProgressSource, public ExtractionHost {
 public:
  explicit ExtractionProgress(uint64_t archiveSize) : size_(archiveSize) {}

  uint32_t Percent() const override {
    if (size_ == 0) return 0;
    const uint64_t at = position.load(std::memory_order_relaxed);
    return at >= size_ ? 100u : static_cast<uint32_t>(at * 100 / size_);
  }
  std::string CurrentName() const override {
    std::lock_guard lock(mutex_);
    return name_;
  }
  void RequestCancel() override { cancel = true; }

  PasswordAnswer AskPassword(const std::string& memberPath, bool previousWrong, std::string& password) override {
    PasswordRequest request;
    request.memberName = Shown(memberPath);
    request.previousWrong = previousWrong;
    const PasswordAnswer answer = Ui().AskPassword(request, password);
    if (answer == PasswordAnswer::Cancelled) cancel = true;
    if (password.size() > kMaxValueLength) password.resize(kMaxValueLength);
    return answer;
  }
  void WarnDisguisedExecutable(const std::string& fileName) override {
    Ui().ShowWorkerMessage(std::string(kSecurityText) + Shown(fileName) + "\n", kSecurityTitle,
                           MessageIcon::Warning);
  }
  void SetCurrentName(const std::string& fileName) override {
    std::lock_guard lock(mutex_);
    name_ = fileName;
  }

  std::atomic<bool> cancel{false};
  std::atomic<uint64_t> position{0};

 private:
  uint64_t size_;
  mutable std::mutex mutex_;
  std::string name_;
};

// A tree that keeps nothing: testing an archive.
class DiscardTree final : public OutputTree {
 public:
  platform::PathKind Kind(const std::string&) override { return platform::PathKind::Missing; }
  bool MakeFolder(const std::string&) override { return true; }
  bool CreateTemp(const std::string&, std::string& temp) override {
    temp.assign(1, '#');
    return true;
  }
  bool Write(const uint8_t*, size_t) override { return true; }
  bool CloseTemp() override { return true; }
  bool Commit(const std::string&, const std::string&, bool) override { return true; }
  void Discard(const std::string&) override {}
  void SetTimes(const std::string&, const MemberInfo&) override {}
  void SetAttributes(const std::string&, uint32_t) override {}
};

// A lane's own view of the archive: the file opened again, with a reader
// of the format over it.
class LaneReader final : public ArchiveReader {
 public:
  bool Open(const std::string& path, int format) {
    if (!file_.Open(path, platform::OpenMode::Read)) return false;
    source_ = std::make_unique<FileSource>(file_);
    reader_ = MakeArchiveReader(format, *source_);
    return reader_ != nullptr;
  }
  bool Next(MemberInfo& member) override { return reader_->Next(member); }
  void Rewind() override { reader_->Rewind(); }
  DecodeStatus Decode(const MemberInfo& member, ByteSink& sink, PasswordSource& passwords,
                      const DecodeControl& control) override {
    return reader_->Decode(member, sink, passwords, control);
  }
  uint64_t ArchiveSize() const override { return reader_->ArchiveSize(); }

 private:
  platform::File file_;
  std::unique_ptr<FileSource> source_;
  std::unique_ptr<ArchiveReader> reader_;
};

// The THREADS setting: 0 (or less) for every core; a few at most, since a
// lane holds its buffers and an open file.
int ExtractionThreads(int setting) {
  constexpr int kMaxLanes = 8;
  if (setting <= 0) setting = static_cast<int>(std::thread::hardware_concurrency());
  return std::clamp(setting, 1, kMaxLanes);
}

// The archive opened, its format detected and its members planned.
struct OpenArchive {
  platform::File file;
  std::unique_ptr<FileSource> source;
  std::unique_ptr<ArchiveReader> reader;
  ArchivePlan plan;
  int format = FormatNone;

  bool Open(const std::string& path, int knownFormat, const Settings& settings) {
    if (!file.Open(path, platform::OpenMode::Read)) return false;
    source = std::make_unique<FileSource>(file);
    format = knownFormat == FormatNone ? DetectArchiveFormat(*source) : knownFormat;
    reader = MakeArchiveReader(format, *source);
    if (!reader) return false;
    const bool useUtf8 = format == FormatZip && settings.ReadFlag(section::kZipOption, key::kUseUtf8, "1");
    const bool keepMacMetadata = settings.ReadFlag(section::kOption, key::kMacMetadata, "0");
    PlanArchive(*reader, useUtf8, plan, nullptr, keepMacMetadata);
    return true;
  }
};

// Removes a folder the job made when nothing but empty folders is in it.
bool RemoveEmptyFolders(const std::string& folder) {
  std::vector<platform::FolderItem> items;
  if (!platform::ListFolder(folder, [&](const platform::FolderItem& item) { items.push_back(item); })) return false;
  for (const platform::FolderItem& item : items)
    if (!item.isFolder || item.isSymlink ||
        !RemoveEmptyFolders(folder + platform::kPathSeparator + item.name))
      return false;
  return platform::RemoveDirectory(folder);
}

void ShowUnsupportedFormat() {
  Ui().ShowMessage("非対応フォーマットのファイルです。", "処理エラー", MessageIcon::Information);
}

}  // namespace

int DetectArchiveFormat(ByteSource& source) {
  std::vector<uint8_t> window(static_cast<size_t>(std::min<uint64_t>(source.Size(), kDetectionWindow)));
  size_t got = 0;
  if (!source.Seek(0)) return FormatNone;
  while (got < window.size()) {
    const int64_t n = source.Read(window.data() + got, window.size() - got);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  const std::span<const uint8_t> bytes(window.data(), got);
  if (LzhReader::Probe(bytes, source)) return FormatLzh;
  if (ZipReader::Probe(bytes, source)) return FormatZip;
  return FormatNone;
}

int DetectArchiveFormat(const std::string& path) {
  platform::File file;
  if (!file.Open(path, platform::OpenMode::Read)) return FormatNone;
  FileSource source(file);
  return DetectArchiveFormat(source);
}

std::unique_ptr<ArchiveReader> MakeArchiveReader(int format, ByteSource& source) {
  if (format == FormatLzh) return std::make_unique<LzhReader>(source);
  if (format == FormatZip) return std::make_unique<ZipReader>(source);
  return nullptr;
}

bool ArchiveFolderName(const std::string& archivePath, bool stripSerial, std::string& out) {
  const CodePage& cp = PathCodePage();
  out.assign(BaseNamePart(archivePath, cp));
  if (!stripSerial) return true;
  // The last three characters must be "[", one single byte, "]".
  size_t starts[3] = {std::string::npos, std::string::npos, std::string::npos};
  size_t lengths[3] = {0, 0, 0};
  for (size_t i = 0; i < out.size();) {
    PathChar ch = PathCharAt(out, i, cp);
    size_t len = ch.length ? ch.length : out.size() - i;
    starts[0] = starts[1];
    lengths[0] = lengths[1];
    starts[1] = starts[2];
    lengths[1] = lengths[2];
    starts[2] = i;
    lengths[2] = len;
    i += len;
  }
  if (starts[0] == std::string::npos) return true;
  if (lengths[0] == 1 && lengths[1] == 1 && lengths[2] == 1 && out[starts[0]] == '[' &&
      out[starts[2]] == ']')
    out.resize(starts[0]);
  return true;
}

std::string DescribeFailures(const ExtractionRecord& record) {
  std::vector<MemberFailure> failures;
  for (const MemberRecord& m : record.members) {
    MemberProblem problem;
    switch (m.outcome) {
      case MemberOutcome::Damaged: problem = MemberProblem::DamagedData; break;
      case MemberOutcome::Truncated: problem = MemberProblem::CutShort; break;
      case MemberOutcome::WrongPassword: problem = MemberProblem::WrongPassword; break;
      case MemberOutcome::NoPassword: problem = MemberProblem::PasswordNeeded; break;
      case MemberOutcome::Unsupported: problem = MemberProblem::MethodNotSupported; break;
      case MemberOutcome::CannotCreate:
      case MemberOutcome::WriteFailed: problem = MemberProblem::CannotCreate; break;
      default: continue;
    }
    failures.push_back(MemberFailure{Shown(m.path), problem, m.method});
  }
  std::string text = FailureDetails(failures);
  if (record.notReached) {
    if (!text.empty()) text += "\n";
    text += FillIn("以降の %s 件は展開されていません", std::to_string(record.notReached));
  }
  return text;
}

JobResult RunExtractionJob(const std::string& archivePath, int format, std::string& outputFolder,
                           const Settings& settings, std::string& details) {
  BuildLeadByteTable();
  details.clear();
  const CodePage& cp = PathCodePage();
  OpenArchive archive;
  if (!archive.Open(archivePath, format, settings)) {
    ShowUnsupportedFormat();
    return ResultFailed;
  }
  ArchiveReader* reader = archive.reader.get();
  const ArchivePlan& plan = archive.plan;

  AddTrailingSeparator(outputFolder, cp);
  const bool hasRoot = !plan.rootFolder.empty();
  if (!hasRoot) {
    const bool strip = settings.ReadFlag(section::kOption, key::kNumberFilter, "1");
    if (settings.ReadFlag(section::kOption, key::kMakeDirectory, "1")) {
      std::string name;
      ArchiveFolderName(archivePath, strip, name);
      outputFolder += name;
      outputFolder += platform::kPathSeparator;
    }
  }
  ExtractionOptions options;
  options.overwrite = settings.ReadFlag(section::kMelt, key::kOverwrite, "1");
  options.securityCheck = settings.ReadFlag(section::kOption, key::kSecurity, "0");
  options.threads = ExtractionThreads(settings.ReadInt(section::kOption, key::kThreads, 0));

  if (HasInvalidPathChars(outputFolder, cp)) return ResultBadPath;
  std::string folderItself = outputFolder;
  if (!folderItself.empty() && folderItself.back() == platform::kPathSeparator) folderItself.pop_back();
  const bool folderWasThere = platform::QueryPathKind(folderItself) != platform::PathKind::Missing;
  CreateFolderChain(outputFolder, cp);
  if (!IsFolderWritable(outputFolder)) {
    details = CannotWriteDetails(outputFolder);
    return ResultCannotWrite;
  }

  ExtractionProgress progress(reader->ArchiveSize());
  DecodeControl control;
  control.cancel = &progress.cancel;
  control.position = &progress.position;
  FileSystemTree tree(outputFolder, archivePath);
  ExtractionRecord record;
  {
    Worker worker;
    worker.Start([&] {
      const int format = archive.format;
      const std::string folder = outputFolder;
      const LaneFactory lanes = [&archivePath, format, folder]() {
        Lane lane;
        auto reader = std::make_unique<LaneReader>();
        if (!reader->Open(archivePath, format)) return lane;
        lane.reader = std::move(reader);
        lane.tree = std::make_unique<FileSystemTree>(folder, archivePath);
        return lane;
      };
      record = ExtractMembers(*reader, plan, tree, options, progress, control, lanes);
      return record.Failed() ? 0 : 1;
    });
    Ui().RunProgress(ProgressMode::Extract, progress, worker);
    worker.Join();
  }
  // A folder made for an archive of which nothing came out is not left
  // behind empty.
  if (!folderWasThere && record.files == 0 && record.Failed()) RemoveEmptyFolders(folderItself);
  if (record.cancelled) return ResultCancelled;
  if (record.Failed()) {
    details = DescribeFailures(record);
    return ResultFailed;
  }
  if (hasRoot) {
    outputFolder += plan.rootFolder;
    outputFolder += platform::kPathSeparator;
  }
  if (settings.ReadFlag(section::kMelt, key::kOpenDir, "1")) OpenFolderInExplorer(outputFolder);
  return ResultOk;
}

}  // namespace quindo

namespace quindo {

JobResult RunTestJob(const std::string& archivePath, const Settings& settings, std::string& details) {
  BuildLeadByteTable();
  details.clear();
  OpenArchive archive;
  if (!archive.Open(archivePath, FormatNone, settings)) {
    ShowUnsupportedFormat();
    return ResultFailed;
  }
  ExtractionProgress progress(archive.reader->ArchiveSize());
  DecodeControl control;
  control.cancel = &progress.cancel;
  control.position = &progress.position;
  DiscardTree tree;
  ExtractionRecord record;
  {
    Worker worker;
    worker.Start([&] {
      record = ExtractMembers(*archive.reader, archive.plan, tree, ExtractionOptions{}, progress, control);
      return record.Failed() ? 0 : 1;
    });
    Ui().RunProgress(ProgressMode::Extract, progress, worker);
    worker.Join();
  }
  if (record.cancelled) return ResultCancelled;
  if (record.Failed()) {
    details = DescribeFailures(record);
    return ResultFailed;
  }
  return ResultOk;
}

bool ListArchive(const std::string& archivePath, const Settings& settings, std::string& listing) {
  BuildLeadByteTable();
  OpenArchive archive;
  if (!archive.Open(archivePath, FormatNone, settings)) return false;
  listing.clear();
  char line[96];
  ForEachMember(*archive.reader, archive.plan, [&](const PlannedMember& m) {
    const MemberInfo& info = m.info;
    // Local time: a DOS time is one already; Unix seconds are converted.
    std::tm tm{};
    if (info.unixTime) {
      const auto t = static_cast<std::time_t>(info.unixSeconds);
#ifdef _WIN32
      localtime_s(&tm, &t);
#else
      localtime_r(&t, &tm);
#endif
    } else {
      tm.tm_year = (info.dosDate >> 9) + 80;
      tm.tm_mon = ((info.dosDate >> 5) & 15) - 1;
      tm.tm_mday = info.dosDate & 31;
      tm.tm_hour = info.dosTime >> 11;
      tm.tm_min = (info.dosTime >> 5) & 63;
    }
    const std::string size = info.isFolder ? "" : info.sizeKnown ? std::to_string(info.size) : "?";
    std::snprintf(line, sizeof line, "%12s  %04d-%02d-%02d %02d:%02d  %-10s  ", size.c_str(), tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, info.method.c_str());
    std::string name = Shown(m.path);
    if (info.isFolder) name += "/";
    if (info.encrypted) name += " (*)";
    listing += line + name + "\n";
    return true;
  });
  return true;
}

}  // namespace quindo
