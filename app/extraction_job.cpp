#include "app/extraction_job.h"

namespace quindo {

// No reader is built in yet: nothing is taken for an archive.
int DetectArchiveFormat(const std::string& path) { return FormatNone; }

JobResult RunExtractionJob(const std::string& archivePath, std::string& outputFolder) {
  return ResultFailed;
}

}  // namespace quindo
