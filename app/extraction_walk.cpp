#include "app/extraction_walk.h"

#include <algorithm>
#include <condition_variable>
#include <cerrno>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_set>

#include "app/member_names.h"
#include "app/path_utils.h"
#include "common/ascii_case.h"
#include "common/file_time.h"
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

// The user's answers, the last of them kept in `answered`.
class HostPasswords final : public PasswordSource {
 public:
  HostPasswords(ExtractionHost& host, const std::string& path, std::string& answered)
      : host_(host), path_(path), answered_(answered) {}
  PasswordAnswer Ask(const MemberInfo&, bool previousWrong, std::string& password) override {
    const PasswordAnswer answer = host_.AskPassword(path_, previousWrong, password);
    if (answer == PasswordAnswer::Entered) answered_ = password;
    return answer;
  }

 private:
  ExtractionHost& host_;
  const std::string& path_;
  std::string& answered_;
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
      // Shorten the base, a whole character at a time, so the name fits,
      // counted as the planned names are.
      std::string cut = base;
      if (!CutToFit(folder, cut, suffix + ext, cp_, kMaxNameLength, LegacyNameCodePage())) return false;
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
  // The time is set while the file is still open, after its last byte.
  if (status == DecodeStatus::Ok) tree.SetTimes(temp, info);
  if (!tree.CloseTemp() && status == DecodeStatus::Ok) status = DecodeStatus::WriteFailed;
  outcome = OutcomeOf(status);
  if (status != DecodeStatus::Ok) {
    // A member that did not come out whole leaves nothing under its name.
    tree.Discard(temp);
    return status;
  }
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

// Nobody is asked from a lane: an encrypted member comes to one with the
// password that opened one before it, and when that is not its password it
// goes back to the walk's thread, where the prompt is.
class KnownPassword final : public PasswordSource {
 public:
  explicit KnownPassword(const std::string& password) : password_(password) {}
  PasswordAnswer Ask(const MemberInfo&, bool previousWrong, std::string& password) override {
    if (previousWrong || password_.empty()) return PasswordAnswer::Unavailable;
    password = password_;
    return PasswordAnswer::Entered;
  }

 private:
  const std::string& password_;
};

// How far the walk has come, in archive bytes, whichever thread decodes:
// the bytes of the members finished plus, for each member under way, what
// its decoding has read. What the progress view is shown only grows.
class ProgressTally {
 public:
  // One decoding thread's member under way.
  class Slot final : public ProgressMeter {
   public:
    void Start(const MemberInfo& member) {
      from_ = member.headerOffset;
      span_ = Span(member);
    }
    void Reached(uint64_t position) override {
      uint64_t at = position > from_ ? position - from_ : 0;
      if (span_ && at > span_) at = span_;
      inflight_.store(at, std::memory_order_relaxed);
      tally_->Publish();
    }
    // A member handed back to the walk counts when the walk has it.
    void Abandon() { inflight_.store(0, std::memory_order_relaxed); }
    void Finish() {
      // A member streamed without sizes counts as far as it was seen read.
      tally_->settled_.fetch_add(span_ ? span_ : inflight_.load(std::memory_order_relaxed));
      inflight_.store(0, std::memory_order_relaxed);
      tally_->Publish();
    }

   private:
    friend class ProgressTally;
    ProgressTally* tally_ = nullptr;
    uint64_t from_ = 0, span_ = 0;
    std::atomic<uint64_t> inflight_{0};
  };

  // What is shown never passes `limit`, the archive's size: the members of a
  // damaged archive may overlap.
  ProgressTally(std::atomic<uint64_t>* shown, uint64_t limit, size_t slots)
      : shown_(shown), limit_(limit), slots_(slots) {
    for (Slot& slot : slots_) slot.tally_ = this;
  }
  Slot& At(size_t i) { return slots_[i]; }
  // A member that took no decoding (a folder, a kept file, one that failed
  // before its data).
  void Settle(const MemberInfo& member) {
    settled_.fetch_add(Span(member));
    Publish();
  }

