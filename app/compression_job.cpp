#include "app/compression_job.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <thread>

#include "app/output_folders.h"
#include "app/worker.h"
#include "common/path_text.h"
#include "platform/platform.h"
#include "zip/parallel_deflate.h"
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
  entry.path = path;
  entry.isFolder = true;
  AddEntry(job, std::move(entry));
}

void AddDroppedFile(CompressionJob& job, const std::string& path) {
  platform::FileInfo info;
  if (!platform::GetFileInfo(path, info) || !IsStorableFile(info)) return;
  FileEntry entry;
  entry.name = SplitDroppedPath(path, SystemCodePage());
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

void ScanFolder(CompressionJob& job, const std::string& folder, const std::string& prefix) {
  // The listing is taken whole before descending, so that a deep tree holds
  // one open enumeration at a time.
  std::vector<platform::FolderItem> items;
  if (!platform::ListFolder(folder, [&](const platform::FolderItem& item) { items.push_back(item); }))
    return;
  for (const platform::FolderItem& item : items) {
    if (job.stop.load()) return;
    if (item.isFolder) {
      FileEntry entry;
      entry.name = prefix + item.name;
      entry.isFolder = true;
      AddEntry(job, std::move(entry));
      // A link to a folder is kept as an empty folder entry: following it
      // could loop or pull in a tree from outside the dropped folder.
      if (!item.isSymlink) ScanFolder(job, folder + item.name + kSep, prefix + item.name + "\\");
    } else if (IsStorableFile(item.info)) {
      // A link to a file is stored as the file it names.
      FileEntry entry;
      entry.name = prefix + item.name;
      entry.path = folder + item.name;
      entry.size = item.info.size;
      AddEntry(job, std::move(entry));
    }
  }
}

void ExpandFolders(CompressionJob& job) {
  const std::vector<FileEntry> dropped = job.entries;
  for (const FileEntry& entry : dropped) {
    if (job.stop.load()) return;
    if (entry.isFolder) ScanFolder(job, entry.path, entry.name);
  }
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

bool WriteArchive(CompressionJob& job, const std::string& outputFolder) {
  std::string temp;
  if (!platform::CreateTempFile(platform::TempFolder(), "arc", temp)) {
    job.stop.store(true);
    return false;
  }
  if (!ChooseArchiveName(job)) job.archiveName = "test.zip";
  const std::string destination = JoinPath(outputFolder, job.archiveName, SystemCodePage());
  if (!job.overwrite && platform::GetFileAttributes(destination) != platform::kInvalidAttributes) {
    job.status = ResultNameTaken;
    platform::DeleteFile(temp);
    return false;
  }

  ZipWriter writer;
  if (writer.Create(temp) != ZipOk) {
    job.stop.store(true);
    platform::DeleteFile(temp);
    return false;
  }
  job.doneTotal.store(0);
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
    if (result != ZipOk) job.stop.store(true);
  }
  // An archive without its whole central directory is no archive.
  if (writer.Close() != ZipOk) job.stop.store(true);
  if (job.stop.load()) {
    platform::DeleteFile(temp);
    return false;
  }
  // Without OVERWRITE a file that took the name while the job ran is kept.
  if (!platform::MoveFileIntoPlace(temp, destination, job.overwrite)) {
    if (!job.overwrite && platform::GetFileAttributes(destination) != platform::kInvalidAttributes)
      job.status = ResultNameTaken;
    platform::DeleteFile(temp);
    return false;
  }
  platform::GiveUserFileRights(destination);
  return true;
}

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
    return ResultOk;
  }
  if (job.status == ResultNameTaken)
    Ui().ShowMessage(kNameTakenText, kNameTakenTitle, MessageIcon::Warning);
  return ResultFailed;
}

}  // namespace quindo
