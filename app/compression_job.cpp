#include "app/compression_job.h"

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <memory>
#include <thread>

#include "app/message_text.h"
#include "app/output_folders.h"
#include "app/worker.h"
#include "common/file_time.h"
#include "common/path_text.h"
#include "platform/platform.h"
#include "zip/parallel_deflate.h"
#include "zip/zip_format.h"
#include "zip/zip_writer.h"

namespace quindo {

namespace {

constexpr char kSep = platform::kPathSeparator;

// On a system whose command lines carry relative paths ("quindo .." or
// "quindo ./notes.txt"), a dropped path is made absolute and its "." and ".."
// components are resolved in the text, so that the member names come from the
// real folder names and never climb out of the archive with "..". Windows
// shells hand over full paths, which stay as they are.
std::string DroppedPath(const std::string& argument) {
  if (kSep != '/' || argument.empty()) return argument;
  std::string full = argument;
  if (full.front() != '/') {
    const std::string cwd = platform::GetCurrentDirectory();
    if (cwd.empty()) return argument;
    full = cwd + "/" + argument;
  }
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= full.size()) {
    size_t end = full.find('/', start);
    if (end == std::string::npos) end = full.size();
    std::string part = full.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(std::move(part));
    }
    start = end + 1;
  }
  std::string out;
  for (const std::string& part : parts) out += "/" + part;
  if (out.empty()) out = "/";
  return out;
}

// Only regular files are stored. On a system with file modes, a named pipe,
// a device or a socket would block the open, never end, or fail the job;
// such items are left out like the unreadable paths. Windows reports no mode.
bool IsStorableFile(const platform::FileInfo& info) {
  constexpr uint32_t kTypeMask = 0170000, kRegular = 0100000;
  return info.unixMode == 0 || (info.unixMode & kTypeMask) == kRegular;
}

// On Linux "\" is an ordinary character of a file name, but in a member
// name it is the separator: it becomes the full-width "＼", which every
// reader, ours included, keeps as a character. Windows names hold none.
std::string StoredName(std::string name) {
  if constexpr (kSep == '/') {
    for (size_t at = name.find('\\'); at != std::string::npos; at = name.find('\\', at + 3))
      name.replace(at, 1, "\xEF\xBC\xBC");
  }
  return name;
}

ItemProblem ProblemOf(platform::FileError error) {
  switch (error) {
    case platform::FileError::InUse: return ItemProblem::InUse;
    case platform::FileError::NoPermission: return ItemProblem::NoPermission;
    case platform::FileError::Vanished: return ItemProblem::Vanished;
    case platform::FileError::ReadFailed: return ItemProblem::ReadError;
    default: return ItemProblem::CannotOpen;
  }
}

void Report(CompressionJob& job, std::string name, ItemProblem problem) {
  job.reports.push_back({std::move(name), problem});
}

void AddEntry(CompressionJob& job, FileEntry entry) {
  if (!entry.isFolder) job.totalSize.fetch_add(entry.size);
  job.entries.push_back(std::move(entry));
}

// With several threads, the members to deflate are handed to them ahead of
// the writer; `numbers` gives each entry its member number there.
std::unique_ptr<ParallelDeflate> StartParallelDeflate(const CompressionJob& job, std::vector<size_t>& numbers) {
  if (job.threads <= 1) return nullptr;
  auto pipeline = std::make_unique<ParallelDeflate>(job.threads, job.level, job.stop);
  numbers.assign(job.entries.size(), SIZE_MAX);
  for (size_t i = 0; i < job.entries.size(); ++i) {
    const FileEntry& entry = job.entries[i];
    if (!entry.isFolder && !IsStoredExtension(entry.name)) numbers[i] = pipeline->Add(entry.path, entry.size);
  }
  pipeline->Start();
  return pipeline;
}

}  // namespace

int DeflateThreads(int setting) {
  if (setting <= 0) setting = static_cast<int>(std::thread::hardware_concurrency());
  return std::clamp(setting, 1, ParallelDeflate::kMaxThreads);
}

void CompressionJob::SetCurrentName(std::string name) {
  std::lock_guard lock(nameMutex_);
  currentName_ = std::move(name);
}

std::string CompressionJob::CurrentName() const {
  std::lock_guard lock(nameMutex_);
  return currentName_;
}

