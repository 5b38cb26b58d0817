#pragma once
// The extraction job: one archive into its output folder, and the format
// detection that the entry's choice uses too.
#include <string>

#include "app/job_result.h"

namespace quindo {

// FormatNone, FormatLzh or FormatZip, by content. Main thread only: it
// overwrites the work buffer.
int DetectArchiveFormat(const std::string& path);

JobResult RunExtractionJob(const std::string& archivePath, std::string& outputFolder);

}  // namespace quindo
