#pragma once
// The compression job: every dropped path into one new ZIP archive.
//
// The main thread collects the dropped items (folders first, nested dropped
// folders removed, then files); a worker lists the folders depth first and
// writes every member into a temporary file, which becomes the archive only
// when all of them were written. The progress view polls the job's counters
// and its Cancel sets the job's stop flag.
//
// Member names use "\" between components whatever the platform; the writer
// turns them into "/". Source paths use the platform's separator. On Linux a
// "\" inside a file name is stored as "＼" (U+FF3C), never as a separator.
//
// An item that cannot be opened, read to its end or listed is left out and
// the archive is made of the rest; an archive with items left out, or with
// files that changed while they were read, ends in one warning box listing
// them and is no plain success. The new archive never takes the name of one
// of its own sources: it becomes "name (2).zip" and so on.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "app/job_result.h"
#include "app/message_text.h"
#include "app/settings.h"
#include "app/user_interface.h"
#include "common/code_page.h"

namespace quindo {

// `status` of a job whose archive name is taken while overwriting is off.
constexpr int ResultNameTaken = 5000;

// The box of a job that collected nothing to compress.
inline constexpr const char* kNothingToCompressText =
    "圧縮できるファイルが見つかりませんでした。\n"
    "指定したファイルやフォルダーが存在し、読み取れるかを確認してください。";
inline constexpr const char* kNothingToCompressTitle = "ファイル エラー";
inline constexpr const char* kNameTakenText =
    "既に同名の圧縮ファイルが存在するため、処理を中止しました。\n"
    "設定画面で「上書きを許可」すると強制的に上書き出力できます。";
inline constexpr const char* kNameTakenTitle = "ファイル名重複エラー";
inline constexpr const char* kFileErrorTitle = "ファイル エラー";
inline constexpr const char* kPartialTitle = "圧縮の警告";
inline constexpr const char* kLeftOutHeading = "圧縮ファイルを作成しましたが、次の項目は含まれていません。";
inline constexpr const char* kChangedHeading = "次のファイルは読み取り中に変更されたため、途中の内容で格納されています。";
inline constexpr const char* kNothingStoredText = "どの項目も読み取れなかったため、圧縮ファイルは作成されませんでした。";
inline constexpr const char* kTempFileText =
    "一時ファイルを作成できませんでした。\n"
    "一時フォルダーに書き込めるか、空き容量があるかを確認してください。";
inline constexpr const char* kDiskFullText =
    "ディスクの空き容量が足りないため、圧縮ファイルを作成できませんでした。\n"
    "一時フォルダーと保存先の空き容量を確認してください。";
inline constexpr const char* kWriteFailedText = "圧縮ファイルの書き込みに失敗したため、作成できませんでした。";
inline constexpr const char* kMoveFailedText =
    "圧縮ファイルを保存先に置けませんでした。\n"
    "保存先の空き容量と書き込み権限を確認してください。";
// Why an item is named in the warning.
enum class ItemProblem {
  InUse,         // left out: another program holds it
  NoPermission,  // left out: not readable by the user
  Vanished,      // left out: gone before it was read
  CannotOpen,    // left out: any other failure to open
  ReadError,     // left out: a read failed part-way
  NotListable,   // left out: a folder whose contents cannot be listed
  NameTooLong,   // left out: the member name would pass 259 bytes
  Changed,       // stored, but it changed while it was read
};

struct ItemReport {
  std::string name;  // member name, "\" between components
  ItemProblem problem;
};

// What ended a job without an archive, besides Cancel and a taken name.
enum class JobFailure { None, TempFile, DiskFull, WriteFailed, MoveFailed, NothingStored };

struct FileEntry {
  std::string name;  // member name, "\" between components
  std::string path;  // source path; a dropped folder's ends in a separator; empty for a listed folder
  uint64_t size = 0;
  bool isFolder = false;
};

class CompressionJob final : public ProgressSource {
 public:
  // Set by Cancel and by a member that failed; the writer's abort flag.
  std::atomic<bool> stop{false};
  bool overwrite = true;
  int status = 0;
  int level = 6;
  // Threads that deflate; 1 deflates on the writing thread itself.
  int threads = 1;
  std::vector<FileEntry> entries;
  std::atomic<uint64_t> totalSize{0};
  std::atomic<uint64_t> currentDone{0};  // bytes of the current file read so far
  std::atomic<uint64_t> doneTotal{0};    // sizes of the files already added
  std::string archiveName;
  // Written by the worker, read after it has ended.
  std::vector<ItemReport> reports;
  JobFailure failure = JobFailure::None;

  void SetCurrentName(std::string name);

  uint32_t Percent() const override;
  std::string CurrentName() const override;
  void RequestCancel() override { stop.store(true); }

 private:
  mutable std::mutex nameMutex_;
  std::string currentName_;
};

// The member name of a dropped path: everything after its last separator,
// the path's final character aside; a trailing separator becomes "\".
std::string SplitDroppedPath(const std::string& path, const CodePage& cp);

void AddDroppedFolder(CompressionJob& job, const std::string& path);
void AddDroppedFile(CompressionJob& job, const std::string& path);
// Drops every folder entry that lies inside another dropped folder.
void RemoveNestedFolders(CompressionJob& job);
// Both collection passes over args[1..], with RemoveNestedFolders between.
void CollectDroppedItems(CompressionJob& job, const std::vector<std::string>& args);

// Lists the contents of every dropped folder, depth first, after the
// top-level entries. `folder` ends in a separator, `prefix` in "\".
// A folder that cannot be listed is reported; ScanFolder then answers false
// and the caller drops the folder's own entry.
void ExpandFolders(CompressionJob& job);
bool ScanFolder(CompressionJob& job, const std::string& folder, const std::string& prefix);

// archiveName from the first entry's name up to its first "\" or ".";
// false when there is neither.
bool ChooseArchiveName(CompressionJob& job);

// The archive's full path in `outputFolder`: archiveName, or when that is one
// of the job's source files, the first of "name (2).zip", "name (3).zip" ...
// that is neither a source nor an existing file.
std::string ChooseDestination(const CompressionJob& job, const std::string& outputFolder);

// Deletes the temporary archives that an earlier run left in `folder` (it
// was killed or lost its power): "arc" + four hex digits + ".tmp", older
// than a day, empty or beginning with a local header.
void RemoveStaleTemporaryFiles(const std::string& folder, uint64_t nowFileTime);

// Writes the archive into `outputFolder`; true only when it is in place.
bool WriteArchive(CompressionJob& job, const std::string& outputFolder);

// The text of the warning box for the job's reports: a heading for what was
// left out and one for what changed, each followed by its items, at most
// kMaxDetailLines item lines in all and "他 N 件" for the rest; UTF-8.
std::string DescribeReports(const std::vector<ItemReport>& reports);
// The worker's body: ExpandFolders, WriteArchive; 1 on success, else 0.
int CompressionWorker(CompressionJob& job, const std::string& outputFolder);

// The deflating threads for the THREADS setting: 0 (or less) for every
// core, at most ParallelDeflate::kMaxThreads.
int DeflateThreads(int setting);

// args[0] is the program, args[1..] the dropped paths. outputFolder comes
// from ResolveCompressFolder.
JobResult RunCompressionJob(const std::vector<std::string>& args, std::string& outputFolder);
JobResult RunCompressionJob(const std::vector<std::string>& args, std::string& outputFolder,
                            const Settings& settings);

}  // namespace quindo