uint32_t CompressionJob::Percent() const {
  const uint64_t total = totalSize.load();
  if (total == 0) return 0;
  const double done = static_cast<double>(currentDone.load()) + static_cast<double>(doneTotal.load());
  const double percent = done * 100.0 / static_cast<double>(total);
  // A file that grew while it was read may carry the sum past the total.
  return percent >= 100.0 ? 100u : static_cast<uint32_t>(percent);
}

std::string SplitDroppedPath(const std::string& path, const CodePage& cp) {
  if (path.empty()) return {};
  const size_t separator = LastSeparator(path, cp, path.size() - 1);
  std::string name = separator == std::string_view::npos ? path : path.substr(separator + 1);
  if (EndsWithSeparator(name, cp)) name.back() = '\\';
  return name;
}

void AddDroppedFolder(CompressionJob& job, const std::string& path) {
  FileEntry entry;
  entry.name = SplitDroppedPath(path, SystemCodePage());
  if (!entry.name.empty() && entry.name.back() == '\\') {
    entry.name.pop_back();
    entry.name = StoredName(std::move(entry.name)) + "\\";
  }
  entry.path = path;
  entry.isFolder = true;
  AddEntry(job, std::move(entry));
}

void AddDroppedFile(CompressionJob& job, const std::string& path) {
  platform::FileInfo info;
  if (!platform::GetFileInfo(path, info) || !IsStorableFile(info)) return;
  FileEntry entry;
  entry.name = StoredName(SplitDroppedPath(path, SystemCodePage()));
  entry.path = path;
  entry.size = info.size;
  AddEntry(job, std::move(entry));
}

void RemoveNestedFolders(CompressionJob& job) {
  std::vector<bool> keep(job.entries.size(), true);
  for (size_t a = 0; a < job.entries.size(); ++a) {
    if (!keep[a] || !job.entries[a].isFolder) continue;
    const std::string& outer = job.entries[a].path;
    for (size_t b = 0; b < job.entries.size(); ++b) {
      const std::string& inner = job.entries[b].path;
      if (b != a && job.entries[b].isFolder && inner.size() > outer.size() &&
          inner.compare(0, outer.size(), outer) == 0)
        keep[b] = false;
    }
  }
  std::vector<FileEntry> kept;
  kept.reserve(job.entries.size());
  for (size_t i = 0; i < job.entries.size(); ++i)
    if (keep[i]) kept.push_back(std::move(job.entries[i]));
  job.entries = std::move(kept);
}

void CollectDroppedItems(CompressionJob& job, const std::vector<std::string>& args) {
  std::vector<std::string> paths;
  for (size_t i = 1; i < args.size(); ++i) paths.push_back(DroppedPath(args[i]));
  for (const std::string& path : paths) {
    const uint32_t attributes = platform::GetFileAttributes(path);
    if (attributes == platform::kInvalidAttributes || !(attributes & platform::kAttrDirectory)) continue;
    std::string folder = path;
    AddTrailingSeparator(folder, SystemCodePage());
    AddDroppedFolder(job, folder);
  }
  RemoveNestedFolders(job);
  for (const std::string& path : paths) {
    const uint32_t attributes = platform::GetFileAttributes(path);
    if (attributes == platform::kInvalidAttributes || (attributes & platform::kAttrDirectory)) continue;
    AddDroppedFile(job, path);
  }
}

bool ScanFolder(CompressionJob& job, const std::string& folder, const std::string& prefix) {
  // The listing is taken whole before descending, so that a deep tree holds
  // one open enumeration at a time.
  std::vector<platform::FolderItem> items;
  if (!platform::ListFolder(folder, [&](const platform::FolderItem& item) { items.push_back(item); })) {
    // An empty folder entry would claim that the folder is empty.
    std::string name = prefix;
    if (!name.empty() && name.back() == '\\') name.pop_back();
    Report(job, std::move(name), ItemProblem::NotListable);
    return false;
  }
  for (const platform::FolderItem& item : items) {
    if (job.stop.load()) return true;
    const std::string name = prefix + StoredName(item.name);
    if (item.isFolder) {
      FileEntry entry;
      entry.name = name;
      entry.isFolder = true;
      AddEntry(job, std::move(entry));
      // A link to a folder is kept as an empty folder entry: following it
      // could loop or pull in a tree from outside the dropped folder.
      if (!item.isSymlink && !ScanFolder(job, folder + item.name + kSep, name + "\\")) job.entries.pop_back();
    } else if (IsStorableFile(item.info)) {
      // A link to a file is stored as the file it names.
      FileEntry entry;
      entry.name = name;
      entry.path = folder + item.name;
      entry.size = item.info.size;
      AddEntry(job, std::move(entry));
    }
  }
  return true;
}

