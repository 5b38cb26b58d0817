#include "app/compression_job.h"

#include "app/user_interface.h"

namespace quindo {

// Compression arrives with the ZIP writer; until then the job refuses openly.
JobResult RunCompressionJob(const std::vector<std::string>& args, std::string& outputFolder) {
  Ui().ShowMessage("圧縮はまだ使えません。", "Quindo", MessageIcon::Information);
  return ResultFailed;
}

}  // namespace quindo