 private:
  // From the member's header to the end of its data; 0 when not known.
  static uint64_t Span(const MemberInfo& m) { return m.dataEnd > m.headerOffset ? m.dataEnd - m.headerOffset : 0; }
  void Publish() {
    if (!shown_) return;
    uint64_t value = settled_.load(std::memory_order_relaxed);
    for (const Slot& slot : slots_) value += slot.inflight_.load(std::memory_order_relaxed);
    value = std::min(value, limit_);
    uint64_t old = shown_->load(std::memory_order_relaxed);
    while (old < value && !shown_->compare_exchange_weak(old, value, std::memory_order_relaxed)) {
    }
  }

  std::atomic<uint64_t>* shown_;
  const uint64_t limit_;
  std::deque<Slot> slots_;
  std::atomic<uint64_t> settled_{0};
};

// Members handed to the lanes in batches, and what became of them. A batch
// of small members costs the lanes one wake-up instead of one each. A large
// member goes to the lanes ahead of the small ones queued before it: the one
// long decoding starts while the other lanes still have small ones to share,
// instead of running alone at the end. The walk runs ahead of the lanes by
// a bounded number of batches (names and offsets only, no data).
class LanePool {
 public:
  struct Job {
    size_t index;
    MemberInfo info;
    std::string folder, path;
    std::string password;  // for an encrypted member: the one that opened another
  };

  LanePool(const LaneFactory& factory, int count, const ExtractionOptions& options, const DecodeControl& control,
           ProgressTally& tally)
      : options_(options) {
    for (int i = 0; i < count; ++i) {
      Lane lane = factory();
      if (!lane.reader || !lane.tree) break;
      lanes_.push_back(std::move(lane));
    }
    for (size_t i = 0; i < lanes_.size(); ++i) {
      DecodeControl own = control;
      own.meter = &tally.At(i + 1);
      threads_.emplace_back([this, i, own] { Run(lanes_[i], own); });
    }
  }
  ~LanePool() {
    size_t written;
    std::vector<Job> back;
    Finish(written, back);
  }
  bool Usable() const { return !lanes_.empty(); }

  void Submit(Job job) {
    if (job.info.compressedSize >= kLargeMember) {
      std::vector<Job> alone;
      alone.push_back(std::move(job));
      Hand(std::move(alone), large_);
      return;
    }
    pendingBytes_ += job.info.compressedSize;
    pending_.push_back(std::move(job));
    if (pending_.size() >= kBatchMembers || pendingBytes_ >= kBatchBytes) HandPending();
  }
  // Waits for every job; the members that did not come out, by index, how
  // many did, and the encrypted members handed back for another password.
  std::vector<std::pair<size_t, MemberRecord>> Finish(size_t& written, std::vector<Job>& handedBack) {
    HandPending();
    {
      std::lock_guard lock(mutex_);
      closed_ = true;
    }
    ready_.notify_all();
    for (std::thread& t : threads_) t.join();
    threads_.clear();
    std::lock_guard lock(mutex_);
    written = written_;
    handedBack = std::move(handedBack_);
    return std::move(done_);
  }

 private:
  static constexpr size_t kBatchMembers = 32;
  static constexpr uint64_t kBatchBytes = 256 * 1024;
  static constexpr uint64_t kLargeMember = 1024 * 1024;  // compressed bytes
  static constexpr size_t kCapacity = 64;                // batches queued at most

  void HandPending() {
    if (pending_.empty()) return;
    Hand(std::move(pending_), small_);
    pending_ = {};
    pendingBytes_ = 0;
  }
  void Hand(std::vector<Job> batch, std::deque<std::vector<Job>>& queue) {
    {
      std::unique_lock lock(mutex_);
      space_.wait(lock, [&] { return large_.size() + small_.size() < kCapacity; });
      queue.push_back(std::move(batch));
    }
    ready_.notify_one();
  }

