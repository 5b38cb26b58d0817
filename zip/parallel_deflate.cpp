#include "zip/parallel_deflate.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "common/crc32.h"
#include "platform/platform.h"
#include "zip/deflater.h"

namespace quindo {

namespace {

constexpr size_t kDictionarySize = 32768;
// What a chunk costs beyond its bytes: headers, bookkeeping, the slack of
// its output buffer.
constexpr size_t kChunkOverhead = 4096;
// The reads that feed the compressor from a chunk in memory, and the checks
// of the abort flag between them.
constexpr size_t kFeedSize = 32768;
// How often a wait for a chunk looks at the abort flag.
constexpr auto kAbortPoll = std::chrono::milliseconds(10);
// Members the writer waits for at once when it has caught up.
constexpr size_t kWriterBatch = 8;
// An empty final block with the fixed codes: closes a stream whose last
// chunk ended without one.
constexpr uint8_t kEmptyFinalBlock[] = {0x03, 0x00};

}  // namespace

class ParallelDeflate::Reader final : public DeflatedMember {
 public:
  Reader(ParallelDeflate& owner, size_t number) : owner_(owner), number_(number) {}

  bool Next(std::span<const uint8_t>& piece) override {
    std::unique_lock lock(owner_.mutex_);
    Member& member = owner_.members_[number_];
    if (delivered_ != nullptr) {
      owner_.Release(*delivered_);
      delivered_ = nullptr;
    }
    while (!ended_) {
      Chunk& chunk = member.chunks[next_];
      if (owner_.abortFlag_.load() || !owner_.WaitFor(lock, chunk)) {
        ended_ = true;
        break;
      }
      const bool hasData = chunk.status == Status::Done || chunk.status == Status::Short;
      // A chunk primed with other bytes than the ones before it in the
      // stream would decode wrongly: the file changed while it was read.
      // The member ends with what was read before.
      if (!hasData || (next_ > 0 && chunk.dictionaryCrc != previousTail_)) {
        readFailed_ = chunk.status == Status::ReadError;
        failed_ = chunk.status == Status::Failed;
        ended_ = true;
        break;
      }
      if (next_ == 0) flags_ = chunk.flags;
      rawSize_ += chunk.rawSize;
      crc_ = static_cast<uint32_t>(crc32_combine(crc_, chunk.crc, static_cast<z_off_t>(chunk.rawSize)));
      previousTail_ = chunk.tailCrc;
      streamOpen_ = !chunk.final;
      ended_ = chunk.final || ++next_ == member.chunks.size();
      delivered_ = &chunk;
      piece = std::span<const uint8_t>(chunk.data);
      return true;
    }
    if (streamOpen_ && !failed_) {
      streamOpen_ = false;
      piece = std::span<const uint8_t>(kEmptyFinalBlock);
      return true;
    }
    return false;
  }
  uint64_t RawSize() const override { return rawSize_; }
  uint32_t Crc() const override { return crc_; }
  uint16_t Flags() const override { return flags_; }
  bool ReadFailed() const override { return readFailed_; }
  bool Failed() const override { return failed_; }

