// Extract over an archive in memory: every method, encryption (every prompt
// answers "pw"), the security check, descriptors and damaged data.
#include <cstdint>

#include "app/path_utils.h"
#include "fuzz/zip_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static quindo::fuzz::AnsweringUi ui;
  quindo::SetUi(&ui);
  quindo::BuildLeadByteTable();
  quindo::ZipReader reader;
  reader.securityCheck = size > 0 && (data[size - 1] & 1);
  quindo::MemorySource source({data, size});
  quindo::fuzz::DiscardTarget target;
  reader.ExtractFrom(source, target);
  if (reader.progressPercent > 100) std::abort();
  return 0;
}