  void Run(Lane& lane, const DecodeControl& control) {
    auto& slot = static_cast<ProgressTally::Slot&>(*control.meter);
    for (;;) {
      std::vector<Job> batch;
      {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [&] { return closed_ || !large_.empty() || !small_.empty(); });
        auto& queue = large_.empty() ? small_ : large_;
        if (queue.empty()) return;
        batch = std::move(queue.front());
        queue.pop_front();
      }
      space_.notify_one();
      size_t written = 0;
      std::vector<std::pair<size_t, MemberRecord>> failed;
      std::vector<Job> back;
      for (Job& job : batch) {
        MemberRecord record;
        record.path = job.path;
        slot.Start(job.info);
        // After Cancel the members still queued end as they would in the
        // decoder, without a file made for them.
        if (control.Cancelled()) {
          record.outcome = MemberOutcome::Cancelled;
        } else {
          KnownPassword password(job.password);
          Produce(*lane.reader, *lane.tree, job.info, job.folder, job.path, options_, password, control,
                  record.outcome);
        }
        if (job.info.encrypted && record.outcome == MemberOutcome::NoPassword) {
          slot.Abandon();
          back.push_back(std::move(job));
          continue;
        }
        slot.Finish();
        if (record.outcome == MemberOutcome::Written) ++written;
        else failed.emplace_back(job.index, std::move(record));
      }
      std::lock_guard lock(mutex_);
      written_ += written;
      for (auto& f : failed) done_.push_back(std::move(f));
      for (auto& b : back) handedBack_.push_back(std::move(b));
    }
  }

  const ExtractionOptions& options_;
  std::vector<Lane> lanes_;
  std::vector<std::thread> threads_;
  std::vector<Job> pending_;  // the batch the walk is filling
  uint64_t pendingBytes_ = 0;
  std::mutex mutex_;
  std::condition_variable ready_, space_;
  std::deque<std::vector<Job>> large_, small_;  // large members go first
  std::vector<std::pair<size_t, MemberRecord>> done_;
  std::vector<Job> handedBack_;
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
  // Slot 0 is the walk's own; the lanes have the others.
  ProgressTally tally(control.position, reader.ArchiveSize(), static_cast<size_t>(laneCount) + 1);
  DecodeControl walkControl = control;
  walkControl.meter = &tally.At(0);
  std::unique_ptr<LanePool> pool =
      laneCount ? std::make_unique<LanePool>(lanes, laneCount, options, control, tally) : nullptr;
  if (pool && !pool->Usable()) pool.reset();
  std::vector<std::pair<size_t, MemberRecord>> outcomes;  // every member that did not come out, by index
  // The user's last answer, and the password that last opened a member here:
  // encrypted members after it go to the lanes with it.
  std::string answered, opened;
  bool stoppedByPasswords = false;
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
    bool decoded = false;  // its bytes were counted as they were decoded
    auto done = [&](MemberOutcome outcome) {
      if (!decoded) tally.Settle(info);
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
    // Encrypted members stay on this thread, where the prompt is, until a
    // password has opened one.
    if (pool && (!info.encrypted || !opened.empty())) {
      pool->Submit(LanePool::Job{at, info, folder, path, info.encrypted ? opened : std::string()});
      return true;
    }
    HostPasswords passwords(host, path, answered);
    MemberOutcome outcome;
    ProgressTally::Slot& slot = tally.At(0);
    slot.Start(info);
    const DecodeStatus status = Produce(reader, tree, info, folder, path, options, passwords, walkControl, outcome);
    slot.Finish();
    decoded = true;
    done(outcome);
    if (info.encrypted && status == DecodeStatus::Ok) opened = answered;
    if (status == DecodeStatus::Cancelled) {
      record.cancelled = true;
      record.notReached = remaining - 1;
      return false;
    }
    if (status == DecodeStatus::WrongPassword) {
      // Three wrong answers end the walk: the members after it most likely
      // need the same password.
      record.notReached = remaining - 1;
      stoppedByPasswords = true;
      return false;
    }
    return true;
  });
  if (pool) {
    size_t written = 0;
    std::vector<LanePool::Job> handedBack;
    for (auto& outcome : pool->Finish(written, handedBack)) outcomes.push_back(std::move(outcome));
    record.written += written;
    record.files += written;
    // Members that another password opens, in archive order, with the prompt.
    std::sort(handedBack.begin(), handedBack.end(), [](const auto& a, const auto& b) { return a.index < b.index; });
    for (LanePool::Job& job : handedBack) {
      MemberRecord r;
      r.path = job.path;
      if (stoppedByPasswords || record.cancelled) {
        ++record.notReached;
        continue;
      }
      HostPasswords passwords(host, job.path, answered);
      host.SetCurrentName(job.path.substr(job.folder.empty() ? 0 : job.folder.size() + 1));
      ProgressTally::Slot& slot = tally.At(0);
      slot.Start(job.info);
      const DecodeStatus status =
          Produce(reader, tree, job.info, job.folder, job.path, options, passwords, walkControl, r.outcome);
      slot.Finish();
      if (r.outcome == MemberOutcome::Written) {
        ++record.written;
        ++record.files;
      } else {
        outcomes.emplace_back(job.index, std::move(r));
      }
      if (status == DecodeStatus::Cancelled) record.cancelled = true;
      if (status == DecodeStatus::WrongPassword) stoppedByPasswords = true;
    }
    std::sort(outcomes.begin(), outcomes.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    if (control.Cancelled()) record.cancelled = true;
  }
  for (auto& outcome : outcomes) record.members.push_back(std::move(outcome.second));
  return record;
}

