// The whole extraction walk over an archive in memory, ZIP or LZH: format
// detection, the plan of names and root folder, every member decoded into a
// tree that checks what it is asked to do. Passwords are answered "pw" (or
// refused as without a terminal, by the last byte), so encrypted members
// are decoded too.
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include "app/extraction_job.h"
#include "app/extraction_walk.h"
#include "app/path_utils.h"

namespace {

using quindo::platform::PathKind;

// Every path must be relative, must not climb, and no file may be
// committed twice.
void CheckRelative(const std::string& path) {
  if (!path.empty() && (path[0] == '/' || path[0] == '\\')) std::abort();
  size_t start = 0;
  for (;;) {
    const size_t end = path.find(quindo::platform::kPathSeparator, start);
    const std::string part = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part == ".." || part == ".") std::abort();
    if (end == std::string::npos) break;
    start = end + 1;
  }
}

class CheckingTree final : public quindo::OutputTree {
 public:
  PathKind Kind(const std::string& path) override {
    CheckRelative(path);
    if (folders_.count(path)) return PathKind::Folder;
    return files_.count(path) ? PathKind::File : PathKind::Missing;
  }
  bool MakeFolder(const std::string& path) override {
    CheckRelative(path);
    if (files_.count(path)) std::abort();
    folders_.insert(path);
    return true;
  }
  bool CreateTemp(const std::string& folder, std::string& temp) override {
    if (open_) std::abort();
    if (!folder.empty() && !folders_.count(folder)) std::abort();
    open_ = true;
    written_ = 0;
    temp = folder + "#temp";
    return true;
  }
  bool Write(const uint8_t*, size_t size) override {
    if (!open_) std::abort();
    written_ += size;
    return written_ < (64u << 20);  // a bomb stops as a write error
  }
  bool CloseTemp() override {
    open_ = false;
    return true;
  }
  bool Commit(const std::string&, const std::string& path, bool) override {
    CheckRelative(path);
    if (folders_.count(path)) return false;  // a folder is in the way, as on a disk
    if (!files_.insert(path).second) std::abort();
    return true;
  }
  void Discard(const std::string&) override {}
  void SetTimes(const std::string&, const quindo::MemberInfo&) override {}
  void SetAttributes(const std::string&, uint32_t) override {}

 private:
  std::set<std::string> folders_, files_;
  bool open_ = false;
  size_t written_ = 0;
};

class ScriptedHost final : public quindo::ExtractionHost {
 public:
  explicit ScriptedHost(bool terminal) : terminal_(terminal) {}
  quindo::PasswordAnswer AskPassword(const std::string&, bool, std::string& password) override {
    if (!terminal_) return quindo::PasswordAnswer::Unavailable;
    password = "pw";
    return quindo::PasswordAnswer::Entered;
  }
  void WarnDisguisedExecutable(const std::string&) override {}
  void SetCurrentName(const std::string&) override {}

 private:
  bool terminal_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quindo::BuildLeadByteTable();
  const uint8_t last = size ? data[size - 1] : 0;
  quindo::MemorySource source({data, size});
  const int format = quindo::DetectArchiveFormat(source);
  std::unique_ptr<quindo::ArchiveReader> reader = quindo::MakeArchiveReader(format, source);
  if (!reader) return 0;
  quindo::ArchivePlan plan;
  quindo::PlanArchive(*reader, last & 2, plan);
  if (!plan.rootFolder.empty()) CheckRelative(plan.rootFolder);
  CheckingTree tree;
  ScriptedHost host(last & 4);
  quindo::ExtractionOptions options;
  options.securityCheck = last & 1;
  std::atomic<bool> cancel{false};
  std::atomic<uint64_t> position{0};
  quindo::DecodeControl control;
  control.cancel = &cancel;
  control.position = &position;
  quindo::ExtractMembers(*reader, plan, tree, options, host, control);
  if (position.load() > size) std::abort();
  return 0;
}
