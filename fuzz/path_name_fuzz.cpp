// The name judgement, the conversion for the system and the member-path
// cleaning, in both code pages: whatever the name, the result is relative,
// never climbs, and keeps no forbidden single byte.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/path_utils.h"
#include "fuzz/zip_fuzz_support.h"

namespace {

void CheckClean(const std::string& name, const quindo::CodePage& cp) {
  std::string path = name;
  std::vector<std::string> folders;
  size_t start = quindo::SanitizeMemberPath(path, cp, [&](const std::string& f) { folders.push_back(f); });
  if (start > path.size()) std::abort();
  const std::string result = path.substr(start);
  quindo::fuzz::CheckRelative(result);
  for (const std::string& f : folders) {
    quindo::fuzz::CheckRelative(f);
    if (result.compare(0, f.size(), f) != 0) std::abort();  // folders lie on the way
  }
  for (size_t i = 0; i < result.size();) {
    quindo::PathChar ch = quindo::PathCharAt(result, i, cp);
    if (ch.length == 0) break;
    if (!ch.multibyte && result[i] != quindo::platform::kPathSeparator &&
        quindo::IsForbiddenPathByte(static_cast<uint8_t>(result[i]), cp))
      std::abort();
    i += ch.length;
  }
  std::string folder = name;
  quindo::HasInvalidPathChars(folder, cp);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quindo::BuildLeadByteTable();
  const std::string name(reinterpret_cast<const char*>(data), size);
  quindo::LooksLikeUtf8(name);
  quindo::IsDisguisedExecutable(name);
  for (bool utf8 : {true, false}) {
    std::string converted = quindo::MemberNameForSystem(name, utf8, 0x0800);
    CheckClean(converted, quindo::PathCodePage());
  }
  CheckClean(name, quindo::Cp932CodePage());
  CheckClean(name, quindo::Utf8CodePage());
  return 0;
}
