#pragma once
// What a job tells the entry. The entry turns each into a message box.

namespace quindo {

enum JobResult : int {
  ResultOk = 1000,
  ResultFailed = 2000,
  ResultCancelled = 3000,
  ResultCannotWrite = 4000,
  ResultBadPath = 5000,
};

// Format codes of DetectArchiveFormat.
enum ArchiveFormat : int {
  FormatNone = 0,
  FormatLzh = 100,
  FormatZip = 200,
};

}  // namespace quindo
