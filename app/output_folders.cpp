#include "app/output_folders.h"

#include <atomic>
#include <chrono>

#include "common/path_text.h"
#include "platform/platform.h"

namespace quindo {

namespace {

void ResolveFolder(const Settings& settings, const char* sectionName, const std::string& path,
                   std::string& out) {
  const int mode = settings.ReadInt(sectionName, key::kOutput, 0);
  if (mode == 1) {
    out = path;
    RemoveFileSpec(out, SystemCodePage());
  } else if (mode == 2) {
    out = settings.ReadString(sectionName, key::kOutputPath, "");
  } else {
    std::string desktop;
    if (GetDesktopFolder(desktop)) out = desktop;  // else the previous content stays
  }
}

}  // namespace

void ResolveCompressFolder(const Settings& settings, const std::string& firstPath, std::string& out) {
  ResolveFolder(settings, section::kArc, firstPath, out);
}

void ResolveExtractFolder(const Settings& settings, const std::string& archivePath, std::string& out) {
  ResolveFolder(settings, section::kMelt, archivePath, out);
}

bool GetDesktopFolder(std::string& out) { return platform::GetDesktopFolder(out); }

bool IsFolderWritable(const std::string& folder) {
  platform::SetQuietErrorMode();
  static std::atomic<unsigned> counter{0};
  const auto stamp = static_cast<unsigned long long>(
      std::chrono::steady_clock::now().time_since_epoch().count());
  // A few attempts with different names, in case one is taken.
  for (int attempt = 0; attempt < 8; ++attempt) {
    std::string probe = JoinPath(folder,
                                 "write_test." + std::to_string(stamp % 1000000007ULL) + "." +
                                     std::to_string(counter++) + ".tmp",
                                 SystemCodePage());
    platform::File file;
    if (file.Open(probe, platform::OpenMode::CreateNew)) {
      file.Close();
      platform::DeleteFile(probe);
      return true;
    }
    // A name that exists is worth another try; anything else means no access.
    if (platform::GetFileAttributes(probe) == platform::kInvalidAttributes) return false;
  }
  return false;
}

void OpenFolderInExplorer(std::string& folder) {
  if (!folder.empty() && EndsWithSeparator(folder, SystemCodePage())) folder.pop_back();
  platform::OpenFolderInBrowser(folder);
}

}  // namespace quindo
