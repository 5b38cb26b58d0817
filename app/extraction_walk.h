#pragma once
// The one walk from an archive's members to the disk, for every format: the
// names converted and cleaned, the root-folder decision, overwrite, the
// disguised-executable warning, each file written under a temporary name and
// given its own only when it is complete and checked, times and attributes,
// progress and Cancel, and a record of what became of every member.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "common/archive.h"
#include "platform/platform.h"

namespace quindo {

// A member as the walk will write it.
struct PlannedMember {
  MemberInfo info;
  std::string path;  // relative, cleaned, the platform's separators; empty: nothing is left of the name
};

// What one pass over the members' headers settles before anything is
// written; the members themselves are read again as they are extracted, so
// memory does not grow with their number.
struct ArchivePlan {
  bool useUtf8 = true;  // the ZIP name-detection setting
  bool utf8Names = false;  // the archive's unmarked names are UTF-8 (NameJudge)
  // The Mac's own metadata ("__MACOSX/", "._" files) is extracted too; when
  // false those members are left out everywhere: not planned, not written,
  // not listed, not counted.
  bool keepMacMetadata = false;
  size_t memberCount = 0;
  // Every member lies under this one top folder (empty: they do not).
  std::string rootFolder;
  // The folders that members lie in.
  std::unordered_set<std::string> folders;
};

// Walks every member's header and settles the names. False when Cancel was
// seen.
bool PlanArchive(ArchiveReader& reader, bool useUtf8, ArchivePlan& plan, const std::atomic<bool>* cancel = nullptr,
                 bool keepMacMetadata = false);

// Each member in archive order, as the walk names it.
void ForEachMember(ArchiveReader& reader, const ArchivePlan& plan,
                   const std::function<bool(const PlannedMember&)>& visit);

enum class MemberOutcome {
  Written,        // the file is there, complete and checked
  Folder,         // a folder entry: the folder is there
  Kept,           // a file of that name was there and OVERWRITE is off
  Damaged,        // the data failed its check or broke its format
  Truncated,      // the archive ends inside the member
  WrongPassword,  // three answers did not open it
  NoPassword,     // it needs a password and there was no way to ask
  Unsupported,    // a method that is not decoded
  CannotCreate,   // the file or a folder on its way could not be made
  WriteFailed,    // writing failed (a full disk)
  Cancelled,      // Cancel came while it was written
};

struct MemberRecord {
  std::string path;    // as written (or as it would have been), system code page
  MemberOutcome outcome = MemberOutcome::Written;
  std::string method;  // for Unsupported: the method's name
};

// Members that came out are counted; every other one is listed.
struct ExtractionRecord {
  size_t written = 0;  // files and folders that came out
  size_t files = 0;    // of them, files
  std::vector<MemberRecord> members;
  size_t notReached = 0;  // members after a walk that ended early
  bool cancelled = false;

  bool Failed() const;  // some member did not come out, or some were not reached
};

// Where the walk writes: every path relative to the output folder. The
// walk never follows a link that lies inside the output folder.
class OutputTree {
 public:
  virtual ~OutputTree() = default;
  virtual platform::PathKind Kind(const std::string& path) = 0;
  virtual bool MakeFolder(const std::string& path) = 0;
  // Opens a new temporary file in `folder` ("" for the top); its name in `temp`.
  virtual bool CreateTemp(const std::string& folder, std::string& temp) = 0;
  virtual bool Write(const uint8_t* data, size_t size) = 0;
  virtual bool CloseTemp() = 0;  // false when the last bytes could not be written
  // Gives the temporary file its name; without `replace` a taken name fails.
  virtual bool Commit(const std::string& temp, const std::string& path, bool replace) = 0;
  virtual void Discard(const std::string& temp) = 0;
  virtual void SetTimes(const std::string& path, const MemberInfo& member) = 0;
  virtual void SetAttributes(const std::string& path, uint32_t attributes) = 0;
};

// DOS times (local) as Unix seconds, with the time zone asked once for each
// hour of a day rather than for every file: the C library's conversion
// takes a lock and looks at the zone's file on each call.
class LocalTimes {
 public:
  std::optional<int64_t> Seconds(uint16_t dosDate, uint16_t dosTime);

 private:
  static constexpr int64_t kNoBase = INT64_MIN;
  std::unordered_map<uint32_t, int64_t> hours_;  // the date and hour: the seconds at its start
};

// Files under an absolute output folder. `archive` is the archive being
// read, which no member may replace.
class FileSystemTree final : public OutputTree {
 public:
  FileSystemTree(std::string root, std::string archive);
  ~FileSystemTree() override;
  platform::PathKind Kind(const std::string& path) override;
  bool MakeFolder(const std::string& path) override;
  bool CreateTemp(const std::string& folder, std::string& temp) override;
  bool Write(const uint8_t* data, size_t size) override;
  bool CloseTemp() override;
  bool Commit(const std::string& temp, const std::string& path, bool replace) override;
  void Discard(const std::string& temp) override;
  void SetTimes(const std::string& path, const MemberInfo& member) override;
  void SetAttributes(const std::string& path, uint32_t attributes) override;

 private:
  class Writer;
  std::string Full(const std::string& path) const;
  bool Flush();    // the buffer, on this thread
  bool HandOff();  // the full buffer, to the writer
  bool Drain();    // waits for the writer
  std::string root_;  // ends in a separator
  std::string archive_;
  platform::File file_;
  std::string temp_;  // the open temporary file's name
  // The walk's name for the open file when it has none on disk yet (Linux):
  // it gets the member's name at Commit, or vanishes at Discard.
  std::string nameless_;
  bool CommitNameless(const std::string& target, bool replace);
  LocalTimes times_;
  std::vector<uint8_t> buffer_, spare_;  // spare_: what the writer writes
  size_t used_ = 0;
  bool failed_ = false;
  bool writing_ = false;  // the writer has spare_
  std::unique_ptr<Writer> writer_;  // made for the first file that fills the buffer
};

// What the walk asks of the job around it, on the walk's thread.
class ExtractionHost {
 public:
  virtual ~ExtractionHost() = default;
  // The member's name for a prompt, in the system code page.
  virtual PasswordAnswer AskPassword(const std::string& memberPath, bool previousWrong, std::string& password) = 0;
  virtual void WarnDisguisedExecutable(const std::string& fileName) = 0;
  virtual void SetCurrentName(const std::string& fileName) = 0;
};

struct ExtractionOptions {
  bool overwrite = true;
  bool securityCheck = false;
  // Members decoded at once, each on a lane of its own (1: all on the walk's
  // thread, as one thread writes them).
  int threads = 1;
};

// A lane decodes members beside the walk: its own reader over the archive
// (opened anew) and its own temporary files. Nobody is asked from a lane:
// encrypted members stay on the walk's thread, where the prompt is, until a
// password has opened one; after that they go to the lanes with it, and one
// that it does not open comes back to the walk's thread at the end.
struct Lane {
  std::unique_ptr<ArchiveReader> reader;
  std::unique_ptr<OutputTree> tree;
};
using LaneFactory = std::function<Lane()>;

// Every member into `tree`. Folders, names, overwrite and the warnings are
// settled in archive order on the calling thread; with `lanes` and more than
// one thread, members are decoded and written on the lanes meanwhile. The
// record lists members in archive order either way.
ExtractionRecord ExtractMembers(ArchiveReader& reader, const ArchivePlan& plan, OutputTree& tree,
                                const ExtractionOptions& options, ExtractionHost& host,
                                const DecodeControl& control, const LaneFactory& lanes = {});

}  // namespace quindo