 private:
  ParallelDeflate& owner_;
  const size_t number_;
  size_t next_ = 0;
  Chunk* delivered_ = nullptr;
  bool ended_ = false;
  bool streamOpen_ = false;  // pieces went out, none with the final block
  bool readFailed_ = false;
  bool failed_ = false;
  uint64_t rawSize_ = 0;
  uint32_t crc_ = 0;
  uint32_t previousTail_ = 0;
  uint16_t flags_ = 0;
};

ParallelDeflate::ParallelDeflate(int threads, int level, const std::atomic<bool>& abortFlag, size_t chunkSize)
    : threadCount_(std::clamp(threads, 1, kMaxThreads)),
      level_(level),
      abortFlag_(abortFlag),
      chunkSize_(std::max(chunkSize, 2 * kDictionarySize)),
      budget_(static_cast<size_t>(threadCount_) * std::max(kBudgetPerThread, 2 * chunkSize_)) {}

ParallelDeflate::~ParallelDeflate() {
  {
    std::lock_guard lock(mutex_);
    shutdown_.store(true);
  }
  workReady_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

size_t ParallelDeflate::Add(std::string path, uint64_t size) {
  // The threads hold on to the members once they run.
  if (!threads_.empty()) return SIZE_MAX;
  Member member;
  member.path = std::move(path);
  member.size = size;
  member.whole = size <= chunkSize_;
  member.chunks.resize(member.whole ? 1 : static_cast<size_t>((size + chunkSize_ - 1) / chunkSize_));
  members_.push_back(std::move(member));
  return members_.size() - 1;
}

void ParallelDeflate::Start() {
  if (!threads_.empty()) return;
  for (int i = 0; i < threadCount_; ++i) threads_.emplace_back([this] { Work(); });
}

bool ParallelDeflate::Stopping() const {
  return shutdown_.load(std::memory_order_relaxed) || abortFlag_.load(std::memory_order_relaxed);
}

void ParallelDeflate::Release(Chunk& chunk) {
  reserved_ -= chunk.cost;
  chunk.cost = 0;
  std::vector<uint8_t>().swap(chunk.data);
  workReady_.notify_all();
}

void ParallelDeflate::Drop(size_t number) {
  Member& member = members_[number];
  member.dropped = true;
  // A chunk still being deflated is released by its thread.
  for (Chunk& chunk : member.chunks)
    if (chunk.status != Status::Pending && chunk.cost != 0) Release(chunk);
}

bool ParallelDeflate::WaitFor(std::unique_lock<std::mutex>& lock, const Chunk& chunk, size_t from, size_t through) {
  awaited_ = &chunk;
  awaitedFrom_ = from;
  awaitedThrough_ = through;
  bool done = true;
  while (!WriterMayGo()) {
    if (abortFlag_.load()) {
      done = false;
      break;
    }
    chunkDone_.wait_for(lock, kAbortPoll);
  }
  awaited_ = nullptr;
  return done && chunk.status != Status::Pending;
}

bool ParallelDeflate::WriterMayGo() const {
  if (awaited_->status == Status::Pending) return false;
  if (starved_ > 0) return true;
  for (size_t i = awaitedFrom_ + 1; i <= awaitedThrough_; ++i)
    if (members_[i].chunks[0].status == Status::Pending) return false;
  return true;
}

DeflatedMember* ParallelDeflate::Take(size_t number) {
  Start();
  reader_.reset();
  std::unique_lock lock(mutex_);
  // Each member once, in order: a member taken before has given its data.
  if (number >= members_.size() || number < nextTake_) return nullptr;
  for (size_t i = firstKept_; i < number; ++i) Drop(i);
  firstKept_ = number;
  nextTake_ = number + 1;
  Chunk& first = members_[number].chunks[0];
  const size_t through = std::min(members_.size() - 1, number + kWriterBatch - 1);
  if (!WaitFor(lock, first, number, through) || (first.status != Status::Done && first.status != Status::Short)) {
    Drop(number);
    firstKept_ = number + 1;
    return nullptr;
  }
  reader_ = std::make_unique<Reader>(*this, number);
  return reader_.get();
}

void ParallelDeflate::Work() {
  std::unique_ptr<Deflater> deflater;
  std::vector<uint8_t> input;
  std::unique_lock lock(mutex_);
  for (;;) {
    while (nextMember_ < members_.size() && members_[nextMember_].dropped) {
      ++nextMember_;
      nextChunk_ = 0;
    }
    if (shutdown_.load() || nextMember_ >= members_.size()) return;
    Member& member = members_[nextMember_];
    const size_t index = nextChunk_;
    const uint64_t offset = static_cast<uint64_t>(index) * chunkSize_;
    const size_t length =
        member.whole ? static_cast<size_t>(member.size)
                     : static_cast<size_t>(std::min<uint64_t>(chunkSize_, member.size - offset));
    const size_t cost = length + kChunkOverhead;
    // Always one chunk in flight, or the writer could wait for nothing.
    if (reserved_ != 0 && reserved_ + cost > budget_) {
      ++starved_;
      if (awaited_ && WriterMayGo()) chunkDone_.notify_all();
      workReady_.wait(lock);
      --starved_;
      continue;
    }
    reserved_ += cost;
    Chunk& chunk = member.chunks[index];
    chunk.cost = cost;
    if (++nextChunk_ == member.chunks.size()) {
      ++nextMember_;
      nextChunk_ = 0;
    }
    lock.unlock();
    if (!deflater) deflater = std::make_unique<Deflater>();
    Status status;
    if (member.whole) {
      status = DeflateWhole(member, chunk, *deflater);
    } else {
      status = DeflateChunk(member, index, chunk, *deflater, input);
    }
    lock.lock();
    chunk.status = status;
    if (member.dropped) Release(chunk);
    if (awaited_ && WriterMayGo()) chunkDone_.notify_all();
  }
}

ParallelDeflate::Status ParallelDeflate::DeflateWhole(Member& member, Chunk& chunk, Deflater& deflater) {
  platform::File file;
  if (!file.Open(member.path, platform::OpenMode::Read)) return Status::Unplanned;
  bool unplanned = false, stopped = false;
  auto read = [&](uint8_t* buffer, size_t n) -> size_t {
    if (unplanned || stopped) return 0;
    const int64_t got = file.Read(buffer, n);
    if (Stopping()) stopped = true;
    // A read error, and a file that grew past what one thread deflates
    // whole, are left to the single-threaded writer.
    if (got < 0 || chunk.rawSize + static_cast<uint64_t>(got) > chunkSize_) unplanned = true;
    if (got <= 0 || unplanned || stopped) return 0;
    chunk.rawSize += static_cast<uint64_t>(got);
    chunk.crc = Crc32Update(chunk.crc, buffer, static_cast<size_t>(got));
    return static_cast<size_t>(got);
  };
  chunk.data.reserve(static_cast<size_t>(member.size) + member.size / 1024 + 64);
  auto write = [&chunk](const uint8_t* bytes, size_t n) {
    chunk.data.insert(chunk.data.end(), bytes, bytes + n);
    return true;
  };
  const int64_t produced = deflater.DeflateMember(level_, read, write, nullptr, chunk.flags);
  if (stopped) return Status::Stopped;
  if (unplanned || produced < 0) return Status::Unplanned;
  chunk.final = true;
  return Status::Done;
}

ParallelDeflate::Status ParallelDeflate::DeflateChunk(Member& member, size_t index, Chunk& chunk,
                                                      Deflater& deflater, std::vector<uint8_t>& input) {
  // The first chunk has written nothing yet: a source that cannot be read
  // there goes the single-threaded way. Later, the stream ends.
  const Status unreadable = index == 0 ? Status::Unplanned : Status::ReadError;
  const uint64_t offset = static_cast<uint64_t>(index) * chunkSize_;
  const size_t length = static_cast<size_t>(std::min<uint64_t>(chunkSize_, member.size - offset));
  const size_t primed = static_cast<size_t>(std::min<uint64_t>(kDictionarySize, offset));
  platform::File file;
  if (!file.Open(member.path, platform::OpenMode::Read) || !file.Seek(offset - primed)) return unreadable;
  input.resize(primed + length);
  const int64_t got = file.ReadFull(input.data(), input.size());
  if (got < 0) return unreadable;
  file.Close();
  // A file that shrank ends in this chunk; one that grew is taken up to
  // the size it was listed with.
  const bool shorter = static_cast<size_t>(got) < input.size();
  const size_t raw = static_cast<size_t>(got) > primed ? static_cast<size_t>(got) - primed : 0;
  const uint8_t* const bytes = input.data() + primed;
  chunk.rawSize = raw;
  chunk.crc = Crc32(bytes, raw);
  chunk.dictionaryCrc = Crc32(input.data(), std::min<size_t>(primed, static_cast<size_t>(got)));
  chunk.tailCrc = raw >= kDictionarySize ? Crc32(bytes + raw - kDictionarySize, kDictionarySize) : 0;
  chunk.final = shorter || index + 1 == member.chunks.size();

  size_t fed = 0;
  bool stopped = false;
  auto read = [&](uint8_t* buffer, size_t n) -> size_t {
    if (Stopping()) stopped = true;
    if (stopped) return 0;
    n = std::min({n, kFeedSize, raw - fed});
    std::memcpy(buffer, bytes + fed, n);
    fed += n;
    return n;
  };
  chunk.data.reserve(raw + raw / 1024 + 64);
  auto write = [&chunk](const uint8_t* out, size_t n) {
    chunk.data.insert(chunk.data.end(), out, out + n);
    return true;
  };
  const int64_t produced = deflater.DeflatePiece(level_, std::span<const uint8_t>(input.data(), primed),
                                                 chunk.final, read, write, nullptr, chunk.flags);
  if (stopped) return Status::Stopped;
  if (produced < 0) return index == 0 ? Status::Unplanned : Status::Failed;
  return shorter ? Status::Short : Status::Done;
}

}  // namespace quindo
