#include "app/extraction_walk.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <cstring>
#include <unordered_set>

#include "app/member_names.h"
#include "app/path_utils.h"
#include "common/ascii_case.h"
#include "common/path_text.h"

namespace quindo {

namespace {

constexpr char kSep = platform::kPathSeparator;
constexpr size_t kWriteBlock = 256 * 1024;
// The folder and volume bits name what an entry was, not what a file can be.
constexpr uint32_t kEntryKindBits = 0x18;
constexpr uint32_t kFolderAttribute = 0x10;

// The separator before the last component, stepping over whole characters.
size_t LastSep(const std::string& path, const CodePage& cp) {
  size_t last = std::string::npos;
  for (size_t i = 0; i < path.size();) {
    const PathChar ch = PathCharAt(path, i, cp);
    if (ch.length == 0) break;
    if (!ch.multibyte && path[i] == kSep) last = i;
    i += ch.length;
  }
  return last;
}

// Names the file system takes for one and the same.
std::string NameKey(const std::string& path) { return platform::NameKeyOf(path); }

class TreeSink final : public ByteSink {
 public:
  explicit TreeSink(OutputTree& tree) : tree_(tree) {}
  bool Write(const uint8_t* data, size_t size) override { return tree_.Write(data, size); }

 private:
  OutputTree& tree_;
};

class HostPasswords final : public PasswordSource {
 public:
  HostPasswords(ExtractionHost& host, const std::string& path) : host_(host), path_(path) {}
  PasswordAnswer Ask(const MemberInfo&, bool previousWrong, std::string& password) override {
    return host_.AskPassword(path_, previousWrong, password);
  }

 private:
  ExtractionHost& host_;
  const std::string& path_;
};

MemberOutcome OutcomeOf(DecodeStatus status) {
  switch (status) {
    case DecodeStatus::Ok: return MemberOutcome::Written;
    case DecodeStatus::Damaged: return MemberOutcome::Damaged;
    case DecodeStatus::Truncated: return MemberOutcome::Truncated;
    case DecodeStatus::WrongPassword: return MemberOutcome::WrongPassword;
    case DecodeStatus::NoPassword: return MemberOutcome::NoPassword;
    case DecodeStatus::Unsupported: return MemberOutcome::Unsupported;
    case DecodeStatus::WriteFailed: return MemberOutcome::WriteFailed;
    case DecodeStatus::Cancelled: return MemberOutcome::Cancelled;
  }
  return MemberOutcome::Damaged;
}

// The walk's state over one archive.
class Walk {
 public:
  Walk(OutputTree& tree, const CodePage& cp) : tree_(tree), cp_(cp) {}

  // Makes every folder of `path` (itself included) that is missing. False
  // when something other than a real folder is in the way: a file, or a link,
  // which is never followed.
  bool EnsureFolders(const std::string& path) {
    for (size_t i = 0; i <= path.size();) {
      size_t end = i;
      while (end < path.size()) {
        const PathChar ch = PathCharAt(path, end, cp_);
        if (ch.length == 0) {
          end = path.size();
          break;
        }
        if (!ch.multibyte && path[end] == kSep) break;
        end += ch.length;
      }
      const std::string prefix = path.substr(0, end);
      if (!folders_.count(prefix)) {
        platform::PathKind kind = tree_.Kind(prefix);
        if (kind == platform::PathKind::Missing && !tree_.MakeFolder(prefix)) kind = tree_.Kind(prefix);
        else if (kind == platform::PathKind::Missing) kind = platform::PathKind::Folder;
        if (kind != platform::PathKind::Folder) return false;
        folders_.insert(prefix);
      }
      i = end + 1;
    }
    return true;
  }

  // The names written are kept as hashes: a collision only gives a member a
  // distinct name it did not need.
  bool Taken(const std::string& path) const { return written_.count(std::hash<std::string>{}(NameKey(path))) != 0; }
  void Take(const std::string& path) { written_.insert(std::hash<std::string>{}(NameKey(path))); }