// --- the file system ---------------------------------------------------------

std::optional<int64_t> LocalTimes::Seconds(uint16_t date, uint16_t time) {
  const unsigned hour = time >> 11, minute = (time >> 5) & 63, second = (time & 31) * 2u;
  if (hour > 23 || minute > 59 || second > 59) return UnixFromDosLocal({date, time});
  const uint32_t key = uint32_t{date} << 5 | hour;
  auto it = hours_.find(key);
  if (it == hours_.end()) {
    // Enough hours for any archive's dates; a hostile one only costs lookups.
    if (hours_.size() >= 4096) hours_.clear();
    const auto start = UnixFromDosLocal({date, static_cast<uint16_t>(hour << 11)});
    const auto end = UnixFromDosLocal({date, static_cast<uint16_t>(hour << 11 | 59u << 5 | 29u)});
    // An hour in which the clock changes is converted time by time.
    it = hours_.emplace(key, start && end && *end - *start == 3598 ? *start : kNoBase).first;
  }
  if (it->second == kNoBase) return UnixFromDosLocal({date, time});
  return it->second + minute * 60 + second;
}

// Writes one buffer at a time on a thread of its own, while the decoder
// fills the next: the bytes of a large file reach the disk beside its
// decoding instead of after it.
class FileSystemTree::Writer {
 public:
  explicit Writer(platform::File& file) : file_(file), thread_([this] { Run(); }) {}
  ~Writer() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  // Starts writing `size` bytes at `data`, which stay as they are until Wait.
  void Start(const uint8_t* data, size_t size) {
    {
      std::lock_guard lock(mutex_);
      data_ = data;
      size_ = size;
      busy_ = true;
    }
    changed_.notify_all();
  }
  // Waits for the write under way; false when it failed.
  bool Wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return !busy_; });
    const bool ok = ok_;
    ok_ = true;
    return ok;
  }

 private:
  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] { return busy_ || stop_; });
      if (!busy_) return;
      const uint8_t* data = data_;
      const size_t size = size_;
      lock.unlock();
      const bool ok = file_.Write(data, size);
      lock.lock();
      if (!ok) ok_ = false;
      busy_ = false;
      changed_.notify_all();
    }
  }

  platform::File& file_;
  std::mutex mutex_;
  std::condition_variable changed_;
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  bool busy_ = false, stop_ = false, ok_ = true;
  std::thread thread_;  // last: starts once the rest is made
};

FileSystemTree::FileSystemTree(std::string root, std::string archive)
    : root_(std::move(root)), archive_(std::move(archive)) {
  if (!root_.empty() && root_.back() != kSep) root_ += kSep;
}

FileSystemTree::~FileSystemTree() {
  Drain();
  writer_.reset();
}

std::string FileSystemTree::Full(const std::string& path) const { return root_ + path; }

platform::PathKind FileSystemTree::Kind(const std::string& path) { return platform::QueryPathKind(Full(path)); }

bool FileSystemTree::MakeFolder(const std::string& path) { return platform::CreateDirectory(Full(path)); }

bool FileSystemTree::CreateTemp(const std::string& folder, std::string& temp) {
  Drain();
  if (buffer_.empty()) buffer_.resize(kWriteBlock);
  used_ = 0;
  failed_ = false;
  const std::string where = folder.empty() ? root_ : root_ + folder + kSep;
  nameless_.clear();
  // A file without a name needs one directory operation at Commit instead of
  // two (a name, then the member's name), and a kill leaves nothing of it.
  if (file_.CreateNameless(where)) {
    temp = (folder.empty() ? std::string() : folder + kSep) + "<nameless>";
    temp_ = nameless_ = temp;
    return true;
  }
  std::string full;
  if (!file_.CreateUnique(where, ".quindo-", full)) return false;
  temp = full.substr(root_.size());
  temp_ = temp;
  return true;
}

