// The header scan: the probe and the root-folder walk over any bytes.
#include <cstdint>

#include "app/path_utils.h"
#include "fuzz/zip_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quindo::BuildLeadByteTable();
  std::span<const uint8_t> bytes(data, size);
  quindo::ZipReader reader;
  quindo::MemorySource probeSource(bytes);
  reader.ProbeData(bytes, probeSource);
  for (bool utf8 : {true, false}) {
    reader.useUtf8 = utf8;
    quindo::MemorySource source(bytes);
    if (reader.FindRootFolderIn(source)) quindo::fuzz::CheckRelative(reader.rootFolder);
  }
  return 0;
}