  // A name that no member of this run took and nothing on disk has: the
  // base name with " (2)", " (3)"... before its extension.
  bool DistinctName(std::string& path) {
    const size_t sep = LastSep(path, cp_);
    const std::string folder = sep == std::string::npos ? "" : path.substr(0, sep + 1);
    const std::string name = path.substr(folder.size());
    const size_t dot = name.rfind('.');
    const std::string ext = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
    std::string base = name.substr(0, name.size() - ext.size());
    for (int n = 2; n < 10000; ++n) {
      const std::string suffix = " (" + std::to_string(n) + ")";
      std::string cut = base;
      const size_t fixed = folder.size() + suffix.size() + ext.size();
      if (fixed + cut.size() > kMaxNameLength) {
        // Shorten the base, a whole character at a time, so the name fits.
        size_t keep = 0;
        for (size_t i = 0; i < cut.size();) {
          const PathChar ch = PathCharAt(cut, i, cp_);
          const size_t len = ch.length ? ch.length : 1;
          if (fixed + i + len > kMaxNameLength) break;
          i += len;
          keep = i;
        }
        cut.resize(keep);
      }
      std::string candidate = folder + cut + suffix + ext;
      if (!Taken(candidate) && tree_.Kind(candidate) == platform::PathKind::Missing) {
        path = std::move(candidate);
        return true;
      }
    }
    return false;
  }

