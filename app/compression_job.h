#pragma once
// The compression job: every dropped path into one new ZIP archive.
#include <string>
#include <vector>

#include "app/job_result.h"

namespace quindo {

// args[0] is the program, args[1..] the dropped paths. outputFolder comes
// from ResolveCompressFolder.
JobResult RunCompressionJob(const std::vector<std::string>& args, std::string& outputFolder);

}  // namespace quindo
