#pragma once
// The extraction walk over an archive in memory, into a tree in memory, with
// a scripted host: what the reader tests of both formats run members through.
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/extraction_job.h"
#include "app/extraction_walk.h"
#include "app/path_utils.h"

namespace quindo::test {

// Keeps what the walk writes. A temporary file becomes a file only when it
// is committed.
class MemoryTree final : public OutputTree {
 public:
  std::map<std::string, std::string> files;
  std::set<std::string> folders;
  std::set<std::string> links;  // names that are links: never written through
  std::map<std::string, MemberInfo> dated;
  size_t failWritesAfter = SIZE_MAX;  // bytes accepted before writes fail (a full disk)
  int tempsLeft() const { return static_cast<int>(temps_.size()); }

  platform::PathKind Kind(const std::string& path) override {
    if (links.count(path)) return platform::PathKind::Link;
    if (folders.count(path)) return platform::PathKind::Folder;
    return files.count(path) ? platform::PathKind::File : platform::PathKind::Missing;
  }
  bool MakeFolder(const std::string& path) override { return folders.insert(path).second; }
  bool CreateTemp(const std::string& folder, std::string& temp) override {
    temp = folder + "#temp" + std::to_string(++count_);
    temps_[current_ = temp].clear();
    return true;
  }
  bool Write(const uint8_t* data, size_t size) override {
    if ((written_ += size) > failWritesAfter) return false;
    temps_[current_].append(reinterpret_cast<const char*>(data), size);
    return true;
  }
  bool CloseTemp() override { return true; }
  bool Commit(const std::string& temp, const std::string& path, bool replace) override {
    if (!replace && Kind(path) != platform::PathKind::Missing) return false;
    links.erase(path);
    files[path] = temps_[temp];
    temps_.erase(temp);
    dated[path] = dated[temp];
    dated.erase(temp);
    return true;
  }
  void Discard(const std::string& temp) override {
    temps_.erase(temp);
    dated.erase(temp);
  }
  void SetTimes(const std::string& path, const MemberInfo& member) override { dated[path] = member; }
  void SetAttributes(const std::string&, uint32_t) override {}

 private:
  std::map<std::string, std::string> temps_;
  std::string current_;
  size_t written_ = 0;
  int count_ = 0;
};

class ScriptedHost final : public ExtractionHost {
 public:
  // Answers in order; kCancel stands for Cancel; none left: Cancel.
  std::deque<std::string> passwords;
  bool noTerminal = false;
  std::vector<std::pair<std::string, bool>> prompts;  // member, previous answer wrong
  std::vector<std::string> warnings;
  static constexpr const char* kCancel = "\x18";

  PasswordAnswer AskPassword(const std::string& member, bool previousWrong, std::string& password) override {
    prompts.emplace_back(member, previousWrong);
    if (noTerminal) return PasswordAnswer::Unavailable;
    if (passwords.empty() || passwords.front() == kCancel) return PasswordAnswer::Cancelled;
    password = passwords.front();
    passwords.pop_front();
    return PasswordAnswer::Entered;
  }
  void WarnDisguisedExecutable(const std::string& fileName) override { warnings.push_back(fileName); }
  void SetCurrentName(const std::string&) override {}
};

struct Extracted {
  ArchivePlan plan;
  ExtractionRecord record;
  int format = FormatNone;

  // Outcome by path of every member that did not come out.
  std::map<std::string, MemberOutcome> Outcomes() const {
    std::map<std::string, MemberOutcome> out;
    for (const MemberRecord& m : record.members) out[m.path] = m.outcome;
    return out;
  }
};

inline Extracted ExtractInto(const std::string& archive, OutputTree& tree, ScriptedHost& host,
                             ExtractionOptions options = {}, bool useUtf8 = true) {
  BuildLeadByteTable();
  Extracted result;
  quindo::MemorySource source({reinterpret_cast<const uint8_t*>(archive.data()), archive.size()});
  result.format = DetectArchiveFormat(source);
  std::unique_ptr<ArchiveReader> reader = MakeArchiveReader(result.format, source);
  if (!reader) return result;
  PlanArchive(*reader, useUtf8, result.plan);
  std::atomic<bool> cancel{false};
  std::atomic<uint64_t> position{0};
  DecodeControl control;
  control.cancel = &cancel;
  control.position = &position;
  result.record = ExtractMembers(*reader, result.plan, tree, options, host, control);
  return result;
}

// Into a real folder (absolute), as the job writes.
inline Extracted ExtractToFolder(const std::string& archive, const std::string& folder, ScriptedHost& host,
                                 ExtractionOptions options = {}) {
  FileSystemTree tree(folder, "");
  return ExtractInto(archive, tree, host, options);
}

}  // namespace quindo::test