 private:
  OutputTree& tree_;
  const CodePage& cp_;
  std::unordered_set<std::string> folders_;
  std::unordered_set<size_t> written_;
};

}  // namespace

bool ExtractionRecord::Failed() const {
  if (notReached > 0 || cancelled) return true;
  for (const MemberRecord& m : members)
    if (m.outcome != MemberOutcome::Kept) return true;
  return false;
}

namespace {

PlannedMember Planned(MemberInfo&& info, const ArchivePlan& plan, const CodePage& cp, std::string* topFolder) {
  CleanName clean = CleanMemberName(MemberNameForSystem(info, plan.useUtf8, plan.utf8Names), cp);
  if (topFolder) *topFolder = std::move(clean.topFolder);
  return PlannedMember{std::move(info), std::move(clean.path)};
}

bool Skipped(const PlannedMember& m, const ArchivePlan& plan, const CodePage& cp) {
  return !plan.keepMacMetadata && IsMacMetadata(m.path, cp);
}

// One pass over the headers: the root folder, the folders, the count, and
// (given a judge) the names judged together.
bool PlanPass(ArchiveReader& reader, ArchivePlan& plan, const std::atomic<bool>* cancel, NameJudge* judge) {
  const CodePage& cp = PathCodePage();
  plan.rootFolder.clear();
  plan.folders.clear();
  plan.memberCount = 0;
  reader.Rewind();
  bool shared = true;
  MemberInfo info;
  std::string top;
  while (reader.Next(info)) {
    if (cancel && cancel->load(std::memory_order_relaxed)) return false;
    if (judge) judge->Add(info);
    const PlannedMember m = Planned(std::move(info), plan, cp, &top);
    info = MemberInfo{};
    if (Skipped(m, plan, cp)) continue;
    if (shared) {
      if (top.empty() || (plan.memberCount > 0 && top != plan.rootFolder)) {
        shared = false;
        plan.rootFolder.clear();
      } else {
        plan.rootFolder = top;
      }
    }
    for (size_t i = 0; i < m.path.size();) {
      const PathChar ch = PathCharAt(m.path, i, cp);
      if (ch.length == 0) break;
      if (!ch.multibyte && m.path[i] == kSep) plan.folders.insert(m.path.substr(0, i));
      i += ch.length;
    }
    ++plan.memberCount;
  }
  return true;
}

}  // namespace

bool PlanArchive(ArchiveReader& reader, bool useUtf8, ArchivePlan& plan, const std::atomic<bool>* cancel,
                 bool keepMacMetadata) {
  plan = ArchivePlan{};
  plan.useUtf8 = useUtf8;
  plan.keepMacMetadata = keepMacMetadata;
  NameJudge judge;
  if (!PlanPass(reader, plan, cancel, useUtf8 ? &judge : nullptr)) return false;
  plan.utf8Names = useUtf8 && judge.Utf8();
  // The verdict comes with the last header; when it reads some name
  // otherwise than the first pass did, the names are settled again.
  if (useUtf8 && judge.ChangesNames()) return PlanPass(reader, plan, cancel, nullptr);
  return true;
}

void ForEachMember(ArchiveReader& reader, const ArchivePlan& plan,
                   const std::function<bool(const PlannedMember&)>& visit) {
  const CodePage& cp = PathCodePage();
  reader.Rewind();
  MemberInfo info;
  while (reader.Next(info)) {
    PlannedMember m = Planned(std::move(info), plan, cp, nullptr);
    info = MemberInfo{};
    if (Skipped(m, plan, cp)) continue;
    // A member whose name is a folder of other members is that folder's
    // entry when it is empty (MS-DOS archivers mark folders by an attribute
    // ZIP headers lack) or has the folder attribute (OS/2 archivers keep a
    // folder's extended attributes as its data). Any other such member is a
    // file, and the members inside it cannot be made.
    if (!m.info.isFolder && plan.folders.count(m.path) &&
        ((m.info.sizeKnown && m.info.size == 0 && !m.info.encrypted) ||
         (m.info.hasAttributes && (m.info.attributes & kFolderAttribute))))
      m.info.isFolder = true;
    if (!visit(m)) return;
  }
}

namespace {

// Writes one member that the dispatcher has settled: decoded into a
// temporary file, which takes the member's name only when whole and checked.
DecodeStatus Produce(ArchiveReader& reader, OutputTree& tree, const MemberInfo& info, const std::string& folder,
                     const std::string& path, const ExtractionOptions& options, PasswordSource& passwords,
                     const DecodeControl& control, MemberOutcome& outcome) {
  std::string temp;
  if (!tree.CreateTemp(folder, temp)) {
    outcome = MemberOutcome::CannotCreate;
    return DecodeStatus::WriteFailed;
  }
  TreeSink sink(tree);
  DecodeStatus status = reader.Decode(info, sink, passwords, control);
  if (!tree.CloseTemp() && status == DecodeStatus::Ok) status = DecodeStatus::WriteFailed;
  outcome = OutcomeOf(status);
  if (status != DecodeStatus::Ok) {
    // A member that did not come out whole leaves nothing under its name.
    tree.Discard(temp);
    return status;
  }
  tree.SetTimes(temp, info);
  if (tree.Commit(temp, path, options.overwrite)) {
    if (info.hasAttributes) tree.SetAttributes(path, info.attributes & ~kEntryKindBits);
    return status;
  }
  tree.Discard(temp);
  // Without OVERWRITE a file that took the name meanwhile is kept.
  outcome = !options.overwrite && tree.Kind(path) != platform::PathKind::Missing ? MemberOutcome::Kept
                                                                                 : MemberOutcome::CannotCreate;
  return status;
}

// Lanes never meet an encrypted member: nobody is asked from them.
class NoPasswords final : public PasswordSource {
 public:
  PasswordAnswer Ask(const MemberInfo&, bool, std::string&) override { return PasswordAnswer::Unavailable; }
};

// Members handed to the lanes, at most a few ahead of them, and what became
// of them.
class LanePool {
 public:
  struct Job {
    size_t index;
    MemberInfo info;
    std::string folder, path;
  };

  LanePool(const LaneFactory& factory, int count, const ExtractionOptions& options, const DecodeControl& control)
      : options_(options), control_(control), capacity_(static_cast<size_t>(count) * 2) {
    for (int i = 0; i < count; ++i) {
      Lane lane = factory();
      if (!lane.reader || !lane.tree) break;
      lanes_.push_back(std::move(lane));
    }
    for (Lane& lane : lanes_) threads_.emplace_back([this, &lane] { Run(lane); });
  }
  ~LanePool() {
    size_t written;
    Finish(written);
  }
  bool Usable() const { return !lanes_.empty(); }