void ExpandFolders(CompressionJob& job) {
  const std::vector<FileEntry> dropped = job.entries;
  std::vector<std::string> unlisted;
  for (const FileEntry& entry : dropped) {
    if (job.stop.load()) break;
    if (entry.isFolder && !ScanFolder(job, entry.path, entry.name)) unlisted.push_back(entry.path);
  }
  // The dropped folders lead the list.
  std::erase_if(job.entries, [&](const FileEntry& e) {
    return e.isFolder && !e.path.empty() && std::find(unlisted.begin(), unlisted.end(), e.path) != unlisted.end();
  });
}

bool ChooseArchiveName(CompressionJob& job) {
  if (job.entries.empty()) return false;
  const std::string& name = job.entries.front().name;
  const CodePage& cp = SystemCodePage();
  for (size_t i = 0; i < name.size(); i += static_cast<size_t>(cp.LeadByteLength(static_cast<uint8_t>(name[i])))) {
    if (cp.IsLeadByte(static_cast<uint8_t>(name[i]))) continue;
    if (name[i] == '\\' || name[i] == '.') {
      job.archiveName = name.substr(0, i) + ".zip";
      return true;
    }
  }
  return false;
}

namespace {

bool IsSource(const CompressionJob& job, const std::string& path) {
  platform::FileInfo info;
  if (!platform::GetFileInfo(path, info)) return false;
  // Only a source of the same size can be the same file: the others cost
  // no look-up.
  return std::any_of(job.entries.begin(), job.entries.end(), [&](const FileEntry& e) {
    return !e.isFolder && e.size == info.size && platform::IsSameFile(e.path, path);
  });
}

bool IsTemporaryName(const std::string& name) {
  if (name.size() != 11 || name.compare(0, 3, "arc") != 0 || name.compare(7, 4, ".tmp") != 0) return false;
  return std::all_of(name.begin() + 3, name.begin() + 7, [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
  });
}

bool IsArchiveStart(const std::string& path) {
  platform::File file;
  if (!file.Open(path, platform::OpenMode::Read)) return false;
  char head[4];
  const int64_t n = file.ReadFull(head, 4);
  return n == 0 || (n == 4 && zip::IsLocalHeaderStart(head));
}

// A write to the archive failed: why, in the job's words.
JobFailure WriteFailure(platform::FileError error) {
  return error == platform::FileError::DiskFull ? JobFailure::DiskFull : JobFailure::WriteFailed;
}

}  // namespace

std::string ChooseDestination(const CompressionJob& job, const std::string& outputFolder) {
  const CodePage& cp = SystemCodePage();
  std::string destination = JoinPath(outputFolder, job.archiveName, cp);
  if (!IsSource(job, destination)) return destination;
  std::string base = job.archiveName;
  if (base.size() >= 4 && base.compare(base.size() - 4, 4, ".zip") == 0) base.resize(base.size() - 4);
  // The way Windows names a second copy; the search ends, whatever is there.
  for (int n = 2; n < 100000; ++n) {
    destination = JoinPath(outputFolder, base + " (" + std::to_string(n) + ").zip", cp);
    if (platform::GetFileAttributes(destination) == platform::kInvalidAttributes) break;
  }
  return destination;
}

void RemoveStaleTemporaryFiles(const std::string& folder, uint64_t nowFileTime) {
  constexpr uint64_t kDay = 24ull * 3600 * 10000000;
  std::vector<std::string> stale;
  platform::ListFolder(folder, [&](const platform::FolderItem& item) {
    if (!item.isFolder && !item.isSymlink && IsTemporaryName(item.name) && item.info.writeTime + kDay < nowFileTime)
      stale.push_back(JoinPath(folder, item.name, SystemCodePage()));
  });
  for (const std::string& path : stale)
    if (IsArchiveStart(path)) platform::DeleteFile(path);
}

