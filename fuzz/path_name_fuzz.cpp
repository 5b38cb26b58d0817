// The name judgement, the conversion for the system and the member-path
// cleaning, in both code pages: whatever the name, the result is relative,
// never climbs, and keeps no forbidden single byte; the cleaned name that
// the extraction walk writes has no "." or empty component either.
#include <cstdint>
#include <cstdlib>
#include <string>

#include <vector>

#include "app/member_names.h"
#include "app/path_utils.h"
#include "platform/platform.h"

namespace {

// Relative, and no component that climbs.
void CheckRelative(const std::string& path) {
  if (!path.empty() && (path[0] == '/' || path[0] == '\\')) std::abort();
  size_t start = 0;
  for (;;) {
    const size_t end = path.find(quindo::platform::kPathSeparator, start);
    if (path.substr(start, end == std::string::npos ? std::string::npos : end - start) == "..") std::abort();
    if (end == std::string::npos) break;
    start = end + 1;
  }
}

void CheckClean(const std::string& name, const quindo::CodePage& cp) {
  std::string path = name;
  std::vector<std::string> folders;
  size_t start = quindo::SanitizeMemberPath(path, cp, [&](const std::string& f) { folders.push_back(f); });
  if (start > path.size()) std::abort();
  const std::string result = path.substr(start);
  CheckRelative(result);
  for (const std::string& f : folders) {
    CheckRelative(f);
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

  const quindo::CleanName clean = quindo::CleanMemberName(name, cp);
  CheckRelative(clean.path);
  size_t start2 = 0;
  for (;;) {
    const size_t end = clean.path.find(quindo::platform::kPathSeparator, start2);
    const std::string part = clean.path.substr(start2, end == std::string::npos ? std::string::npos : end - start2);
    if (!clean.path.empty() && (part.empty() || part == ".")) std::abort();
    if (end == std::string::npos) break;
    start2 = end + 1;
  }
  if (!clean.topFolder.empty() && clean.path.compare(0, clean.topFolder.size(), clean.topFolder) != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quindo::BuildLeadByteTable();
  const std::string name(reinterpret_cast<const char*>(data), size);
  quindo::LooksLikeUtf8(name);
  quindo::IsDisguisedExecutable(name);
  for (bool utf8 : {true, false}) {
    std::string converted = quindo::MemberNameForSystem(name, quindo::NameEncoding::Utf8, utf8);
    CheckClean(converted, quindo::PathCodePage());
  }
  CheckClean(name, quindo::Cp932CodePage());
  CheckClean(name, quindo::Utf8CodePage());
  return 0;
}