  void Submit(Job job) {
    std::unique_lock lock(mutex_);
    space_.wait(lock, [&] { return queue_.size() < capacity_; });
    queue_.push_back(std::move(job));
    ready_.notify_one();
  }
  // Waits for every job; the members that did not come out, by index, and
  // how many did.
  std::vector<std::pair<size_t, MemberRecord>> Finish(size_t& written) {
    {
      std::lock_guard lock(mutex_);
      closed_ = true;
    }
    ready_.notify_all();
    for (std::thread& t : threads_) t.join();
    threads_.clear();
    std::lock_guard lock(mutex_);
    written = written_;
    return std::move(done_);
  }

 private:
  void Run(Lane& lane) {
    NoPasswords passwords;
    for (;;) {
      Job job;
      {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [&] { return closed_ || !queue_.empty(); });
        if (queue_.empty()) return;
        job = std::move(queue_.front());
        queue_.pop_front();
      }
      space_.notify_one();
      MemberRecord record;
      record.path = job.path;
      Produce(*lane.reader, *lane.tree, job.info, job.folder, job.path, options_, passwords, control_, record.outcome);
      std::lock_guard lock(mutex_);
      if (record.outcome == MemberOutcome::Written) ++written_;
      else done_.emplace_back(job.index, std::move(record));
    }
  }

  const ExtractionOptions& options_;
  const DecodeControl& control_;
  const size_t capacity_;
  std::vector<Lane> lanes_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable ready_, space_;
  std::deque<Job> queue_;
  std::vector<std::pair<size_t, MemberRecord>> done_;
  size_t written_ = 0;
  bool closed_ = false;
};

}  // namespace