bool WriteArchive(CompressionJob& job, const std::string& outputFolder) {
  const std::string tempFolder = platform::TempFolder();
  RemoveStaleTemporaryFiles(tempFolder, FileTimeFromUnix(std::time(nullptr)));
  std::string temp;
  if (!platform::CreateTempFile(tempFolder, "arc", temp)) {
    job.failure = JobFailure::TempFile;
    job.stop.store(true);
    return false;
  }
  if (!ChooseArchiveName(job)) job.archiveName = "test.zip";
  const std::string destination = ChooseDestination(job, outputFolder);
  if (!job.overwrite && platform::GetFileAttributes(destination) != platform::kInvalidAttributes) {
    job.status = ResultNameTaken;
    platform::DeleteFile(temp);
    return false;
  }

  ZipWriter writer;
  if (writer.Create(temp) != ZipOk) {
    job.failure = JobFailure::TempFile;
    job.stop.store(true);
    platform::DeleteFile(temp);
    return false;
  }
  job.doneTotal.store(0);
  size_t stored = 0;
  std::vector<size_t> numbers;
  const std::unique_ptr<ParallelDeflate> pipeline = StartParallelDeflate(job, numbers);
  // A Cancel pressed while the folders were listed still counts.
  for (size_t i = 0; i < job.entries.size(); ++i) {
    const FileEntry& entry = job.entries[i];
    if (job.stop.load()) break;
    ZipResult result;
    if (entry.isFolder) {
      result = writer.AddFolder(entry.name);
    } else {
      job.SetCurrentName(std::string(FileNamePart(entry.path, SystemCodePage())));
      DeflatedMember* deflated = pipeline && numbers[i] != SIZE_MAX ? pipeline->Take(numbers[i]) : nullptr;
      result = writer.AddFile(entry.name, entry.path, job.currentDone, job.stop, job.level, deflated);
      job.doneTotal.fetch_add(entry.size);
      job.currentDone.store(0);
    }
    // Each outcome: stored, left out with its reason, or the end of the job.
    switch (result) {
      case ZipOk:
        ++stored;
        if (!entry.isFolder && writer.SourceChanged()) Report(job, entry.name, ItemProblem::Changed);
        break;
      case ZipOpenFailed: Report(job, entry.name, ProblemOf(writer.SourceError())); break;
      case ZipReadFailed:
        Report(job, entry.name,
               writer.SourceError() == platform::FileError::InUse ? ItemProblem::InUse : ItemProblem::ReadError);
        break;
      case ZipNameTooLong: Report(job, entry.name, ItemProblem::NameTooLong); break;
      default:
        job.failure = WriteFailure(writer.ArchiveError());
        job.stop.store(true);
        break;
    }
  }
  // An archive without its whole central directory is no archive.
  if (writer.Close() != ZipOk && !job.stop.load()) {
    job.failure = WriteFailure(writer.ArchiveError());
    job.stop.store(true);
  }
  if (!job.stop.load() && stored == 0 && !job.reports.empty()) job.failure = JobFailure::NothingStored;
  if (job.stop.load() || job.failure != JobFailure::None) {
    platform::DeleteFile(temp);
    return false;
  }
  // Without OVERWRITE a file that took the name while the job ran is kept.
  if (!platform::MoveFileIntoPlace(temp, destination, job.overwrite)) {
    const platform::FileError error = platform::LastFileError();
    if (!job.overwrite && platform::GetFileAttributes(destination) != platform::kInvalidAttributes)
      job.status = ResultNameTaken;
    else
      job.failure = error == platform::FileError::DiskFull ? JobFailure::DiskFull : JobFailure::MoveFailed;
    platform::DeleteFile(temp);
    return false;
  }
  platform::GiveUserFileRights(destination);
  return true;
}