bool FileSystemTree::Drain() {
  if (writing_) {
    writing_ = false;
    if (!writer_->Wait()) failed_ = true;
  }
  return !failed_;
}

bool FileSystemTree::Flush() {
  if (Drain() && used_ && !file_.Write(buffer_.data(), used_)) failed_ = true;
  used_ = 0;
  return !failed_;
}

bool FileSystemTree::HandOff() {
  if (!Drain()) return false;
  if (!writer_) writer_ = std::make_unique<Writer>(file_);
  if (spare_.size() != buffer_.size()) spare_.resize(buffer_.size());
  std::swap(buffer_, spare_);
  writer_->Start(spare_.data(), used_);
  writing_ = true;
  used_ = 0;
  return true;
}

bool FileSystemTree::Write(const uint8_t* data, size_t size) {
  // A file that fills the buffer goes on in the background; the last bytes
  // of every file are written here, so small files never wait for a thread.
  while (size > 0) {
    if (failed_) return false;
    const size_t n = std::min(size, buffer_.size() - used_);
    std::memcpy(buffer_.data() + used_, data, n);
    used_ += n;
    data += n;
    size -= n;
    if (used_ == buffer_.size() && !HandOff()) return false;
  }
  return !failed_;
}

bool FileSystemTree::CloseTemp() {
  const bool ok = Flush();
  // A nameless file stays open until it is given its name or dropped.
  if (nameless_.empty()) file_.Close();
  temp_.clear();
  return ok;
}

bool FileSystemTree::Commit(const std::string& temp, const std::string& path, bool replace) {
  const std::string target = Full(path);
  // The archive being read is never replaced by one of its members.
  if (!archive_.empty() && NameKey(target) == NameKey(archive_)) return false;
  if (!nameless_.empty() && temp == nameless_) {
    const bool ok = CommitNameless(target, replace);
    file_.Close();
    if (ok) nameless_.clear();
    return ok;
  }
  return platform::MoveFileIntoPlace(Full(temp), target, replace);
}

bool FileSystemTree::CommitNameless(const std::string& target, bool replace) {
  if (file_.LinkAs(target)) return true;
  if (errno != EEXIST || !replace) return false;
  // Something has the name: the file gets a temporary name beside it, which
  // then replaces the entry (a link there included, never followed).
  const size_t slash = target.find_last_of(kSep);
  std::string named;
  if (!file_.LinkUnique(target.substr(0, slash + 1), ".quindo-", named)) return false;
  if (platform::MoveFileIntoPlace(named, target, true)) return true;
  platform::DeleteFile(named);
  return false;
}

void FileSystemTree::Discard(const std::string& temp) {
  if (!nameless_.empty() && temp == nameless_) {
    // Closed without a name, it is gone; after a failed Commit it already is.
    file_.Close();
    nameless_.clear();
    return;
  }
  platform::DeleteFile(Full(temp));
}

void FileSystemTree::SetTimes(const std::string& path, const MemberInfo& member) {
  // The file still open gets its time through its handle, after its last
  // bytes are out (a later write would change it again).
  if (file_.IsOpen() && path == temp_) {
    std::optional<int64_t> seconds = member.unixSeconds;
    if (!member.unixTime) seconds = times_.Seconds(member.dosDate, member.dosTime);
    if (seconds && Flush()) {
      const uint64_t time = FileTimeFromUnix(*seconds);
      file_.SetTimes(time, time);
    }
    return;
  }
  if (member.unixTime) SetFileTimeFromUnix(Full(path), member.unixSeconds);
  else SetFileTimeFromDos(Full(path), member.dosDate, member.dosTime);
}

void FileSystemTree::SetAttributes(const std::string& path, uint32_t attributes) {
#ifndef _WIN32
  // On POSIX only the read-only bit means anything, and a file made here is
  // writable by its owner already.
  if (!(attributes & platform::kAttrReadOnly)) return;
#endif
  platform::SetFileAttributes(Full(path), attributes);
}

}  // namespace quindo
