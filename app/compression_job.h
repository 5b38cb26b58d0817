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
// turns them into "/". Source paths use the platform's separator.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "app/job_result.h"
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
void ExpandFolders(CompressionJob& job);
void ScanFolder(CompressionJob& job, const std::string& folder, const std::string& prefix);

// archiveName from the first entry's name up to its first "\" or ".";
// false when there is neither.
bool ChooseArchiveName(CompressionJob& job);

// Writes the archive into `outputFolder`; true only when it is in place.
bool WriteArchive(CompressionJob& job, const std::string& outputFolder);
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
