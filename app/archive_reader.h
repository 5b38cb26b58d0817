#pragma once
// The reader interface the extraction job drives; ZipReader and LzhReader
// implement it. The job sets the options, asks FindRootFolder on its own
// thread and Extract on the worker; the progress view polls the progress
// fields and sets cancelRequested and progressWindow.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace quindo {

class ArchiveReader {
 public:
  virtual ~ArchiveReader() = default;

  // True when the file is an archive of this reader's format. The caller has
  // put the first min(fileSize, 1 MiB) bytes of the file into the work buffer.
  virtual bool Probe(const std::string& path, uint64_t fileSize) = 0;
  // Extracts every member relative to the current directory. True when the
  // walk ran to its end and every member came out intact; false when the
  // archive cannot be opened, the user cancelled (cancelRequested is then
  // set), or a member failed its check or could not be written.
  virtual bool Extract(const std::string& path, const std::string& outputFolder) = 0;
  // True when every member lies under one top folder, left in rootFolder.
  virtual bool FindRootFolder(const std::string& path) = 0;

  // Shared with the progress view; each has one writer.
  std::atomic<uint32_t> progressPercent{0};
  std::atomic<void*> progressWindow{nullptr};
  std::atomic<bool> cancelRequested{false};

  // Options, set by the job before the worker starts.
  bool useUtf8 = true;
  bool overwrite = true;
  bool securityCheck = false;

  std::string rootFolder;
  std::string passwordText;

  // File-name part of the member being extracted, in the system code page.
  void SetCurrentFileName(const std::string& name) {
    std::lock_guard lock(nameMutex_);
    currentFileName_ = name;
  }
  std::string CurrentFileName() const {
    std::lock_guard lock(nameMutex_);
    return currentFileName_;
  }

 private:
  mutable std::mutex nameMutex_;
  std::string currentFileName_;
};

}  // namespace quindo