ExtractionRecord ExtractMembers(ArchiveReader& reader, const ArchivePlan& plan, OutputTree& tree,
                                const ExtractionOptions& options, ExtractionHost& host,
                                const DecodeControl& control, const LaneFactory& lanes) {
  const CodePage& cp = PathCodePage();
  ExtractionRecord record;
  Walk walk(tree, cp);
  // More lanes than members would only open the archive for nothing.
  const int laneCount = lanes && options.threads > 1 && plan.memberCount > 1
                            ? static_cast<int>(std::min<size_t>(options.threads, plan.memberCount))
                            : 0;
  std::unique_ptr<LanePool> pool = laneCount ? std::make_unique<LanePool>(lanes, laneCount, options, control) : nullptr;
  if (pool && !pool->Usable()) pool.reset();
  std::vector<std::pair<size_t, MemberRecord>> outcomes;  // every member that did not come out, by index
  size_t index = 0;
  ForEachMember(reader, plan, [&](const PlannedMember& planned) {
    const MemberInfo& info = planned.info;
    const size_t at = index++;
    const size_t remaining = plan.memberCount > at ? plan.memberCount - at : 0;
    if (control.Cancelled()) {
      record.cancelled = true;
      record.notReached = remaining;
      return false;
    }
    MemberRecord r;
    r.path = planned.path;
    auto done = [&](MemberOutcome outcome) {
      if (outcome == MemberOutcome::Written || outcome == MemberOutcome::Folder) {
        ++record.written;
        record.files += outcome == MemberOutcome::Written;
        return true;
      }
      r.outcome = outcome;
      outcomes.emplace_back(at, std::move(r));
      return true;
    };
    if (info.isFolder) {
      if (planned.path.empty()) return true;
      return done(walk.EnsureFolders(planned.path) ? MemberOutcome::Folder : MemberOutcome::CannotCreate);
    }
    if (planned.path.empty()) return done(MemberOutcome::CannotCreate);
    std::string path = planned.path;
    const size_t sep = LastSep(path, cp);
    const std::string folder = sep == std::string::npos ? "" : path.substr(0, sep);
    const std::string fileName = path.substr(sep == std::string::npos ? 0 : sep + 1);
    host.SetCurrentName(fileName);
    if (!folder.empty() && !walk.EnsureFolders(folder)) return done(MemberOutcome::CannotCreate);
    // Two members never go to one name in one run: the name is the member's
    // from here on, whether it comes out or not.
    if (walk.Taken(path) && !walk.DistinctName(path)) return done(MemberOutcome::CannotCreate);
    r.path = path;
    // With OVERWRITE on the commit tells: it replaces a file or a link and
    // fails on a folder, so the name is looked at only to keep a file.
    if (!options.overwrite && tree.Kind(path) != platform::PathKind::Missing) return done(MemberOutcome::Kept);
    walk.Take(path);
    if (options.securityCheck && IsDisguisedExecutable(path)) host.WarnDisguisedExecutable(fileName);
    if (!info.supported) {
      r.method = info.method;
      return done(MemberOutcome::Unsupported);
    }
    // Encrypted members stay on this thread, where the one prompt is.
    if (pool && !info.encrypted) {
      pool->Submit(LanePool::Job{at, info, folder, path});
      return true;
    }
    HostPasswords passwords(host, path);
    MemberOutcome outcome;
    const DecodeStatus status = Produce(reader, tree, info, folder, path, options, passwords, control, outcome);
    done(outcome);
    if (status == DecodeStatus::Cancelled) {
      record.cancelled = true;
      record.notReached = remaining - 1;
      return false;
    }
    if (status == DecodeStatus::WrongPassword) {
      // Three wrong answers end the walk: the members after it most likely
      // need the same password.
      record.notReached = remaining - 1;
      return false;
    }
    return true;
  });
  if (pool) {
    size_t written = 0;
    for (auto& outcome : pool->Finish(written)) outcomes.push_back(std::move(outcome));
    record.written += written;
    record.files += written;
    std::sort(outcomes.begin(), outcomes.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    if (control.Cancelled()) record.cancelled = true;
  }
  for (auto& outcome : outcomes) record.members.push_back(std::move(outcome.second));
  return record;
}

// --- the file system ---------------------------------------------------------

FileSystemTree::FileSystemTree(std::string root, std::string archive)
    : root_(std::move(root)), archive_(std::move(archive)) {
  if (!root_.empty() && root_.back() != kSep) root_ += kSep;
}

std::string FileSystemTree::Full(const std::string& path) const { return root_ + path; }

platform::PathKind FileSystemTree::Kind(const std::string& path) { return platform::QueryPathKind(Full(path)); }

bool FileSystemTree::MakeFolder(const std::string& path) { return platform::CreateDirectory(Full(path)); }

bool FileSystemTree::CreateTemp(const std::string& folder, std::string& temp) {
  if (buffer_.empty()) buffer_.resize(kWriteBlock);
  used_ = 0;
  failed_ = false;
  const std::string where = folder.empty() ? root_ : root_ + folder + kSep;
  std::string full;
  if (!file_.CreateUnique(where, ".quindo-", full)) return false;
  temp = full.substr(root_.size());
  return true;
}

bool FileSystemTree::Flush() {
  if (used_ && !failed_ && !file_.Write(buffer_.data(), used_)) failed_ = true;
  used_ = 0;
  return !failed_;
}

bool FileSystemTree::Write(const uint8_t* data, size_t size) {
  if (failed_) return false;
  if (used_ + size > buffer_.size()) {
    if (!Flush()) return false;
    if (size >= buffer_.size()) {
      if (!file_.Write(data, size)) failed_ = true;
      return !failed_;
    }
  }
  std::memcpy(buffer_.data() + used_, data, size);
  used_ += size;
  return true;
}

bool FileSystemTree::CloseTemp() {
  const bool ok = Flush();
  file_.Close();
  return ok;
}

bool FileSystemTree::Commit(const std::string& temp, const std::string& path, bool replace) {
  const std::string target = Full(path);
  // The archive being read is never replaced by one of its members.
  if (!archive_.empty() && NameKey(target) == NameKey(archive_)) return false;
  return platform::MoveFileIntoPlace(Full(temp), target, replace);
}

void FileSystemTree::Discard(const std::string& temp) { platform::DeleteFile(Full(temp)); }

void FileSystemTree::SetTimes(const std::string& path, const MemberInfo& member) {
  if (member.unixTime) SetFileTimeFromUnix(Full(path), member.unixSeconds);
  else SetFileTimeFromDos(Full(path), member.dosDate, member.dosTime);
}

void FileSystemTree::SetAttributes(const std::string& path, uint32_t attributes) {
  platform::SetFileAttributes(Full(path), attributes);
}

}  // namespace quindo