namespace {

const char* ProblemText(ItemProblem problem) {
  switch (problem) {
    case ItemProblem::InUse: return "他のプログラムが使用中です";
    case ItemProblem::NoPermission: return "読み取る権限がありません";
    case ItemProblem::Vanished: return "見つかりません（削除または移動されました）";
    case ItemProblem::CannotOpen: return "開けませんでした";
    case ItemProblem::ReadError: return "読み取り中にエラーが発生しました";
    case ItemProblem::NotListable: return "フォルダーの内容を読み取れません";
    case ItemProblem::NameTooLong: return "名前が長すぎます";
    case ItemProblem::Changed: return "";
  }
  return "";
}

// The member name as the user knows the path: the system's separator, UTF-8.
std::string ShownName(const std::string& name) {
  std::string shown;
  if (!SystemCodePage().ToUtf8(name, shown)) shown = name;
  if constexpr (kSep == '/') std::replace(shown.begin(), shown.end(), '\\', '/');
  return shown;
}

// Appends the lines, as many as `budget` allows, the last of them "他 N 件"
// for the rest when they do not all fit, and takes what they used from it.
void AppendLines(std::string& text, const std::vector<std::string>& lines, size_t& budget) {
  text += '\n';
  text += ListedLines(lines, budget, 1);
  budget -= std::min(budget, lines.size());
}

// Both groups share the detail lines' limit; the second keeps room for a
// name and the count of the rest, so that each group names an item.
std::string ItemLines(const std::vector<ItemReport>& reports, const char* leftOutHeading) {
  std::vector<std::string> leftOut, changed;
  for (const ItemReport& r : reports) {
    if (r.problem == ItemProblem::Changed)
      changed.push_back(ShownName(r.name));
    else
      leftOut.push_back(ShownName(r.name) + "（" + ProblemText(r.problem) + "）");
  }
  std::string text;
  size_t budget = kMaxDetailLines - std::min<size_t>(changed.size(), 2);
  if (!leftOut.empty()) {
    text += leftOutHeading;
    AppendLines(text, leftOut, budget);
  }
  budget += std::min<size_t>(changed.size(), 2);
  if (!changed.empty()) {
    if (!text.empty()) text += "\n\n";
    text += kChangedHeading;
    AppendLines(text, changed, budget);
  }
  return text;
}

}  // namespace

std::string DescribeReports(const std::vector<ItemReport>& reports) { return ItemLines(reports, kLeftOutHeading); }

int CompressionWorker(CompressionJob& job, const std::string& outputFolder) {
  ExpandFolders(job);
  return WriteArchive(job, outputFolder) ? 1 : 0;
}

JobResult RunCompressionJob(const std::vector<std::string>& args, std::string& outputFolder) {
  Settings settings;
  return RunCompressionJob(args, outputFolder, settings);
}

JobResult RunCompressionJob(const std::vector<std::string>& args, std::string& outputFolder,
                            const Settings& settings) {
  if (!IsFolderWritable(outputFolder)) return ResultCannotWrite;
  CompressionJob job;
  CollectDroppedItems(job, args);
  if (job.entries.empty()) {
    // Nothing readable was dropped: no worker, no progress view.
    Ui().ShowMessage(kNothingToCompressText, kNothingToCompressTitle, MessageIcon::Warning);
    return ResultFailed;
  }
  job.overwrite = settings.ReadFlag(section::kArc, key::kOverwrite, "1");
  const int setting = settings.ReadInt(section::kOption, key::kZipLevel, 1);
  job.level = setting == 0 ? 8 : setting == 2 ? 4 : 6;
  job.threads = DeflateThreads(settings.ReadInt(section::kOption, key::kThreads, 0));

  int code;
  {
    Worker worker;
    const std::string folder = outputFolder;
    worker.Start([&job, folder] { return CompressionWorker(job, folder); });
    (void)Ui().RunProgress(ProgressMode::Compress, job, worker);
    // The view returns only after the worker; its exit code is the answer.
    worker.Join();
    code = worker.ExitCode();
  }
  if (code == 1) {
    if (settings.ReadFlag(section::kArc, key::kOpenDir, "0")) OpenFolderInExplorer(outputFolder);
    if (job.reports.empty()) return ResultOk;
    // The archive is in place, but it is not everything that was dropped.
    Ui().ShowMessage(DescribeReports(job.reports), kPartialTitle, MessageIcon::Warning);
    return ResultFailed;
  }
  if (job.status == ResultNameTaken) {
    Ui().ShowMessage(kNameTakenText, kNameTakenTitle, MessageIcon::Warning);
    return ResultFailed;
  }
  std::string text;
  switch (job.failure) {
    case JobFailure::None: return ResultFailed;  // cancelled
    case JobFailure::TempFile: text = kTempFileText; break;
    case JobFailure::DiskFull: text = kDiskFullText; break;
    case JobFailure::WriteFailed: text = kWriteFailedText; break;
    case JobFailure::MoveFailed: text = kMoveFailedText; break;
    case JobFailure::NothingStored:
      text = std::string(kNothingStoredText) + "\n\n" + ItemLines(job.reports, "次の項目を読み取れませんでした。");
      break;
  }
  Ui().ShowMessage(text, kFileErrorTitle, MessageIcon::Warning);
  return ResultFailed;
}

}  // namespace quindo
